// Sessions a host holds, against two real Samba servers (SMB1; one signing
// when asked, one requiring it): several sessions used from several threads
// at once, a server that stops answering (its smbd stopped with SIGSTOP)
// while another session goes on, and cancels of calls blocked on it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <rapidjson/document.h>

#include "interop/support/samba_fixture.h"
#include "vnsmb1c.h"

using namespace interop;
using namespace std::chrono_literals;

namespace {

constexpr uint64_t kFileSize = 6ull << 20;
constexpr char kFileRel[] = "Media/stream.bin";

struct ServerKind {
    const char *key;
    const char *signing;
    uint64_t seed;
};
constexpr ServerKind kAuto{"auto", "auto", 11};
constexpr ServerKind kMandatory{"mandatory", "mandatory", 12};

// A session that frees itself.
struct Held {
    Held() : s(vnsmb1c_session_new()) {}
    ~Held() { vnsmb1c_session_free(s); }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    vnsmb1c_session *s;
};

// Resumes a stopped smbd whatever happens to the test.
struct Stopped {
    explicit Stopped(pid_t group) : group_(group) { ok = group_ > 0 && kill(-group_, SIGSTOP) == 0; }
    ~Stopped() { resume(); }
    Stopped(const Stopped &) = delete;
    Stopped &operator=(const Stopped &) = delete;
    void resume()
    {
        if (ok)
            kill(-group_, SIGCONT);
        ok = false;
    }
    bool ok = false;

private:
    pid_t group_;
};

class TwoServers : public testing::Test {
protected:
    static void TearDownTestSuite() { pool().clear(); }
    static ServerPool &pool()
    {
        static ServerPool p;
        return p;
    }

