// vnsmb1c serve in front of a real Samba server, driven by the clients
// people use: curl for ranges, ffprobe and ffmpeg for a real video that they
// probe and seek into, headless Chromium for the folder page, and raw
// requests for what curl would tidy up first. Tests whose client is missing
// skip and say which.
#ifdef VNSMB1C_CLI_PATH

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "interop/support/drop_proxy.h"
#include "interop/support/run_process.h"
#include "interop/support/samba_fixture.h"
#include "tools/serve_fixture.h"

using namespace interop;

namespace {

constexpr char kBigRel[] = "Streams/big.bin";
constexpr uint64_t kBigSize = (3u << 20) + 12345;
constexpr char kClipRel[] = "Video/clip.mp4";
constexpr char kFilmsDir[] = "Films";
const std::vector<std::string> kFilmNames = {"Big Buck Bunny (2008).mkv", "Tom & Jerry.mkv", "Sintel.srt"};

bool on_path(const std::string &program)
{
    const char *path = std::getenv("PATH");
    std::stringstream dirs(path == nullptr ? "" : path);
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

std::string read_all(const std::filesystem::path &p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A folder of its own under the system's temporary folder.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "vnsmb1c_serve_XXXXXX").string();
        if (mkdtemp(tmpl.data()) != nullptr)
            path = tmpl;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
};

// Makes the five-second test video (320x240 at 25 frames, a sine tone) with
// ffmpeg; empty when ffmpeg is missing or fails.
std::string make_clip(const std::filesystem::path &dir)
{
    if (!on_path("ffmpeg"))
        return "";
    auto out = dir / "clip.mp4";
    ProcessResult r = run_process({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                   "testsrc=duration=5:size=320x240:rate=25", "-f", "lavfi", "-i", "sine=duration=5",
                                   "-c:v", "mpeg4", "-q:v", "5", "-c:a", "aac", "-shortest", out.string()},
                                  {}, 120000);
    if (r.exit_code != 0)
        return "";
    return read_all(out);
}

class ServeInterop : public testing::Test {
protected:
    static void TearDownTestSuite()
    {
        shared().reset();
        clip() = "";
    }

    void SetUp() override
    {
        if (auto why = SambaServer::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        if (!shared()) {
            auto s = std::make_unique<SambaServer>();
            populate_standard(*s);
            ASSERT_FALSE(HasFatalFailure());
            big() = s->write_random_file(kPublicShare, kBigRel, kBigSize, 23);
            for (const auto &name : kFilmNames)
                s->write_file(kPublicShare, std::string(kFilmsDir) + "/" + name, name);
            clip() = make_clip(scratch_.path);
            if (!clip().empty())
                s->write_file(kPublicShare, kClipRel, clip());
            ASSERT_TRUE(s->start()) << s->log_tail();
            shared() = std::move(s);
        }
        log_ = (scratch_.path / "gateway.log").string();
    }

    // Starts the gateway as user; the URL carries the password.
    void start_gateway(serve_test::Gateway &g, const char *user = kReader, const char *password = kReaderPassword,
                       const std::vector<std::string> &more = {})
    {
        std::string url = "smb://" + std::string(user) + ":" + password + "@" + SambaServer::kHost + ":" +
                          std::to_string(server().port());
        std::vector<std::string> args = more;
        args.insert(args.end(), {"serve", url, "--listen", "127.0.0.1:0"});
        ASSERT_TRUE(g.start(VNSMB1C_CLI_PATH, args, log_)) << g.start_line() << read_all(log_);
    }

    std::string url(const serve_test::Gateway &g, const std::string &path) const
    {
        return "http://127.0.0.1:" + std::to_string(g.port()) + path;
    }

    // curl's status code and body for a GET with an optional range.
    struct Fetched {
        int status = 0;
        std::string body;
    };
    Fetched curl(const std::string &target, const std::string &range = "", const std::string &name = "body")
    {
        auto out = scratch_.path / name;
        std::vector<std::string> argv = {"curl", "-s", "--max-time", "60", "-o", out.string(), "-w", "%{http_code}"};
        if (!range.empty())
            argv.insert(argv.end(), {"-r", range});
        argv.push_back(target);
        ProcessResult r = run_process(argv, {}, 90000);
        Fetched f;
        f.status = r.exit_code == 0 ? std::atoi(r.output.c_str()) : -r.exit_code;
        f.body = read_all(out);
        std::filesystem::remove(out);
        return f;
    }

    static std::unique_ptr<SambaServer> &shared()
    {
        static std::unique_ptr<SambaServer> s;
        return s;
    }
    static std::vector<uint8_t> &big()
    {
        static std::vector<uint8_t> b;
        return b;
    }
    static std::string &clip()
    {
        static std::string c;
        return c;
    }
    SambaServer &server() { return *shared(); }

    ScratchDir scratch_;
    std::string log_;
};

#define NEED(program)                                                       \
    do {                                                                    \
        if (!on_path(program))                                              \
            GTEST_SKIP() << program " is not installed (scripts/deps.sh)"; \
    } while (0)

TEST_F(ServeInterop, CurlRangesMatchTheFileOnDisk)
{
    NEED("curl");
    serve_test::Gateway g;
    start_gateway(g);
    const std::string on_disk = read_all(server().path(kPublicShare, kBigRel));
    ASSERT_EQ(on_disk.size(), kBigSize);
    const std::string target = url(g, "/public/Streams/big.bin");
    const uint64_t last = kBigSize - 1;
    struct Case {
        std::string range;
        int status;
        uint64_t first;
        uint64_t length;
    };
    const Case cases[] = {
        {"", 200, 0, kBigSize},
        {"0-0", 206, 0, 1},
        {"1048000-1114535", 206, 1048000, 66536},
        {std::to_string(last) + "-" + std::to_string(last), 206, last, 1},
        {"-1000", 206, kBigSize - 1000, 1000},
        {std::to_string(kBigSize - 70000) + "-", 206, kBigSize - 70000, 70000},
        {std::to_string(kBigSize) + "-", 416, 0, 0},
        {std::to_string(kBigSize + 4096) + "-" + std::to_string(kBigSize + 8192), 416, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.range);
        Fetched f = curl(target, c.range);
        EXPECT_EQ(f.status, c.status);
        if (c.status != 416) {
            EXPECT_TRUE(f.body == on_disk.substr(c.first, c.length)) << f.body.size() << " bytes";
        }
    }
}

TEST_F(ServeInterop, FourParallelRangeFetchesGetTheirBytes)
{
    NEED("curl");
    serve_test::Gateway g;
    start_gateway(g);
    const std::string on_disk = read_all(server().path(kPublicShare, kBigRel));
    constexpr int kClients = 4;
    const uint64_t part = kBigSize / kClients;
    std::vector<Fetched> got(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; i++)
        threads.emplace_back([&, i] {
            std::string range = std::to_string(i * part) + "-" + std::to_string((i + 1) * part - 1);
            got[i] = curl(url(g, "/public/Streams/big.bin"), range, "part" + std::to_string(i));
        });
    for (auto &t : threads)
        t.join();
    for (int i = 0; i < kClients; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].status, 206);
        EXPECT_TRUE(got[i].body == on_disk.substr(i * part, part));
    }
}

TEST_F(ServeInterop, FfprobeReadsAndFfmpegSeeksTheVideo)
{
    NEED("ffprobe");
    NEED("ffmpeg");
    ASSERT_FALSE(clip().empty()) << "ffmpeg could not make the test video";
    serve_test::Gateway g;
    start_gateway(g);
    const std::string video = url(g, "/public/Video/clip.mp4");

    ProcessResult probe = run_process({"ffprobe", "-v", "error", "-show_entries", "format=duration:stream=codec_type",
                                       "-of", "json", video},
                                      {}, 60000);
    ASSERT_EQ(probe.exit_code, 0) << probe.output;
    rapidjson::Document doc;
    doc.Parse(probe.output.c_str());
    ASSERT_FALSE(doc.HasParseError()) << probe.output;
    double duration = std::atof(doc["format"]["duration"].GetString());
    EXPECT_GT(duration, 4.8);
    EXPECT_LT(duration, 5.2);
    std::vector<std::string> kinds;
    for (const auto &s : doc["streams"].GetArray())
        kinds.emplace_back(s["codec_type"].GetString());
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(kinds, (std::vector<std::string>{"audio", "video"}));

    auto frame = scratch_.path / "frame.png";
    ProcessResult seek = run_process({"ffmpeg", "-nostdin", "-v", "error", "-y", "-ss", "3", "-i", video, "-frames:v",
                                      "1", frame.string()},
                                     {}, 60000);
    ASSERT_EQ(seek.exit_code, 0) << seek.output;
    std::string png = read_all(frame);
    EXPECT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    g.stop();
    // The players asked for parts of the file, not only the whole.
    EXPECT_NE(read_all(log_).find("/public/Video/clip.mp4 206"), std::string::npos) << read_all(log_);
}

TEST_F(ServeInterop, ChromiumRendersTheListing)
{
    NEED("chromium");
    serve_test::Gateway g;
    start_gateway(g);
    const std::string page = url(g, "/public/Films/");
    const std::vector<std::string> common = {"chromium", "--headless", "--no-sandbox", "--disable-gpu",
                                             "--no-first-run", "--disable-background-networking",
                                             "--disable-component-update", "--disable-sync", "--disable-extensions",
                                             "--user-data-dir=" + (scratch_.path / "profile").string()};
    auto shot = scratch_.path / "listing.png";
    std::vector<std::string> argv = common;
    argv.insert(argv.end(), {"--window-size=800,600", "--screenshot=" + shot.string(), page});
    ProcessResult r = run_process(argv, {}, 120000);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    std::string png = read_all(shot);
    ASSERT_GT(png.size(), 2000u);  // a blank page compresses to far less
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    // IHDR: the width and height asked for.
    auto be32 = [&](size_t at) {
        return (static_cast<uint32_t>(static_cast<uint8_t>(png[at])) << 24) |
               (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 1])) << 16) |
               (static_cast<uint32_t>(static_cast<uint8_t>(png[at + 2])) << 8) |
               static_cast<uint32_t>(static_cast<uint8_t>(png[at + 3]));
    };
    EXPECT_EQ(be32(16), 800u);
    EXPECT_EQ(be32(20), 600u);

    argv = common;
    argv.insert(argv.end(), {"--dump-dom", page});
    ProcessResult dom = run_process(argv, {}, 120000);
    ASSERT_EQ(dom.exit_code, 0) << dom.output;
    EXPECT_NE(dom.output.find("Big Buck Bunny (2008).mkv</a>"), std::string::npos) << dom.output;
    EXPECT_NE(dom.output.find("Tom &amp; Jerry.mkv</a>"), std::string::npos) << dom.output;
    EXPECT_NE(dom.output.find("Sintel.srt</a>"), std::string::npos) << dom.output;
    EXPECT_EQ(dom.output.find(kReaderPassword), std::string::npos);
}

