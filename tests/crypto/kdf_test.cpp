#include "crypto/crypto.h"
#include "hex.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::vector<uint8_t> ZERO_KEY(16, 0);
const char LABEL[] = "SMB2AESCMAC";
const std::vector<uint8_t> CONTEXT = bytes_of(std::string_view("SmbSign\0", 8));

std::string derive_hex(const char *label, const std::vector<uint8_t> &context, size_t n)
{
    std::vector<uint8_t> out(n);
    vnb_kdf_ctr_hmacsha256(ZERO_KEY.data(), ZERO_KEY.size(), label, context.data(), context.size(), out.data(),
                           out.size());
    return to_hex(out.data(), out.size());
}

// HMAC-SHA256 with the zero key over the bytes exactly as given.
std::string mac_hex(const std::vector<uint8_t> &msg)
{
    uint8_t out[32];
    vnb_hmac256(ZERO_KEY.data(), ZERO_KEY.size(), msg.data(), msg.size(), out);
    return to_hex(out, 32);
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> all;
    for (const auto &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::vector<uint8_t> LABEL_AND_NUL = bytes_of(std::string_view(LABEL, sizeof LABEL));
const std::vector<uint8_t> LENGTH_128 = {0, 0, 0, 0x80};

} // namespace

TEST(Kdf, SmbSigningKeyVector)
{
    EXPECT_EQ(derive_hex(LABEL, CONTEXT, 16), "0d7203b6f675f05ec74d9706141e0cac");
}

TEST(Kdf, FortyBytesAreTwoBlocksWithLengthField128)
{
    const std::string out = derive_hex(LABEL, CONTEXT, 40);
    EXPECT_EQ(out, "0d7203b6f675f05ec74d9706141e0cac327efb6b9cedf262ba9fe74d0b7d6088d2de084bc15909b0");

    const std::string block1 = mac_hex(concat({{0, 0, 0, 1}, LABEL_AND_NUL, CONTEXT, LENGTH_128}));
    const std::string block2 = mac_hex(concat({{0, 0, 0, 2}, LABEL_AND_NUL, CONTEXT, LENGTH_128}));
    EXPECT_EQ(out, block1 + block2.substr(0, 16));

    // The output length never enters the input, so shorter outputs are prefixes.
    for (size_t n : {1, 16, 31, 32, 33})
        EXPECT_EQ(derive_hex(LABEL, CONTEXT, n), out.substr(0, 2 * n)) << n << " bytes";
}

TEST(Kdf, NullLabelContributesNoSeparator)
{
    const std::string expect = mac_hex(concat({{0, 0, 0, 1}, CONTEXT, LENGTH_128}));
    EXPECT_EQ(derive_hex(nullptr, CONTEXT, 32), expect);
    EXPECT_EQ(derive_hex(nullptr, CONTEXT, 16), "ecfa131a651fb107c5a5b6455b8c0525");

    // The empty label still brings its NUL.
    EXPECT_EQ(derive_hex("", CONTEXT, 32), mac_hex(concat({{0, 0, 0, 1}, {0}, CONTEXT, LENGTH_128})));
    // An empty context adds nothing.
    EXPECT_EQ(derive_hex(LABEL, {}, 32), mac_hex(concat({{0, 0, 0, 1}, LABEL_AND_NUL, LENGTH_128})));
}

// The layouts that a careless derivation produces do not give the vector.
TEST(Kdf, WrongLayoutsMissTheVector)
{
    const std::vector<std::vector<uint8_t>> wrong = {
        concat({{0, 0, 0, 1}, LABEL_AND_NUL, {0}, CONTEXT, LENGTH_128}),          // second separator
        concat({{0, 0, 0, 1}, LABEL_AND_NUL, CONTEXT, {0, 0, 0, 0x20}}),          // length in bytes
        concat({{0, 0, 0, 1}, LABEL_AND_NUL, {CONTEXT.begin(), CONTEXT.end() - 1}, LENGTH_128}), // context without NUL
    };
    for (const auto &msg : wrong)
        EXPECT_NE(mac_hex(msg).substr(0, 32), "0d7203b6f675f05ec74d9706141e0cac");
}

TEST(Kdf, ZeroLengthWritesNothing)
{
    uint8_t out[8];
    std::fill(std::begin(out), std::end(out), 0xab);
    vnb_kdf_ctr_hmacsha256(ZERO_KEY.data(), ZERO_KEY.size(), LABEL, CONTEXT.data(), CONTEXT.size(), out, 0);
    EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](uint8_t b) { return b == 0xab; }));

    // A short output leaves the bytes after it alone.
    vnb_kdf_ctr_hmacsha256(ZERO_KEY.data(), ZERO_KEY.size(), LABEL, CONTEXT.data(), CONTEXT.size(), out, 3);
    EXPECT_EQ(to_hex(out, 3), "0d7203");
    EXPECT_TRUE(std::all_of(out + 3, std::end(out), [](uint8_t b) { return b == 0xab; }));
}
