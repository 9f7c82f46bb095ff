#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fake/fake.h"
#include "net/msg_transport.h"
#include "sess/lifecycle.h"
#include "sess/support/logon_server.h"
#include "sess/support/sess_fixture.h"
#include "util/error.h"

namespace {

using sp::Bytes;

class Lifecycle : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        peer.respond = [this](const Bytes &r) { return server(r); };
    }
    std::vector<uint8_t> commands() const
    {
        std::vector<uint8_t> out;
        for (const Bytes &r : peer.requests)
            out.push_back(sp::command_of(r));
        return out;
    }
    sp::LogonServer server;
};

TEST_F(Lifecycle, EnsureNeedsATransport)
{
    s.transport.reset();
    EXPECT_EQ(vnb_sess_ensure(s), -5);
    EXPECT_STREQ(vnb_error(), "not connected");
}

TEST_F(Lifecycle, EnsureLogsOnOnceAndThenDoesNothing)
{
    server.password = "pw";
    identity("", "u", "pw");
    s.port = 0;
    ASSERT_EQ(vnb_sess_ensure(s), 0) << vnb_error();
    EXPECT_EQ(peer.connects, 1);
    EXPECT_EQ(peer.host, "peer");
    EXPECT_EQ(peer.port, 0);  // the transport's default: 445, or 139 when that is refused
    EXPECT_EQ(commands(), (std::vector<uint8_t>{0x72, 0x73, 0x73}));
    ASSERT_EQ(vnb_sess_ensure(s), 0);
    EXPECT_EQ(peer.requests.size(), 3u);
    EXPECT_EQ(peer.connects, 1);
}

TEST_F(Lifecycle, ConnectFailureKeepsTheTransportsText)
{
    peer.connect_rc = -1;
    peer.connect_error = "connection refused (111)";
    s.port = 1445;
    EXPECT_EQ(vnb_sess_ensure(s), -1);
    EXPECT_STREQ(vnb_error(), "cannot connect to peer:1445 (connection refused (111))");
    EXPECT_NE(s.transport, nullptr) << "the transport stays as it is";
    EXPECT_FALSE(s.transport_open);
    EXPECT_EQ(peer.closes, 0);
}

TEST_F(Lifecycle, ConnectFailureTextIsBounded)
{
    peer.connect_rc = -1;
    peer.connect_error = std::string(300, 'x');
    std::memset(s.host, 'h', 255);
    s.host[255] = '\0';
    EXPECT_EQ(vnb_sess_ensure(s), -1);
    std::string expect = "cannot connect to " + std::string(200, 'h') + ":445 (" + std::string(200, 'x') + ")";
    EXPECT_EQ(std::string(vnb_error()), expect);
}

TEST_F(Lifecycle, FailedSetupStepsResetTheSession)
{
    struct Case {
        const char *what;
        std::function<void(sp::LogonServer &)> configure;
        const char *user;
        int32_t rc;
        uint32_t last_status;
        size_t connects;
    } cases[] = {
        {"NEGOTIATE refused", nullptr, "u", -8, 0xC00000A0, 1},
        {"named logon refused", [](sp::LogonServer &s) { s.refuse_with = 0xC000006D; }, "u", -3, 0xC000006D, 1},
        {"setup protocol failure", [](sp::LogonServer &s) { s.interims = 9; }, "u", -2, 0, 1},
    };
    for (const Case &c : cases) {
        sess_reset(s);
        peer = sp::ScriptPeer{};
        server = sp::LogonServer{};
        server.password = "pw";
        if (c.configure)
            c.configure(server);
        if (c.configure)
            peer.respond = [this](const Bytes &r) { return server(r); };
        else
            peer.respond = [](const Bytes &r) { return std::vector<Bytes>{sp::reply_to(r, 0xC00000A0)}; };
        identity("", c.user, "pw");
        remember_status(s, nullptr);
        EXPECT_EQ(vnb_sess_ensure(s), c.rc) << c.what;
        EXPECT_EQ(s.established, 0) << c.what;
        EXPECT_EQ(s.negotiated, 0) << c.what;
        EXPECT_FALSE(s.transport_open) << c.what << ": transport closed";
        EXPECT_EQ(peer.closes, 1) << c.what;
        EXPECT_EQ(static_cast<size_t>(peer.connects), c.connects) << c.what;
        EXPECT_EQ(s.last_status, c.last_status) << c.what;
    }
}

