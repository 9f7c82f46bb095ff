#include "crypto/crypto.h"
#include "hex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

struct MacCase {
    const char *name;
    std::vector<uint8_t> key;
    std::vector<uint8_t> data;
    const char *expect; // a prefix of the MAC when the document gives a truncated value
};

std::vector<uint8_t> key_01_to_19()
{
    std::vector<uint8_t> k;
    for (uint8_t b = 1; b <= 25; b++)
        k.push_back(b);
    return k;
}

std::string hmac256_hex(const std::vector<uint8_t> &key, const std::vector<uint8_t> &data)
{
    uint8_t out[32];
    vnb_hmac256(key.data(), key.size(), data.data(), data.size(), out);
    return to_hex(out, 32);
}

std::string hmacmd5_hex(const std::vector<uint8_t> &key, const std::vector<uint8_t> &data)
{
    uint8_t out[16];
    vnb_hmacmd5(key.data(), key.size(), data.data(), data.size(), out);
    return to_hex(out, 16);
}

} // namespace

TEST(HmacSha256, Rfc4231Cases)
{
    const MacCase cases[] = {
        {"case 1", repeat(0x0b, 20), bytes_of("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"case 2", bytes_of("Jefe"), bytes_of("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"case 3", repeat(0xaa, 20), repeat(0xdd, 50),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {"case 4", key_01_to_19(), repeat(0xcd, 50),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        // The document gives only the first 128 bits.
        {"case 5", repeat(0x0c, 20), bytes_of("Test With Truncation"), "a3b6167473100ee06e0c796c2955552b"},
        {"case 6", repeat(0xaa, 131), bytes_of("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"case 7", repeat(0xaa, 131),
         bytes_of("This is a test using a larger than block-size key and a larger than block-size data. "
                  "The key needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    for (const auto &c : cases) {
        std::string mac = hmac256_hex(c.key, c.data);
        EXPECT_EQ(mac.substr(0, std::strlen(c.expect)), c.expect) << c.name;
    }
}

TEST(HmacMd5, Rfc2202Cases)
{
    const MacCase cases[] = {
        {"case 1", repeat(0x0b, 16), bytes_of("Hi There"), "9294727a3638bb1c13f48ef8158bfc9d"},
        {"case 2", bytes_of("Jefe"), bytes_of("what do ya want for nothing?"), "750c783e6ab0b503eaa86e310a5db738"},
        {"case 3", repeat(0xaa, 16), repeat(0xdd, 50), "56be34521d144c88dbb8c733f0e8b3f6"},
        {"case 4", key_01_to_19(), repeat(0xcd, 50), "697eaf0aca3a3aea3a75164746ffaa79"},
        {"case 5", repeat(0x0c, 16), bytes_of("Test With Truncation"), "56461ef2342edc00f9bab995690efd4c"},
        {"case 6", repeat(0xaa, 80), bytes_of("Test Using Larger Than Block-Size Key - Hash Key First"),
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {"case 7", repeat(0xaa, 80),
         bytes_of("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data"),
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(hmacmd5_hex(c.key, c.data), c.expect) << c.name;
}

// The whole MAC is written, and nothing after it.
TEST(Hmac, WritesTheFullMacAndNoMore)
{
    const auto key = repeat(0x0c, 20);
    const auto data = bytes_of("Test With Truncation");
    for (uint8_t fill : {0x00, 0xff}) {
        uint8_t out[48];
        std::fill(std::begin(out), std::end(out), fill);
        vnb_hmac256(key.data(), key.size(), data.data(), data.size(), out);
        EXPECT_EQ(to_hex(out, 32), "a3b6167473100ee06e0c796c2955552bfa6f7c0a6a8aef8b93f860aab0cd20c5");
        EXPECT_TRUE(std::all_of(out + 32, std::end(out), [&](uint8_t b) { return b == fill; }));

        std::fill(std::begin(out), std::end(out), fill);
        vnb_hmacmd5(key.data(), 16, data.data(), data.size(), out);
        EXPECT_EQ(to_hex(out, 16), "56461ef2342edc00f9bab995690efd4c");
        EXPECT_TRUE(std::all_of(out + 16, std::end(out), [&](uint8_t b) { return b == fill; }));
    }
}

TEST(Hmac, LongKeyEqualsItsDigestAsKey)
{
    const auto data = bytes_of("message");
    for (size_t key_len : {65u, 131u, 200u}) {
        std::vector<uint8_t> key(key_len);
        for (size_t k = 0; k < key_len; k++)
            key[k] = static_cast<uint8_t>(k * 31 + 1);

        std::vector<uint8_t> sha_key(32);
        vnb_sha256(key.data(), key.size(), sha_key.data());
        EXPECT_EQ(hmac256_hex(key, data), hmac256_hex(sha_key, data)) << key_len;

        std::vector<uint8_t> md5_key(16);
        vnb_md5(key.data(), key.size(), md5_key.data());
        EXPECT_EQ(hmacmd5_hex(key, data), hmacmd5_hex(md5_key, data)) << key_len;
    }
}

// Keys up to the block size are zero-filled, not hashed: a key and the same
// key with zero bytes appended up to 64 give the same MAC.
TEST(Hmac, ShortKeysAreZeroFilledToTheBlock)
{
    const auto data = bytes_of("message");
    auto key = bytes_of("short key");
    auto padded = key;
    padded.resize(64, 0);
    EXPECT_EQ(hmac256_hex(key, data), hmac256_hex(padded, data));
    EXPECT_EQ(hmacmd5_hex(key, data), hmacmd5_hex(padded, data));

    // The empty key, NULL included, is 64 zero bytes.
    uint8_t out[32];
    vnb_hmac256(nullptr, 0, data.data(), data.size(), out);
    EXPECT_EQ(to_hex(out, 32), hmac256_hex(repeat(0, 64), data));
    vnb_hmacmd5(nullptr, 0, data.data(), data.size(), out);
    EXPECT_EQ(to_hex(out, 16), hmacmd5_hex(repeat(0, 64), data));

    // A 65-byte key is hashed, so appending a zero byte past 64 changes the MAC.
    auto long_key = padded;
    long_key.push_back(0);
    EXPECT_NE(hmac256_hex(long_key, data), hmac256_hex(padded, data));
    EXPECT_NE(hmacmd5_hex(long_key, data), hmacmd5_hex(padded, data));
}

TEST(Hmac, StreamingEqualsOneShot)
{
    const auto key = bytes_of("Jefe");
    std::vector<uint8_t> data(150);
    for (size_t k = 0; k < data.size(); k++)
        data[k] = static_cast<uint8_t>(k ^ 0x5a);
    const std::string whole256 = hmac256_hex(key, data);
    const std::string whole_md5 = hmacmd5_hex(key, data);

    for (size_t split : {0, 1, 55, 63, 64, 65, 100, 128, 149, 150}) {
        Hmac256Ctx c;
        vnb_hmac256_init(&c, key.data(), key.size());
        vnb_hmac256_update(&c, data.data(), split);
        vnb_hmac256_update(&c, data.data() + split, data.size() - split);
        uint8_t out[32];
        vnb_hmac256_final(&c, out);
        EXPECT_EQ(to_hex(out, 32), whole256) << "split at " << split;

        HmacMd5Ctx m;
        vnb_hmacmd5_init(&m, key.data(), key.size());
        vnb_hmacmd5_update(&m, data.data(), split);
        vnb_hmacmd5_update(&m, data.data() + split, data.size() - split);
        vnb_hmacmd5_final(&m, out);
        EXPECT_EQ(to_hex(out, 16), whole_md5) << "split at " << split;
    }
}
