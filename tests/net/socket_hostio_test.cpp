// The socket-backed HostIo: relay URL parsing, posts relayed over a TCP
// connection kept per server, and whole exchanges relayed through it.
#include <gtest/gtest.h>

#include "support/test_sockets.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/msg_transport.h"
#include "net/net.h"
#include "net/own_hostio.h"
#include "net/socket_hostio.h"
#include "net/support/counting_server.h"
#include "net/support/hostio_post.h"
#include "net/support/script_peer.h"
#include "net/support/smb_frames.h"
#include "util/error.h"

namespace {

constexpr int kUntouchedPort = -12345;

TEST(SmbrpcUrl, HostAndPortOfTheAuthority)
{
    struct Case {
        std::string url;
        int rc;
        std::string host;  // when rc is 0
        int port;          // as stored, kUntouchedPort when none was read
    };
    const std::string h253(253, 'a');
    const std::string h255(255, 'b');
    const std::string h256(256, 'c');
    const std::vector<Case> cases = {
        {"smbrpc://10.0.0.5:445/frame", 0, "10.0.0.5", 445},
        {"smbrpc://[::1]:445/frame", 0, "::1", 445},
        {"smbrpc://[fe80::1%eth0]:139/frame", 0, "fe80::1%eth0", 139},
        {"smbrpc://a:b:139/x", 0, "a:b", 139},  // the last colon separates
        {"smbrpc://h:1/", 0, "h", 1},
        {"smbrpc://h:65535/any/path:99", 0, "h", 65535},
        {"smbrpc://h: +445/frame", 0, "h", 445},  // read the way atoi reads
        {"smbrpc://h:445junk/frame", 0, "h", 445},
        {"smbrpc://[]:445/frame", 0, "", 445},  // brackets alone leave an empty host
        {"smbrpc://" + h255 + ":445/frame", 0, h255, 445},
        {"smbrpc://[" + h253 + "]:445/frame", 0, h253, 445},
        {"smbrpc://h:0/frame", -1, "", 0},
        {"smbrpc://h:70000/frame", -1, "", 70000},
        {"smbrpc://h:65536/frame", -1, "", 65536},
        {"smbrpc://h:-445/frame", -1, "", -445},
        {"smbrpc://h:/frame", -1, "", 0},
        {"smbrpc://h:99999999999999999999/frame", -1, "", 1000000},
        {"smbrpc://" + h256 + ":445/frame", -1, "", kUntouchedPort},
        {"smbrpc://[" + h253 + "x]:445/frame", -1, "", kUntouchedPort},
        {"smbrpc://:445/frame", -1, "", kUntouchedPort},
        {"smbrpc://h445/frame", -1, "", kUntouchedPort},
        {"smbrpc://h/frame:445", -1, "", kUntouchedPort},  // only the authority counts
        {"smbrpc://h:445", -1, "", kUntouchedPort},
        {"smbrpc:///h:445/frame", -1, "", kUntouchedPort},
        {"smbrpc://", -1, "", kUntouchedPort},
        {"smbrpc://[::1:445/frame", -1, "", kUntouchedPort},
        {"smbrpc://[:445/frame", -1, "", kUntouchedPort},
        {"SMBRPC://h:445/frame", -1, "", kUntouchedPort},
        {"http://h:445/frame", -1, "", kUntouchedPort},
        {"", -1, "", kUntouchedPort},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.size() > 80 ? c.url.substr(0, 80) + "..." : c.url);
        char host[256] = "untouched";
        int port = kUntouchedPort;
        EXPECT_EQ(parse_smb_url(c.url.c_str(), host, &port), c.rc);
        EXPECT_EQ(port, c.port);
        if (c.rc == 0) {
            EXPECT_EQ(std::string(host), c.host);
        }
    }
    char host[256];
    int port = kUntouchedPort;
    EXPECT_EQ(parse_smb_url(nullptr, host, &port), -1);
    EXPECT_EQ(port, kUntouchedPort);
}

TEST(SocketHostIo, TheObjectAndItsGet)
{
    EXPECT_EQ(g_sio_socket.context, nullptr);
    EXPECT_EQ(g_sio_socket.get, sio_get);
    EXPECT_EQ(g_sio_socket.http_post, sio_post);
    EXPECT_EQ(g_sio_socket.free, sio_free);
    expect_get_refused(&g_sio_socket);
}

std::string url_for(int port)
{
    return "smbrpc://127.0.0.1:" + std::to_string(port) + "/frame";
}

