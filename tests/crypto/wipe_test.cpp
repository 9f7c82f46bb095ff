#include "crypto/crypto.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

TEST(Wipe, ClearsExactlyTheArea)
{
    uint8_t area[40];
    std::memset(area, 0x5a, sizeof area);
    vnb_wipe(area + 4, 32);
    EXPECT_TRUE(std::all_of(area + 4, area + 36, [](uint8_t b) { return b == 0; }));
    for (int k : {0, 1, 2, 3, 36, 37, 38, 39})
        EXPECT_EQ(area[k], 0x5a) << "byte " << k;

    vnb_wipe(area, 0);
    EXPECT_EQ(area[0], 0x5a);
    vnb_wipe(nullptr, 0);
}

TEST(Wipe, ClearsAStructHoldingAKey)
{
    Hmac256Ctx c;
    vnb_hmac256_init(&c, "key", 3);
    vnb_wipe(&c, sizeof c);
    const auto *p = reinterpret_cast<const uint8_t *>(&c);
    EXPECT_TRUE(std::all_of(p, p + sizeof c, [](uint8_t b) { return b == 0; }));
}

TEST(CtEqual, ComparesEveryByte)
{
    struct Case {
        const char *name;
        const char *a;
        const char *b;
        uint64_t len;
        int expect;
    };
    const Case cases[] = {
        {"equal", "0123456789abcdef", "0123456789abcdef", 16, 1},
        {"last byte differs", "0123456789abcdef", "0123456789abcdeF", 16, 0},
        {"first byte differs", "0123456789abcdef", "x123456789abcdef", 16, 0},
        {"one bit differs", "0123", "1123", 4, 0},
        {"difference past the length", "0123456789abcdef", "0123456789abcdeF", 15, 1},
        {"length 0", "a", "b", 0, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vnb_ct_equal(c.a, c.b, c.len), c.expect) << c.name;
    EXPECT_EQ(vnb_ct_equal(nullptr, nullptr, 0), 1);
}

TEST(CtEqual, HighBitDifferences)
{
    // Differences only in the top bit must not be lost when folded together.
    uint8_t a[32] = {};
    uint8_t b[32] = {};
    for (size_t k = 0; k < sizeof a; k++) {
        b[k] = 0x80;
        EXPECT_EQ(vnb_ct_equal(a, b, sizeof a), 0) << "byte " << k;
        b[k] = 0;
    }
    EXPECT_EQ(vnb_ct_equal(a, b, sizeof a), 1);
}