// The anonymous retry needs a transport the session layer can rebuild: the
// socket kind against a loopback server.
class AnonymousRetry : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        s.transport = vnb_transport_tcp();
        std::strcpy(s.host, "127.0.0.1");
        s.timeout_ms = 5000;
    }
    void TearDown() override
    {
        sess_reset(s);
        SessTest::TearDown();
    }
};

TEST_F(AnonymousRetry, RefusedAnonymousLogonIsTriedOnceMoreOnANewConnection)
{
    struct Case {
        const char *what;
        const char *user;
        int refusals;        // how many SESSION_SETUPs end in LOGON_FAILURE
        int32_t rc;
        size_t connections;
    } cases[] = {
        {"anonymous, second try succeeds", "", 1, 0, 2},
        {"anonymous, refused twice", "", 2, -3, 2},
        {"named, refused once", "bob", 1, -3, 1},
    };
    for (const Case &c : cases) {
        sess_reset(s);
        int refusals = c.refusals;
        sp::TcpPeer tcp([&refusals](const Bytes &req) {
            if (sp::command_of(req) == 0x72)
                return std::vector<Bytes>{sp::negotiate_basic(req, Bytes(8, 0x42))};
            if (sp::command_of(req) == 0x73) {
                uint32_t status = refusals-- > 0 ? 0xC000006D : 0;
                return std::vector<Bytes>{sp::setup_reply_basic(req, status, 0, 0x4001)};
            }
            return std::vector<Bytes>{sp::reply_to(req, 0)};
        });
        s.port = tcp.port();
        identity("", c.user, c.user[0] ? "pw" : "");
        int32_t rc = vnb_sess_ensure(s);
        EXPECT_EQ(rc, c.rc) << c.what << ": " << vnb_error();
        if (rc != 0) {
            EXPECT_STREQ(vnb_error(), "SESSION_SETUP: LOGON_FAILURE") << c.what;
        }
        sess_reset(s);  // closes the connection so the server sees its end
        tcp.stop();
        auto conns = tcp.connections();
        ASSERT_EQ(conns.size(), c.connections) << c.what;
        for (const auto &requests : conns) {
            ASSERT_EQ(requests.size(), 2u) << c.what;
            EXPECT_EQ(sp::command_of(requests[0]), 0x72) << c.what;
            EXPECT_EQ(sp::command_of(requests[1]), 0x73) << c.what;
            EXPECT_EQ(sp::mid_of(requests[0]), 1) << c.what << ": a new connection starts at MID 1";
        }
    }
}

TEST_F(AnonymousRetry, SecondConnectFailureIsReported)
{
    sp::TcpPeer tcp(
        [](const Bytes &req) {
            if (sp::command_of(req) == 0x72)
                return std::vector<Bytes>{sp::negotiate_basic(req, Bytes(8, 0x42))};
            return std::vector<Bytes>{sp::setup_reply_basic(req, 0xC000006D, 0, 1)};
        },
        1);
    s.port = tcp.port();
    identity("", "", "");
    EXPECT_EQ(vnb_sess_ensure(s), -1);
    std::string prefix = "cannot reconnect to 127.0.0.1:" + std::to_string(tcp.port()) + " (";
    EXPECT_EQ(std::string(vnb_error()).rfind(prefix, 0), 0u) << vnb_error();
    EXPECT_EQ(s.established, 0);
}

// The retry closes the session's transport and opens it again.
TEST_F(Lifecycle, AnonymousRetryReopensTheTransport)
{
    int refusals = 1;
    peer.respond = [&refusals](const Bytes &req) {
        if (sp::command_of(req) == 0x72)
            return std::vector<Bytes>{sp::negotiate_basic(req, Bytes(8, 0x42))};
        uint32_t status = refusals-- > 0 ? 0xC000006D : 0;
        return std::vector<Bytes>{sp::setup_reply_basic(req, status, 0, 0x4001)};
    };
    identity("", "", "");
    ASSERT_EQ(vnb_sess_ensure(s), 0) << vnb_error();
    EXPECT_EQ(peer.connects, 2);
    EXPECT_EQ(peer.closes, 1);
    EXPECT_EQ(commands(), (std::vector<uint8_t>{0x72, 0x73, 0x72, 0x73}));
    EXPECT_EQ(sp::mid_of(peer.requests[2]), 1) << "the new connection starts at MID 1";
}

