// TCP with NBSS framing over a real loopback connection.
#include <gtest/gtest.h>

#include "support/test_sockets.h"
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "net/clock.h"
#include "net/msg_transport.h"
#include "net/net.h"
#include "net/support/script_peer.h"
#include "util/error.h"
#include "support/test_env.h"

namespace {

constexpr int kShortTimeoutMs = 200;

std::vector<uint8_t> request(size_t len)
{
    std::vector<uint8_t> r(len);
    for (size_t i = 0; i < len; i++)
        r[i] = uint8_t(0xA0 + i);
    return r;
}

std::vector<uint8_t> nbss(const std::vector<uint8_t> &msg)
{
    size_t n = msg.size();
    std::vector<uint8_t> out(4 + n);
    out[1] = uint8_t(n >> 16);
    out[2] = uint8_t(n >> 8);
    out[3] = uint8_t(n);
    std::copy(msg.begin(), msg.end(), out.begin() + 4);
    return out;
}

// What peer_frame(len) sends, without its first `skip` bytes.
PeerStep frame_rest(uint32_t len, size_t skip)
{
    std::vector<uint8_t> bytes = peer_frame(len).bytes;
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(skip));
    return peer_send(std::move(bytes));
}

std::vector<uint8_t> file_bytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A TCP transport opened to a ScriptPeer on 127.0.0.1.
class SocketExchange : public ::testing::Test {
protected:
    void connect_to(std::vector<PeerStep> script)
    {
        ASSERT_TRUE(peer.start(AF_INET, std::move(script)));
        t = vnb_transport_tcp();
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->open("127.0.0.1", peer.port(), 2000), 0) << vnb_error();
    }
    int32_t exchange(const std::vector<uint8_t> &req, int timeout_ms)
    {
        int32_t rc = t->send(req);
        return rc != 0 ? rc : t->recv(reply, timeout_ms);
    }
    void TearDown() override
    {
        t.reset();
        vnb_buf_free(&reply);
        peer.finish();
    }
    ScriptPeer peer;
    std::unique_ptr<MsgTransport> t;
    ByteBuffer reply{};
};

struct ReplyCase {
    const char *name;
    std::vector<PeerStep> after_request;  // what the peer does once it has the request
    int timeout_ms;
    int32_t code;
    const char *text;      // expected error text, or nullptr on success
    uint32_t reply_len;    // on success
};

