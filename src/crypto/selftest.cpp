// Known-answer self-test over published vectors (FIPS 180-4, RFC 1321,
// RFC 1320, RFC 4231, RFC 2202, RFC 6229) and two of the library's own.
#include "crypto/crypto.h"

#include <cstring>

using namespace std::string_view_literals;

namespace {

constexpr SelftestVector VECTORS[] = {
    {SelftestKind::sha256, {}, "abc"sv, nullptr, 0,
     "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"sv},
    {SelftestKind::sha256, {}, ""sv, nullptr, 0,
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"sv},
    {SelftestKind::md5, {}, "abc"sv, nullptr, 0, "900150983cd24fb0d6963f7d28e17f72"sv},
    {SelftestKind::md4, {}, "abc"sv, nullptr, 0, "a448017aaf21d8525fc10ae87aa6729d"sv},
    {SelftestKind::md4, {}, ""sv, nullptr, 0, "31d6cfe0d16ae931b73c59d7e0c089c0"sv},
    {SelftestKind::hmac_sha256, "\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b"sv,
     "Hi There"sv, nullptr, 0, "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"sv},
    {SelftestKind::hmac_md5, "\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b"sv, "Hi There"sv,
     nullptr, 0, "9294727a3638bb1c13f48ef8158bfc9d"sv},
    {SelftestKind::rc4_inline, "\x01\x02\x03\x04\x05"sv, {}, nullptr, 16, "b2396305f03dc027ccc3524a0a1118a8"sv},
    {SelftestKind::md4, {}, "message digest"sv, nullptr, 0, "d9130a8164549fe818874806e1c7014b"sv},
    // NT hash of the test password "password" (its UTF-16LE form).
    {SelftestKind::md4, {}, "p\0a\0s\0s\0w\0o\0r\0d\0"sv, nullptr, 0, "8846f7eaee8fb117ad06bdd830b7586c"sv},
    // SMB signing-key layout: one 0x00 after the label, context with its NUL, length field 128.
    {SelftestKind::kdf, "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"sv, "SmbSign\0"sv, "SMB2AESCMAC", 16,
     "0d7203b6f675f05ec74d9706141e0cac"sv},
    {SelftestKind::hmac_sha256, "Jefe"sv, "what do ya want for nothing?"sv, nullptr, 0,
     "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"sv},
    {SelftestKind::hmac_md5, "Jefe"sv, "what do ya want for nothing?"sv, nullptr, 0,
     "750c783e6ab0b503eaa86e310a5db738"sv},
};

constexpr uint32_t MAX_OUT = 64;

// Its own copy of the key schedule and generation, so a fault in rc4.cpp
// cannot hide behind the same fault here.
bool rc4_inline(std::string_view key, uint8_t *out, uint32_t len)
{
    if (key.empty())
        return false;
    uint8_t s[256];
    for (int n = 0; n < 256; n++)
        s[n] = static_cast<uint8_t>(n);
    uint8_t j = 0;
    for (size_t n = 0; n < 256; n++) {
        j = static_cast<uint8_t>(j + s[n] + static_cast<uint8_t>(key[n % key.size()]));
        uint8_t t = s[n];
        s[n] = s[j];
        s[j] = t;
    }
    // Encrypting zero bytes leaves the key stream.
    std::memset(out, 0, len);
    uint8_t i = 0;
    j = 0;
    for (uint32_t n = 0; n < len; n++) {
        i = static_cast<uint8_t>(i + 1);
        j = static_cast<uint8_t>(j + s[i]);
        uint8_t t = s[i];
        s[i] = s[j];
        s[j] = t;
        out[n] ^= s[static_cast<uint8_t>(s[i] + s[j])];
    }
    vnb_wipe(s, sizeof s);
    return true;
}

// Computes one vector's result into out; 0 bytes when it cannot be computed.
uint32_t compute(const SelftestVector &v, uint8_t out[MAX_OUT])
{
    switch (v.kind) {
    case SelftestKind::sha256: {
        Sha256Ctx c;
        vnb_sha256_init(&c);
        vnb_sha256_update(&c, v.data.data(), v.data.size());
        vnb_sha256_final(&c, out);
        return 32;
    }
    case SelftestKind::md5:
        vnb_md5(v.data.data(), v.data.size(), out);
        return 16;
    case SelftestKind::md4:
        vnb_md4(v.data.data(), v.data.size(), out);
        return 16;
    case SelftestKind::hmac_sha256:
        vnb_hmac256(v.key.data(), v.key.size(), v.data.data(), v.data.size(), out);
        return 32;
    case SelftestKind::hmac_md5:
        vnb_hmacmd5(v.key.data(), v.key.size(), v.data.data(), v.data.size(), out);
        return 16;
    case SelftestKind::rc4_inline:
        if (v.out_len > MAX_OUT || !rc4_inline(v.key, out, v.out_len))
            return 0;
        return v.out_len;
    case SelftestKind::kdf:
        if (v.out_len > MAX_OUT)
            return 0;
        vnb_kdf_ctr_hmacsha256(v.key.data(), v.key.size(), v.label, v.data.data(), v.data.size(), out,
                               v.out_len);
        return v.out_len;
    }
    return 0;
}

bool matches(const SelftestVector &v)
{
    static constexpr char DIGITS[] = "0123456789abcdef";
    uint8_t out[MAX_OUT];
    uint32_t n = compute(v, out);
    if (n == 0)
        return false;
    char hex[2 * MAX_OUT];
    for (uint32_t k = 0; k < n; k++) {
        hex[2 * k] = DIGITS[out[k] >> 4];
        hex[2 * k + 1] = DIGITS[out[k] & 0x0f];
    }
    return std::string_view(hex, 2 * n) == v.expect;
}

} // namespace

std::span<const SelftestVector> vnb_selftest_vectors()
{
    return VECTORS;
}

int vnb_selftest_run_table(std::span<const SelftestVector> table)
{
    // Every vector runs, even after a failure.
    int first_failure = 0;
    for (size_t n = 0; n < table.size(); n++) {
        if (!matches(table[n]) && first_failure == 0)
            first_failure = static_cast<int>(n) + 1;
    }
    return -first_failure;
}

int vnb_selftest_run()
{
    return vnb_selftest_run_table(VECTORS);
}
