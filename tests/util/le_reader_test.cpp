// The bounds-checked little-endian reader: cursor reads, absolute reads and
// blocks that a field points at.
#include <gtest/gtest.h>

#include <array>

#include "util/le_reader.h"

namespace {

constexpr std::array<uint8_t, 10> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A};

TEST(LeReader, CursorReadsAreLittleEndianAndFailSticky)
{
    LeReader r(kBytes.data(), kBytes.size());
    EXPECT_EQ(0x01, r.u8());
    EXPECT_EQ(0x0302, r.u16());
    EXPECT_EQ(0x07060504u, r.u32());
    EXPECT_EQ(3u, r.left());
    EXPECT_FALSE(r.failed);
    EXPECT_EQ(0u, r.u32());  // only 3 bytes left
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(0, r.u8());    // stays failed although a byte is there
    EXPECT_EQ(0u, r.left());
}

TEST(LeReader, AbsoluteReads)
{
    struct {
        size_t offset;
        size_t n;
        bool inside;
    } cases[] = {
        {0, 10, true}, {9, 1, true}, {10, 0, true}, {10, 1, false}, {11, 0, false}, {2, SIZE_MAX, false},
        {SIZE_MAX, 2, false},
    };
    for (const auto &tc : cases) {
        SCOPED_TRACE(testing::Message() << tc.offset << "+" << tc.n);
        LeReader r(kBytes.data(), kBytes.size());
        // peek and block leave the reader usable whatever they find.
        EXPECT_EQ(tc.inside, r.peek(tc.offset, tc.n) != nullptr);
        std::span<const uint8_t> b = r.block(tc.offset, tc.n);
        EXPECT_EQ(tc.inside ? tc.n : 0, b.size());
        EXPECT_FALSE(r.failed);
        // at fails the reader for a block outside.
        EXPECT_EQ(tc.inside, r.at(tc.offset, tc.n) != nullptr);
        EXPECT_EQ(!tc.inside, r.failed);
    }
    LeReader r(kBytes.data(), kBytes.size());
    EXPECT_EQ(0x0A09080706050403ull, r.u64_at(2));
    EXPECT_EQ(0u, r.u16_at(9));
    EXPECT_TRUE(r.failed);
}

TEST(LeReader, SpanAndNullSources)
{
    LeReader whole{std::span<const uint8_t>(kBytes)};
    EXPECT_EQ(10u, whole.size());
    whole.seek(8);
    EXPECT_EQ(0x0A09, whole.u16());
    whole.seek(11);
    EXPECT_TRUE(whole.failed);

    LeReader none(nullptr, 100);  // a NULL source holds no bytes
    EXPECT_EQ(0u, none.size());
    EXPECT_EQ(nullptr, none.peek(0, 1));
    EXPECT_NE(nullptr, LeReader(kBytes.data(), 0).peek(0, 0));
}

}  // namespace
