// Finding servers by name and on the network, through the C interface: the
// name settings, resolution before connecting (fake server, and a loopback
// TCP front with the name service redirected to a loopback responder),
// discovery on the fake server's network, and the share listing over RAP
// when \srvsvc is refused.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "api/fake_session.h"
#include "api/support/fake_tcp_front.h"
#include "fake/fake.h"
#include "net/nbns_client.h"
#include "support/fake_name_responder.h"
#include "vnsmb1c.h"

namespace {

constexpr const char *kNetworkTree = R"({
  "shares": [
    {"name": "Media", "root": [{"name": "a.txt", "text": "hello"}]},
    {"name": "Public", "root": []},
    {"name": "A very long share name", "root": []}
  ],
  "netbios": {
    "name": "MediaBox", "workgroup": "Home", "comment": "Films and music",
    "address": "127.0.0.1", "mac": "02:00:5e:00:00:01", "master": true, "wins_server": true,
    "wins": [{"name": "FARAWAY", "address": "127.0.0.1"}],
    "browse": [{"name": "OTHERBOX", "comment": "Printer room", "type": 3},
               {"name": "PRINTER", "comment": "no files here", "type": 1}],
    "workgroups": [{"name": "OFFICE", "master": "OFFICEPC"}]
  }
})";

class Names : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(vnsmb1c_use_fake(kNetworkTree), 0);
        ASSERT_EQ(vnsmb1c_set_name_resolve("netbios,dns", "", 1), 0);
    }
    void TearDown() override
    {
        vnsmb1c_disconnect();
        vnsmb1c_set_name_resolve("netbios,dns", "", 1);
        vnsmb1c_use_sockets();
    }
};

