// The HTTP gateway against Samba (SMB1) on loopback, beside the command-line
// tool in the same run: a large file streamed with curl through `vnsmb1c
// serve` against `vnsmb1c get` of it, the gateway's resident memory while a
// large file streams, and a large folder's page against `vnsmb1c ls --json`.
// Then the gateway under attack: a page's time while 64 slow clients hold
// connections, and its resident memory after a flood of oversized heads.
// Prints the figures; asserts nothing.
//
//   serve_bench [--size-mib N] [--entries N] [--runs N] [--rtt-ms 1,3]
//               [--links 1:1000,3:300] [--player-mib N] [--only players,video]
//
// Players: 1, 4 and 8 curl streams at once through one gateway whose SMB
// side is at +20 ms (each stream --player-mib MiB of the film from its own
// offset): their aggregate MiB/s and a folder page's time meanwhile. Video:
// ffprobe cold and warm and `ffmpeg -ss 12 -i URL -frames:v 1` of a 20 s
// MKV through a gateway at +100 ms, in round trips. --only runs just those
// parts.
//
// --rtt-ms: round trips added by the delay proxy, bandwidth unbounded (on two
// cores smbd, the proxy, the gateway and curl then compete for the
// processors). --links: round trip and line rate pairs (ms:Mbit/s), the
// links a NAS sits behind: gigabit Ethernet, fast Wi-Fi. The CPU seconds of
// the client side (the tool; the gateway and curl) are printed beside each
// time.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "delay_proxy.h"
#include "interop/support/run_process.h"
#include "interop/support/samba_server.h"
#include "tools/serve_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using interop::SambaServer;

constexpr char kUser[] = "vnsmbt_reader";
constexpr char kPassword[] = "Reader-pass-1";
constexpr char kShare[] = "bench";
constexpr char kFile[] = "film.bin";
constexpr char kFolder[] = "many";
constexpr int kTimeoutS = 600;

struct Options {
    uint64_t size_mib = 1024;
    int entries = 5000;
    int runs = 2;
    std::vector<int> rtt_ms = {1, 3};  // streaming again through the delay proxy
    std::vector<std::pair<int, int>> links = {{1, 1000}, {3, 300}};  // ms, Mbit/s
    int player_mib = 128;
    std::string only;  // "" for everything, else a list of parts
    bool runs_part(const std::string &part) const { return only.empty() || only.find(part) != std::string::npos; }
};

// "1:1000,3:300" as pairs; false when a pair is malformed.
bool link_list(const char *text, std::vector<std::pair<int, int>> &out)
{
    out.clear();
    std::stringstream ss(text);
    std::string part;
    while (std::getline(ss, part, ',')) {
        size_t colon = part.find(':');
        if (colon == std::string::npos)
            return false;
        int rtt = std::atoi(part.substr(0, colon).c_str());
        int mbit = std::atoi(part.substr(colon + 1).c_str());
        if (rtt < 0 || mbit <= 0)
            return false;
        out.emplace_back(rtt, mbit);
    }
    return true;
}

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
        if (i + 1 >= argc)
            return false;
        if (a == "--rtt-ms") {
            o.rtt_ms = int_list(argv[++i]);
            continue;
        }
        if (a == "--only") {
            o.only = argv[++i];
            continue;
        }
        if (a == "--links") {
            if (!link_list(argv[++i], o.links))
                return false;
            continue;
        }
        long v = std::strtol(argv[++i], nullptr, 10);
        if (v <= 0)
            return false;
        if (a == "--size-mib")
            o.size_mib = static_cast<uint64_t>(v);
        else if (a == "--entries")
            o.entries = static_cast<int>(v);
        else if (a == "--runs")
            o.runs = static_cast<int>(v);
        else if (a == "--player-mib")
            o.player_mib = static_cast<int>(v);
        else
            return false;
    }
    return true;
}