TEST_F(ServeInterop, TraversalAndMalformedRequestsAreRefused)
{
    serve_test::Gateway g;
    start_gateway(g, kOther, kOtherPassword);
    struct Case {
        std::string target;
        int status;
    };
    const Case cases[] = {
        {"/public/hello.txt", 200},
        {"/public/../private/secret.txt", 400},
        {"/public/%2e%2e/private/secret.txt", 400},
        {"/public/..%2Fprivate%2Fsecret.txt", 400},
        {"/public/..%5Cprivate%5Csecret.txt", 400},
        {"/public/hello.txt%00.mkv", 400},
        {"/public/hello.txt:$DATA", 400},
        {"/public/Names/%", 400},
        {"/public/" + std::string(1100, 'n'), 400},
        {"/private/secret.txt", 403},  // this user may not use the share
        {"/private/", 403},
        {"/public/missing.mkv", 404},
        {"/nosuchshare/", 404},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.target);
        std::string answer = serve_test::raw_exchange(
            g.port(), "GET " + c.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(serve_test::raw_status(answer), c.status) << answer;
        EXPECT_EQ(answer.find(kSecretText), std::string::npos);
    }
    g.stop();
    EXPECT_EQ(read_all(log_).find(kOtherPassword), std::string::npos);
}

// smbd going away answers 502 rather than hanging, and once it is back the
// library's reconnect serves the next request without a restart.
TEST_F(ServeInterop, ServerGoneThenBack)
{
    serve_test::Gateway g;
    start_gateway(g, kReader, kReaderPassword, {"--timeout", "3"});
    auto client = g.client();
    auto before = client.Get("/public/hello.txt");
    ASSERT_TRUE(before);
    EXPECT_EQ(before->status, 200);
    server().stop_smbd();
    auto gone = client.Get("/public/Streams/big.bin", {{"Range", "bytes=0-99"}});
    ASSERT_TRUE(gone);
    EXPECT_TRUE(gone->status == 502 || gone->status == 504) << gone->status << " " << gone->body;
    ASSERT_TRUE(server().start_smbd()) << server().log_tail();
    int status = 0;
    std::string body;
    // The broken session waits out one time-out before it connects again.
    for (int i = 0; i < 40 && status != 206; i++) {
        if (auto r = client.Get("/public/Streams/big.bin", {{"Range", "bytes=0-99"}})) {
            status = r->status;
            body = r->body;
        }
        if (status != 206)
            usleep(250000);
    }
    EXPECT_EQ(status, 206);
    EXPECT_TRUE(body == std::string(big().begin(), big().begin() + 100));
}

