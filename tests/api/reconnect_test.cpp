// A connection that drops, a server that forgets the session or restarts,
// and one that goes silent: the next call connects again by itself, open
// handles keep working, and a silent server costs one time-out.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "api/fake_session.h"
#include "api/support/fake_tcp_front.h"
#include "fake/fake.h"
#include "vnsmb1c.h"

namespace {

// An offset of a.mkv past the bytes its open brings along: a read there asks
// the server.
constexpr int64_t kPastTheHead = 200000;

// Reads n bytes of a.mkv at `at` and compares them with what the fake
// serves; "" when they all match, else what went wrong.
std::string read_mkv(int handle, int64_t at, int n)
{
    std::vector<uint8_t> buf(static_cast<size_t>(n));
    int got = vnsmb1c_read_at(handle, at, buf.data(), n);
    if (got != n)
        return "read gave " + std::to_string(got) + ": " + vnsmb1c_last_error();
    for (int i = 0; i < n; i++)
        if (buf[static_cast<size_t>(i)] != generated_byte(kMkvId, static_cast<uint64_t>(at + i)))
            return "wrong byte at " + std::to_string(at + i);
    return "";
}

// How the server loses the session between two reads.
struct Loss {
    const char *name;
    const char *fault;  // a fault switch, or NULL: the tree is loaded again
    int value;
};

void PrintTo(const Loss &loss, std::ostream *out)
{
    *out << loss.name;
}

using LossOnRoad = std::tuple<Loss, Road>;

std::string loss_name(const ::testing::TestParamInfo<LossOnRoad> &info)
{
    return std::string(std::get<0>(info.param).name) +
           (std::get<1>(info.param) == Road::fake ? "_FakeTransport" : "_RelayedThroughFakeIo");
}

class Reconnect : public ::testing::TestWithParam<LossOnRoad> {
protected:
    void SetUp() override
    {
        // Each read asks for what it needs, so the loss falls where the
        // switches put it; losses under read-ahead are the stream tests' part.
        ASSERT_EQ(vnsmb1c_set_read_ahead(0), 0);
        ASSERT_EQ(open_fake_session(std::get<1>(GetParam()), kMediaTree), 0) << vnsmb1c_last_error();
    }
    void TearDown() override
    {
        vnsmb1c_use_sockets();
        vnsmb1c_set_read_ahead(8 << 20);
    }
    const Loss &loss() const { return std::get<0>(GetParam()); }

    void lose_session() const
    {
        const Loss &loss = this->loss();
        ASSERT_EQ(vnsmb1c_fake_set_fault("reset_counts", 0), 0);
        if (loss.fault != nullptr)
            ASSERT_EQ(vnsmb1c_fake_set_fault(loss.fault, loss.value), 0);
        else  // a server restart: every handle of the old connection is gone
            ASSERT_EQ(vnb_fake_load(kMediaTree), 0);
    }
};

TEST_P(Reconnect, NextReadOnTheSameHandleGetsTheRightBytes)
{
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    ASSERT_EQ(read_mkv(h, 0, 1000), "");
    lose_session();
    // Some reads on, whichever request the loss falls on.
    for (int64_t at = 1000; at < 41000; at += 10000)
        EXPECT_EQ(read_mkv(h, at, 10000), "") << at;
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdNegotiate), 1) << "one reconnect";
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdNtCreate), 1) << "the file opened again";
    EXPECT_EQ(read_mkv(h, 250000, 50000), "");
    EXPECT_EQ(vnsmb1c_size(h), kMkvSize);
    vnsmb1c_close(h);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose), 1);
}

TEST_P(Reconnect, NextListingListsExactly)
{
    ASSERT_EQ(vnsmb1c_list("Media/Paged", nullptr), 120) << vnsmb1c_last_error();
    std::string before = vnsmb1c_list_json();
    lose_session();
    ASSERT_EQ(vnsmb1c_list("Media/Paged", nullptr), 120) << vnsmb1c_last_error();
    EXPECT_EQ(std::string(vnsmb1c_list_json()), before);
    // A restarted server that kept the session needs no reconnect for a listing.
    if (loss().fault != nullptr) {
        EXPECT_EQ(vnsmb1c_fake_calls(kCmdNegotiate), 1);
    }
}