// ---- drop ----

// The drop disconnects the trees, then logs off, and closes the connection
// without waiting for a reply (this server never sends one).
TEST_F(Lifecycle, DropDisconnectsTreesThenLogsOffWithoutWaiting)
{
    server.security_mode = 0x0F;  // the drop requests are signed
    server.password = "pw";
    identity("", "u", "pw");
    ASSERT_EQ(vnb_sess_ensure(s), 0) << vnb_error();
    s.trees[1] = TreeSlot{7, "media", 1, 0};
    s.trees[4] = TreeSlot{9, "music", 1, 0};
    s.files[3].in_use = 1;
    s.open_files = 1;
    size_t before = peer.requests.size();
    auto answer = peer.respond;
    peer.respond = [answer](const Bytes &r) {
        const uint8_t command = sp::command_of(r);
        return command == 0x71 || command == 0x74 ? std::vector<Bytes>{} : answer(r);
    };
    vnb_fail(-6, "before the drop");

    vnb_sess_drop(s);
    EXPECT_STREQ(vnb_error(), "before the drop") << "nothing was waited for";
    std::vector<Bytes> drop(peer.requests.begin() + static_cast<std::ptrdiff_t>(before), peer.requests.end());
    ASSERT_EQ(drop.size(), 3u);
    EXPECT_EQ(sp::command_of(drop[0]), 0x71);
    EXPECT_EQ(sp::tid_of(drop[0]), 7);
    EXPECT_EQ(sp::command_of(drop[1]), 0x71);
    EXPECT_EQ(sp::tid_of(drop[1]), 9);
    EXPECT_EQ(sp::command_of(drop[2]), 0x74);
    EXPECT_EQ(sp::tid_of(drop[2]), 0);
    EXPECT_EQ(drop[2][32], 2) << "LOGOFF_ANDX carries its AndX block";
    EXPECT_EQ(drop[2][33], 0xFF);
    for (const Bytes &r : drop) {
        EXPECT_EQ(sp::uid_of(r), 0x4001) << "still the old UID";
    }
    EXPECT_TRUE(server.request_signature_errors.empty());
    EXPECT_EQ(peer.closes, 1);
    EXPECT_FALSE(s.transport_open);
    EXPECT_EQ(s.established, 0);
    EXPECT_TRUE(s.in_flight.empty());
    EXPECT_TRUE(s.posted.empty());
    EXPECT_EQ(s.trees[1].in_use, 0);
    EXPECT_EQ(s.trees[4].in_use, 0);
    EXPECT_EQ(s.files[3].in_use, 0);
    EXPECT_EQ(s.open_files, 0u);
}

// Over a transport that answers each request before the next, the drop
// waits for each reply, but no longer than a probe's bound.
TEST_F(Lifecycle, DropWithoutPipeliningWaitsBriefly)
{
    identity("", "u", "pw");
    server.password = "pw";
    ASSERT_EQ(vnb_sess_ensure(s), 0) << vnb_error();
    peer.pipelines = false;
    s.trees[0] = TreeSlot{7, "media", 1, 0};
    size_t before = peer.requests.size();
    vnb_sess_drop(s);
    std::vector<uint8_t> sent;
    for (size_t i = before; i < peer.requests.size(); i++)
        sent.push_back(sp::command_of(peer.requests[i]));
    EXPECT_EQ(sent, (std::vector<uint8_t>{0x71, 0x74}));
    EXPECT_EQ(s.wait_cap_ms, 0) << "the bound ends with the drop";
    EXPECT_FALSE(s.transport_open);
}

