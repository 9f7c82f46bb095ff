// Streaming and listing speed of the library against Samba (SMB1), side by
// side with smbclient in the same run, at added round-trip times from a delay
// proxy on loopback. Prints one table; asserts nothing.
//
//   stream_bench [--size-mib N] [--rtt-ms 0,1,3] [--buffers 65536,1048576]
//                [--entries N] [--seeks N] [--list-timeout-s N]
//                [--trips-rtt-ms 0,20,100] [--trips-only]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "delay_proxy.h"
#include "interop/support/run_process.h"
#include "interop/support/samba_server.h"
#include "interop/support/smbclient.h"
#include "vnsmb1c.h"

namespace {

using Clock = std::chrono::steady_clock;
using interop::SambaServer;

constexpr char kUser[] = "vnsmbt_reader";
constexpr char kPassword[] = "Reader-pass-1";
constexpr char kShare[] = "bench";
constexpr char kFile[] = "film.bin";
constexpr char kFolder[] = "big";
constexpr char kSmallFile[] = "small.bin";
constexpr char kSmallFolder[] = "small";
constexpr int kSmallFolderEntries = 12;
constexpr int kTripProcessRuns = 3;
constexpr int kTripCallRuns = 5;
constexpr int kTripSeeks = 10;
constexpr int kSeekRead = 128 * 1024;
constexpr int kSequentialBeforeSeeks = 8 * 1024 * 1024;
constexpr int kListRounds = 3;

struct Options {
    uint64_t size_mib = 256;
    std::vector<int> rtt_ms = {0, 1, 3};
    std::vector<int> buffers = {65536, 1048576};
    int entries = 50000;
    int seeks = 40;
    int list_timeout_s = 120;
    std::vector<int> trips_rtt_ms = {0, 20, 100};  // +0 ms shows what a process costs without a network
    bool trips_only = false;
};

std::vector<int> int_list(const char *text)
{
    std::vector<int> out;
    std::stringstream ss(text);
    std::string part;
    while (std::getline(ss, part, ','))
        out.push_back(std::atoi(part.c_str()));
    return out;
}

bool parse_options(int argc, char **argv, Options &o)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--trips-only") {
            o.trips_only = true;
            continue;
        }
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (!v)
            return false;
        if (a == "--size-mib")
            o.size_mib = std::strtoull(v, nullptr, 10);
        else if (a == "--rtt-ms")
            o.rtt_ms = int_list(v);
        else if (a == "--buffers")
            o.buffers = int_list(v);
        else if (a == "--entries")
            o.entries = std::atoi(v);
        else if (a == "--seeks")
            o.seeks = std::atoi(v);
        else if (a == "--list-timeout-s")
            o.list_timeout_s = std::atoi(v);
        else if (a == "--trips-rtt-ms")
            o.trips_rtt_ms = int_list(v);
        else
            return false;
        i++;
    }
    return o.size_mib > 0 && !o.rtt_ms.empty() && !o.buffers.empty();
}

double seconds_since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::vector<std::string> smbclient_argv(int port, const std::string &commands,
                                        const std::vector<std::string> &extra = {})
{
    std::vector<std::string> argv = {"smbclient", "-s", "/dev/null", "-p", std::to_string(port), "-m", "NT1",
                                     "--option=client min protocol=NT1", "-U",
                                     std::string(kUser) + "%" + kPassword};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), {std::string("//127.0.0.1/") + kShare, "-c", commands});
    return argv;
}

struct Rate {
    double mbps = 0;  // 10^6 bytes per second; 0 when the run failed
    uint64_t peak_in_flight = 0;
    double mean_in_flight = 0;
    std::string error;
};

// smbclient's own figure for the transfer: "(average N KiloBytes/sec)".
Rate smbclient_get(bench::DelayProxy &proxy, const std::filesystem::path &out)
{
    Rate r;
    proxy.reset_in_flight();
    ProcessResult p = run_process(smbclient_argv(proxy.port(), std::string("get ") + kFile + " " + out.string()),
                                  {}, 900000, {"LC_ALL=C.UTF-8"});
    std::filesystem::remove(out);
    const char *at = std::strstr(p.output.c_str(), "(average ");
    if (p.exit_code != 0 || !at) {
        r.error = "smbclient get failed: " + p.output.substr(0, 300);
        return r;
    }
    r.mbps = std::atof(at + 9) * 1024.0 / 1e6;
    r.peak_in_flight = proxy.peak_in_flight();
    r.mean_in_flight = proxy.mean_in_flight();
    return r;
}

