// Sessions side by side against two Samba servers on loopback: the time a
// call to a healthy server takes while another session's server is stopped
// (its smbd under SIGSTOP) in the middle of a read, the time from a cancel
// to the return of that blocked read, and the resident memory of one session
// that streams 1, 8 and 32 files one after the other, with the read-ahead
// budget and without one (each file's own limit only, as before budgets).
// Then the request handler's list of a folder, first and repeated, in round
// trips of the delay proxy, with its sessions pooled and without.
#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "delay_proxy.h"
#include "interop/support/samba_server.h"
#include "vnsmb1c.h"

using interop::SambaServer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr char kUser[] = "vnsmbt_bench";
constexpr char kPassword[] = "Bench-pass-1";
constexpr char kShare[] = "media";
constexpr char kFile[] = "film.bin";
constexpr char kFolder[] = "Folder";
constexpr uint64_t kFileSize = 40ull << 20;
constexpr int kRuns = 5;

struct Options {
    std::vector<int> rtt_ms{0, 3};
    std::vector<int> files{1, 8, 32};
    int stream_mib = 4;
    std::vector<int> rch_rtt_ms{20, 100};
};

bool parse_list(const char *text, std::vector<int> &out)
{
    out.clear();
    for (const char *p = text; *p;) {
        char *end = nullptr;
        long v = std::strtol(p, &end, 10);
        if (end == p || v < 0 || v > 100000)
            return false;
        out.push_back(static_cast<int>(v));
        p = *end == ',' ? end + 1 : end;
        if (*end != ',' && *end != '\0')
            return false;
    }
    return !out.empty();
}

bool parse_options(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (i + 1 >= argc)
            return false;
        const char *v = argv[++i];
        if (a == "--rtt-ms" && parse_list(v, o.rtt_ms))
            continue;
        if (a == "--files" && parse_list(v, o.files))
            continue;
        if (a == "--stream-mib" && (o.stream_mib = std::atoi(v)) > 0 && o.stream_mib <= 40)
            continue;
        if (a == "--rch-rtt-ms" && parse_list(v, o.rch_rtt_ms))
            continue;
        return false;
    }
    return true;
}

double seconds_since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// Resident memory of this process, KiB.
long rss_kib()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

vnsmb1c_session *connect_to(int port, int timeout_ms)
{
    vnsmb1c_session *s = vnsmb1c_session_new();
    if (s == nullptr || vnsmb1c_s_set_timeout(s, timeout_ms) != 0 ||
        vnsmb1c_s_connect(s, SambaServer::kHost, port, "", kUser, kPassword) != 0) {
        std::fprintf(stderr, "connect to port %d: %s\n", port, vnsmb1c_last_error());
        vnsmb1c_session_free(s);
        return nullptr;
    }
    return s;
}

// The calls of a UI: a folder listing (its time in *list_s), then 1 MiB of a
// file in 64 KiB reads.
bool healthy_call(vnsmb1c_session *s, const std::vector<uint8_t> &film, double *list_s)
{
    auto t0 = Clock::now();
    if (vnsmb1c_s_list(s, kShare, kFolder) != 50)
        return false;
    *list_s = seconds_since(t0);
    int h = vnsmb1c_s_open(s, kShare, kFile);
    if (h <= 0)
        return false;
    std::vector<uint8_t> buf(65536);
    bool ok = true;
    for (int64_t at = 0; at < (1 << 20) && ok; at += 65536)
        ok = vnsmb1c_s_read_at(s, h, at, buf.data(), 65536) == 65536 &&
             std::memcmp(buf.data(), film.data() + at, 65536) == 0;
    vnsmb1c_s_close(s, h);
    return ok;
}

struct StallFigures {
    double healthy_s = -1;       // median time of the healthy calls while the other server is stopped
    double healthy_alone_s = -1; // the same calls with no server stopped
    double list_s = -1;          // median time of the listing alone while the other server is stopped
    double list_alone_s = -1;
    double cancel_s = -1;        // median time from the cancel to the blocked read's return
    std::string error;
};