TEST_F(SocketExchange, RepliesAndTheirFaults)
{
    const std::vector<ReplyCase> cases = {
        {"plain 32-byte reply", {peer_frame(32)}, 2000, 0, nullptr, 32},
        {"large reply", {peer_frame(200000)}, 2000, 0, nullptr, 200000},
        {"zero-length header skipped once", {peer_header(0, 0), peer_frame(40)}, 2000, 0, nullptr, 40},
        {"two zero-length headers", {peer_header(0, 0), peer_header(0, 0), peer_frame(40)}, 2000, -2,
         "NBSS frame shorter than an SMB1 header", 0},
        {"keep-alive skipped", {peer_header(0x85, 0), peer_frame(40)}, 2000, 0, nullptr, 40},
        {"keep-alives on both sides of a zero-length header",
         {peer_header(0x85, 0), peer_header(0, 0), peer_header(0x85, 0), peer_frame(40)}, 2000, 0, nullptr, 40},
        {"keep-alive with a payload skipped", {peer_header(0x85, 3), peer_send({1, 2, 3}), peer_frame(40)}, 2000, 0,
         nullptr, 40},
        {"keep-alive, then silence", {peer_header(0x85, 0), peer_stall(1500)}, kShortTimeoutMs, -1,
         "timed out: no reply from the server in time", 0},
        {"session request type byte", {peer_header(0x81, 40)}, 2000, -2, "NBSS type byte 81", 0},
        {"negative response type byte", {peer_header(0x83, 1)}, 2000, -2, "NBSS type byte 83", 0},
        {"bad type after a zero-length header", {peer_header(0, 0), peer_header(0x82, 40)}, 2000, -2,
         "NBSS type byte 82", 0},
        {"31-byte frame", {peer_frame(31)}, 2000, -2, "NBSS frame shorter than an SMB1 header", 0},
        {"length uses all three bytes", {peer_header(0x00, 0x010000), peer_close()}, 2000, -1,
         "connection closed by the peer", 0},
        {"closed before a header", {peer_close()}, 2000, -1, "no NBSS header from the peer", 0},
        {"half a header, then closed", {peer_send({0x00, 0x00}), peer_close()}, 2000, -1,
         "no NBSS header from the peer", 0},
        {"header split across segments", {peer_send({0x00, 0x00}), peer_stall(100), frame_rest(40, 2)},
         2000, 0, nullptr, 40},
        {"header one byte at a time",
         {peer_send({0x00}), peer_stall(50), peer_send({0x00}), peer_stall(50), peer_send({0x00}), peer_stall(50),
          frame_rest(40, 3)},
         2000, 0, nullptr, 40},
        {"half a header, then silence", {peer_send({0x00, 0x00}), peer_stall(1500)}, kShortTimeoutMs, -1,
         "timed out: no reply from the server in time", 0},
        // One deadline for the whole header: pieces that each come in time but
        // add up to more than the time-out do not make a header.
        {"header trickles past the time-out",
         {peer_send({0x00}), peer_stall(120), peer_send({0x00}), peer_stall(120), peer_send({0x00}), peer_stall(120),
          frame_rest(40, 3)},
         kShortTimeoutMs, -1, "timed out: no reply from the server in time", 0},
        {"never answers", {peer_stall(1500)}, kShortTimeoutMs, -1, "timed out: no reply from the server in time", 0},
        {"closed mid-message", {peer_header(0, 100), peer_send(std::vector<uint8_t>(50, 7)), peer_close()}, 2000,
         -1, "connection closed by the peer", 0},
        {"stalls mid-message", {peer_header(0, 100), peer_send(std::vector<uint8_t>(50, 7)), peer_stall(1500)},
         kShortTimeoutMs, -1, "timed out: no reply within 200 ms", 0},
        // One deadline for the whole reply: a message that trickles in, each
        // piece in time, is still cut off.
        {"message trickles past the time-out",
         {peer_header(0, 40), peer_send({1}), peer_stall(120), peer_send({2}), peer_stall(120), peer_send({3}),
          peer_stall(1500)},
         kShortTimeoutMs, -1, "timed out: no reply within 200 ms", 0},
        {"announces 4 MiB + 1", {peer_header(0, kMaxFrame + 1)}, 2000, -7,
         "the peer announced a 4194305-byte frame", 0},
    };
    for (const ReplyCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<PeerStep> script{peer_read(4 + 40)};
        script.insert(script.end(), c.after_request.begin(), c.after_request.end());
        ASSERT_NO_FATAL_FAILURE(connect_to(script));
        std::vector<uint8_t> req = request(40);
        int32_t rc = exchange(req, c.timeout_ms);
        EXPECT_EQ(rc, c.code) << vnb_error();
        if (c.text) {
            EXPECT_STREQ(vnb_error(), c.text);
        } else {
            ASSERT_EQ(reply.len, c.reply_len);
            EXPECT_EQ(std::vector<uint8_t>(reply.data, reply.data + reply.len), frame_body(c.reply_len));
            EXPECT_EQ(reply.data[reply.len], 0);
        }
        t.reset();
        vnb_buf_free(&reply);
        peer.finish();
        EXPECT_EQ(peer.received, nbss(req));
    }
}

