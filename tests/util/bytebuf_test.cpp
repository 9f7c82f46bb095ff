#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "util/bytebuf.h"

namespace {

struct GrowthCase {
    uint64_t first;      // bytes of the first append
    uint64_t second;     // bytes of a second append (0: none)
    uint64_t want_cap;
};

TEST(ByteBuffer, EmptyAppendAllocatesFirstBlock)
{
    ByteBuffer b{};
    vnb_buf_put(&b, nullptr, 0);
    ASSERT_NE(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 256u);
    EXPECT_EQ(b.data[0], 0);
    vnb_buf_free(&b);
}

TEST(ByteBuffer, GrowsByDoublingFrom256)
{
    const GrowthCase cases[] = {
        {255, 0, 256},    // 255 + NUL fits the first block
        {256, 0, 512},    // the NUL needs the 257th byte
        {256, 256, 1024}, // 513 bytes in all
        {1000, 0, 1024},
        {5000, 0, 8192},
    };
    for (const GrowthCase &c : cases) {
        ByteBuffer b{};
        std::string first(c.first, 'x');
        vnb_buf_put(&b, first.data(), first.size());
        if (c.second) {
            std::string second(c.second, 'y');
            vnb_buf_put(&b, second.data(), second.size());
        }
        EXPECT_EQ(b.cap, c.want_cap) << c.first << "+" << c.second;
        EXPECT_EQ(b.len, c.first + c.second);
        EXPECT_EQ(b.data[b.len], 0);
        EXPECT_FALSE(b.failed);
        vnb_buf_free(&b);
    }
}

TEST(ByteBuffer, ContentSurvivesGrowth)
{
    ByteBuffer b{};
    for (int i = 0; i < 3000; ++i)
        vnb_buf_byte(&b, i);
    ASSERT_EQ(b.len, 3000u);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(b.data[i], uint8_t(i)) << i;
    vnb_buf_free(&b);
}

TEST(ByteBuffer, FailureIsStickyUntilFree)
{
    ByteBuffer b{};
    vnb_buf_str(&b, "abc");
    // Growth past 2^32 bytes is refused without touching the content.
    EXPECT_EQ(buf_reserve(&b, uint64_t{1} << 32), -1);
    EXPECT_TRUE(b.failed);
    EXPECT_EQ(b.len, 3u);
    EXPECT_STREQ(reinterpret_cast<char *>(b.data), "abc");
    // Even an append that fits the existing block does nothing now.
    vnb_buf_byte(&b, 'd');
    vnb_buf_printf(&b, "%d", 5);
    EXPECT_EQ(b.len, 3u);
    EXPECT_EQ(buf_reserve(&b, 1), -1);
    vnb_buf_free(&b);
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.len, 0u);
    EXPECT_EQ(b.cap, 0u);
    EXPECT_EQ(b.failed, 0);
    vnb_buf_byte(&b, 'z');
    EXPECT_EQ(b.len, 1u);
    EXPECT_EQ(b.data[0], 'z');
    vnb_buf_free(&b);
}

TEST(ByteBuffer, ReserveBoundaryAt4GiB)
{
    // The largest block is 2^32 bytes: content that needs one byte more
    // fails before any allocation is attempted.
    ByteBuffer b{};
    b.cap = uint64_t{1} << 31;  // pretend; no allocation is reached when it fails
    b.len = (uint64_t{1} << 32);
    EXPECT_EQ(buf_reserve(&b, 0), -1);
    EXPECT_TRUE(b.failed);
}

TEST(ByteBuffer, PrintfShortAndLongPaths)
{
    for (size_t n : {size_t{0}, size_t{10}, size_t{511}, size_t{512}, size_t{4000}}) {
        ByteBuffer b{};
        vnb_buf_str(&b, "<");
        std::string text(n, 'q');
        vnb_buf_printf(&b, "%s|%d", text.c_str(), 42);
        std::string want = "<" + text + "|42";
        ASSERT_EQ(b.len, want.size()) << n;
        EXPECT_EQ(std::string(reinterpret_cast<char *>(b.data), b.len), want);
        EXPECT_EQ(b.data[b.len], 0);
        vnb_buf_free(&b);
    }
}

TEST(ByteBuffer, PrintfExactly511And512)
{
    for (size_t n : {size_t{511}, size_t{512}}) {
        ByteBuffer b{};
        std::string text(n, 'r');
        vnb_buf_printf(&b, "%s", text.c_str());
        EXPECT_EQ(b.len, n);
        EXPECT_EQ(b.data[n], 0);
        EXPECT_EQ(std::memcmp(b.data, text.data(), n), 0);
        vnb_buf_free(&b);
    }
}

TEST(ByteBuffer, IntegerWriters)
{
    ByteBuffer b{};
    vnb_w16(&b, 0x1234);
    vnb_w32(&b, 0xA1B2C3D4);
    vnb_w64(&b, 0x0102030405060708ull);
    vnb_w16be(&b, 0xBEEF);
    const uint8_t want[] = {0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 0x08, 0x07, 0x06, 0x05,
                            0x04, 0x03, 0x02, 0x01, 0xBE, 0xEF};
    ASSERT_EQ(b.len, sizeof want);
    EXPECT_EQ(std::memcmp(b.data, want, sizeof want), 0);
    vnb_buf_free(&b);
}

TEST(ByteBuffer, CallerMayTakeTheBlockOver)
{
    ByteBuffer b{};
    vnb_buf_str(&b, "kept");
    uint8_t *block = b.data;
    b = ByteBuffer{};
    EXPECT_STREQ(reinterpret_cast<char *>(block), "kept");
    free(block);
}

}  // namespace
