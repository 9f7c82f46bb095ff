// NBSS framing over an in-memory byte stream: the writer's header and limit,
// the exact reader's sizing, chunking and failure texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "net/net.h"
#include "net/net_internal.h"
#include "util/error.h"

namespace {

// A byte stream that serves `in` in chunks and records every write.
struct MemoryStream {
    std::vector<uint8_t> in;
    size_t pos = 0;
    size_t chunk = 65536;
    int at_end = 0;              // read result once `in` is used up
    int fail_write = -1;         // index of the write call that fails
    std::vector<std::vector<uint8_t>> writes;
    std::vector<size_t> asks;    // capacity of every read call
    std::vector<int> timeouts;   // timeout of every read call
};

int mem_write(void *ctx, const uint8_t *bytes, size_t len)
{
    auto *m = static_cast<MemoryStream *>(ctx);
    if (static_cast<int>(m->writes.size()) == m->fail_write)
        return -1;
    m->writes.emplace_back(bytes, bytes + len);
    return 0;
}

int mem_read(void *ctx, uint8_t *buf, size_t cap, int timeout_ms)
{
    auto *m = static_cast<MemoryStream *>(ctx);
    m->asks.push_back(cap);
    m->timeouts.push_back(timeout_ms);
    if (m->pos == m->in.size())
        return m->at_end;
    size_t n = std::min({cap, m->chunk, m->in.size() - m->pos});
    std::copy_n(m->in.begin() + static_cast<long>(m->pos), n, buf);
    m->pos += n;
    return static_cast<int>(n);
}

Transport over(MemoryStream *m)
{
    return Transport{m, nullptr, mem_write, mem_read, nullptr};
}

TEST(NbssWrite, HeaderThenMessage)
{
    struct Case {
        size_t len;
        std::vector<uint8_t> header;
    };
    const Case cases[] = {
        {40, {0x00, 0x00, 0x00, 0x28}},
        {0x12345, {0x00, 0x01, 0x23, 0x45}},
        {kMaxFrame, {0x00, 0x40, 0x00, 0x00}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.len);
        MemoryStream m;
        Transport t = over(&m);
        std::vector<uint8_t> msg(c.len, 0x3C);
        ASSERT_EQ(nbss_write(&t, msg.data(), msg.size()), 0);
        ASSERT_EQ(m.writes.size(), 2u);
        EXPECT_EQ(m.writes[0], c.header);
        EXPECT_EQ(m.writes[1], msg);
    }
}

TEST(NbssWrite, EmptyMessageIsAHeaderAlone)
{
    MemoryStream m;
    Transport t = over(&m);
    ASSERT_EQ(nbss_write(&t, nullptr, 0), 0);
    ASSERT_EQ(m.writes.size(), 1u);
    EXPECT_EQ(m.writes[0], (std::vector<uint8_t>{0, 0, 0, 0}));

    MemoryStream broken;
    broken.fail_write = 0;
    Transport b = over(&broken);
    vnb_set_error("untouched");
    EXPECT_EQ(nbss_write(&b, nullptr, 0), -1);
    EXPECT_STREQ(vnb_error(), "untouched");
}

TEST(NbssWrite, OversizedMessageWritesNothing)
{
    MemoryStream m;
    Transport t = over(&m);
    std::vector<uint8_t> msg(kMaxFrame + 1);
    EXPECT_EQ(nbss_write(&t, msg.data(), msg.size()), -7);
    EXPECT_STREQ(vnb_error(), "frame larger than 4194304 bytes");
    EXPECT_TRUE(m.writes.empty());
}

TEST(NbssWrite, FailedWriteOfEitherPart)
{
    for (int failing : {0, 1}) {
        SCOPED_TRACE(failing);
        MemoryStream m;
        m.fail_write = failing;
        Transport t = over(&m);
        uint8_t msg[40] = {};
        EXPECT_EQ(nbss_write(&t, msg, sizeof msg), -1);
        EXPECT_STREQ(vnb_error(), "write failed");
        EXPECT_EQ(m.writes.size(), static_cast<size_t>(failing));
    }
}

TEST(NbssHeader, GatheredFromAsManyReadsAsItTakes)
{
    struct Case {
        size_t chunk;
        std::vector<size_t> asks;
    };
    const Case cases[] = {
        {4, {4}},
        {3, {4, 1}},
        {2, {4, 2}},
        {1, {4, 3, 2, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.chunk);
        MemoryStream m;
        m.in = {0x00, 0x01, 0x02, 0x03, 0xEE};
        m.chunk = c.chunk;
        Transport t = over(&m);
        uint32_t len = 0;
        ASSERT_EQ(nbss_read_header(&t, 1000, &len), 0) << vnb_error();
        EXPECT_EQ(len, 0x010203u);
        EXPECT_EQ(m.asks, c.asks);
        EXPECT_EQ(m.pos, 4u);  // nothing of the message is taken
        for (int timeout : m.timeouts)
            EXPECT_LE(timeout, 1000);
    }
}

TEST(NbssHeader, IncompleteOrBadHeaders)
{
    struct Case {
        const char *name;
        std::vector<uint8_t> in;
        size_t chunk;
        int at_end;
        int32_t code;
        const char *text;
    };
    const Case cases[] = {
        {"nothing, peer closed", {}, 4, 0, -1, "no NBSS header from the peer"},
        {"three bytes, peer closed", {0, 0, 0}, 1, 0, -1, "no NBSS header from the peer"},
        {"two bytes, then a time-out", {0, 0}, 2, -2, -1, "timed out: no reply from the server in time"},
        {"one byte, then an error", {0}, 4, -1, -1, "no NBSS header from the peer"},
        {"type byte in a split header", {0x85, 0, 0, 0}, 1, 0, -2, "NBSS type byte 85"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        MemoryStream m;
        m.in = c.in;
        m.chunk = c.chunk;
        m.at_end = c.at_end;
        Transport t = over(&m);
        uint32_t len = 0xDEAD;
        EXPECT_EQ(nbss_read_header(&t, 100, &len), c.code);
        EXPECT_STREQ(vnb_error(), c.text);
        EXPECT_EQ(len, 0xDEADu);
    }
}

// A transport that claims more bytes than it was asked for is not believed.
TEST(NbssHeader, OverlongReadIsRefused)
{
    auto liar = [](void *, uint8_t *buf, size_t cap, int) {
        std::fill_n(buf, cap, 0);
        return static_cast<int>(cap) + 1;
    };
    Transport t{nullptr, nullptr, mem_write, liar, nullptr};
    uint32_t len = 0;
    EXPECT_EQ(nbss_read_header(&t, 100, &len), -1);
    EXPECT_STREQ(vnb_error(), "no NBSS header from the peer");
}

TEST(ReadExact, CapacityGrowsByDoublingOnce)
{
    struct Case {
        uint64_t start_cap;  // 0: an empty buffer
        uint32_t len;
        uint64_t want_cap;
    };
    const Case cases[] = {
        {0, 100, 1024},  {0, 1023, 1024}, {0, 1024, 2048},  {0, 5000, 8192},
        {0, 0, 1024},    {256, 1000, 1024}, {3000, 5000, 6000}, {8192, 100, 8192},
        {0, kMaxFrame, 8388608},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.start_cap << " / " << c.len);
        MemoryStream m;
        m.in.assign(c.len, 0x77);
        Transport t = over(&m);
        ByteBuffer b{};
        if (c.start_cap) {
            vnb_buf_put(&b, "leftover", 8);
            b.data = static_cast<uint8_t *>(std::realloc(b.data, c.start_cap));
            b.cap = c.start_cap;
        }
        ASSERT_EQ(read_exact(&t, &b, c.len, 1000), 0) << vnb_error();
        EXPECT_EQ(b.cap, c.want_cap);
        ASSERT_EQ(b.len, c.len);
        EXPECT_EQ(b.data[b.len], 0);
        if (c.len) {
            EXPECT_EQ(b.data[0], 0x77);
        }
        vnb_buf_free(&b);
    }
}

TEST(ReadExact, ReadsInChunksOfAtMost64KiB)
{
    MemoryStream m;
    m.in.assign(150000, 0x42);
    m.chunk = 100000;  // the transport could hand out more than asked for
    Transport t = over(&m);
    ByteBuffer b{};
    ASSERT_EQ(read_exact(&t, &b, 150000, 777), 0);
    EXPECT_EQ(m.asks, (std::vector<size_t>{65536, 65536, 18928}));
    EXPECT_EQ(m.timeouts, (std::vector<int>{777, 777, 777}));
    vnb_buf_free(&b);

    MemoryStream trickle;
    trickle.in = {1, 2, 3, 4, 5};
    trickle.chunk = 2;
    Transport slow = over(&trickle);
    ASSERT_EQ(read_exact(&slow, &b, 5, 100), 0);
    EXPECT_EQ(std::vector<uint8_t>(b.data, b.data + b.len), trickle.in);
    vnb_buf_free(&b);
}

TEST(ReadExact, Failures)
{
    struct Case {
        uint32_t len;
        int at_end;
        int32_t code;
        const char *text;
    };
    const Case cases[] = {
        {100, 0, -1, "connection closed by the peer"},
        {100, -2, -1, "timed out: no reply within 150 ms"},
        {100, -1, -1, "read failed"},
        {100, -5, -1, "read failed"},
        {kMaxFrame + 1, 0, -7, "the peer announced a 4194305-byte frame"},
        {0xFFFFFFFF, 0, -7, "the peer announced a 4294967295-byte frame"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        MemoryStream m;
        m.in.assign(40, 1);
        m.at_end = c.at_end;
        Transport t = over(&m);
        ByteBuffer b{};
        EXPECT_EQ(read_exact(&t, &b, c.len, 150), c.code);
        EXPECT_STREQ(vnb_error(), c.text);
        vnb_buf_free(&b);
    }
}

TEST(ReadExact, FailedBufferIsOutOfMemory)
{
    MemoryStream m;
    m.in.assign(10, 1);
    Transport t = over(&m);
    ByteBuffer b{};
    b.failed = 1;
    EXPECT_EQ(read_exact(&t, &b, 10, 100), -11);
    EXPECT_STREQ(vnb_error(), "out of memory");
    EXPECT_TRUE(m.asks.empty());
}

}  // namespace