TEST_F(SocketExchange, LargestReplyIsRead)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_read(4 + 32), peer_frame(kMaxFrame)}));
    std::vector<uint8_t> req = request(32);
    ASSERT_EQ(exchange(req, 5000), 0) << vnb_error();
    ASSERT_EQ(reply.len, kMaxFrame);
    EXPECT_EQ(reply.data[kMaxFrame - 1], uint8_t(kMaxFrame - 1));
}

TEST_F(SocketExchange, LargestRequestIsSent)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_read(4 + kMaxFrame, 10000), peer_frame(32)}));
    std::vector<uint8_t> req = request(kMaxFrame);
    ASSERT_EQ(exchange(req, 5000), 0) << vnb_error();
    EXPECT_EQ(reply.len, 32u);
    peer.finish();
    EXPECT_EQ(peer.received, nbss(req));
}

TEST_F(SocketExchange, OversizedRequestWritesNothing)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_read(1, 300)}));
    std::vector<uint8_t> req = request(kMaxFrame + 1);
    EXPECT_EQ(t->send(req), -7);
    EXPECT_STREQ(vnb_error(), "frame larger than 4194304 bytes");
    peer.finish();
    EXPECT_TRUE(peer.received.empty());
}

TEST_F(SocketExchange, EmptyRequestSendsNothingAndReadsTheReply)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_stall(100), peer_frame(32), peer_read(1, 300)}));
    ASSERT_EQ(exchange({}, 2000), 0) << vnb_error();
    EXPECT_EQ(reply.len, 32u);
    t.reset();
    peer.finish();
    EXPECT_TRUE(peer.received.empty());
}

TEST_F(SocketExchange, RequestsGoAheadOfTheirRepliesInOrder)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_read(2 * (4 + 40)), peer_frame(32), peer_frame(48)}));
    EXPECT_TRUE(t->pipelines());
    std::vector<uint8_t> req = request(40);
    ASSERT_EQ(t->send(req), 0);
    ASSERT_EQ(t->send(req), 0);
    ASSERT_EQ(t->recv(reply, 2000), 0) << vnb_error();
    EXPECT_EQ(reply.len, 32u);
    ASSERT_EQ(t->recv(reply, 2000), 0) << vnb_error();
    EXPECT_EQ(reply.len, 48u);
}

TEST_F(SocketExchange, CloseEndsTheConnectionAndOpenStartsAnother)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_read(1, 2000)}));
    t->close();
    t->close();  // closing twice is harmless
    peer.finish();
    EXPECT_TRUE(peer.received.empty());  // the peer saw the end of the connection

    ScriptPeer second;
    ASSERT_TRUE(second.start(AF_INET, {peer_read(4 + 40), peer_frame(32)}));
    ASSERT_EQ(t->open("127.0.0.1", second.port(), 2000), 0) << vnb_error();
    ASSERT_EQ(exchange(request(40), 2000), 0) << vnb_error();
    EXPECT_EQ(reply.len, 32u);
    t.reset();
    second.finish();
    EXPECT_EQ(second.received, nbss(request(40)));
}