TEST_F(Names, TheFakeServerIsFoundByItsNetbiosName)
{
    for (const char *host : {"fake", "MEDIABOX", "mediabox", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        ASSERT_EQ(vnsmb1c_connect(host, 0, nullptr, nullptr, nullptr), 0) << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_shares(), 3);
    }
    // WINS alone, broadcasts off: a name only the WINS server knows.
    ASSERT_EQ(vnsmb1c_set_name_resolve("netbios", "127.0.0.1", 0), 0);
    ASSERT_EQ(vnsmb1c_connect("faraway", 0, nullptr, nullptr, nullptr), 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_connect("mediabox2", 0, nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(vnsmb1c_last_error(),
                 "cannot resolve mediabox2: tried netbios (WINS 127.0.0.1: does not know the name; broadcast "
                 "switched off)");
}

TEST_F(Names, NameSettingsAreCheckedBeforeAnythingChanges)
{
    struct Case {
        const char *order;
        const char *wins;
        int broadcast;
        int rc;
    };
    const Case cases[] = {
        {"dns,netbios", nullptr, -1, 0}, {nullptr, "192.0.2.1", -1, 0}, {nullptr, nullptr, 0, 0},
        {"dns,wins", nullptr, -1, -6},   {nullptr, "nas.local", -1, -6}, {nullptr, "0.0.0.0", -1, -6},
        {nullptr, "224.0.0.1", -1, -6},  {nullptr, nullptr, 2, -6},      {"", nullptr, -1, -6},
    };
    for (const Case &c : cases)
        EXPECT_EQ(vnsmb1c_set_name_resolve(c.order, c.wins, c.broadcast), c.rc)
            << (c.order ? c.order : "-") << " " << (c.wins ? c.wins : "-") << " " << c.broadcast;
}

TEST_F(Names, SettingsKeysOfConnectJson)
{
    struct Case {
        const char *extra;
        int rc;
        const char *error;
    };
    const Case cases[] = {
        {R"("NameResolve":"netbios","NameBroadcast":true)", 0, ""},
        {R"("NameResolve":"dns,netbios","WinsServer":"","NameBroadcast":"off")", -4, ""},
        {R"("NameResolve":"smb")", -6,
         "settings: NameResolve takes netbios and dns in the order wanted (e.g. \"netbios,dns\")"},
        {R"("NameResolve":3)", -6, "settings: NameResolve must be a string"},
        {R"("WinsServer":"wins.example")", -6, "settings: WinsServer must be an IPv4 address"},
        {R"("NameBroadcast":"maybe")", -6, "settings: NameBroadcast must be true or false"},
        {R"("NameBroadcast":1)", -6, "settings: NameBroadcast must be true, false or a string"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.extra);
        std::string json = std::string(R"({"HostName":"mediabox",)") + c.extra + "}";
        int rc = vnsmb1c_connect_json(json.c_str());
        if (c.rc == -4) {
            // Broadcasts off and no WINS server: dns finds nothing in the fake network.
            EXPECT_EQ(rc, -1);
            EXPECT_STREQ(vnsmb1c_last_error(),
                         "cannot resolve mediabox: tried dns (not found), netbios (broadcast switched off)");
            continue;
        }
        EXPECT_EQ(rc, c.rc) << vnsmb1c_last_error();
        if (c.rc != 0) {
            EXPECT_STREQ(vnsmb1c_last_error(), c.error);
        }
    }
}

TEST_F(Names, SharesOverRapWhenSrvsvcIsRefused)
{
    ASSERT_EQ(vnsmb1c_connect("mediabox", 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("no_srvsvc", 1), 0);
    // RAP names hold 12 bytes: the long share is one a server of this kind cannot name.
    ASSERT_EQ(vnsmb1c_shares(), 2) << vnsmb1c_last_error();
    EXPECT_STREQ(vnsmb1c_share_name(0), "Media");
    EXPECT_STREQ(vnsmb1c_share_name(1), "Public");
    EXPECT_EQ(vnsmb1c_list("Media", nullptr), 1);

    ASSERT_EQ(vnsmb1c_fake_set_fault("no_rap", 1), 0);
    EXPECT_EQ(vnsmb1c_shares(), -4);
    EXPECT_STREQ(vnsmb1c_last_error(),
                 "OPEN srvsvc: OBJECT_NAME_NOT_FOUND (RAP NetShareEnum: RAP \\PIPE\\LANMAN: NOT_SUPPORTED)");
    vnsmb1c_fake_set_fault("no_srvsvc", 0);
    vnsmb1c_fake_set_fault("no_rap", 0);
}

TEST_F(Names, DiscoveryOnTheFakeNetwork)
{
    ASSERT_EQ(vnsmb1c_servers(nullptr), 2) << vnsmb1c_servers_json();
    EXPECT_STREQ(vnsmb1c_servers_json(),
                 R"({"servers":[)"
                 R"({"name":"MEDIABOX","workgroup":"HOME","address":"127.0.0.1","comment":"Films and music",)"
                 R"("mac":"02:00:5e:00:00:01","found_by":["browse","broadcast"]},)"
                 R"({"name":"OTHERBOX","workgroup":"HOME","address":"","comment":"Printer room",)"
                 R"("found_by":["browse"]}],)"
                 R"("workgroups":[{"name":"HOME","master":"MEDIABOX","address":"127.0.0.1"},)"
                 R"({"name":"OFFICE","master":"OFFICEPC","address":""}],)"
                 R"("notes":["OFFICE: no master browser answered"]})");

    struct Case {
        const char *settings;
        int count;
        const char *in_json;
    };
    const Case cases[] = {
        {R"({"Workgroup":"home"})", 2, R"("workgroups":[{"name":"HOME","master":"MEDIABOX")"},
        {R"({"Workgroup":"OFFICE","DiscoveryMs":"300"})", 0, R"("servers":[])"},
        {R"({"NameBroadcast":false})", 0, "broadcasts are switched off and no WINS server is set"},
        {R"({"DiscoveryMs":5})", -6, ""},
        {R"({"Workgroup":7})", -6, ""},
        {R"({"NameResolve":"x"})", -6, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.settings);
        EXPECT_EQ(vnsmb1c_servers(c.settings), c.count) << vnsmb1c_last_error();
        if (c.count >= 0) {
            EXPECT_NE(std::string(vnsmb1c_servers_json()).find(c.in_json), std::string::npos)
                << vnsmb1c_servers_json();
        }
    }
    EXPECT_STREQ(vnsmb1c_last_error(),
                 "settings: NameResolve takes netbios and dns in the order wanted (e.g. \"netbios,dns\")");
}

}  // namespace

namespace {

// Sockets: the name service redirected to a loopback responder, the fake
// server behind a loopback TCP front.
TEST(NamesOverSockets, ANameResolvedBeforeTheTcpConnect)
{
    ASSERT_EQ(vnsmb1c_use_fake(kNetworkTree), 0);
    std::optional<FakeNetbiosNode> node = vnb_fake_netbios();
    ASSERT_TRUE(node.has_value());
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    FakeTcpFront front;
    ASSERT_TRUE(front.start());
    FakeNameResponder responder(*node);
    ASSERT_TRUE(responder.start());
    vnb_name_service_redirect(responder.port());

    ASSERT_EQ(vnsmb1c_set_name_resolve("netbios", "", 1), 0);
    ASSERT_EQ(vnsmb1c_connect("MediaBox", front.port(), nullptr, nullptr, nullptr), 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_shares(), 3);
    EXPECT_GE(responder.requests(), 1);
    vnsmb1c_disconnect();

    // A port nothing listens on: the text names the address the name gave.
    int fd = static_cast<int>(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len), 0);
    close_socket(fd);
    int dead = ntohs(a.sin_port);
    EXPECT_EQ(vnsmb1c_connect("mediabox", dead, nullptr, nullptr, nullptr), -1);
    std::string error = vnsmb1c_last_error();
    EXPECT_EQ(error.rfind("cannot connect to mediabox:" + std::to_string(dead) + " at 127.0.0.1 (", 0), 0u) << error;

    vnb_name_service_redirect(0);
    vnsmb1c_set_name_resolve("netbios,dns", "", 1);
}

}  // namespace

namespace {

// The request handler takes the same name keys in its settings.
TEST(NamesInHostTables, RequestHandlerSettings)
{
    ASSERT_EQ(vnsmb1c_use_fake(kNetworkTree), 0);
    const vnsmb1c_RequestHandler *rch = vnrch_get();
    char out[4096];
    EXPECT_EQ(rch->list(nullptr, R"({"FullUrl":"smb://mediabox","NameResolve":"netbios"})", "", out, sizeof out), 0)
        << out;
    EXPECT_NE(std::string(out).find("Public"), std::string::npos) << out;
    EXPECT_EQ(rch->list(nullptr, R"({"FullUrl":"smb://mediabox","NameBroadcast":false})", "", out, sizeof out), -4)
        << out;
    EXPECT_NE(std::string(out).find("cannot resolve mediabox"), std::string::npos) << out;
    EXPECT_EQ(rch->validate(nullptr, R"({"FullUrl":"smb://mediabox","WinsServer":"x"})", out, sizeof out), -8) << out;
    vnsmb1c_use_sockets();
}

}  // namespace
