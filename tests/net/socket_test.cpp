// The socket operations under the TCP transport: connect, timed receive and
// send, close, against real loopback sockets.
#include <gtest/gtest.h>

#include "support/test_sockets.h"
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/net.h"
#include "net/net_internal.h"
#include "net/support/script_peer.h"
#include "util/error.h"

namespace {

// A socket record with the byte-stream view that the NBSS framing drives.
struct SocketTransport {
    SocketTransport() : t{&r, sock_connect, sock_write, sock_read, sock_close_v} {}
    ~SocketTransport() { sock_close_v(&r); }
    SockRecord *rec() { return &r; }
    int connect(const char *host, int port, int timeout_ms = 2000)
    {
        return t.connect(t.context, host, port, timeout_ms);
    }
    SockRecord r{-1, {}, 0, 0};
    Transport t;
};

TEST(SocketKind, AnUnconnectedRecordNeitherReadsNorWrites)
{
    SocketTransport s;
    EXPECT_EQ(s.rec()->sock, -1);
    EXPECT_EQ(s.rec()->peer_host[0], '\0');
    uint8_t buf[8];
    EXPECT_EQ(s.t.read(s.t.context, buf, sizeof buf, 10), -1);
    EXPECT_EQ(s.t.write(s.t.context, buf, sizeof buf), -1);
}

struct BadTarget {
    const char *host;
    int port;
};

TEST(SocketKind, BadHostOrPortIsRefusedBeforeResolving)
{
    const BadTarget cases[] = {
        {"127.0.0.1", 0}, {"127.0.0.1", 65536}, {"127.0.0.1", -1}, {"", 445}, {nullptr, 445},
    };
    for (const BadTarget &c : cases) {
        SCOPED_TRACE(c.port);
        SocketTransport s;
        vnb_set_error("untouched");
        EXPECT_EQ(s.connect(c.host, c.port), -1);
        EXPECT_STREQ(vnb_error(), "bad host or port");
        EXPECT_EQ(s.rec()->sock, -1);
    }
}

TEST(SocketKind, HighestPortPassesTheCheck)
{
    // Listen on 65535 when it is free, so that the connect can succeed.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(65535);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool listening = bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 && listen(listener, 1) == 0;
    SocketTransport s;
    vnb_set_error("untouched");
    int rc = s.connect("127.0.0.1", 65535);
    if (listening) {
        EXPECT_EQ(rc, 0) << vnb_error();
    }
    EXPECT_STRNE(vnb_error(), "bad host or port");
    close_socket(listener);
}

TEST(SocketKind, RefusedConnectNamesTheError)
{
    const int families[] = {AF_INET, AF_INET6};
    for (int family : families) {
        int port = closed_port(family);
        if (port == 0)
            continue;  // no IPv6 loopback here
        SocketTransport s;
        EXPECT_EQ(s.connect(family == AF_INET6 ? "::1" : "127.0.0.1", port), -1);
        EXPECT_EQ(std::string(vnb_error()), "connection refused (" + std::to_string(kConnectionRefused) + ")");
        EXPECT_EQ(s.rec()->sock, -1);
    }
}

// A listener that never accepts, with its backlog full: further handshakes
// are dropped, as by a host that drops packets.
TEST(SocketKind, UnansweredConnectTimesOut)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&addr), len), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    int port = ntohs(addr.sin_port);

    std::vector<SockRecord> fillers(8);
    bool stalled = false;
    for (SockRecord &f : fillers) {
        f.sock = -1;
        if (sock_connect(&f, "127.0.0.1", port, 300) != 0) {
            stalled = true;
            break;
        }
    }
    if (stalled) {
        SocketTransport s;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(s.connect("127.0.0.1", port, 200), -1);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(std::string(vnb_error()), "connect to 127.0.0.1:" + std::to_string(port) + " timed out");
        EXPECT_GE(took, std::chrono::milliseconds(180));
        EXPECT_LT(took, std::chrono::milliseconds(2000));
        EXPECT_EQ(s.rec()->sock, -1);
    }
    for (SockRecord &f : fillers)
        sock_close_v(&f);
    close_socket(listener);
    if (!stalled)
        GTEST_SKIP() << "this stack completes every handshake";
}

TEST(SocketKind, ConnectRecordsThePeerAndReconnectClosesTheOldSocket)
{
    ScriptPeer first;
    ScriptPeer second;
    ASSERT_TRUE(first.start(AF_INET, {peer_read(1, 2000)}));
    ASSERT_TRUE(second.start(AF_INET, {peer_read(4, 2000)}));
    SocketTransport s;
    ASSERT_EQ(s.connect("127.0.0.1", first.port()), 0) << vnb_error();
    EXPECT_STREQ(s.rec()->peer_host, "127.0.0.1");
    EXPECT_EQ(s.rec()->peer_port, first.port());
    ASSERT_EQ(s.connect("127.0.0.1", second.port()), 0) << vnb_error();
    EXPECT_EQ(s.rec()->peer_port, second.port());
    const uint8_t ping[4] = {1, 2, 3, 4};
    EXPECT_EQ(s.t.write(s.t.context, ping, sizeof ping), 0);
    first.finish();  // ends at once: the first connection was closed
    second.finish();
    EXPECT_TRUE(first.received.empty());
    EXPECT_EQ(second.received, std::vector<uint8_t>(ping, ping + 4));
}

