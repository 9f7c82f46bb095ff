#include "crypto/crypto.h"
#include "hex.h"

#include <gtest/gtest.h>

namespace {

const uint8_t KEY_40[] = {0x01, 0x02, 0x03, 0x04, 0x05};

std::vector<uint8_t> keystream(const uint8_t *key, size_t key_len, size_t n)
{
    Rc4State st;
    vnb_rc4_init(&st, key, key_len);
    std::vector<uint8_t> out(n, 0);
    vnb_rc4(&st, out.data(), out.size());
    return out;
}

} // namespace

TEST(Rc4, Rfc6229FortyBitKey)
{
    struct At {
        size_t offset;
        const char *expect;
    };
    const At rows[] = {
        {0, "b2396305f03dc027ccc3524a0a1118a8"},    {16, "6982944f18fc82d589c403a47a0d0919"},
        {240, "28cb1132c96ce286421dcaadb8b69eae"},  {256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
        {1008, "45129048e6a0ed0b56b490338f078da5"}, {1024, "30abbcc7c20b01609f23ee2d5f6bb7df"},
    };
    const auto ks = keystream(KEY_40, sizeof KEY_40, 1040);
    for (const auto &r : rows)
        EXPECT_EQ(to_hex(ks.data() + r.offset, 16), r.expect) << "offset " << r.offset;
}

TEST(Rc4, ClassicVectors)
{
    struct Case {
        const char *key;
        const char *plain;
        const char *cipher;
    };
    const Case cases[] = {
        {"Key", "Plaintext", "bbf316e8d940af0ad3"},
        {"Wiki", "pedia", "1021bf0420"},
        {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
    };
    for (const auto &c : cases) {
        auto key = bytes_of(c.key);
        auto data = bytes_of(c.plain);
        Rc4State st;
        vnb_rc4_init(&st, key.data(), key.size());
        vnb_rc4(&st, data.data(), data.size());
        EXPECT_EQ(to_hex(data.data(), data.size()), c.cipher) << c.key;

        // A fresh state with the same key decrypts.
        vnb_rc4_init(&st, key.data(), key.size());
        vnb_rc4(&st, data.data(), data.size());
        EXPECT_EQ(data, bytes_of(c.plain)) << c.key;
    }
}

// Successive calls continue one stream, whatever the split.
TEST(Rc4, SplitCallsContinueTheStream)
{
    const auto whole = keystream(KEY_40, sizeof KEY_40, 1040);
    const std::vector<std::vector<size_t>> splits = {
        {8, 8},
        {0, 16},
        {1, 15},
        {255, 1, 1, 300, 483},
        {512, 512, 16},
    };
    for (const auto &pieces : splits) {
        Rc4State st;
        vnb_rc4_init(&st, KEY_40, sizeof KEY_40);
        std::vector<uint8_t> out;
        for (size_t n : pieces) {
            std::vector<uint8_t> part(n, 0);
            vnb_rc4(&st, part.data(), part.size());
            out.insert(out.end(), part.begin(), part.end());
        }
        ASSERT_LE(out.size(), whole.size());
        EXPECT_TRUE(std::equal(out.begin(), out.end(), whole.begin())) << "first piece " << pieces[0];
    }
}

TEST(Rc4, KeyIsUsedModuloItsLength)
{
    // A 5-byte key and the same key repeated to 256 bytes schedule identically.
    std::vector<uint8_t> long_key;
    for (int k = 0; k < 256; k++)
        long_key.push_back(KEY_40[k % 5]);
    EXPECT_EQ(keystream(long_key.data(), long_key.size(), 64), keystream(KEY_40, sizeof KEY_40, 64));

    // A one-byte key works and differs from a two-byte key sharing its first byte.
    const uint8_t one[] = {0x00};
    const uint8_t two[] = {0x00, 0x01};
    EXPECT_NE(keystream(one, 1, 16), keystream(two, 2, 16));
}
