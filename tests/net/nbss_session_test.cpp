// The NetBIOS session request that opens port 139, and the TCP transport's
// choice of port.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/msg_transport.h"
#include "net/nbss_session.h"
#include "net/support/script_peer.h"
#include "support/test_sockets.h"
#include "util/error.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes request_for(const char *called)
{
    ByteBuffer b{};
    EXPECT_EQ(nbss_build_session_request(called, "VANTRELVIEWER", &b), 0);
    Bytes out(b.data, b.data + b.len);
    vnb_buf_free(&b);
    return out;
}

// Restores the real default ports whatever a test did.
struct PortsGuard {
    ~PortsGuard() { vnb_tcp_default_ports(0, 0); }
};

TEST(NbssSession, RequestFrame)
{
    Bytes r = request_for("*SMBSERVER");
    ASSERT_EQ(r.size(), 72u);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 4), (Bytes{0x81, 0, 0, 68}));
    EXPECT_EQ(std::string(r.begin() + 5, r.begin() + 37), "CKFDENECFDEFFCFGEFFCCACACACACACA");
    EXPECT_EQ(std::string(r.begin() + 39, r.begin() + 71), "FGEBEOFEFCEFEMFGEJEFFHEFFCCACAAA");
    ByteBuffer b{};
    EXPECT_EQ(nbss_build_session_request("A-NAME-LONGER-THAN-15", "X", &b), -1);
    vnb_buf_free(&b);
}

TEST(NbssSession, AnswersParsed)
{
    struct Case {
        uint8_t type;
        Bytes payload;
        NbssAnswerKind kind;
    } cases[] = {
        {0x82, {}, NbssAnswerKind::positive},
        {0x82, {0}, NbssAnswerKind::malformed},
        {0x83, {0x82}, NbssAnswerKind::negative},
        {0x83, {}, NbssAnswerKind::malformed},
        {0x83, {0x82, 0}, NbssAnswerKind::malformed},
        {0x84, {192, 0, 2, 7, 0x01, 0xBD}, NbssAnswerKind::retarget},
        {0x84, {192, 0, 2, 7, 0x01}, NbssAnswerKind::malformed},
        {0x00, {}, NbssAnswerKind::malformed},
        {0x81, {}, NbssAnswerKind::malformed},
    };
    for (const Case &c : cases) {
        NbssSessionAnswer a = nbss_parse_session_answer(c.type, c.payload);
        EXPECT_EQ(a.kind, c.kind) << int(c.type) << " with " << c.payload.size() << " bytes";
        if (a.kind == NbssAnswerKind::negative) {
            EXPECT_EQ(a.error, 0x82);
        }
        if (a.kind == NbssAnswerKind::retarget) {
            EXPECT_EQ(a.port, 445);
            EXPECT_EQ(a.address[3], 7);
        }
    }
    EXPECT_STREQ(nbss_refusal_text(0x82), "called name not present");
    EXPECT_STREQ(nbss_refusal_text(0x42), "unknown error");
}

// The NetBIOS port of the transport is the script's; the host is an IP
// address, so the called name is *SMBSERVER.
struct Exchange {
    std::vector<PeerStep> steps;
    int32_t rc;
    const char *text;  // part of the error text
};

