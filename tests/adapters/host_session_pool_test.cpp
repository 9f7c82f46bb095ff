// The host tables keep their logged-on sessions between calls: reuse, the
// idle time, identities kept apart, a dead session replaced, the pool off,
// its bound, and threads sharing it. Counted on the fake server's requests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "adapters/folder_backend.h"
#include "adapters/host_records.h"
#include "adapters/rch_harness.h"
#include "sess/lifecycle.h"

namespace {

constexpr int kCmdSessionSetup = 0x73;

constexpr const char *kPoolTree = R"({
  "shares": [
    {"name": "Media", "root": [
      {"name": "Movies", "children": [
        {"name": "a.mkv", "size": 1000, "mtime": 1500000000},
        {"name": "b.mkv", "size": 2000, "mtime": 1500000000}
      ]}
    ]},
    {"name": "Music", "root": [{"name": "song.mp3", "text": "la la la"}]}
  ],
  "users": [{"name": "alice", "pass": "pw"}]
})";

// Another identity the fake server takes: the anonymous logon.
constexpr const char *kAnonymous = R"({"HostName":"fake"})";

// What the fake server saw since the mark.
struct Counts {
    int64_t connects = 0;  // NEGOTIATE: a new connection
    int64_t logons = 0;    // SESSION_SETUP legs
    int64_t logoffs = 0;
};

class HostSessionPool : public RequestHandler {
protected:
    const char *tree() const override { return kPoolTree; }

    void mark() { base_ = now(); }
    Counts since_mark() const
    {
        Counts n = now();
        return Counts{n.connects - base_.connects, n.logons - base_.logons, n.logoffs - base_.logoffs};
    }
    static Counts now()
    {
        return Counts{vnsmb1c_fake_calls(kCmdNegotiate), vnsmb1c_fake_calls(kCmdSessionSetup),
                      vnsmb1c_fake_calls(kCmdLogoff)};
    }
    static void expect_movies(const Reply &r, const std::string &what)
    {
        EXPECT_EQ(r.code, 0) << what << ": " << r.text;
        EXPECT_NE(r.text.find(R"("name":"a.mkv")"), std::string::npos) << what << ": " << r.text;
        EXPECT_NE(r.text.find(R"("name":"b.mkv")"), std::string::npos) << what << ": " << r.text;
    }

    Counts base_;
};

// Settings with one more key.
std::string with(const char *settings, const std::string &key_and_value)
{
    std::string s = settings;
    s.insert(s.size() - 1, "," + key_and_value);
    return s;
}

TEST_F(HostSessionPool, TheNextCallReusesTheLoggedOnSession)
{
    mark();
    expect_movies(rch_list(kAlice, "Media/Movies"), "first");
    Counts first = since_mark();
    EXPECT_EQ(first.connects, 1);
    EXPECT_EQ(first.logoffs, 0) << "the session waits, logged on";

    // Every request of the table takes it, whatever it asks.
    mark();
    expect_movies(rch_list(kAlice, "Media/Movies"), "again");
    EXPECT_EQ(rch_validate(kAlice).code, 0);
    EXPECT_EQ(rch_list(kAlice, nullptr).code, 0);
    Reply s = rch_stream(kAlice, R"({"path":"Media/Movies/a.mkv"})");
    EXPECT_EQ(s.code, 0) << s.text;
    EXPECT_EQ(s.text, R"({"url":"smb1://fake/Media/Movies/a.mkv","size":1000})");
    Counts again = since_mark();
    EXPECT_EQ(again.connects, 0) << "no new connection";
    EXPECT_EQ(again.logons, 0) << "no new logon";
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdTreeConnect), 2) << "Media's tree and IPC$ stay connected";
    expect_scope_closed("reused");
}

TEST_F(HostSessionPool, TheBackendTakesAndGivesBackTheSameSessions)
{
    const vnsmb1c_FolderBackend *t = vnsmb1c_vnffa_backend();
    std::vector<vnsmb1c_FolderEntry> entries(4, host_entry());
    vnsmb1c_ListRequest req{};
    auto list_movies = [&] {
        std::memset(&req, 0, sizeof req);
        req.entries = entries.data();
        req.capacity = entries.size();
        return t->list(t->context, "Media/Movies", &req);
    };
    mark();
    for (int round = 0; round < 3; round++) {
        ASSERT_EQ(t->open(t->context, kAlice), 0) << vnsmb1c_last_error();
        EXPECT_EQ(list_movies(), 0) << "round " << round;
        EXPECT_EQ(req.count, 2u);
        t->close(t->context);
    }
    EXPECT_EQ(since_mark().connects, 1) << "the backend's close puts its session back";

    // The request handler finds it too: the same settings, the same session.
    expect_movies(rch_list(kAlice, "Media/Movies"), "after the backend");
    EXPECT_EQ(since_mark().connects, 1);
}