double seconds_since(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Seconds a command line takes through the shell, or a negative number when
// it fails.
double shell_seconds(const std::string &command)
{
    auto t0 = Clock::now();
    ProcessResult p = run_process({"sh", "-c", command}, {}, kTimeoutS * 1000, {"LC_ALL=C.UTF-8"});
    double s = seconds_since(t0);
    if (p.exit_code != 0) {
        std::fprintf(stderr, "failed (%d): %s\n%s\n", p.exit_code, command.c_str(), p.output.c_str());
        return -1;
    }
    return s;
}

std::string quoted(const std::string &s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// VmRSS of a process in KiB, or -1.
long rss_kib(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

// Streams url with curl to /dev/null while sampling the gateway's VmRSS;
// the samples in order (KiB).
std::vector<long> rss_while_streaming(pid_t gateway, const std::string &url)
{
    std::vector<long> samples;
    pid_t curl = fork();
    if (curl == 0) {
        execlp("curl", "curl", "-s", "--max-time", "600", "-o", "/dev/null", url.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    if (curl < 0)
        return samples;
    auto t0 = Clock::now();
    for (;;) {
        samples.push_back(rss_kib(gateway));
        int status = 0;
        if (waitpid(curl, &status, WNOHANG) == curl)
            break;
        if (seconds_since(t0) > kTimeoutS) {
            kill(curl, SIGKILL);
            waitpid(curl, &status, 0);
            break;
        }
        usleep(20000);
    }
    samples.push_back(rss_kib(gateway));
    return samples;
}

// CPU seconds (user and system) a process has used so far, or -1.
double cpu_seconds_of(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos)
        return -1;
    std::stringstream fields(stat.substr(paren + 2));
    std::string f;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> f; i++) {
        if (i == 14)
            utime = std::strtoull(f.c_str(), nullptr, 10);
        if (i == 15)
            stime = std::strtoull(f.c_str(), nullptr, 10);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU seconds this process's waited-for children have used so far.
double children_cpu_seconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    auto s = [](const timeval &t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

struct Timed {
    double seconds = 1e9;
    double cpu = 0;          // of the client side in that run
    double gateway_cpu = 0;  // of the gateway alone
};

// `vnsmb1c get` of the file against curl through the gateway, alternating;
// the fastest run of each.
void compare_streaming(const std::string &label, const std::string &smb, serve_test::Gateway &gateway,
                       const Options &o)
{
    const std::string http = "http://127.0.0.1:" + std::to_string(gateway.port()) + "/" + kShare + "/" + kFile;
    const std::string cli = quoted(VNSMB1C_CLI_PATH);
    Timed get;
    Timed curl;
    for (int r = 0; r < o.runs; r++) {
        double c0 = children_cpu_seconds();
        double g = shell_seconds(cli + " -q get " + quoted(smb + "/" + kShare + "/" + kFile) + " - >/dev/null");
        double g_cpu = children_cpu_seconds() - c0;
        double gw0 = cpu_seconds_of(gateway.pid());
        c0 = children_cpu_seconds();
        double c = shell_seconds("curl -s -f --max-time 600 -o /dev/null " + quoted(http));
        double gw_cpu = cpu_seconds_of(gateway.pid()) - gw0;
        double c_cpu = children_cpu_seconds() - c0 + gw_cpu;
        if (g > 0 && g < get.seconds)
            get = {g, g_cpu, 0};
        if (c > 0 && c < curl.seconds)
            curl = {c, c_cpu, gw_cpu};
    }
    const double mib = static_cast<double>(o.size_mib);
    std::printf("\nstreaming %" PRIu64 " MiB%s (best of %d)\n", o.size_mib, label.c_str(), o.runs);
    std::printf("  vnsmb1c get          %7.2f s  %8.1f MiB/s  CPU %5.2f s (the tool)\n", get.seconds,
                mib / get.seconds, get.cpu);
    std::printf("  curl via the gateway %7.2f s  %8.1f MiB/s  CPU %5.2f s (gateway and curl)\n", curl.seconds,
                mib / curl.seconds, curl.cpu);
    std::printf("  gateway CPU          %7.2f s per GiB\n", curl.gateway_cpu * 1024.0 / mib);
    std::printf("  ratio gateway/get    %7.2fx (target >= %s)\n", get.seconds / curl.seconds,
                label.empty() ? "0.85x on bare loopback" : "0.95x");
    std::fflush(stdout);
}

// The same with the SMB side behind the delay proxy: a round trip and, when
// mbit is not 0, a line rate.
bool streaming_through_proxy(SambaServer &server, int rtt_ms, int mbit, const Options &o)
{
    bench::DelayProxy proxy(server.port(), rtt_ms * 1000, mbit);
    if (proxy.port() == 0) {
        std::fprintf(stderr, "the delay proxy cannot listen\n");
        return false;
    }
    const std::string smb = "smb://" + std::string(kUser) + ":" + kPassword + "@" + SambaServer::kHost + ":" +
                            std::to_string(proxy.port());
    serve_test::Gateway far;
    const std::string log = (server.root() / ("gateway-" + std::to_string(rtt_ms) + "-" + std::to_string(mbit) +
                                              ".log")).string();
    if (!far.start(VNSMB1C_CLI_PATH, {"-q", "serve", smb, "--listen", "127.0.0.1:0"}, log)) {
        std::fprintf(stderr, "the gateway did not start: %s\n", far.start_line().c_str());
        return false;
    }
    std::string label = ", SMB at +" + std::to_string(rtt_ms) + " ms round trip";
    if (mbit > 0)
        label += " and " + std::to_string(mbit) + " Mbit/s";
    compare_streaming(label, smb, far, o);
    far.stop();
    return true;
}

// A connection to the gateway, or -1.
int connect_to(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The gateway under attack, on a gateway of its own that lets one address
// hold many connections (every attacker here is 127.0.0.1): a page's time
// while 64 slow clients send their heads a line at a time, then the
// gateway's memory after 32 connections each send 6 MiB of header lines.
void under_attack(const std::string &smb, const std::string &log)
{
    serve_test::Gateway g;
    if (!g.start(VNSMB1C_CLI_PATH, {"-q", "serve", smb, "--listen", "127.0.0.1:0", "--max-per-client", "200"}, log)) {
        std::fprintf(stderr, "the gateway did not start: %s\n", g.start_line().c_str());
        return;
    }
    // A normal page: the share's, a few entries.
    const std::string page = "http://127.0.0.1:" + std::to_string(g.port()) + "/" + kShare + "/";
    double calm = 1e9;
    for (int r = 0; r < 3; r++)
        calm = std::min(calm, shell_seconds("curl -s -f -o /dev/null " + quoted(page)));
    std::vector<int> slow;
    for (int i = 0; i < 64; i++) {
        int fd = connect_to(g.port());
        if (fd >= 0 && send(fd, "GET /bench/ HTTP/1.1\r\n", 22, MSG_NOSIGNAL) == 22)
            slow.push_back(fd);
    }
    double worst = 0;
    for (int r = 0; r < 5; r++) {
        for (int fd : slow)
            send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
        worst = std::max(worst, shell_seconds("curl -s -f --max-time 60 -o /dev/null " + quoted(page)));
        usleep(300000);
    }
    for (int fd : slow)
        close(fd);
    std::printf("\nthe gateway under attack\n");
    std::printf("  share page, calm             %7.3f s\n", calm);
    std::printf("  share page, %zu slow clients  %7.3f s (worst of 5; target < 0.5 s)\n", slow.size(), worst);

    long start = rss_kib(g.pid());
    std::string flood;
    for (int i = 0; i < 10000; i++)
        flood += "X-Flood: " + std::string(100, 'f') + "\r\n";
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&] {
            for (int c = 0; c < 8; c++) {
                int fd = connect_to(g.port());
                if (fd < 0)
                    continue;
                const std::string line = "GET / HTTP/1.1\r\nHost: localhost\r\n";
                send(fd, line.data(), line.size(), MSG_NOSIGNAL);
                for (int i = 0; i < 6; i++)
                    if (send(fd, flood.data(), flood.size(), MSG_NOSIGNAL) < 0)
                        break;
                close(fd);
            }
        });
    }
    long peak = start;
    for (auto &t : threads)
        t.join();
    peak = std::max(peak, rss_kib(g.pid()));
    shell_seconds("curl -s -f -o /dev/null " + quoted(page));  // the gateway still answers
    sleep(3);  // lingering connections end
    long after = rss_kib(g.pid());
    std::printf("  VmRSS before a header flood  %7ld KiB\n", start);
    std::printf("  VmRSS after 192 MiB of heads %7ld KiB (%+.1f%%; target within 10%%)\n", after,
                100.0 * static_cast<double>(after - start) / static_cast<double>(start));
    g.stop();
}

}  // namespace

constexpr char kVideo[] = "clip.mkv";

// A gateway in front of the server behind a delay proxy of rtt_ms.
struct FarGateway {
    bench::DelayProxy proxy;
    serve_test::Gateway gateway;
    FarGateway(SambaServer &server, int rtt_ms, const std::string &log) : proxy(server.port(), rtt_ms * 1000)
    {
        const std::string smb = "smb://" + std::string(kUser) + ":" + kPassword + "@" + SambaServer::kHost + ":" +
                                std::to_string(proxy.port());
        if (proxy.port() == 0 || !gateway.start(VNSMB1C_CLI_PATH, {"serve", smb, "--listen", "127.0.0.1:0"}, log))
            std::fprintf(stderr, "the gateway at +%d ms did not start: %s\n", rtt_ms, gateway.start_line().c_str());
    }
    bool ok() const { return gateway.port() > 0; }
    std::string http(const std::string &rest) const
    {
        return "http://127.0.0.1:" + std::to_string(gateway.port()) + "/" + kShare + "/" + rest;
    }
};

// 1, 4 and 8 players at once, each streaming its own part of the film.
bool concurrent_players(SambaServer &server, const Options &o)
{
    constexpr int kRttMs = 20;
    FarGateway far(server, kRttMs, (server.root() / "gateway-players.log").string());
    if (!far.ok())
        return false;
    const uint64_t part = static_cast<uint64_t>(o.player_mib) << 20;
    const uint64_t film = o.size_mib << 20;
    std::printf("\nplayers at once through one gateway, SMB at +%d ms (%d MiB each)\n", kRttMs, o.player_mib);
    double one = 0;
    for (int players : {1, 4, 8}) {
        std::vector<std::thread> streams;
        std::vector<double> took(static_cast<size_t>(players), -1);
        const auto t0 = Clock::now();
        for (int i = 0; i < players; i++) {
            streams.emplace_back([&, i] {
                uint64_t first = film > part ? (static_cast<uint64_t>(i) * part) % (film - part + 1) : 0;
                uint64_t last = std::min(film, first + part) - 1;
                took[static_cast<size_t>(i)] =
                    shell_seconds("curl -s -f --max-time 600 -o /dev/null -r " + std::to_string(first) + "-" +
                                  std::to_string(last) + " " + quoted(far.http(kFile)));
            });
        }
        // A folder page while they stream (after they have begun).
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        double page = shell_seconds("curl -s -f -o /dev/null " + quoted(far.http("")));
        for (auto &t : streams)
            t.join();
        const double wall = seconds_since(t0);
        if (std::any_of(took.begin(), took.end(), [](double t) { return t <= 0; })) {
            std::fprintf(stderr, "a player's stream failed\n");
            return false;
        }
        const double rate = static_cast<double>(players) * static_cast<double>(o.player_mib) / wall;
        if (players == 1)
            one = rate;
        std::printf("  %d player%s  %8.1f MiB/s together  (%.2fx one player%s)  page meanwhile %6.3f s\n", players,
                    players == 1 ? " " : "s", rate, rate / one, players == 4 ? "; target >= 1.5x" : "", page);
        std::fflush(stdout);
    }
    return true;
}

// The seconds a command took, the best of runs (each run after a fresh
// gateway when cold).
bool video_at_100ms(SambaServer &server, const Options &o)
{
    constexpr int kRttMs = 100;
    if (run_process({"ffprobe", "-version"}).exit_code != 0) {
        std::fprintf(stderr, "ffprobe is not installed: no video figures\n");
        return true;
    }
    double cold = 1e9;
    double warm = 1e9;
    double seek = 1e9;
    for (int r = 0; r < std::max(2, o.runs); r++) {
        FarGateway far(server, kRttMs, (server.root() / "gateway-video.log").string());
        if (!far.ok())
            return false;
        const std::string url = quoted(far.http(kVideo));
        const std::string probe = "ffprobe -v error -show_format -show_streams " + url + " >/dev/null";
        cold = std::min(cold, shell_seconds(probe));
        warm = std::min(warm, shell_seconds(probe));
        FarGateway far2(server, kRttMs, (server.root() / "gateway-video2.log").string());
        if (!far2.ok())
            return false;
        seek = std::min(seek, shell_seconds("ffmpeg -nostdin -v error -ss 12 -i " + quoted(far2.http(kVideo)) +
                                            " -frames:v 1 -f null -"));
    }
    const double rtt = kRttMs / 1000.0;
    std::printf("\na 20 s MKV through the gateway, SMB at +%d ms (best of %d; each on a fresh gateway)\n", kRttMs,
                std::max(2, o.runs));
    struct Row {
        const char *what;
        double s;
        double before;
    };
    for (const Row &row : {Row{"ffprobe, cold        ", cold, 0.83}, Row{"ffprobe, warm        ", warm, 0.29},
                           Row{"ffmpeg -ss 12 1 frame", seek, 1.50}})
        std::printf("  %s %6.3f s  %5.1f RTT  (%.2fx of %.2f s before; target <= 0.50x)\n", row.what, row.s,
                    row.s / rtt, row.s / row.before, row.before);
    std::fflush(stdout);
    return true;
}

// Makes the 20-second test video with ffmpeg into the share; false when
// ffmpeg is missing or fails.
bool make_video(SambaServer &server)
{
    const std::string out = (server.root() / "clip-source.mkv").string();
    ProcessResult r = run_process({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                   "testsrc=duration=20:size=640x360:rate=25", "-f", "lavfi", "-i",
                                   "sine=duration=20", "-c:v", "mpeg4", "-q:v", "5", "-g", "50", "-c:a", "aac",
                                   "-shortest", out},
                                  {}, 300000);
    if (r.exit_code != 0)
        return false;
    std::ifstream in(out, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    server.write_file(kShare, kVideo, bytes);
    return true;
}

int main(int argc, char **argv)
{
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--size-mib N] [--entries N] [--runs N] [--rtt-ms 1,3] [--links 1:1000,3:300]\n",
                     argv[0]);
        return 2;
    }
    if (std::string why = SambaServer::unavailable(); !why.empty()) {
        std::fprintf(stderr, "cannot run Samba here: %s\n", why.c_str());
        return 1;
    }
    if (run_process({"curl", "--version"}).exit_code != 0) {
        std::fprintf(stderr, "curl is not installed (scripts/deps.sh)\n");
        return 1;
    }
    SambaServer server;
    if (!server.add_user(kUser, kPassword)) {
        std::fprintf(stderr, "cannot add the Samba user\n");
        return 1;
    }
    server.add_share(interop::read_only_share(kShare, false));
    std::printf("preparing a %" PRIu64 " MiB file and a folder of %d entries...\n", o.size_mib, o.entries);
    std::fflush(stdout);
    server.write_random_file(kShare, kFile, o.size_mib * 1024 * 1024, 7);
    server.make_dir(kShare, kFolder);
    server.make_entries(kShare, kFolder, o.entries);
    const bool video = o.runs_part("video") && make_video(server);
    if (!server.start()) {
        std::fprintf(stderr, "Samba did not start:\n%s\n", server.log_tail().c_str());
        return 1;
    }
    const std::string smb = "smb://" + std::string(kUser) + ":" + kPassword + "@" + SambaServer::kHost + ":" +
                            std::to_string(server.port());
    serve_test::Gateway gateway;
    const std::string log = (server.root() / "gateway.log").string();
    if (!gateway.start(VNSMB1C_CLI_PATH, {"-q", "serve", smb, "--listen", "127.0.0.1:0"}, log)) {
        std::fprintf(stderr, "the gateway did not start: %s\n", gateway.start_line().c_str());
        return 1;
    }
    const std::string http = "http://127.0.0.1:" + std::to_string(gateway.port()) + "/" + kShare + "/";
    const std::string cli = quoted(VNSMB1C_CLI_PATH);
    if (o.runs_part("players") && !concurrent_players(server, o))
        return 1;
    if (video && !video_at_100ms(server, o))
        return 1;
    if (!o.only.empty())
        return 0;

    // Streaming: the best of the runs of each, alternating, directly and
    // through the delay proxy.
    compare_streaming("", smb, gateway, o);
    for (int rtt : o.rtt_ms)
        if (!streaming_through_proxy(server, rtt, 0, o))
            return 1;
    for (const auto &[rtt, mbit] : o.links)
        if (!streaming_through_proxy(server, rtt, mbit, o))
            return 1;

    // Memory while one stream runs.
    long before = rss_kib(gateway.pid());
    std::vector<long> samples = rss_while_streaming(gateway.pid(), http + kFile);
    if (!samples.empty()) {
        long peak = *std::max_element(samples.begin(), samples.end());
        std::printf("\ngateway VmRSS while %" PRIu64 " MiB streams (%zu samples)\n", o.size_mib, samples.size());
        std::printf("  before %ld KiB, start %ld KiB, middle %ld KiB, end %ld KiB, peak %ld KiB\n", before,
                    samples[std::min<size_t>(1, samples.size() - 1)], samples[samples.size() / 2], samples.back(),
                    peak);
    }

    // A large folder: the page, its JSON and the tool's listing.
    double best_page = 1e9;
    double best_json = 1e9;
    double best_ls = 1e9;
    for (int r = 0; r < std::max(3, o.runs); r++) {
        double p = shell_seconds("curl -s -f -o /dev/null " + quoted(http + kFolder + "/"));
        double j = shell_seconds("curl -s -f -o /dev/null " + quoted(http + kFolder + "/?format=json"));
        double l = shell_seconds(cli + " -q ls --json " + quoted(smb + "/" + kShare + "/" + kFolder) + " >/dev/null");
        if (p > 0)
            best_page = std::min(best_page, p);
        if (j > 0)
            best_json = std::min(best_json, j);
        if (l > 0)
            best_ls = std::min(best_ls, l);
    }
    std::printf("\nfolder of %d entries (best of %d)\n", o.entries, std::max(3, o.runs));
    std::printf("  vnsmb1c ls --json    %7.3f s\n", best_ls);
    std::printf("  HTML page            %7.3f s  (%.2fx, target < 2x)\n", best_page, best_page / best_ls);
    std::printf("  JSON page            %7.3f s  (%.2fx)\n", best_json, best_json / best_ls);
    gateway.stop();

    under_attack(smb, (server.root() / "gateway-attack.log").string());
    return 0;
}