StallFigures stall_round(SambaServer &stalled_server, int healthy_port, const std::vector<uint8_t> &film)
{
    StallFigures f;
    vnsmb1c_session *stalled = connect_to(stalled_server.port(), 30000);
    vnsmb1c_session *healthy = connect_to(healthy_port, 30000);
    if (stalled == nullptr || healthy == nullptr) {
        f.error = "connect failed";
        vnsmb1c_session_free(stalled);
        vnsmb1c_session_free(healthy);
        return f;
    }
    vnsmb1c_s_set_read_ahead(stalled, 0);
    std::vector<double> alone, during, cancel, list_alone, list_during;
    double list_s = 0;
    for (int run = 0; run < kRuns && f.error.empty(); run++) {
        auto t0 = Clock::now();
        if (!healthy_call(healthy, film, &list_s)) {
            f.error = std::string("healthy call: ") + vnsmb1c_last_error();
            break;
        }
        alone.push_back(seconds_since(t0));
        list_alone.push_back(list_s);

        int h = vnsmb1c_s_open(stalled, kShare, kFile);
        if (h <= 0) {
            f.error = std::string("open on the stalled server: ") + vnsmb1c_last_error();
            break;
        }
        kill(-stalled_server.smbd_pid(), SIGSTOP);
        std::atomic<bool> returned{false};
        auto blocked = std::async(std::launch::async, [&] {
            std::vector<uint8_t> buf(65536);
            int rc = vnsmb1c_s_read_at(stalled, h, 8 << 20, buf.data(), 65536);
            returned = true;
            return rc;
        });
        std::this_thread::sleep_for(200ms);
        t0 = Clock::now();
        bool ok = healthy_call(healthy, film, &list_s);
        during.push_back(seconds_since(t0));
        list_during.push_back(list_s);
        if (!ok)
            f.error = std::string("healthy call during the stall: ") + vnsmb1c_last_error();
        if (returned.load())
            f.error = "the stalled read returned before the cancel";
        t0 = Clock::now();
        vnsmb1c_s_cancel(stalled);
        int rc = blocked.get();
        cancel.push_back(seconds_since(t0));
        kill(-stalled_server.smbd_pid(), SIGCONT);
        if (rc != VNSMB1C_ECANCELLED && f.error.empty())
            f.error = "the blocked read gave " + std::to_string(rc);
        vnsmb1c_s_close(stalled, h);
    }
    f.healthy_alone_s = median(alone);
    f.healthy_s = median(during);
    f.cancel_s = median(cancel);
    f.list_alone_s = median(list_alone);
    f.list_s = median(list_during);
    vnsmb1c_session_free(stalled);
    vnsmb1c_session_free(healthy);
    return f;
}

struct MemoryFigures {
    double rss_mib = -1;  // resident memory the session added, its files still open
    std::string error;
};

// One session streams `files` files one after the other (stream_mib each in
// 64 KiB reads) and keeps them open; the resident memory it added.
MemoryFigures memory_round(int port, int files, int stream_mib, int64_t budget, const std::vector<uint8_t> &film)
{
    MemoryFigures m;
    malloc_trim(0);
    const long before = rss_kib();
    vnsmb1c_session *s = connect_to(port, 30000);
    if (s == nullptr) {
        m.error = "connect failed";
        return m;
    }
    vnsmb1c_s_set_read_ahead_budget(s, budget);
    std::vector<int> handles;
    std::vector<uint8_t> buf(65536);
    for (int i = 0; i < files && m.error.empty(); i++) {
        int h = vnsmb1c_s_open(s, kShare, kFile);
        if (h <= 0) {
            m.error = std::string("open: ") + vnsmb1c_last_error();
            break;
        }
        handles.push_back(h);
        // Each file from its own place, so that no two read the same bytes.
        const int64_t start = static_cast<int64_t>(i % 8) * (4 << 20);
        for (int64_t at = start; at < start + (int64_t{stream_mib} << 20); at += 65536) {
            if (vnsmb1c_s_read_at(s, h, at, buf.data(), 65536) != 65536 ||
                std::memcmp(buf.data(), film.data() + at, 65536) != 0) {
                m.error = std::string("read: ") + vnsmb1c_last_error();
                break;
            }
        }
    }
    malloc_trim(0);
    m.rss_mib = static_cast<double>(rss_kib() - before) / 1024.0;
    for (int h : handles)
        vnsmb1c_s_close(s, h);
    vnsmb1c_session_free(s);
    return m;
}

struct HandlerFigures {
    double first_s = -1;     // the first list, nothing pooled
    double repeated_s = -1;  // median of the lists after it, within the idle time
    double unpooled_s = -1;  // median of lists with SessionIdleMs 0
    std::string error;
};