TEST(SocketPost, RelaysOneFrame)
{
    ScriptPeer peer;
    ASSERT_TRUE(peer.start(AF_INET, {peer_read(4 + 40), peer_frame(40)}));
    const Bytes req = negotiate_request(0x40, "NT1");
    PostResult r = post(&g_sio_socket, url_for(peer.port()).c_str(), b64_text(req).c_str());
    ASSERT_EQ(r.rc, 0) << r.error.value_or("");
    EXPECT_EQ(r.status, 200);
    ASSERT_TRUE(r.body);
    EXPECT_EQ(b64_bytes(r.body->c_str()), frame_body(40));
    peer.finish();
    EXPECT_EQ(peer.received, with_nbss_header(req));
}

TEST(SocketPost, Failures)
{
    struct Case {
        const char *name;
        bool listen;        // a peer that closes at once, else a closed port
        bool bad_url;
        const char *body;
        std::string text;   // prefix of the error text
    };
    const std::string negotiate = b64_text(negotiate_request(1));
    const std::vector<Case> cases = {
        {"bad URL", false, true, negotiate.c_str(), "bad smbrpc url"},
        {"body not Base64", false, false, "@@@", "bad base64 body"},
        {"nobody listening", false, false, negotiate.c_str(), "connection refused ("},
        {"empty body", false, false, "", "empty request"},
        {"peer closes without a reply", true, false, negotiate.c_str(), "no NBSS header from the peer"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptPeer peer;
        int port = 0;
        if (c.listen) {
            ASSERT_TRUE(peer.start(AF_INET, {peer_read(4 + 47, 1000), peer_close()}));
            port = peer.port();
        } else {
            port = closed_port(AF_INET);
            ASSERT_NE(port, 0);
        }
        std::string url = c.bad_url ? "smbrpc://127.0.0.1/frame" : url_for(port);
        PostResult r = post(&g_sio_socket, url.c_str(), c.body);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.status, kUntouchedStatus);
        EXPECT_FALSE(r.body);
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->rfind(c.text, 0), 0u) << *r.error;
    }
}

// What the peer answers, as a post sees it: the TCP transport's framing with
// the post's own 30-second time-out.
TEST(SocketPost, RepliesAndTheirFaults)
{
    struct Case {
        const char *name;
        std::vector<PeerStep> after_request;
        const char *text;  // prefix of the error text, nullptr on success
        uint32_t reply_len;
    };
    const std::vector<Case> cases = {
        {"reply", {peer_frame(64)}, nullptr, 64},
        {"zero-length header skipped once", {peer_header(0, 0), peer_frame(64)}, nullptr, 64},
        {"keep-alive skipped", {peer_header(0x85, 0), peer_frame(64)}, nullptr, 64},
        {"two zero-length headers", {peer_header(0, 0), peer_header(0, 0)}, "NBSS frame shorter than an SMB1 header",
         0},
        {"type byte", {peer_header(0x82, 0)}, "NBSS type byte 82", 0},
        {"31-byte frame", {peer_frame(31)}, "NBSS frame shorter than an SMB1 header", 0},
        {"closed", {peer_close()}, "no NBSS header from the peer", 0},
        {"closed mid-message", {peer_header(0, 64), peer_send({1, 2}), peer_close()}, "connection closed by the peer",
         0},
    };
    const Bytes req = negotiate_request(1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<PeerStep> script{peer_read(4 + req.size())};
        script.insert(script.end(), c.after_request.begin(), c.after_request.end());
        ScriptPeer peer;
        ASSERT_TRUE(peer.start(AF_INET, script));
        PostResult r = post(&g_sio_socket, url_for(peer.port()).c_str(), b64_text(req).c_str());
        if (c.text) {
            EXPECT_EQ(r.rc, -1);
            ASSERT_TRUE(r.error);
            EXPECT_EQ(r.error->rfind(c.text, 0), 0u) << *r.error;
        } else {
            ASSERT_EQ(r.rc, 0) << r.error.value_or("");
            ASSERT_TRUE(r.body);
            EXPECT_EQ(b64_bytes(r.body->c_str()), frame_body(c.reply_len));
        }
        peer.finish();
        EXPECT_EQ(peer.received, with_nbss_header(req));
    }
}

// A request other than NEGOTIATE: an SMB1 header with the command and MID.
Bytes request(uint8_t command, uint16_t mid)
{
    Bytes m(36, 0);
    m[0] = 0xFF;
    m[1] = 'S';
    m[2] = 'M';
    m[3] = 'B';
    m[4] = command;
    m[30] = uint8_t(mid);
    m[31] = uint8_t(mid >> 8);
    return m;
}

// The number of the server connection a post travelled on (0 when it failed).
int connection_of(const CountingServer &server, const Bytes &req)
{
    PostResult r = post(&g_sio_socket, url_for(server.port()).c_str(), b64_text(req).c_str());
    if (r.rc != 0 || !r.body)
        return 0;
    Bytes reply = b64_bytes(r.body->c_str());
    EXPECT_EQ(reply.size(), req.size());
    EXPECT_EQ(mid_of(reply), mid_of(req));
    return reply.size() > CountingServer::kConnectionByte ? reply[CountingServer::kConnectionByte] : 0;
}