TEST_F(Lifecycle, DropWithoutSession)
{
    struct Case {
        const char *what;
        bool tree;
        std::vector<uint8_t> commands;
    } cases[] = {
        {"nothing connected", false, {}},
        {"a tree but no logon", true, {0x71}},
    };
    for (const Case &c : cases) {
        peer = sp::ScriptPeer{};
        peer.respond = [](const Bytes &r) { return std::vector<Bytes>{sp::reply_to(r, 0)}; };
        s.established = 0;
        s.transport_open = true;
        if (c.tree)
            s.trees[0] = TreeSlot{3, "x", 1, 0};
        vnb_sess_drop(s);
        EXPECT_EQ(commands(), c.commands) << c.what;
        EXPECT_EQ(peer.closes, 1) << c.what;
        EXPECT_FALSE(s.transport_open) << c.what;
    }
    // With no transport at all the drop still only resets.
    s.transport.reset();
    s.trees[2] = TreeSlot{4, "y", 1, 0};
    vnb_sess_drop(s);
    EXPECT_EQ(s.trees[2].in_use, 0);
}

TEST_F(Lifecycle, ResetKeepsSettingsAndCountersAndClearsTheRest)
{
    identity("DOM", "user", "pw");
    s.port = 139;
    s.flags2 = 0xC801;
    s.signing = 1;
    s.transport_open = true;
    s.last_status = 0xC000006D;
    s.uid = 0x4001;
    s.mid_counter = 77;
    s.negotiated = 1;
    s.established = 1;
    s.ext_security = 1;
    s.dialect_index = 3;
    s.nt_response_len = 60;
    std::memset(s.nt_response, 0x33, 60);
    std::memset(s.signing_key, 0x44, 16);
    std::strcpy(s.share_names[0], "media");
    s.listing.held = true;
    s.listing.items.resize(3);
    s.listing.hidden = 2;

    sess_reset(s);
    EXPECT_EQ(peer.closes, 1);
    EXPECT_STREQ(s.user, "user");
    EXPECT_STREQ(s.password, "pw");
    EXPECT_EQ(s.port, 139);
    EXPECT_EQ(s.flags2, 0xC801u);
    EXPECT_EQ(s.signing, 1);
    EXPECT_EQ(s.last_status, 0xC000006Du);
    EXPECT_STREQ(s.share_names[0], "media");
    EXPECT_EQ(s.uid, 0u);
    EXPECT_EQ(s.mid_counter, 0u);
    EXPECT_EQ(s.negotiated, 0);
    EXPECT_EQ(s.established, 0);
    EXPECT_EQ(s.ext_security, 0);
    EXPECT_EQ(s.dialect_index, 0);
    EXPECT_EQ(s.nt_response_len, 0u);
    EXPECT_EQ(Bytes(s.nt_response, s.nt_response + 60), Bytes(60, 0));
    EXPECT_EQ(Bytes(s.signing_key, s.signing_key + 16), Bytes(16, 0));
    EXPECT_TRUE(s.listing.items.empty());
    EXPECT_FALSE(s.listing.held);
    EXPECT_EQ(s.listing.hidden, 0u);
    s.share_names[0][0] = '\0';
}

}  // namespace

// A server without extended security, then one with it: the second
// connection's NEGOTIATE asks for it again and gets it (the fake server, like
// Samba, offers it only when asked).
TEST(FakeReconnect, ExtendedSecurityReturnsAfterAServerWithoutIt)
{
    Session s;
    s.transport = sp::fake_transport();
    ASSERT_EQ(vnb_fake_load(R"({"shares":[{"name":"media","root":[]}],"users":[{"name":"bob","pass":"pw"}]})"), 0);
    std::strcpy(s.host, "fake");
    std::strcpy(s.user, "bob");
    std::strcpy(s.password, "pw");
    s.domain[0] = '\0';
    s.anonymous = 0;
    for (int no_extsec : {1, 0}) {
        SCOPED_TRACE(no_extsec ? "server without extended security" : "server with it");
        ASSERT_EQ(vnb_fake_fault("no_extsec", no_extsec), 0);
        ASSERT_EQ(vnb_sess_ensure(s), 0) << vnb_error();
        EXPECT_EQ(s.ext_security, no_extsec ? 0 : 1);
        EXPECT_EQ(s.flags2, no_extsec ? 0xC001u : 0xC801u);
        vnb_sess_drop(s);
    }
    vnb_fake_load(nullptr);
}