int connect_through(bench::DelayProxy &proxy)
{
    vnsmb1c_use_sockets();
    return vnsmb1c_connect("127.0.0.1", proxy.port(), "", kUser, kPassword);
}

// A listing held by the library, then every item of it fetched one by one,
// as a host walking it would: seconds for each, or an error.
struct ItemWalk {
    double list_s = 0;
    double items_s = 0;
    int count = 0;
    std::string error;
};

ItemWalk library_item_walk(bench::DelayProxy &proxy)
{
    ItemWalk w;
    if (connect_through(proxy) != 0) {
        w.error = std::string("connect: ") + vnsmb1c_last_error();
        return w;
    }
    const std::string folder = std::string(kShare) + "/" + kFolder;
    auto t0 = Clock::now();
    w.count = vnsmb1c_list(folder.c_str(), nullptr);
    auto t1 = Clock::now();
    size_t bytes = 0;
    for (int i = 0; i < w.count; i++) {
        const char *item = vnsmb1c_item_json(i);
        if (item == nullptr || item[0] != '{') {
            w.error = "item " + std::to_string(i) + " missing";
            break;
        }
        bytes += std::strlen(item);
    }
    auto t2 = Clock::now();
    if (w.count < 0)
        w.error = std::string("list: ") + vnsmb1c_last_error();
    else if (bytes == 0 && w.count > 0)
        w.error = "no item text";
    w.list_s = std::chrono::duration<double>(t1 - t0).count();
    w.items_s = std::chrono::duration<double>(t2 - t1).count();
    vnsmb1c_disconnect();
    return w;
}

// Reads the whole file with calls of `buffer` bytes, checking every byte.
Rate library_read(bench::DelayProxy &proxy, int buffer, const std::vector<uint8_t> &expect)
{
    Rate r;
    if (connect_through(proxy) != 0) {
        r.error = std::string("connect: ") + vnsmb1c_last_error();
        return r;
    }
    std::string share_path = kShare;
    int h = vnsmb1c_open(share_path.c_str(), kFile);
    if (h <= 0) {
        r.error = std::string("open: ") + vnsmb1c_last_error();
        vnsmb1c_disconnect();
        return r;
    }
    std::vector<uint8_t> buf(static_cast<size_t>(buffer));
    uint64_t off = 0;
    proxy.reset_in_flight();
    auto t0 = Clock::now();
    for (;;) {
        int got = vnsmb1c_read_at(h, static_cast<int64_t>(off), buf.data(), buffer);
        if (got < 0) {
            r.error = std::string("read: ") + vnsmb1c_last_error();
            break;
        }
        if (got == 0)
            break;
        if (off + static_cast<uint64_t>(got) > expect.size() ||
            std::memcmp(buf.data(), expect.data() + off, static_cast<size_t>(got)) != 0) {
            r.error = "bytes differ at offset " + std::to_string(off);
            break;
        }
        off += static_cast<uint64_t>(got);
    }
    double s = seconds_since(t0);
    if (r.error.empty() && off != expect.size())
        r.error = "short file: " + std::to_string(off);
    if (r.error.empty()) {
        r.mbps = static_cast<double>(off) / s / 1e6;
        r.peak_in_flight = proxy.peak_in_flight();
        r.mean_in_flight = proxy.mean_in_flight();
    }
    vnsmb1c_close(h);
    vnsmb1c_disconnect();
    return r;
}