TEST_P(Reconnect, NextShareListingComesBackWhole)
{
    lose_session();
    ASSERT_EQ(vnsmb1c_shares(), 3) << vnsmb1c_last_error();
    EXPECT_STREQ(vnsmb1c_share_name(0), "Media");
    EXPECT_STREQ(vnsmb1c_share_name(1), "Music");
    EXPECT_STREQ(vnsmb1c_share_name(2), "D$");
}

TEST_P(Reconnect, OpenAfterTheLossWorks)
{
    lose_session();
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    EXPECT_EQ(read_mkv(h, 299000, 1000), "");
    vnsmb1c_close(h);
}

INSTANTIATE_TEST_SUITE_P(Losses, Reconnect,
                         ::testing::Combine(::testing::Values(Loss{"DroppedBeforeTheNextRequest", "drop_at", 1},
                                                              Loss{"DroppedAFewRequestsOn", "drop_at", 3},
                                                              Loss{"SessionForgotten", "forget_session", 1},
                                                              Loss{"ServerRestarted", nullptr, 0}),
                                            ::testing::Values(Road::fake, Road::relay)),
                         loss_name);

// A changed tree for the restart cases: a.mkv grows, hello.txt is gone.
constexpr const char *kChangedTree = R"({
  "shares": [
    {"name": "Media", "root": [
      {"name": "Movies", "children": [
        {"name": "a.mkv", "size": 300001, "mtime": 1500000000}
      ]}
    ]}
  ],
  "users": [{"name": "alice", "pass": "pw"}]
})";

class AfterRestart : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(open_fake_session(Road::fake, kMediaTree), 0) << vnsmb1c_last_error(); }
    void TearDown() override { vnsmb1c_use_sockets(); }
};

TEST_F(AfterRestart, ChangedOrVanishedFilesFailTheirReadsClearly)
{
    int mkv = vnsmb1c_open("Media/Movies", "a.mkv");
    int hello = vnsmb1c_open("Media/Movies", "hello.txt");
    ASSERT_GT(mkv, 0);
    ASSERT_GT(hello, 0);
    ASSERT_EQ(read_mkv(mkv, 0, 100), "");
    ASSERT_EQ(vnb_fake_load(kChangedTree), 0);

    char buf[64];
    EXPECT_EQ(vnsmb1c_read_at(mkv, 100, buf, sizeof buf), -2);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find("changed on the server"), std::string::npos)
        << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_read_at(hello, 0, buf, sizeof buf), -4);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find("could not be opened again"), std::string::npos)
        << vnsmb1c_last_error();
    // The reads keep failing the same way; closing the handles works.
    EXPECT_EQ(vnsmb1c_read_at(mkv, 0, buf, sizeof buf), -2);
    vnsmb1c_close(mkv);
    vnsmb1c_close(hello);
    // Opened anew, the changed file reads again.
    int again = vnsmb1c_open("Media/Movies", "a.mkv");
    ASSERT_GT(again, 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_size(again), 300001);
    vnsmb1c_close(again);
}

TEST_F(AfterRestart, ServerThatStaysAwayFailsEachCallOnceAndTheNextCallTriesAgain)
{
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    ASSERT_GT(h, 0);
    ASSERT_NE(vnb_fake_load("not a tree"), 0);  // the server is gone
    ASSERT_EQ(vnsmb1c_fake_set_fault("drop_at", 1), 0);

    char buf[64];
    EXPECT_EQ(vnsmb1c_read_at(h, kPastTheHead, buf, sizeof buf), -1);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find("cannot connect"), std::string::npos) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list("Media/Movies", nullptr), -1);
    EXPECT_EQ(vnsmb1c_shares(), -1);

    ASSERT_EQ(vnb_fake_load(kMediaTree), 0);  // back
    EXPECT_EQ(read_mkv(h, 5000, 3000), "");
    vnsmb1c_close(h);
}

TEST_F(AfterRestart, WrongPasswordAfterTheServerCameBackGivesAuthenticationError)
{
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    ASSERT_GT(h, 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("reset_counts", 0), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("drop_at", 1), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("logon_fail", 1), 0);

    char buf[64];
    EXPECT_EQ(vnsmb1c_read_at(h, kPastTheHead, buf, sizeof buf), -3);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdNegotiate), 1) << "one attempt, no loop";
    // The server takes the password again: the next call connects.
    EXPECT_EQ(read_mkv(h, 100, 1000), "");
    vnsmb1c_close(h);
}

