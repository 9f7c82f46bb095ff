#include "crypto/crypto.h"
#include "hex.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct DigestCase {
    std::string message;
    const char *expect;
};

std::string sha256_hex(const std::string &m)
{
    uint8_t out[32];
    vnb_sha256(m.data(), m.size(), out);
    return to_hex(out, 32);
}

std::string md5_hex(const std::string &m)
{
    uint8_t out[16];
    vnb_md5(m.data(), m.size(), out);
    return to_hex(out, 16);
}

std::string md4_hex(const std::string &m)
{
    uint8_t out[16];
    vnb_md4(m.data(), m.size(), out);
    return to_hex(out, 16);
}

const std::string A_TO_Z = "abcdefghijklmnopqrstuvwxyz";
const std::string ALNUM = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const std::string DIGITS_80 = [] {
    std::string s;
    for (int k = 0; k < 8; k++)
        s += "1234567890";
    return s;
}();

} // namespace

TEST(Sha256, Fips180Examples)
{
    const DigestCase cases[] = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        // 448 bits: the length no longer fits the first block, padding takes a second.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sha256_hex(c.message), c.expect) << '"' << c.message << '"';
}

TEST(Sha256, OneMillionA)
{
    const char *expect = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
    EXPECT_EQ(sha256_hex(std::string(1000000, 'a')), expect);

    // The same message streamed in uneven pieces (1000000 = 7 * 142857 + 1).
    const std::string piece(142857, 'a');
    Sha256Ctx c;
    vnb_sha256_init(&c);
    for (int k = 0; k < 7; k++)
        vnb_sha256_update(&c, piece.data(), piece.size());
    vnb_sha256_update(&c, "a", 1);
    uint8_t out[32];
    vnb_sha256_final(&c, out);
    EXPECT_EQ(to_hex(out, 32), expect);
}

TEST(Sha256, LengthsAroundTheBlockEnd)
{
    const DigestCase cases[] = {
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
        {std::string(128, 'a'), "6836cf13bac400e9105071cd6af47084dfacad4e5e302c94bfed24e013afb73e"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sha256_hex(c.message), c.expect) << c.message.size() << " bytes";
}

TEST(Sha256, StreamingEqualsOneShot)
{
    std::string message;
    for (int k = 0; k < 200; k++)
        message += static_cast<char>(k * 7 + 3);
    const std::string whole = sha256_hex(message);

    // Two pieces, split at every point that matters to the 64-byte buffer.
    for (size_t split : {0, 1, 3, 55, 56, 63, 64, 65, 127, 128, 129, 199, 200}) {
        Sha256Ctx c;
        vnb_sha256_init(&c);
        vnb_sha256_update(&c, message.data(), split);
        vnb_sha256_update(&c, nullptr, 0);
        vnb_sha256_update(&c, message.data() + split, message.size() - split);
        uint8_t out[32];
        vnb_sha256_final(&c, out);
        EXPECT_EQ(to_hex(out, 32), whole) << "split at " << split;
    }

    // Pieces of every size from 1 to 70, cycling.
    Sha256Ctx c;
    vnb_sha256_init(&c);
    size_t at = 0;
    for (size_t piece = 1; at < message.size(); piece = piece % 70 + 1) {
        size_t n = std::min(piece, message.size() - at);
        vnb_sha256_update(&c, message.data() + at, n);
        at += n;
    }
    uint8_t out[32];
    vnb_sha256_final(&c, out);
    EXPECT_EQ(to_hex(out, 32), whole);
}

TEST(Sha256, AbcInThreeOneByteUpdates)
{
    Sha256Ctx c;
    vnb_sha256_init(&c);
    vnb_sha256_update(&c, "a", 1);
    vnb_sha256_update(&c, "b", 1);
    vnb_sha256_update(&c, "c", 1);
    uint8_t out[32];
    vnb_sha256_final(&c, out);
    EXPECT_EQ(to_hex(out, 32), sha256_hex("abc"));
}

TEST(Md5, Rfc1321Suite)
{
    const DigestCase cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {A_TO_Z, "c3fcd3d76192e4007dfb496cca67e13b"},
        {ALNUM, "d174ab98d277d9f5a5611c2c9f419d9f"},
        {DIGITS_80, "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(md5_hex(c.message), c.expect) << '"' << c.message << '"';
}

TEST(Md5, LengthsAroundTheBlockEnd)
{
    const DigestCase cases[] = {
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
        {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
        {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
        {std::string(128, 'a'), "e510683b3f5ffe4093d021808bc6ff70"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(md5_hex(c.message), c.expect) << c.message.size() << " bytes";
}

// The same split points through the steps every hash has (crypto.h's hash
// descriptions, as HMAC drives them).
template <typename Hash>
void expect_steps_equal_one_call(void (*one_call)(const void *, uint64_t, uint8_t *))
{
    std::string message;
    for (int k = 0; k < 200; k++)
        message += static_cast<char>(k * 7 + 3);
    uint8_t whole[Hash::kDigest];
    one_call(message.data(), message.size(), whole);
    for (size_t split : {0, 1, 3, 55, 56, 63, 64, 65, 127, 128, 129, 199, 200}) {
        typename Hash::Ctx c;
        Hash::init(&c);
        Hash::update(&c, message.data(), split);
        Hash::update(&c, nullptr, 0);
        Hash::update(&c, message.data() + split, message.size() - split);
        uint8_t out[Hash::kDigest];
        Hash::final(&c, out);
        EXPECT_EQ(to_hex(out, Hash::kDigest), to_hex(whole, Hash::kDigest)) << "split at " << split;
    }
}

TEST(Digests, StepsEqualOneCall)
{
    expect_steps_equal_one_call<Md5Hash>(vnb_md5);
    expect_steps_equal_one_call<Sha256Hash>(vnb_sha256);
}

TEST(Md4, Rfc1320Suite)
{
    const DigestCase cases[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {A_TO_Z, "d79e1c308aa5bbcdeea8ed63df412da9"},
        {ALNUM, "043f8582f241db351ce627e153e7f0e4"},
        {DIGITS_80, "e33b4ddc9c38f2199c3e7b164fcc0536"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(md4_hex(c.message), c.expect) << '"' << c.message << '"';
}

TEST(Md4, NtHashOfPassword)
{
    // "password" as UTF-16LE.
    const std::string utf16 = std::string("p\0a\0s\0s\0w\0o\0r\0d\0", 16);
    EXPECT_EQ(md4_hex(utf16), "8846f7eaee8fb117ad06bdd830b7586c");
}

TEST(Digests, WriteExactlyTheirOutputSize)
{
    struct Sized {
        const char *name;
        void (*fn)(const void *, uint64_t, uint8_t *);
        size_t size;
    };
    const Sized digests[] = {
        {"sha256", [](const void *p, uint64_t n, uint8_t *o) { vnb_sha256(p, n, o); }, 32},
        {"md5", [](const void *p, uint64_t n, uint8_t *o) { vnb_md5(p, n, o); }, 16},
        {"md4", [](const void *p, uint64_t n, uint8_t *o) { vnb_md4(p, n, o); }, 16},
    };
    for (const auto &d : digests) {
        uint8_t out[40];
        std::fill(std::begin(out), std::end(out), 0xee);
        d.fn("abc", 3, out);
        for (size_t k = d.size; k < sizeof out; k++)
            EXPECT_EQ(out[k], 0xee) << d.name << " wrote byte " << k;
    }
}