// After a sequential run, the mean time of a random seek and a 128 KiB read.
double library_seek_ms(bench::DelayProxy &proxy, int seeks, const std::vector<uint8_t> &expect, std::string &error)
{
    if (connect_through(proxy) != 0) {
        error = std::string("connect: ") + vnsmb1c_last_error();
        return 0;
    }
    int h = vnsmb1c_open(kShare, kFile);
    if (h <= 0) {
        error = std::string("open: ") + vnsmb1c_last_error();
        vnsmb1c_disconnect();
        return 0;
    }
    std::vector<uint8_t> buf(kSeekRead);
    auto read_full = [&](uint64_t off, int want) {
        int have = 0;
        while (have < want) {
            int got = vnsmb1c_read_at(h, static_cast<int64_t>(off) + have, buf.data() + have, want - have);
            if (got <= 0)
                break;
            have += got;
        }
        return have;
    };
    for (uint64_t off = 0; off < kSequentialBeforeSeeks && off < expect.size(); off += 65536)
        read_full(off, 65536);
    std::mt19937_64 rng(7);
    uint64_t span = expect.size() > kSeekRead ? expect.size() - kSeekRead : 1;
    double total = 0;
    for (int i = 0; i < seeks && error.empty(); i++) {
        uint64_t off = rng() % span;
        auto t0 = Clock::now();
        int have = read_full(off, kSeekRead);
        total += seconds_since(t0);
        if (have != kSeekRead || std::memcmp(buf.data(), expect.data() + off, kSeekRead) != 0)
            error = "seek read wrong at " + std::to_string(off);
    }
    vnsmb1c_close(h);
    vnsmb1c_disconnect();
    return seeks ? total * 1000.0 / seeks : 0;
}

// Wall time of a whole process; negative when it failed or ran out of time.
double process_seconds(const std::vector<std::string> &argv, int timeout_s, std::string *output = nullptr)
{
    auto t0 = Clock::now();
    ProcessResult p = run_process(argv, {}, timeout_s * 1000, {"LC_ALL=C.UTF-8"});
    double s = seconds_since(t0);
    if (output)
        *output = p.output;
    if (p.timed_out)
        return -static_cast<double>(timeout_s);
    return p.exit_code == 0 ? s : -0.0001;
}

// The median of process times; a failed run (negative) makes the figure a failure.
double median(std::vector<double> v)
{
    if (v.empty())
        return -0.0001;
    std::sort(v.begin(), v.end());
    if (v.front() < 0)
        return v.front();
    return v[v.size() / 2];
}

std::string fmt_rate(const Rate &r)
{
    if (!r.error.empty())
        return r.error;
    char t[32];
    std::snprintf(t, sizeof t, "%.1f", r.mbps);
    return t;
}

std::string fmt_bytes(double b)
{
    char t[32];
    if (b >= 1024 * 1024)
        std::snprintf(t, sizeof t, "%.1f MiB", b / (1024 * 1024));
    else
        std::snprintf(t, sizeof t, "%.0f KiB", b / 1024);
    return t;
}

std::string fmt_seconds(double s, int timeout_s)
{
    char t[32];
    if (s <= -static_cast<double>(timeout_s) + 0.5 && s < -1)
        std::snprintf(t, sizeof t, ">%d s", timeout_s);
    else if (s < 0)
        std::snprintf(t, sizeof t, "failed");
    else
        std::snprintf(t, sizeof t, "%.2f s", s);
    return t;
}


// The median of a call's times on a held session; negative when one failed.
template <typename Call>
double median_of_calls(int runs, Call call)
{
    std::vector<double> times;
    for (int i = 0; i < runs; i++) {
        auto t0 = Clock::now();
        if (!call())
            return -0.0001;
        times.push_back(seconds_since(t0));
    }
    return median(times);
}

// One row of the round-trip table: seconds of vnsmb1c and of smbclient
// (NaN: smbclient has no such work), negative for a failure.
struct TripRow {
    explicit TripRow(std::string w = {}, const char *t = "-") : work(std::move(w)), target(t) {}
    std::string work;
    double ours = -0.0001;
    double peer = std::numeric_limits<double>::quiet_NaN();
    const char *target = "-";
    std::string error;
};

std::string fmt_trip(double s, int rtt_ms)
{
    char t[48];
    if (std::isnan(s))
        return "-";
    if (s < 0)
        return "failed";
    if (rtt_ms > 0)
        std::snprintf(t, sizeof t, "%.1f RTT (%.0f ms)", s * 1000.0 / rtt_ms, s * 1000.0);
    else
        std::snprintf(t, sizeof t, "%.1f ms", s * 1000.0);
    return t;
}

// Whole-process rows: the tool and smbclient take turns, the median of each.
TripRow process_row(const char *work, const char *target, const std::vector<std::string> &ours,
                    const std::vector<std::string> &peer)
{
    TripRow r(work, target);
    std::vector<double> a, b;
    for (int i = 0; i < kTripProcessRuns; i++) {
        a.push_back(process_seconds(ours, 120));
        b.push_back(process_seconds(peer, 120));
    }
    r.ours = median(a);
    r.peer = median(b);
    return r;
}