TEST_F(HostSessionPool, ASessionIdleLongerThanItsTimeIsLoggedOff)
{
    const std::string brief = with(kAlice, R"("SessionIdleMs":50)");
    mark();
    expect_movies(rch_list(brief.c_str(), "Media/Movies"), "first");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    expect_movies(rch_list(brief.c_str(), "Media/Movies"), "after the idle time");
    Counts n = since_mark();
    EXPECT_EQ(n.connects, 2) << "the waiting session was not reused";
    EXPECT_EQ(n.logoffs, 1) << "it was logged off";

    // A text value is taken as well; values out of range are refused.
    EXPECT_EQ(rch_list(with(kAlice, R"("SessionIdleMs":"60000")").c_str(), "Media/Movies").code, 0);
    for (const char *wrong : {R"("SessionIdleMs":-1)", R"("SessionIdleMs":3600001)", R"("SessionIdleMs":"soon")"}) {
        Reply r = rch_list(with(kAlice, wrong).c_str(), "Media/Movies");
        EXPECT_EQ(r.code, -8) << wrong;
        EXPECT_EQ(r.text, err_doc("settings: SessionIdleMs out of range")) << wrong;
    }
    Reply typed = rch_list(with(kAlice, R"("SessionIdleMs":true)").c_str(), "Media/Movies");
    EXPECT_EQ(typed.text, err_doc("settings: SessionIdleMs must be an integer or a string"));
}

TEST_F(HostSessionPool, IdentitiesAndSettingsGetSessionsOfTheirOwn)
{
    expect_movies(rch_list(kAlice, "Media/Movies"), "alice");
    struct Case {
        std::string settings;
        int code;
        int64_t connects;  // new connections for the call
    } const cases[] = {
        {kAnonymous, 0, 1},
        {kAnonymous, 0, 0},
        {R"({"HostName":"fake","UserName":"alice","Password":"nope"})", -1, 1},
        {R"({"HostName":"fake","UserName":"alice","Password":"p"})", -1, 1},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw "})", -1, 1},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","DomainName":"OTHER"})", 0, 1},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","ServerPort":1445})", 0, 1},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","NameResolve":"dns"})", 0, 1},
        {R"({"HostName":"fake","UserName":"ALICE","Password":"pw"})", 0, 1},
        {R"({"FullUrl":"smb://alice:pw@fake"})", 0, 0},
        {kAlice, 0, 0},
    };
    for (const Case &c : cases) {
        mark();
        Reply r = rch_list(c.settings.c_str(), "Media/Movies");
        EXPECT_EQ(r.code, c.code) << c.settings << ": " << r.text;
        EXPECT_EQ(since_mark().connects, c.connects) << c.settings;
        if (c.code != 0) {
            EXPECT_EQ(r.text, err_doc("SESSION_SETUP: LOGON_FAILURE")) << c.settings;
        }
    }
}

TEST_F(HostSessionPool, AWrongPasswordAfterAGoodOneIsRefusedEveryTime)
{
    expect_movies(rch_list(kAlice, "Media/Movies"), "alice");
    const char *wrong = R"({"HostName":"fake","UserName":"alice","Password":"wrong"})";
    for (int i = 0; i < 3; i++) {
        mark();
        EXPECT_EQ(rch_list(wrong, "Media/Movies").code, -1);
        EXPECT_EQ(rch_validate(wrong).code, -1);
        EXPECT_EQ(since_mark().connects, 2) << "each call logs on for itself";
    }
    // The backend too.
    const vnsmb1c_FolderBackend *t = vnsmb1c_vnffa_backend();
    EXPECT_EQ(t->open(t->context, wrong), 4);
    t->close(t->context);
    mark();
    expect_movies(rch_list(kAlice, "Media/Movies"), "alice again");
    EXPECT_EQ(since_mark().connects, 0) << "the good session still waits";
}

TEST_F(HostSessionPool, ADeadWaitingSessionIsReplacedWithinTheCall)
{
    struct Case {
        const char *fault;
        const char *what;
    } const cases[] = {
        {"drop_at", "the server closed the connection"},
        {"forget_session", "the server forgot the logon"},
    };
    for (const Case &c : cases) {
        expect_movies(rch_list(kAlice, "Media/Movies"), c.what);
        ASSERT_EQ(vnsmb1c_fake_set_fault(c.fault, 1), 0);
        mark();
        expect_movies(rch_list(kAlice, "Media/Movies"), c.what);
        Counts n = since_mark();
        EXPECT_EQ(n.connects, 1) << c.what;
        EXPECT_GE(n.logons, 1) << c.what << ": logged on again";
        mark();
        expect_movies(rch_list(kAlice, "Media/Movies"), c.what);
        EXPECT_EQ(since_mark().connects, 0) << c.what << ": the new session waits in its place";
    }
}