// The request handler's list of a 50-entry folder through a server port.
HandlerFigures handler_round(int port)
{
    HandlerFigures f;
    const std::string base = std::string(R"({"HostName":")") + SambaServer::kHost + R"(","ServerPort":)" +
                             std::to_string(port) + R"(,"UserName":")" + kUser + R"(","Password":")" + kPassword +
                             "\"";
    const std::string pooled = base + "}";
    const std::string unpooled = base + R"(,"SessionIdleMs":0})";
    const std::string path = std::string(kShare) + "/" + kFolder;
    std::vector<char> out(1 << 20);
    auto timed_list = [&](const std::string &settings) {
        auto t0 = Clock::now();
        int rc = vnrch_get()->list(nullptr, settings.c_str(), path.c_str(), out.data(), static_cast<int>(out.size()));
        if (rc != 0 && f.error.empty())
            f.error = std::string("list: ") + out.data();
        return seconds_since(t0);
    };
    vnsmb1c_use_sockets();  // nothing waiting from before
    f.first_s = timed_list(pooled);
    std::vector<double> repeated, off;
    for (int run = 0; run < kRuns; run++)
        repeated.push_back(timed_list(pooled));
    for (int run = 0; run < kRuns; run++)
        off.push_back(timed_list(unpooled));
    vnsmb1c_use_sockets();
    f.repeated_s = median(repeated);
    f.unpooled_s = median(off);
    return f;
}

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::fprintf(stderr, "usage: %s [--rtt-ms 0,3] [--files 1,8,32] [--stream-mib N] [--rch-rtt-ms 20,100]\n", argv[0]);
        return 2;
    }
    if (std::string why = SambaServer::unavailable(); !why.empty()) {
        std::fprintf(stderr, "cannot run Samba here: %s\n", why.c_str());
        return 1;
    }
    SambaServer stalled_server;
    SambaServer healthy_server;
    std::vector<uint8_t> film;
    for (SambaServer *server : {&stalled_server, &healthy_server}) {
        if (!server->add_user(kUser, kPassword)) {
            std::fprintf(stderr, "cannot add the Samba user\n");
            return 1;
        }
        server->add_share(interop::read_only_share(kShare, false));
        film = server->write_random_file(kShare, kFile, kFileSize, 29);
        server->make_dir(kShare, kFolder);
        server->make_entries(kShare, kFolder, 50);
        if (!server->start()) {
            std::fprintf(stderr, "Samba did not start:\n%s\n", server->log_tail().c_str());
            return 1;
        }
    }

    std::printf("\nTwo sessions, two servers: one server stopped (SIGSTOP) during a read of its session\n");
    std::printf("(on the healthy server: a 50-entry folder listing, then open and 1 MiB read in 64 KiB calls; "
                "median of %d)\n\n",
                kRuns);
    std::printf("| added RTT to the healthy server | listing alone | listing while the other is stalled (target < "
                "0.1 s) | listing, open and 1 MiB alone | the same while stalled | cancel to return of the blocked "
                "read (target < 0.1 s) |\n|---|---|---|---|---|---|\n");
    int failures = 0;
    for (int rtt : o.rtt_ms) {
        bench::DelayProxy proxy(healthy_server.port(), rtt * 1000);
        if (proxy.port() == 0) {
            std::fprintf(stderr, "the delay proxy cannot listen\n");
            return 1;
        }
        StallFigures f = stall_round(stalled_server, proxy.port(), film);
        if (!f.error.empty()) {
            std::printf("| +%d ms | failed: %s | | | | |\n", rtt, f.error.c_str());
            failures++;
            continue;
        }
        std::printf("| +%d ms | %.4f s | %.4f s | %.3f s | %.3f s | %.4f s |\n", rtt, f.list_alone_s, f.list_s,
                    f.healthy_alone_s, f.healthy_s, f.cancel_s);
        std::fflush(stdout);
    }

    std::printf("\nResident memory one session adds while it streams files one after the other (%d MiB each in "
                "64 KiB reads, all kept open; after malloc_trim)\n\n",
                o.stream_mib);
    std::printf("| files | budget 32 MiB (target: at most the budget plus a few MiB) | no budget (8 MiB per file "
                "only) |\n|---|---|---|\n");
    for (int files : o.files) {
        MemoryFigures with = memory_round(healthy_server.port(), files, o.stream_mib, 32 << 20, film);
        MemoryFigures without = memory_round(healthy_server.port(), files, o.stream_mib, int64_t{1} << 30, film);
        if (!with.error.empty() || !without.error.empty()) {
            std::printf("| %d | failed: %s%s | |\n", files, with.error.c_str(), without.error.c_str());
            failures++;
            continue;
        }
        std::printf("| %d | %.1f MiB | %.1f MiB |\n", files, with.rss_mib, without.rss_mib);
        std::fflush(stdout);
    }

    std::printf("\nThe request handler's list of the 50-entry folder, each call as a host makes it (round trips = "
                "time / RTT; repeated and without the pool: median of %d)\n\n",
                kRuns);
    std::printf("| added RTT | first list (target <= 7 RTT) | repeated within the idle time (target <= 3 RTT) | "
                "every call logging on (SessionIdleMs 0) |\n|---|---|---|---|\n");
    for (int rtt : o.rch_rtt_ms) {
        bench::DelayProxy proxy(healthy_server.port(), rtt * 1000);
        if (proxy.port() == 0 || rtt <= 0) {
            std::fprintf(stderr, "the delay proxy cannot listen, or no round trip to count in\n");
            return 1;
        }
        HandlerFigures f = handler_round(proxy.port());
        if (!f.error.empty()) {
            std::printf("| +%d ms | failed: %s | | |\n", rtt, f.error.c_str());
            failures++;
            continue;
        }
        const double r = rtt / 1000.0;
        std::printf("| +%d ms | %.3f s, %.1f RTT | %.3f s, %.1f RTT | %.3f s, %.1f RTT |\n", rtt, f.first_s,
                    f.first_s / r, f.repeated_s, f.repeated_s / r, f.unpooled_s, f.unpooled_s / r);
        std::fflush(stdout);
    }
    return failures == 0 ? 0 : 1;
}