    void SetUp() override
    {
        if (auto why = SambaServer::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        for (const ServerKind &kind : {kAuto, kMandatory}) {
            SambaOptions options;
            options.signing = kind.signing;
            SambaServer *server = pooled_server(pool(), kind.key, options, [&kind](SambaServer &s) {
                populate_standard(s);
                s.write_random_file(kPublicShare, kFileRel, kFileSize, kind.seed);
            });
            ASSERT_NE(server, nullptr);
            (kind.seed == kAuto.seed ? auto_ : mandatory_) = server;
        }
        expected_auto_ = pattern_bytes(kFileSize, kAuto.seed);
        expected_mandatory_ = pattern_bytes(kFileSize, kMandatory.seed);
    }

    static int connect(vnsmb1c_session *s, const SambaServer &server, int timeout_ms = 30000)
    {
        int rc = vnsmb1c_s_set_timeout(s, timeout_ms);
        if (rc == 0)
            rc = vnsmb1c_s_connect(s, SambaServer::kHost, server.port(), "", kReader, kReaderPassword);
        return rc;
    }

    // Streams the file whole in uneven pieces; "" when every byte matched.
    static std::string stream_file(vnsmb1c_session *s, const std::vector<uint8_t> &expected, int piece)
    {
        int h = vnsmb1c_s_open(s, kPublicShare, kFileRel);
        if (h <= 0)
            return std::string("open: ") + vnsmb1c_last_error();
        if (vnsmb1c_s_size(s, h) != static_cast<int64_t>(expected.size()))
            return "size " + std::to_string(vnsmb1c_s_size(s, h));
        std::vector<uint8_t> buf(static_cast<size_t>(piece));
        std::string failure;
        for (uint64_t at = 0; at < expected.size() && failure.empty();) {
            int n = vnsmb1c_s_read_at(s, h, static_cast<int64_t>(at), buf.data(), piece);
            if (n <= 0) {
                failure = "read at " + std::to_string(at) + ": " + std::to_string(n) + " " + vnsmb1c_last_error();
                break;
            }
            if (std::memcmp(buf.data(), expected.data() + at, static_cast<size_t>(n)) != 0)
                failure = "wrong bytes at " + std::to_string(at);
            at += static_cast<uint64_t>(n);
        }
        vnsmb1c_s_close(s, h);
        return failure;
    }

    // Lists public/Names; "" when the names are exactly the awkward ones.
    static std::string list_names(vnsmb1c_session *s)
    {
        int n = vnsmb1c_s_list(s, kPublicShare, "Names");
        if (n != static_cast<int>(kAwkwardNames.size()))
            return "list gave " + std::to_string(n) + ": " + vnsmb1c_last_error();
        std::set<std::string> names;
        for (int i = 0; i < n; i++) {
            rapidjson::Document d;
            d.Parse(vnsmb1c_s_item_json(s, i));
            if (d.HasParseError() || !d.IsObject() || !d.HasMember("name"))
                return "bad item " + std::to_string(i);
            names.insert(d["name"].GetString());
        }
        if (names != std::set<std::string>(kAwkwardNames.begin(), kAwkwardNames.end()))
            return "other names";
        return "";
    }

    SambaServer *auto_ = nullptr;
    SambaServer *mandatory_ = nullptr;
    std::vector<uint8_t> expected_auto_;
    std::vector<uint8_t> expected_mandatory_;
};

// Three sessions (two on one server, one on the other) from six threads at
// once: each streams and lists, and every byte and name is right.
TEST_F(TwoServers, SeveralSessionsFromSeveralThreads)
{
    Held a1;
    Held a2;
    Held b;
    ASSERT_EQ(connect(a1.s, *auto_), 0) << vnsmb1c_last_error();
    ASSERT_EQ(connect(a2.s, *auto_), 0) << vnsmb1c_last_error();
    ASSERT_EQ(connect(b.s, *mandatory_), 0) << vnsmb1c_last_error();
    EXPECT_NE(std::string(vnsmb1c_s_session_json(b.s)).find("\"signing\":true"), std::string::npos)
        << vnsmb1c_s_session_json(b.s);

    struct Job {
        vnsmb1c_session *s;
        const std::vector<uint8_t> *expected;
        int piece;
    };
    const Job streams[] = {{a1.s, &expected_auto_, 65536}, {a2.s, &expected_auto_, 100000},
                           {b.s, &expected_mandatory_, 65536}};
    std::vector<std::future<std::string>> work;
    for (const Job &job : streams) {
        work.push_back(std::async(std::launch::async, [job] { return stream_file(job.s, *job.expected, job.piece); }));
        work.push_back(std::async(std::launch::async, [job] {
            for (int round = 0; round < 8; round++) {
                if (std::string f = list_names(job.s); !f.empty())
                    return f;
                if (vnsmb1c_s_shares(job.s) < 3)
                    return std::string("shares: ") + vnsmb1c_last_error();
            }
            return std::string();
        }));
    }
    for (auto &w : work)
        EXPECT_EQ(w.get(), "");
}

// The server of one session stops answering in the middle of a read: the
// other session lists and reads its server in full meanwhile; the blocked
// call then ends on a cancel and the session reads correctly once the server
// runs again.
TEST_F(TwoServers, AStoppedServerHoldsUpNoOtherSessionAndACancelEndsItsCall)
{
    Held stalled;
    Held healthy;
    ASSERT_EQ(connect(stalled.s, *auto_, 60000), 0) << vnsmb1c_last_error();
    ASSERT_EQ(connect(healthy.s, *mandatory_), 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_s_set_read_ahead(stalled.s, 0), 0);
    int h = vnsmb1c_s_open(stalled.s, kPublicShare, kFileRel);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();

    Stopped stop(auto_->smbd_pid());
    ASSERT_TRUE(stop.ok);
    std::atomic<bool> returned{false};
    auto blocked = std::async(std::launch::async, [&] {
        std::vector<uint8_t> buf(65536);
        int rc = vnsmb1c_s_read_at(stalled.s, h, 1 << 20, buf.data(), static_cast<int>(buf.size()));
        returned = true;
        return rc;
    });
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(list_names(healthy.s), "");
    EXPECT_EQ(stream_file(healthy.s, expected_mandatory_, 65536), "");
    EXPECT_FALSE(returned.load()) << "the stalled read still waits";

    vnsmb1c_s_cancel(stalled.s);
    ASSERT_EQ(blocked.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(blocked.get(), -12);
    stop.resume();

    std::vector<uint8_t> buf(100000);
    ASSERT_EQ(vnsmb1c_s_read_at(stalled.s, h, 3 << 20, buf.data(), static_cast<int>(buf.size())), 100000)
        << vnsmb1c_last_error();
    EXPECT_EQ(std::memcmp(buf.data(), expected_auto_.data() + (3 << 20), buf.size()), 0);
    vnsmb1c_s_close(stalled.s, h);
    EXPECT_EQ(list_names(stalled.s), "");
}

// Cancels of an open and a listing blocked on the stopped server.
TEST_F(TwoServers, CancelOfABlockedOpenAndListing)
{
    Held s;
    ASSERT_EQ(connect(s.s, *auto_, 60000), 0) << vnsmb1c_last_error();
    ASSERT_EQ(list_names(s.s), "");
    for (int which = 0; which < 2; which++) {
        Stopped stop(auto_->smbd_pid());
        ASSERT_TRUE(stop.ok);
        auto blocked = std::async(std::launch::async, [&] {
            return which == 0 ? vnsmb1c_s_open(s.s, kPublicShare, kHelloName) : vnsmb1c_s_list(s.s, kPublicShare, nullptr);
        });
        EXPECT_EQ(blocked.wait_for(300ms), std::future_status::timeout);
        vnsmb1c_s_cancel(s.s);
        ASSERT_EQ(blocked.wait_for(20s), std::future_status::ready);
        EXPECT_EQ(blocked.get(), -12) << which;
        stop.resume();
        EXPECT_EQ(list_names(s.s), "") << which;
        int h = vnsmb1c_s_open(s.s, kPublicShare, kHelloName);
        ASSERT_GT(h, 0) << vnsmb1c_last_error();
        char text[64] = {};
        EXPECT_EQ(vnsmb1c_s_read_at(s.s, h, 0, text, sizeof text - 1), static_cast<int>(strlen(kHelloText)));
        EXPECT_STREQ(text, kHelloText);
        vnsmb1c_s_close(s.s, h);
    }
}

}  // namespace