std::vector<TripRow> round_trip_rows(bench::DelayProxy &proxy, const std::vector<uint8_t> &film)
{
    std::vector<TripRow> rows;
    const std::string base = std::string("smb://") + kUser + ":" + kPassword + "@127.0.0.1:" +
                             std::to_string(proxy.port()) + "/" + kShare + "/";
    const std::string file_url = base + kSmallFile;
    const std::string folder_url = base + kSmallFolder;
    rows.push_back(process_row("`cat` of a 1 KiB file, cold (`get` for smbclient)", "<= 5",
                               {VNSMB1C_CLI_PATH, "-q", "cat", file_url},
                               smbclient_argv(proxy.port(), std::string("get ") + kSmallFile + " /dev/null")));
    rows.push_back(process_row("`stat` of a file, cold (`allinfo` for smbclient)", "<= 5",
                               {VNSMB1C_CLI_PATH, "-q", "stat", file_url},
                               smbclient_argv(proxy.port(), std::string("allinfo ") + kSmallFile)));
    rows.push_back(process_row("`ls` of a small folder, cold", "<= 6", {VNSMB1C_CLI_PATH, "-q", "ls", folder_url},
                               smbclient_argv(proxy.port(), "ls", {"-D", kSmallFolder})));

    // The request handler in this process: its first call, then the same
    // call again.
    const std::string settings = std::string("{\"FullUrl\":\"smb://") + kUser + ":" + kPassword + "@127.0.0.1:" +
                                 std::to_string(proxy.port()) + "\"}";
    const std::string folder = std::string(kShare) + "/" + kSmallFolder;
    std::vector<char> reply(1 << 16);
    auto rch_list = [&] {
        vnsmb1c_use_sockets();
        return vnrch_get()->list(nullptr, settings.c_str(), folder.c_str(), reply.data(),
                                 static_cast<int32_t>(reply.size())) == 0;
    };
    TripRow first("request handler `list`, first call", "<= 7");
    first.ours = median_of_calls(1, rch_list);
    if (first.ours < 0)
        first.error = reply.data();
    rows.push_back(first);
    TripRow again("request handler `list`, repeated", "<= 3");
    again.ours = median_of_calls(kTripCallRuns, rch_list);
    rows.push_back(again);

    // Calls on a held session whose tree is connected.
    TripRow stat("`stat` on a held session (vnsmb1c_stat)", "1");
    TripRow open("open + first 64 KiB on a held session", "1");
    if (connect_through(proxy) != 0) {
        stat.error = open.error = std::string("connect: ") + vnsmb1c_last_error();
    } else {
        const std::string path = std::string(kShare) + "/" + kSmallFile;
        vnsmb1c_Entry e{};
        if (vnsmb1c_stat(path.c_str(), &e) != 0)
            stat.error = std::string("stat: ") + vnsmb1c_last_error();
        else
            stat.ours = median_of_calls(kTripCallRuns, [&] { return vnsmb1c_stat(path.c_str(), &e) == 0; });
        std::vector<uint8_t> buf(65536);
        open.ours = median_of_calls(kTripCallRuns, [&] {
            int h = vnsmb1c_open(kShare, kFile);
            if (h <= 0)
                return false;
            int have = 0;
            while (have < 65536) {
                int got = vnsmb1c_read_at(h, have, buf.data() + have, 65536 - have);
                if (got <= 0)
                    break;
                have += got;
            }
            vnsmb1c_close(h);
            return have == 65536 && std::memcmp(buf.data(), film.data(), 65536) == 0;
        });
        vnsmb1c_disconnect();
    }
    rows.push_back(stat);
    rows.push_back(open);

    TripRow seek("seek + 128 KiB read on a held session", "1");
    std::string error;
    double ms = library_seek_ms(proxy, kTripSeeks, film, error);
    if (error.empty())
        seek.ours = ms / 1000.0;
    seek.error = error;
    rows.push_back(seek);
    return rows;
}