TEST(TcpTransport, UnopenedOrRefusedFailsCleanly)
{
    std::unique_ptr<MsgTransport> t = vnb_transport_tcp();
    ASSERT_NE(t, nullptr);
    ByteBuffer reply{};
    EXPECT_EQ(t->send(request(32)), -1);
    EXPECT_STREQ(vnb_error(), "write failed");
    EXPECT_EQ(t->recv(reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "no NBSS header from the peer");

    vnb_set_error("untouched");
    EXPECT_EQ(t->open("127.0.0.1", -1, 100), -1);
    EXPECT_STREQ(vnb_error(), "bad host or port");
    int port = closed_port(AF_INET);
    ASSERT_NE(port, 0);
    EXPECT_EQ(t->open("127.0.0.1", port, 1000), -1);
    EXPECT_EQ(std::string(vnb_error()).rfind("connection refused (", 0), 0u) << vnb_error();
    vnb_buf_free(&reply);
}

// The dump switches are read at every frame, so each case sets and clears them.
class FrameDumps : public SocketExchange {
protected:
    void SetUp() override
    {
        std::string base = ::testing::TempDir() + "vnsmb1c_dump_" + std::to_string(::getpid());
        req_file = base + "_req";
        rep_file = base + "_rep";
        std::remove(req_file.c_str());
        std::remove(rep_file.c_str());
    }
    void TearDown() override
    {
        unsetenv("VNSMB1C_DUMP");
        unsetenv("VNSMB1C_DUMPREP");
        std::remove(req_file.c_str());
        std::remove(rep_file.c_str());
        SocketExchange::TearDown();
    }
    std::string req_file;
    std::string rep_file;
};

TEST_F(FrameDumps, RequestAndReplyAreAppendedAsNbssFrames)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_read(4 + 40), peer_frame(32), peer_read(4 + 40), peer_frame(33)}));
    setenv("VNSMB1C_DUMP", req_file.c_str(), 1);
    setenv("VNSMB1C_DUMPREP", rep_file.c_str(), 1);
    std::vector<uint8_t> req = request(40);
    ASSERT_EQ(exchange(req, 2000), 0) << vnb_error();
    std::vector<uint8_t> dumped = file_bytes(req_file);
    ASSERT_EQ(dumped.size(), 44u);
    EXPECT_EQ(dumped, nbss(req));
    EXPECT_EQ(dumped[3], 0x28);
    EXPECT_EQ(file_bytes(rep_file), nbss(frame_body(32)));

    // Turned off between frames: the second frame leaves the files alone.
    unsetenv("VNSMB1C_DUMP");
    unsetenv("VNSMB1C_DUMPREP");
    ASSERT_EQ(exchange(req, 2000), 0) << vnb_error();
    EXPECT_EQ(file_bytes(req_file).size(), 44u);
    EXPECT_EQ(file_bytes(rep_file).size(), 36u);
}

TEST_F(FrameDumps, RequestIsDumpedBeforeAFailedExchange)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_read(4 + 40), peer_close()}));
    setenv("VNSMB1C_DUMP", req_file.c_str(), 1);
    setenv("VNSMB1C_DUMPREP", rep_file.c_str(), 1);
    std::vector<uint8_t> req = request(40);
    EXPECT_EQ(exchange(req, 2000), -1);
    EXPECT_EQ(file_bytes(req_file), nbss(req));
    EXPECT_FALSE(std::ifstream(rep_file).good());
}

TEST_F(FrameDumps, EmptyRequestIsDumpedAsABareHeader)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_frame(32)}));
    setenv("VNSMB1C_DUMP", req_file.c_str(), 1);
    ASSERT_EQ(exchange({}, 2000), 0) << vnb_error();
    EXPECT_EQ(file_bytes(req_file), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(FrameDumps, UnwritableDumpFileIsSkipped)
{
    ASSERT_NO_FATAL_FAILURE(connect_to({peer_read(4 + 40), peer_frame(32)}));
    std::string dir = ::testing::TempDir();  // a folder cannot be opened for appending
    setenv("VNSMB1C_DUMP", dir.c_str(), 1);
    setenv("VNSMB1C_DUMPREP", dir.c_str(), 1);
    std::vector<uint8_t> req = request(40);
    EXPECT_EQ(exchange(req, 2000), 0) << vnb_error();
    EXPECT_EQ(reply.len, 32u);
}

TEST(Clocks, MonotonicMillisecondsAndUnixSeconds)
{
    uint64_t a = vnb_now_ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uint64_t b = vnb_now_ms();
    EXPECT_GE(b - a, 45u);
    EXPECT_LT(b - a, 5000u);

    int64_t before = static_cast<int64_t>(std::time(nullptr));
    int64_t now = vnb_unix_now();
    int64_t after = static_cast<int64_t>(std::time(nullptr));
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
    EXPECT_GT(now, int64_t{1700000000});  // after November 2023
}

}  // namespace