TEST(SocketPost, OneConnectionPerServerAcrossPosts)
{
    CountingServer a;
    CountingServer b;
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    EXPECT_EQ(connection_of(a, negotiate_request(1)), 1);
    EXPECT_EQ(connection_of(a, request(0x73, 2)), 1);
    EXPECT_EQ(connection_of(b, negotiate_request(3)), 1);  // another server, a connection of its own
    EXPECT_EQ(connection_of(a, request(0x75, 4)), 1);
    EXPECT_EQ(connection_of(b, request(0x2E, 5)), 1);
    EXPECT_EQ(a.accepts(), 1);
    EXPECT_EQ(b.accepts(), 1);
    EXPECT_EQ(a.client_closes(), 0);
}

TEST(SocketPost, NegotiateStartsAFreshConnection)
{
    CountingServer server;
    ASSERT_TRUE(server.start());
    EXPECT_EQ(connection_of(server, negotiate_request(1)), 1);
    EXPECT_EQ(connection_of(server, request(0x73, 2)), 1);
    EXPECT_EQ(connection_of(server, negotiate_request(3)), 2);
    EXPECT_TRUE(server.wait_client_closes(1));  // the first one was ended
    EXPECT_EQ(connection_of(server, request(0x73, 4)), 2);
    EXPECT_EQ(server.accepts(), 2);
}

TEST(SocketPost, ADroppedConnectionIsOpenedAgainForTheNextPost)
{
    CountingServer server;
    ASSERT_TRUE(server.start());
    EXPECT_EQ(connection_of(server, negotiate_request(1)), 1);
    PostResult r = post(&g_sio_socket, url_for(server.port()).c_str(),
                        b64_text(request(CountingServer::kDropCommand, 2)).c_str());
    EXPECT_EQ(r.rc, -1);
    ASSERT_TRUE(r.error);
    EXPECT_EQ(*r.error, "no NBSS header from the peer");
    EXPECT_EQ(connection_of(server, request(0x73, 3)), 2);
    EXPECT_EQ(connection_of(server, request(0x73, 4)), 2);
    EXPECT_EQ(server.accepts(), 2);
}

TEST(SocketPost, ConcurrentPostsKeepRequestAndReplyTogether)
{
    CountingServer server;
    ASSERT_TRUE(server.start());
    ASSERT_EQ(connection_of(server, negotiate_request(1)), 1);
    constexpr int kPosts = 25;
    auto poster = [&server](uint16_t first_mid, int *matched) {
        for (int i = 0; i < kPosts; i++) {
            Bytes req = request(0x2E, uint16_t(first_mid + i));
            PostResult r = post(&g_sio_socket, url_for(server.port()).c_str(), b64_text(req).c_str());
            if (r.rc == 0 && r.body && mid_of(b64_bytes(r.body->c_str())) == mid_of(req))
                (*matched)++;
        }
    };
    int matched_a = 0;
    int matched_b = 0;
    std::thread ta(poster, uint16_t(100), &matched_a);
    std::thread tb(poster, uint16_t(1000), &matched_b);
    ta.join();
    tb.join();
    EXPECT_EQ(matched_a, kPosts);
    EXPECT_EQ(matched_b, kPosts);
    EXPECT_EQ(server.accepts(), 1);
}

// Whole exchanges of the relay transport with the socket-backed object as
// the host's relay.
TEST(OwnRelay, SocketBackedFrame)
{
    ScriptPeer peer;
    ASSERT_TRUE(peer.start(AF_INET, {peer_read(4 + 47), peer_frame(64), peer_read(1, 1500)}));
    std::unique_ptr<MsgTransport> t = vnb_transport_relay(&g_sio_socket);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->open("127.0.0.1", peer.port(), 1000), 0);
    const Bytes req = negotiate_request(1);
    ByteBuffer reply{};
    ASSERT_EQ(t->send(req), 0);
    ASSERT_EQ(t->recv(reply, 1000), 0) << vnb_error();
    EXPECT_EQ(Bytes(reply.data, reply.data + reply.len), frame_body(64));
    peer.finish();
    EXPECT_EQ(peer.received, with_nbss_header(req));

    // Nobody there any more: the post fails and so does the exchange.
    ASSERT_EQ(t->send(req), 0);
    EXPECT_EQ(t->recv(reply, 1000), -1);
    EXPECT_STREQ(vnb_error(), "transport failure");
    vnb_buf_free(&reply);
}

}  // namespace