void print_round_trips(SambaServer &server, const Options &o, const std::vector<uint8_t> &film)
{
    for (int rtt : o.trips_rtt_ms) {
        bench::DelayProxy proxy(server.port(), rtt * 1000);
        if (proxy.port() == 0) {
            std::fprintf(stderr, "the delay proxy cannot listen\n");
            return;
        }
        std::vector<TripRow> rows = round_trip_rows(proxy, film);
        std::printf("\nRound trips at +%d ms (time / RTT; whole processes the median of %d, calls of %d; "
                    "seek: mean of %d)\n\n",
                    rtt, kTripProcessRuns, kTripCallRuns, kTripSeeks);
        std::printf("| work | vnsmb1c | smbclient | target (RTT) |\n|---|---|---|---|\n");
        for (const TripRow &r : rows) {
            std::string ours = r.error.empty() ? fmt_trip(r.ours, rtt) : r.error.substr(0, 120);
            std::printf("| %s | %s | %s | %s |\n", r.work.c_str(), ours.c_str(), fmt_trip(r.peer, rtt).c_str(),
                        r.target);
        }
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--size-mib N] [--rtt-ms 0,1,3] [--buffers 65536,1048576] [--entries N] "
                     "[--seeks N] [--list-timeout-s N] [--trips-rtt-ms 0,20,100] [--trips-only]\n",
                     argv[0]);
        return 2;
    }
    if (std::string why = SambaServer::unavailable(); !why.empty()) {
        std::fprintf(stderr, "cannot run Samba here: %s\n", why.c_str());
        return 1;
    }
    if (std::string why = interop::smbclient_unavailable(); !why.empty()) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }

    SambaServer server;
    if (!server.add_user(kUser, kPassword)) {
        std::fprintf(stderr, "cannot add the Samba user\n");
        return 1;
    }
    server.add_share(interop::read_only_share(kShare, false));
    std::printf("preparing a %" PRIu64 " MiB file and a folder of %d entries...\n", o.size_mib,
                o.trips_only ? kSmallFolderEntries : o.entries);
    std::fflush(stdout);
    std::vector<uint8_t> film = server.write_random_file(kShare, kFile, o.size_mib * 1024 * 1024, 42);
    if (o.entries > 0 && !o.trips_only) {
        server.make_dir(kShare, kFolder);
        server.make_entries(kShare, kFolder, o.entries);
    }
    server.write_random_file(kShare, kSmallFile, 1024, 43);
    server.make_dir(kShare, kSmallFolder);
    server.make_entries(kShare, kSmallFolder, kSmallFolderEntries);
    if (!server.start()) {
        std::fprintf(stderr, "Samba did not start:\n%s\n", server.log_tail().c_str());
        return 1;
    }
    std::filesystem::path tmp = server.root() / "bench-out.bin";
    if (o.trips_only) {
        print_round_trips(server, o, film);
        return 0;
    }

    std::printf("\nSequential read of %" PRIu64 " MiB (MB/s = 10^6 bytes/s; in flight = server-to-client bytes "
                "held by the delay proxy, mean / peak)\n\n",
                o.size_mib);
    std::printf("| added RTT | host buffer | vnsmb1c MB/s | smbclient MB/s | ratio | vnsmb1c in flight | smbclient "
                "in flight |\n|---|---|---|---|---|---|---|\n");
    std::vector<double> seek_ms(o.rtt_ms.size());
    std::vector<std::string> seek_err(o.rtt_ms.size());
    for (size_t i = 0; i < o.rtt_ms.size(); i++) {
        int rtt = o.rtt_ms[i];
        bench::DelayProxy proxy(server.port(), rtt * 1000);
        if (proxy.port() == 0) {
            std::fprintf(stderr, "the delay proxy cannot listen\n");
            return 1;
        }
        Rate peer = smbclient_get(proxy, tmp);
        for (int b : o.buffers) {
            Rate lib = library_read(proxy, b, film);
            char ratio[32] = "-";
            if (lib.mbps > 0 && peer.mbps > 0)
                std::snprintf(ratio, sizeof ratio, "%.2fx", lib.mbps / peer.mbps);
            std::printf("| +%d ms | %s | %s | %s | %s | %s / %s | %s / %s |\n", rtt, fmt_bytes(b).c_str(),
                        fmt_rate(lib).c_str(), fmt_rate(peer).c_str(),
                        ratio, fmt_bytes(lib.mean_in_flight).c_str(),
                        fmt_bytes(static_cast<double>(lib.peak_in_flight)).c_str(),
                        fmt_bytes(peer.mean_in_flight).c_str(),
                        fmt_bytes(static_cast<double>(peer.peak_in_flight)).c_str());
            std::fflush(stdout);
        }
        seek_ms[i] = library_seek_ms(proxy, o.seeks, film, seek_err[i]);
    }

    std::printf("\nRandom seek plus a 128 KiB read after an 8 MiB sequential run (%d seeks)\n\n", o.seeks);
    std::printf("| added RTT | mean time | in round trips |\n|---|---|---|\n");
    for (size_t i = 0; i < o.rtt_ms.size(); i++) {
        if (!seek_err[i].empty()) {
            std::printf("| +%d ms | %s | - |\n", o.rtt_ms[i], seek_err[i].c_str());
            continue;
        }
        char rtts[32] = "-";
        if (o.rtt_ms[i] > 0)
            std::snprintf(rtts, sizeof rtts, "%.1f", seek_ms[i] / o.rtt_ms[i]);
        std::printf("| +%d ms | %.2f ms | %s |\n", o.rtt_ms[i], seek_ms[i], rtts);
    }

    if (o.entries > 0) {
        std::printf("\nListing a folder of %d entries, whole processes\n\n", o.entries);
        std::printf("| added RTT | vnsmb1c ls | vnsmb1c ls --json | smbclient ls | ratio ls | ratio --json |\n"
                    "|---|---|---|---|---|---|\n");
        for (int rtt : o.rtt_ms) {
            bench::DelayProxy proxy(server.port(), rtt * 1000);
            std::string url = std::string("smb://") + kUser + ":" + kPassword + "@127.0.0.1:" +
                              std::to_string(proxy.port()) + "/" + kShare + "/" + kFolder;
            // One listing to warm the server's caches, then three rounds
            // taking turns; the median of each counts.
            const std::vector<std::string> ls_table = {VNSMB1C_CLI_PATH, "-q", "ls", url};
            const std::vector<std::string> ls_json = {VNSMB1C_CLI_PATH, "-q", "ls", "--json", url};
            const std::vector<std::string> ls_peer = smbclient_argv(proxy.port(), "ls", {"-D", kFolder});
            process_seconds(ls_peer, o.list_timeout_s);
            std::vector<double> tables, jsons, peers;
            for (int round = 0; round < kListRounds; round++) {
                tables.push_back(process_seconds(ls_table, o.list_timeout_s));
                jsons.push_back(process_seconds(ls_json, o.list_timeout_s));
                peers.push_back(process_seconds(ls_peer, o.list_timeout_s));
            }
            double table = median(tables);
            double json = median(jsons);
            double peer = median(peers);
            auto ratio = [&](double s) {
                char t[32] = "-";
                if (s > 0 && peer > 0)
                    std::snprintf(t, sizeof t, "%.2fx", s / peer);
                return std::string(t);
            };
            std::printf("| +%d ms | %s | %s | %s | %s | %s |\n", rtt, fmt_seconds(table, o.list_timeout_s).c_str(),
                        fmt_seconds(json, o.list_timeout_s).c_str(), fmt_seconds(peer, o.list_timeout_s).c_str(),
                        ratio(table).c_str(), ratio(json).c_str());
            std::fflush(stdout);
        }
        std::printf("\n(listing ratios are time ratios of the median of %d runs each: lower is faster; the target "
                    "is at most 1.0x)\n",
                    kListRounds);

        bench::DelayProxy proxy(server.port(), 0);
        ItemWalk w = library_item_walk(proxy);
        std::printf("\nA held listing walked item by item in process (vnsmb1c_list, then vnsmb1c_item_json for each "
                    "item)\n\n| items | vnsmb1c_list | every vnsmb1c_item_json | ratio |\n|---|---|---|---|\n");
        if (!w.error.empty())
            std::printf("| - | %s | - | - |\n", w.error.c_str());
        else
            std::printf("| %d | %.3f s | %.3f s | %.2fx |\n", w.count, w.list_s, w.items_s,
                        w.list_s > 0 ? w.items_s / w.list_s : 0.0);
    }
    std::filesystem::remove(tmp);
    print_round_trips(server, o, film);
    return 0;
}