TEST_F(AfterRestart, ClosingAfterADropSendsNothing)
{
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    ASSERT_GT(h, 0);
    ASSERT_NE(vnb_fake_load("not a tree"), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("drop_at", 1), 0);
    char buf[64];
    ASSERT_EQ(vnsmb1c_read_at(h, kPastTheHead, buf, sizeof buf), -1);
    ASSERT_EQ(vnb_fake_load(kMediaTree), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("reset_counts", 0), 0);
    vnsmb1c_close(h);
    vnsmb1c_disconnect();
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose), 0);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdLogoff), 0);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdNegotiate), 0);
    EXPECT_EQ(vnsmb1c_read_at(h, 0, buf, sizeof buf), -6) << "the handle is closed";
}

// Over real sockets to the fake server, which then goes silent.
class SilentServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);
        ASSERT_EQ(vnsmb1c_use_sockets(), 0);
        ASSERT_TRUE(front.start());
        ASSERT_EQ(vnsmb1c_set_timeout(kTimeoutMs), 0);
        ASSERT_EQ(vnsmb1c_connect("127.0.0.1", front.port(), nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    }
    void TearDown() override
    {
        vnsmb1c_disconnect();
        vnsmb1c_set_timeout(30000);
    }

    // Long enough that the calls right after a time-out come well within the
    // next one.
    static constexpr int kTimeoutMs = 2000;
    FakeTcpFront front;
};

TEST_F(SilentServer, TimesOutOnceProbesOnceThenFailsAtOnceAndSendsNothingOnClose)
{
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    ASSERT_EQ(read_mkv(h, 0, 1000), "");
    front.set_silent(true);

    char buf[64];
    EXPECT_EQ(vnsmb1c_read_at(h, 1000, buf, sizeof buf), -1);
    EXPECT_EQ(std::string(vnsmb1c_last_error()).rfind("timed out", 0), 0u) << vnsmb1c_last_error();
    EXPECT_EQ(front.unanswered(), 1);

    // The next call tries the server again, once, with a short bound.
    EXPECT_EQ(vnsmb1c_read_at(h, 1000, buf, sizeof buf), -1);
    EXPECT_EQ(front.accepts(), 2);
    const int requests = front.unanswered();
    // The calls right after it neither wait nor connect again.
    EXPECT_EQ(vnsmb1c_read_at(h, 1000, buf, sizeof buf), -1);
    EXPECT_EQ(std::string(vnsmb1c_last_error()).rfind("timed out", 0), 0u) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list("Media/Movies", nullptr), -1);
    vnsmb1c_close(h);
    vnsmb1c_disconnect();
    EXPECT_EQ(front.accepts(), 2);
    EXPECT_EQ(front.unanswered(), requests) << "nothing sent to the silent server";
}

TEST_F(SilentServer, AfterOneTimeOutTheNextCallConnectsAgain)
{
    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    front.set_silent(true);
    char buf[64];
    ASSERT_EQ(vnsmb1c_read_at(h, kPastTheHead, buf, sizeof buf), -1);
    front.set_silent(false);
    front.hang_up();
    std::this_thread::sleep_for(std::chrono::milliseconds(kTimeoutMs + 200));
    EXPECT_EQ(read_mkv(h, 7000, 20000), "");
    EXPECT_EQ(front.accepts(), 2);
    vnsmb1c_close(h);
}

TEST_F(SilentServer, ConnectToASilentServerTimesOut)
{
    vnsmb1c_disconnect();
    front.set_silent(true);
    ASSERT_EQ(vnsmb1c_set_timeout(300), 0);
    EXPECT_EQ(vnsmb1c_connect("127.0.0.1", front.port(), nullptr, "alice", "pw"), -1);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find("timed out"), std::string::npos) << vnsmb1c_last_error();
}

TEST(Timeout, OutOfRangeRefused)
{
    for (int ms : {0, -1, 3600001})
        EXPECT_EQ(vnsmb1c_set_timeout(ms), -6) << ms;
    EXPECT_EQ(vnsmb1c_set_timeout(1), 0);
    EXPECT_EQ(vnsmb1c_set_timeout(30000), 0);
    for (const char *json : {R"({"HostName":"fake","TimeoutMs":0})", R"({"HostName":"fake","TimeoutMs":"x"})",
                             R"({"HostName":"fake","TimeoutMs":3600001})"}) {
        EXPECT_EQ(vnsmb1c_connect_json(json), -6) << json;
        EXPECT_NE(std::string(vnsmb1c_last_error()).find("TimeoutMs"), std::string::npos) << json;
    }
}

}  // namespace