// smbd frozen mid-session: the request waits out the session's time-out and
// gets 504; once smbd runs again the next requests are served.
TEST_F(ServeInterop, ServerStallsThenTimesOut)
{
    serve_test::Gateway g;
    start_gateway(g, kReader, kReaderPassword, {"--timeout", "2"});
    auto client = g.client();
    auto before = client.Get("/public/hello.txt");
    ASSERT_TRUE(before);
    EXPECT_EQ(before->status, 200);
    // The daemon and the process it forked for this session share its group.
    const pid_t group = server().smbd_pid();
    ASSERT_GT(group, 0);
    struct Thaw {
        pid_t group;
        ~Thaw() { kill(-group, SIGCONT); }
    } thaw{group};
    ASSERT_EQ(kill(-group, SIGSTOP), 0);
    auto stalled = client.Get("/public/Streams/big.bin", {{"Range", "bytes=5000-5099"}});
    kill(-group, SIGCONT);
    ASSERT_TRUE(stalled);
    EXPECT_EQ(stalled->status, 504) << stalled->body;
    EXPECT_NE(stalled->body.find("timed out"), std::string::npos) << stalled->body;
    int status = 0;
    std::string body;
    for (int i = 0; i < 40 && status != 206; i++) {
        if (auto r = client.Get("/public/Streams/big.bin", {{"Range", "bytes=5000-5099"}})) {
            status = r->status;
            body = r->body;
        }
        if (status != 206)
            usleep(250000);
    }
    EXPECT_EQ(status, 206);
    EXPECT_TRUE(body == std::string(big().begin() + 5000, big().begin() + 5100));
}

