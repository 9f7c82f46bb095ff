#include "crypto/crypto.h"
#include "hex.h"

#include <gtest/gtest.h>

namespace {

std::string encrypt_hex(const char *key, const char *plain)
{
    auto k = from_hex(key);
    auto p = from_hex(plain);
    uint8_t out[8];
    vnb_des_encrypt(k.data(), p.data(), out);
    return to_hex(out, sizeof out);
}

}  // namespace

TEST(Des, KnownBlocks)
{
    struct Case {
        const char *key;
        const char *plain;
        const char *cipher;
    } cases[] = {
        {"133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
        {"0000000000000000", "0000000000000000", "8ca64de9c1b123a7"},
        {"ffffffffffffffff", "ffffffffffffffff", "7359b2163e4edc58"},
        {"0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
        {"fedcba9876543210", "0123456789abcdef", "ed39d950fa74bcc4"},
        // Parity bits do not count.
        {"123556789abddef0", "0123456789abcdef", "85e813540f0ab405"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(encrypt_hex(c.key, c.plain), c.cipher) << c.key;
}

TEST(Des, SevenByteKeysSpreadOverEight)
{
    // "KGS!@#$%" under the first half of "PASSWORD" padded: the LAN Manager
    // hash of "Password" begins with it.
    const uint8_t key7[7] = {'P', 'A', 'S', 'S', 'W', 'O', 'R'};
    const uint8_t magic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
    uint8_t out[8];
    vnb_des56_encrypt(key7, magic, out);
    EXPECT_EQ(to_hex(out, 8), "e52cac67419a9a22");

    uint8_t spread[8];
    vnb_des_key_from_56(key7, spread);
    EXPECT_EQ(to_hex(spread, 8), "5020546a34ba3ca4");
}