TEST(NbssSession, TransportOnTheNetbiosPort)
{
    PortsGuard guard;
    const Bytes first = request_for("*SMBSERVER");
    const Exchange cases[] = {
        {{peer_read(72), peer_send({0x82, 0, 0, 0}), peer_read(36), peer_frame(40)}, 0, nullptr},
        {{peer_read(72), peer_send({0x85, 0, 0, 0}), peer_send({0x82, 0, 0, 0}), peer_read(36), peer_frame(40)}, 0,
         nullptr},
        {{peer_read(72), peer_send({0x83, 0, 0, 1, 0x80}), peer_close()}, -1,
         "refused the called name *SMBSERVER: not listening on the called name (0x80)"},
        {{peer_read(72), peer_send({0x83, 0, 0, 1, 0x82}), peer_close()}, -1,
         "refused the called name *SMBSERVER: called name not present (0x82)"},
        {{peer_read(72), peer_send({0x84, 0, 0, 6, 192, 0, 2, 7, 0x01, 0xBD}), peer_close()}, -1,
         "sends the session on to 192.0.2.7:445; connect there instead"},
        {{peer_read(72), peer_send({0x82, 0, 0, 1, 0}), peer_close()}, -2, "is not one"},
        {{peer_read(72), peer_send({0x83, 0x01, 0, 0}), peer_close()}, -1, "announces 65536 bytes"},
        {{peer_read(72), peer_close()}, -1, "no answer to the NetBIOS session request"},
        {{peer_read(72), peer_stall(400), peer_close()}, -1, "no answer to the NetBIOS session request (timed out"},
    };
    for (const Exchange &c : cases) {
        ScriptPeer peer;
        ASSERT_TRUE(peer.start(AF_INET, c.steps));
        vnb_tcp_default_ports(0, peer.port());
        std::unique_ptr<MsgTransport> t = vnb_transport_tcp();
        int32_t rc = t->open("127.0.0.1", peer.port(), 200);
        EXPECT_EQ(rc, c.rc) << vnb_error();
        if (c.text) {
            EXPECT_NE(std::string(vnb_error()).find(c.text), std::string::npos) << vnb_error();
        } else if (rc == 0) {
            EXPECT_STREQ(t->connected_via(), ("port " + std::to_string(peer.port()) +
                                              ", NetBIOS session as *SMBSERVER").c_str());
            Bytes msg(36, 0xFF);
            msg[1] = 'S';
            ASSERT_EQ(t->send(msg), 0);
            ByteBuffer reply{};
            EXPECT_EQ(t->recv(reply, 1000), 0) << vnb_error();
            EXPECT_EQ(reply.len, 40u);
            vnb_buf_free(&reply);
        }
        t->close();
        peer.finish();
        ASSERT_GE(peer.received.size(), 72u);
        EXPECT_EQ(Bytes(peer.received.begin(), peer.received.begin() + 72), first);
    }
}

TEST(NbssSession, DefaultPortFallsBackOnlyWhenRefused)
{
    PortsGuard guard;
    // The direct port refuses: the NetBIOS one is tried with a session request.
    {
        ScriptPeer peer;
        ASSERT_TRUE(peer.start(AF_INET, {peer_read(72), peer_send({0x82, 0, 0, 0}), peer_stall(50)}));
        int refused = closed_port(AF_INET);
        vnb_tcp_default_ports(refused, peer.port());
        std::unique_ptr<MsgTransport> t = vnb_transport_tcp();
        ASSERT_EQ(t->open("127.0.0.1", 0, 1000), 0) << vnb_error();
        EXPECT_EQ(std::string(t->connected_via()).rfind("port " + std::to_string(peer.port()) + ", NetBIOS", 0), 0u);
        t->close();
        peer.finish();
        EXPECT_EQ(peer.received.size(), 72u);
        EXPECT_EQ(peer.received[0], 0x81);
    }
    // The direct port answers: no session request, the bytes are SMB1 frames.
    {
        ScriptPeer peer;
        ASSERT_TRUE(peer.start(AF_INET, {peer_read(40), peer_stall(50)}));
        vnb_tcp_default_ports(peer.port(), closed_port(AF_INET));
        std::unique_ptr<MsgTransport> t = vnb_transport_tcp();
        ASSERT_EQ(t->open("127.0.0.1", 0, 1000), 0) << vnb_error();
        EXPECT_EQ(std::string(t->connected_via()), "port " + std::to_string(peer.port()));
        Bytes msg(36, 0xFF);
        ASSERT_EQ(t->send(msg), 0);
        t->close();
        peer.finish();
        EXPECT_EQ(peer.received.size(), 40u);
        EXPECT_EQ(peer.received[0], 0x00);
    }
    // Both refuse: one text names both.
    {
        vnb_tcp_default_ports(closed_port(AF_INET), closed_port(AF_INET));
        std::unique_ptr<MsgTransport> t = vnb_transport_tcp();
        EXPECT_EQ(t->open("127.0.0.1", 0, 1000), -1);
        std::string text = vnb_error();
        EXPECT_EQ(text.rfind("connection refused (", 0), 0u) << text;
        EXPECT_NE(text.find("; on port "), std::string::npos) << text;
    }
    // A port given is used as it is, without a session request.
    {
        ScriptPeer peer;
        ASSERT_TRUE(peer.start(AF_INET, {peer_read(40), peer_stall(50)}));
        vnb_tcp_default_ports(closed_port(AF_INET), closed_port(AF_INET));
        std::unique_ptr<MsgTransport> t = vnb_transport_tcp();
        ASSERT_EQ(t->open("127.0.0.1", peer.port(), 1000), 0) << vnb_error();
        ASSERT_EQ(t->send(Bytes(36, 0xFF)), 0);
        t->close();
        peer.finish();
        EXPECT_EQ(peer.received.size(), 40u);
    }
}

}  // namespace