TEST_F(HostSessionPool, AWaitingSessionWithoutItsConnectionIsReplacedForTheBackend)
{
    const vnsmb1c_FolderBackend *t = vnsmb1c_vnffa_backend();
    ASSERT_EQ(t->open(t->context, kAlice), 0) << vnsmb1c_last_error();
    t->close(t->context);
    ASSERT_EQ(t->open(t->context, kAlice), 0) << vnsmb1c_last_error();
    // The session taken from the pool lost its connection while it waited.
    vnb_sess_drop(*vnb_backend_session(t->context));
    mark();
    std::vector<vnsmb1c_FolderEntry> entries(4, host_entry());
    vnsmb1c_ListRequest req{};
    req.entries = entries.data();
    req.capacity = entries.size();
    EXPECT_EQ(t->list(t->context, "Media/Movies", &req), 0);
    EXPECT_EQ(req.count, 2u);
    EXPECT_EQ(since_mark().connects, 1) << "connected afresh";
    t->close(t->context);
}

TEST_F(HostSessionPool, ZeroTurnsThePoolOff)
{
    const std::string off = with(kAlice, R"("SessionIdleMs":0)");
    for (int i = 0; i < 3; i++) {
        mark();
        expect_movies(rch_list(off.c_str(), "Media/Movies"), "off");
        Counts n = since_mark();
        EXPECT_EQ(n.connects, 1) << "call " << i;
        EXPECT_EQ(n.logoffs, 1) << "call " << i;
    }
    // A session waiting from a call with pooling on is not taken either.
    expect_movies(rch_list(kAlice, "Media/Movies"), "on");
    mark();
    expect_movies(rch_list(off.c_str(), "Media/Movies"), "off");
    EXPECT_EQ(since_mark().connects, 1);
}

TEST_F(HostSessionPool, AFullPoolDropsTheSessionUsedLongestAgo)
{
    // The backend's TimeoutMs shapes a session: nine values, nine sessions.
    const vnsmb1c_FolderBackend *t = vnsmb1c_vnffa_backend();
    auto settings = [](int i) { return with(kAlice, "\"TimeoutMs\":" + std::to_string(10000 + i)); };
    mark();
    for (int i = 0; i < 9; i++) {
        ASSERT_EQ(t->open(t->context, settings(i).c_str()), 0) << vnsmb1c_last_error();
        t->close(t->context);
    }
    Counts n = since_mark();
    EXPECT_EQ(n.connects, 9);
    EXPECT_EQ(n.logoffs, 1) << "the ninth pushed the first out";

    struct Case {
        int i;
        int64_t connects;
    } const cases[] = {{8, 0}, {1, 0}, {0, 1}};
    for (const Case &c : cases) {
        mark();
        ASSERT_EQ(t->open(t->context, settings(c.i).c_str()), 0) << vnsmb1c_last_error();
        std::vector<vnsmb1c_FolderEntry> entries(4, host_entry());
        vnsmb1c_ListRequest req{};
        req.entries = entries.data();
        req.capacity = entries.size();
        EXPECT_EQ(t->list(t->context, "Media/Movies", &req), 0);
        t->close(t->context);
        EXPECT_EQ(since_mark().connects, c.connects) << "TimeoutMs " << 10000 + c.i;
    }
}

TEST_F(HostSessionPool, ANewSelectionEndsTheWaitingSessions)
{
    expect_movies(rch_list(kAlice, "Media/Movies"), "first");
    const int64_t logoffs = vnsmb1c_fake_calls(kCmdLogoff);
    ASSERT_EQ(vnsmb1c_use_io(vnsmb1c_io_fake()), 0);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdLogoff), logoffs + 1) << "logged off";
    ASSERT_EQ(vnsmb1c_use_fake(nullptr), -6) << "the default session's use_fake wants a tree";
    ASSERT_EQ(vnsmb1c_use_fake(kPoolTree), 0);
    remember_selection();
    mark();
    expect_movies(rch_list(kAlice, "Media/Movies"), "after the selection");
    EXPECT_EQ(since_mark().connects, 1);
}

TEST_F(HostSessionPool, ThreadsShareThePoolOneSessionPerCall)
{
    constexpr int kThreads = 4;
    constexpr int kCalls = 25;
    std::atomic<int> failures{0};
    mark();
    std::vector<std::thread> threads;
    for (int n = 0; n < kThreads; n++)
        threads.emplace_back([n, &failures] {
            const char *settings = n % 2 == 0 ? kAlice : kAnonymous;
            for (int i = 0; i < kCalls; i++) {
                Reply r = i % 3 == 2 ? rch_validate(settings) : rch_list(settings, "Media/Movies");
                if (r.code != 0 || (i % 3 != 2 && r.text.find("b.mkv") == std::string::npos))
                    failures++;
            }
        });
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
    // A session is made only when every one for its identity is out on a
    // call: never more than the threads of that identity.
    Counts n = since_mark();
    EXPECT_GE(n.connects, 2);
    EXPECT_LE(n.connects, kThreads);
    EXPECT_EQ(n.logoffs, 0);
}

}  // namespace