// A stream whose session's server stops answering (its connection frozen in
// a relay) holds up no folder page: the page gets a session of its own and
// is answered while the stream waits; once the connection runs again the
// stream ends with the file's bytes.
TEST_F(ServeInterop, AStalledStreamHoldsUpNoPage)
{
    DropProxy relay(server().port());
    ASSERT_TRUE(relay.start());
    struct Thaw {
        DropProxy &relay;
        ~Thaw() { relay.thaw(); }
    } thaw{relay};
    serve_test::Gateway g;
    std::string url = "smb://" + std::string(kReader) + ":" + kReaderPassword + "@" + SambaServer::kHost + ":" +
                      std::to_string(relay.port());
    ASSERT_TRUE(g.start(VNSMB1C_CLI_PATH, {"--timeout", "25", "serve", url, "--listen", "127.0.0.1:0"}, log_))
        << read_all(log_);
    // A session that now keeps the file open (the folder's listing is
    // remembered): its connection stops answering.
    auto warm = g.client().Get("/public/Streams/big.bin", {{"Range", "bytes=0-0"}});
    ASSERT_TRUE(warm);
    ASSERT_EQ(warm->status, 206);
    usleep(200000);
    relay.freeze_last_active();

    int stream_status = 0;
    std::string stream_body;
    std::atomic<bool> stream_done{false};
    std::thread stream([&] {
        if (auto r = g.client().Get("/public/Streams/big.bin", {{"Range", "bytes=1000000-2999999"}})) {
            stream_status = r->status;
            stream_body = r->body;
        }
        stream_done = true;
    });
    // The stream takes the frozen session first.
    usleep(1000000);
    const auto asked = std::chrono::steady_clock::now();
    auto page = g.client().Get("/public/Films/?format=json");
    const double page_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    // The stream was stalled all along.
    EXPECT_FALSE(stream_done.load());
    relay.thaw();
    stream.join();
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200) << page->body;
    EXPECT_NE(page->body.find("Sintel.srt"), std::string::npos) << page->body;
    // Far below the stalled stream's time-out of 25 s.
    EXPECT_LT(page_s, 15.0);
    EXPECT_EQ(stream_status, 206) << stream_body.substr(0, 200);
    EXPECT_TRUE(stream_body == std::string(big().begin() + 1000000, big().begin() + 3000000));
}

}  // namespace

#endif  // VNSMB1C_CLI_PATH