TEST(SocketKind, IPv6OnlyHostConnectsOverIPv6)
{
    ScriptPeer peer;
    if (!peer.start(AF_INET6, {peer_read(4, 2000)}))
        GTEST_SKIP() << "no IPv6 loopback";
    SocketTransport s;
    ASSERT_EQ(s.connect("::1", peer.port()), 0) << vnb_error();
    const uint8_t ping[4] = {9, 8, 7, 6};
    EXPECT_EQ(s.t.write(s.t.context, ping, sizeof ping), 0);
    peer.finish();
    EXPECT_TRUE(peer.accepted);
    EXPECT_EQ(peer.peer_family, AF_INET6);
    EXPECT_EQ(peer.received.size(), 4u);
}

bool resolves_to_both_families(const char *host)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    if (getaddrinfo(host, "445", &hints, &list) != 0)
        return false;
    bool v4 = false;
    bool v6 = false;
    for (addrinfo *a = list; a; a = a->ai_next) {
        v4 |= a->ai_family == AF_INET;
        v6 |= a->ai_family == AF_INET6;
    }
    freeaddrinfo(list);
    return v4 && v6;
}

TEST(SocketKind, DualStackHostConnectsOverIPv4)
{
    if (!resolves_to_both_families("localhost"))
        GTEST_SKIP() << "localhost does not resolve to both families here";
    ScriptPeer peer;
    ASSERT_TRUE(peer.start(AF_INET, {peer_read(1, 2000)}));
    SocketTransport s;
    ASSERT_EQ(s.connect("localhost", peer.port()), 0) << vnb_error();
    EXPECT_EQ(s.t.write(s.t.context, reinterpret_cast<const uint8_t *>("x"), 1), 0);
    peer.finish();
    EXPECT_EQ(peer.peer_family, AF_INET);
}

TEST(SocketKind, ReadReportsDataCloseAndTimeout)
{
    ScriptPeer peer;
    ASSERT_TRUE(peer.start(AF_INET, {peer_stall(300), peer_send({1, 2, 3}), peer_close()}));
    SocketTransport s;
    ASSERT_EQ(s.connect("127.0.0.1", peer.port()), 0) << vnb_error();
    uint8_t buf[16];

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s.t.read(s.t.context, buf, sizeof buf, 100), -2);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(90));
    EXPECT_LT(took, std::chrono::milliseconds(280));

    EXPECT_EQ(s.t.read(s.t.context, buf, sizeof buf, 2000), 3);
    EXPECT_EQ(buf[2], 3);
    EXPECT_EQ(s.t.read(s.t.context, buf, sizeof buf, 2000), 0);
}

TEST(SocketKind, WriteToAClosedPeerFailsWithoutKillingTheProcess)
{
    ScriptPeer peer;
    ASSERT_TRUE(peer.start(AF_INET, {peer_close()}));
    SocketTransport s;
    ASSERT_EQ(s.connect("127.0.0.1", peer.port()), 0) << vnb_error();
    peer.finish();
    std::vector<uint8_t> chunk(65536, 0x5A);
    // Keep writing after the first failure too: a reset connection answers
    // with ECONNRESET first and EPIPE afterwards, the error that raises SIGPIPE.
    int failures = 0;
    for (int i = 0; i < 200 && failures < 3; i++) {
        if (s.t.write(s.t.context, chunk.data(), chunk.size()) != 0)
            failures++;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(failures, 3);  // and SIGPIPE was not raised, or this line would not run
}

TEST(SocketKind, CloseKeepsOrReleasesTheRecord)
{
    ScriptPeer peer;
    ASSERT_TRUE(peer.start(AF_INET, {peer_read(1, 2000)}));
    SockRecord rec{};
    rec.sock = -1;
    ASSERT_EQ(sock_connect(&rec, "127.0.0.1", peer.port(), 2000), 0) << vnb_error();
    EXPECT_NE(rec.sock, -1);
    sock_close_v(&rec);
    EXPECT_EQ(rec.sock, -1);
    sock_close_v(&rec);  // closing twice is harmless
    peer.finish();
    EXPECT_TRUE(peer.received.empty());
}

TEST(SocketKind, WaitReportsReadiness)
{
    ScriptPeer peer;
    ASSERT_TRUE(peer.start(AF_INET, {peer_stall(200), peer_send({1}), peer_read(1, 1000)}));
    SockRecord rec{};
    rec.sock = -1;
    ASSERT_EQ(sock_connect(&rec, "127.0.0.1", peer.port(), 2000), 0) << vnb_error();
    EXPECT_EQ(wait_fd(rec.sock, kWaitWrite, 1000), 1);
    EXPECT_EQ(wait_fd(rec.sock, kWaitRead, 50), 0);
    EXPECT_EQ(wait_fd(rec.sock, kWaitRead, 2000), 1);
    sock_close_v(&rec);
    peer.finish();
}

}  // namespace
