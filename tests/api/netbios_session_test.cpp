// Port 139: the fake server behind a loopback port that speaks the NetBIOS
// session service, reached through the C interface with the TCP transport.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <string>

#include "api/fake_session.h"
#include "api/support/fake_tcp_front.h"
#include "fake/fake.h"
#include "net/msg_transport.h"
#include "support/test_sockets.h"
#include "vnsmb1c.h"

namespace {

int refused_port()
{
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close_socket(s);
    return port;
}

std::string connection()
{
    rapidjson::Document d;
    d.Parse(vnsmb1c_session_json());
    return !d.HasParseError() && d.HasMember("connection") ? d["connection"].GetString() : "<none>";
}

// The front plays port 139; the default direct port is one that refuses.
class NetbiosSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(vnsmb1c_use_sockets(), 0);
        ASSERT_EQ(vnb_fake_load(kMediaTree), 0);  // served by the front
        ASSERT_TRUE(front.start());
        vnb_tcp_default_ports(refused_port(), front.port());
        vnsmb1c_set_timeout(5000);
    }
    void TearDown() override
    {
        vnsmb1c_disconnect();
        vnb_tcp_default_ports(0, 0);
        vnsmb1c_set_timeout(30000);
        vnb_fake_load(nullptr);
    }
    std::string port_text() const { return std::to_string(front.port()); }
    FakeTcpFront front;
};

TEST_F(NetbiosSession, FallsBackFromTheRefusedDirectPort)
{
    ASSERT_EQ(vnsmb1c_fake_set_fault("nbss_required", 1), 0);
    ASSERT_EQ(vnsmb1c_connect("127.0.0.1", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    EXPECT_EQ(connection(), "port " + port_text() + ", NetBIOS session as *SMBSERVER");
    EXPECT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5) << vnsmb1c_last_error();
}

TEST_F(NetbiosSession, HostNameFirstThenStarSmbserver)
{
    // The server does not answer to LOCALHOST, only to *SMBSERVER.
    ASSERT_EQ(vnsmb1c_fake_set_fault("nbss_required", 1), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("nbss_refuse_name", 1), 0);
    ASSERT_EQ(vnsmb1c_connect("localhost", front.port(), nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    EXPECT_EQ(connection(), "port " + port_text() + ", NetBIOS session as *SMBSERVER");
    EXPECT_EQ(front.accepts(), 2) << "one refused connection, one granted";

    // A server that answers to the host name keeps it.
    vnsmb1c_disconnect();
    ASSERT_EQ(vnsmb1c_fake_set_fault("nbss_refuse_name", 0), 0);
    ASSERT_EQ(vnsmb1c_connect("localhost", front.port(), nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    EXPECT_EQ(connection(), "port " + port_text() + ", NetBIOS session as LOCALHOST");
}

TEST_F(NetbiosSession, RefusalsAreWorded)
{
    ASSERT_EQ(vnsmb1c_fake_set_fault("nbss_refuse_name", 2), 0);
    EXPECT_EQ(vnsmb1c_connect("localhost", front.port(), nullptr, "alice", "pw"), VNSMB1C_ENET);
    EXPECT_NE(std::string(vnsmb1c_last_error())
                  .find("the NetBIOS session service refused the called name *SMBSERVER: called name not present"),
              std::string::npos)
        << vnsmb1c_last_error();

    // Port 139 without the session request: the server hangs up.
    vnb_tcp_default_ports(refused_port(), refused_port());
    ASSERT_EQ(vnsmb1c_fake_set_fault("nbss_refuse_name", 0), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("nbss_required", 1), 0);
    EXPECT_EQ(vnsmb1c_connect("127.0.0.1", front.port(), nullptr, "alice", "pw"), VNSMB1C_ENET);
}

}  // namespace
