// Client-side NTLM: NEGOTIATE bytes, CHALLENGE parsing, AUTHENTICATE layout,
// bare NTLMv2 responses and the hashes behind them.
#include <gtest/gtest.h>

#include <string>

#include "ntlm/ntlm.h"
#include "ntlm/ntlm_test_util.h"

namespace {

constexpr uint64_t kTime = 1700000000;
constexpr uint8_t kCc[8] = {1, 2, 3, 4, 5, 6, 7, 8};

NtlmChallenge fake_challenge()
{
    NtlmChallenge ch{};
    const Bytes m = fake_challenge_message(kFakeChallenge);
    EXPECT_EQ(vnb_ntlm_parse_type2(m.data(), m.size(), &ch), 0);
    return ch;
}

TEST(NtlmType1, ExactBytes)
{
    Buf out;
    ASSERT_EQ(vnb_ntlm_build_type1(&out.b), 0);
    EXPECT_EQ(out.bytes(), hex("4E544C4D53535000 01000000 010408A0 00000000000000000000000000000000"));
}

TEST(NtlmType1, AppendsAfterExistingBytes)
{
    Buf out;
    vnb_buf_str(&out.b, "xy");
    ASSERT_EQ(vnb_ntlm_build_type1(&out.b), 0);
    ASSERT_EQ(out.b.len, 34u);
    EXPECT_EQ(out.b.data[2], 'N');
}

// A CHALLENGE of `len` bytes with the target-information descriptor set.
Bytes challenge_with_info(size_t len, uint32_t ti_len, uint32_t ti_off)
{
    Bytes m(len, 0x11);
    const Bytes head = hex("4e544c4d53535000 02000000");
    std::copy(head.begin(), head.end(), m.begin());
    for (size_t i = 24; i < 32 && i < len; i++)
        m[i] = uint8_t(0xA0 + i);
    if (len >= 48)
        set_field(m, 40, ti_len, ti_off);
    return m;
}

TEST(NtlmType2, ParsingLimits)
{
    struct Case {
        const char *what;
        Bytes msg;
        int result;
        uint32_t info_len;
    };
    Bytes wrong_sig = challenge_with_info(80, 0, 0);
    wrong_sig[6] = 'Q';
    Bytes wrong_type = challenge_with_info(80, 0, 0);
    wrong_type[8] = 3;
    const Case cases[] = {
        {"31 bytes", challenge_with_info(31, 0, 0), -1, 0},
        {"32 bytes: no room for the target-information descriptor", challenge_with_info(32, 0, 0), -1, 0},
        {"47 bytes", challenge_with_info(47, 0, 0), -1, 0},
        {"48 bytes, no target information", challenge_with_info(48, 0, 0), 0, 0},
        {"length 0 with a nonsense offset", challenge_with_info(48, 0, 0xFFFFFFFF), 0, 0},
        {"wrong signature", wrong_sig, -1, 0},
        {"type 3", wrong_type, -1, 0},
        {"offset 0", challenge_with_info(80, 4, 0), -1, 0},
        {"block one byte past the end", challenge_with_info(80, 33, 48), -1, 0},
        {"block ending at the end", challenge_with_info(80, 32, 48), 0, 32},
        {"offset past the end", challenge_with_info(80, 4, 81), -1, 0},
        {"offset near 2^32", challenge_with_info(80, 4, 0xFFFFFFFE), -1, 0},
        {"512 bytes", challenge_with_info(48 + 512, 512, 48), 0, 512},
        {"513 bytes", challenge_with_info(48 + 513, 513, 48), -1, 0},
        {"descriptor pointing at the header", challenge_with_info(48, 8, 24), 0, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NtlmChallenge ch;
        std::memset(&ch, 0xAB, sizeof ch);
        EXPECT_EQ(vnb_ntlm_parse_type2(c.msg.data(), c.msg.size(), &ch), c.result);
        EXPECT_EQ(ch.target_info_len, c.info_len);
        if (c.result == 0) {
            EXPECT_EQ(Bytes(ch.server_challenge, ch.server_challenge + 8), slice(c.msg, 24, 8));
            if (c.info_len) {
                const uint32_t off = get32(c.msg, 44);
                EXPECT_EQ(Bytes(ch.target_info, ch.target_info + c.info_len), slice(c.msg, off, c.info_len));
            }
        } else {
            const NtlmChallenge zero{};
            EXPECT_EQ(std::memcmp(&ch, &zero, sizeof ch), 0) << "a rejected message leaves the record zeroed";
        }
    }
}

TEST(NtlmType2, NullArguments)
{
    NtlmChallenge ch{};
    const Bytes m = fake_challenge_message(kFakeChallenge);
    EXPECT_EQ(vnb_ntlm_parse_type2(nullptr, 80, &ch), -1);
    EXPECT_EQ(vnb_ntlm_parse_type2(m.data(), m.size(), nullptr), -1);
}

TEST(NtlmType2, FakeServerChallenge)
{
    const NtlmChallenge ch = fake_challenge();
    EXPECT_EQ(Bytes(ch.server_challenge, ch.server_challenge + 8), Bytes(kFakeChallenge, kFakeChallenge + 8));
    ASSERT_EQ(ch.target_info_len, 32u);
    EXPECT_EQ(Bytes(ch.target_info, ch.target_info + 32), slice(fake_challenge_message(kFakeChallenge), 48, 32));
}

TEST(NtlmType3, LayoutWithPassword)
{
    const NtlmChallenge ch = fake_challenge();
    Buf out;
    uint8_t key[16] = {};
    ASSERT_EQ(vnb_ntlm_build_type3_at(&ch, "Dom", "alice", "secret", vnb_ntlm_filetime(kTime), kCc, &out.b, key), 0);
    const Bytes m = out.bytes();
    const uint32_t blob_len = 28 + 32 + 8;
    const uint32_t nt_len = 16 + blob_len;
    ASSERT_EQ(m.size(), 64 + nt_len + 6 + 10 + 26);

    EXPECT_EQ(slice(m, 0, 12), hex("4e544c4d53535000 03000000"));
    EXPECT_EQ(slice(m, 12, 8), hex("0000000000000000")) << "no LM response";
    struct Desc {
        const char *name;
        size_t at;
        uint32_t len;
        uint32_t off;
    };
    const Desc descs[] = {
        {"NT response", 20, nt_len, 64},
        {"domain", 28, 6, 64 + nt_len},
        {"user", 36, 10, 64 + nt_len + 6},
        {"workstation", 44, 26, 64 + nt_len + 16},
        {"session key", 52, 0, 64 + nt_len + 42},
    };
    for (const Desc &d : descs) {
        SCOPED_TRACE(d.name);
        EXPECT_EQ(get16(m, d.at), d.len);
        EXPECT_EQ(get16(m, d.at + 2), d.len);
        EXPECT_EQ(get32(m, d.at + 4), d.off);
    }
    EXPECT_EQ(get32(m, 60), 0xA0088611u);

    const Bytes blob = slice(m, 64 + 16, blob_len);
    EXPECT_EQ(slice(blob, 0, 8), hex("0101000000000000"));
    EXPECT_EQ(slice(blob, 8, 8), hex("00006DC64717DA01")) << "FILETIME of Unix time 1700000000";
    EXPECT_EQ(slice(blob, 16, 8), Bytes(kCc, kCc + 8));
    EXPECT_EQ(slice(blob, 24, 4), Bytes(4, 0));
    EXPECT_EQ(slice(blob, 28, 32), Bytes(ch.target_info, ch.target_info + 32));
    EXPECT_EQ(slice(blob, 60, 8), Bytes(8, 0));

    EXPECT_EQ(slice(m, 64 + nt_len, 6), utf16("Dom"));
    EXPECT_EQ(slice(m, 64 + nt_len + 6, 10), utf16("alice")) << "the user keeps its case on the wire";
    EXPECT_EQ(slice(m, 64 + nt_len + 16, 26), utf16("VANTRELVIEWER"));
    EXPECT_NE(Bytes(key, key + 16), Bytes(16, 0));
}

TEST(NtlmType3, PublicBuilderStampsTimeAndDrawsTheClientChallenge)
{
    const NtlmChallenge ch = fake_challenge();
    Buf first;
    Buf second;
    uint8_t key1[16];
    uint8_t key2[16];
    ASSERT_EQ(vnb_ntlm_build_type3(&ch, nullptr, "alice", "secret", kTime, &first.b, key1), 0);
    ASSERT_EQ(vnb_ntlm_build_type3(&ch, nullptr, "alice", "secret", kTime, &second.b, key2), 0);
    const Bytes a = first.bytes();
    const Bytes b = second.bytes();
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(slice(a, 64 + 16 + 8, 8), hex("00006DC64717DA01"));
    // Same time, same user: only the random client challenge tells them apart.
    EXPECT_NE(slice(a, 64 + 16 + 16, 8), slice(b, 64 + 16 + 16, 8));
    EXPECT_NE(Bytes(key1, key1 + 16), Bytes(key2, key2 + 16));
}

TEST(NtlmType3, AnonymousForm)
{
    const NtlmChallenge ch = fake_challenge();
    Buf out;
    uint8_t key[16] = {};
    ASSERT_EQ(vnb_ntlm_build_type3_at(&ch, "", "", "", vnb_ntlm_filetime(kTime), kCc, &out.b, key), 0);
    const Bytes m = out.bytes();
    ASSERT_EQ(m.size(), 64u + 26u);
    EXPECT_EQ(get32(m, 60), 0xA0008A11u);
    EXPECT_EQ(slice(m, 20, 8), hex("0000 0000 40000000")) << "NT response: length 0 at offset 64";
    EXPECT_EQ(get32(m, 28 + 4), 64u);
    EXPECT_EQ(get32(m, 36 + 4), 64u);
    EXPECT_EQ(get32(m, 52 + 4), 90u);
    EXPECT_EQ(slice(m, 64, 26), utf16("VANTRELVIEWER"));
    EXPECT_NE(Bytes(key, key + 16), Bytes(16, 0)) << "the session key is written also without a password";
}

TEST(NtlmType3, AppendsWithOffsetsFromTheMessageStart)
{
    const NtlmChallenge ch = fake_challenge();
    Buf plain;
    Buf prefixed;
    uint8_t key[16];
    vnb_buf_str(&prefixed.b, "prefix");
    ASSERT_EQ(vnb_ntlm_build_type3_at(&ch, "D", "u", "p", 0, kCc, &plain.b, key), 0);
    ASSERT_EQ(vnb_ntlm_build_type3_at(&ch, "D", "u", "p", 0, kCc, &prefixed.b, key), 0);
    const Bytes p = prefixed.bytes();
    EXPECT_EQ(Bytes(p.begin() + 6, p.end()), plain.bytes());
}

TEST(NtlmType3, IdentityConversions)
{
    const NtlmChallenge ch = fake_challenge();
    const std::string long_user(130, 'u');  // 260 UTF-16 bytes, more than the 258 allowed
    const std::string longest_user(129, 'u');
    struct Case {
        const char *what;
        const char *domain;
        const char *user;
        int result;
        uint32_t domain_len;
    };
    const Case cases[] = {
        {"NULL domain", nullptr, "u", 0, 0},
        {"domain that is not UTF-8 is left out", "\xff", "u", 0, 0},
        {"user that is not UTF-8", "D", "\xff", -1, 0},
        {"user too long", "D", long_user.c_str(), -1, 0},
        {"129-unit user fits", "D", longest_user.c_str(), 0, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Buf out;
        uint8_t key[16];
        std::memset(key, 0xAB, sizeof key);
        EXPECT_EQ(vnb_ntlm_build_type3_at(&ch, c.domain, c.user, "pw", 0, kCc, &out.b, key), c.result);
        if (c.result == 0) {
            EXPECT_EQ(get16(out.bytes(), 28), c.domain_len);
        } else {
            EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));
        }
    }
}

TEST(NtlmType3, RejectsMissingArgumentsAndFailedBuffers)
{
    const NtlmChallenge ch = fake_challenge();
    uint8_t key[16];
    Buf out;
    EXPECT_EQ(vnb_ntlm_build_type3(nullptr, "", "u", "p", kTime, &out.b, key), -1);
    EXPECT_EQ(vnb_ntlm_build_type3(&ch, "", nullptr, "p", kTime, &out.b, key), -1);
    EXPECT_EQ(vnb_ntlm_build_type3(&ch, "", "u", nullptr, kTime, &out.b, key), -1);
    EXPECT_EQ(vnb_ntlm_build_type3(&ch, "", "u", "p", kTime, nullptr, key), -1);
    EXPECT_EQ(vnb_ntlm_build_type3(&ch, "", "u", "p", kTime, &out.b, nullptr), -1);
    EXPECT_EQ(out.b.len, 0u);

    NtlmChallenge lying = ch;
    lying.target_info_len = 513;
    EXPECT_EQ(vnb_ntlm_build_type3(&lying, "", "u", "p", kTime, &out.b, key), -1);

    Buf failed;
    failed.b.failed = 1;
    std::memset(key, 0xAB, sizeof key);
    EXPECT_EQ(vnb_ntlm_build_type3(&ch, "", "u", "p", kTime, &failed.b, key), -1);
    EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));
}

TEST(NtlmBareResponses, Layout)
{
    const uint8_t sc[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    uint8_t lm[24];
    uint8_t key[16];
    Buf nt;
    ASSERT_EQ(vnb_ntlm_v2_responses_at(nullptr, "bob", "pw", sc, vnb_ntlm_filetime(kTime), kCc, lm, &nt.b, key), 0);
    const Bytes r = nt.bytes();
    ASSERT_EQ(r.size(), 16u + 36u);
    EXPECT_EQ(slice(r, 16, 8), hex("0101000000000000"));
    EXPECT_EQ(slice(r, 24, 8), hex("00006DC64717DA01"));
    EXPECT_EQ(slice(r, 32, 8), Bytes(kCc, kCc + 8));
    EXPECT_EQ(slice(r, 40, 12), Bytes(12, 0)) << "no target information: twelve zero bytes";
    EXPECT_EQ(Bytes(lm + 16, lm + 24), Bytes(kCc, kCc + 8));
}

TEST(NtlmBareResponses, DrawsAFreshClientChallengeEachTime)
{
    const uint8_t sc[8] = {};
    uint8_t lm1[24];
    uint8_t lm2[24];
    uint8_t key[16];
    Buf nt1;
    Buf nt2;
    ASSERT_EQ(vnb_ntlm_v2_responses("", "bob", "pw", sc, kTime, lm1, &nt1.b, key), 0);
    ASSERT_EQ(vnb_ntlm_v2_responses("", "bob", "pw", sc, kTime, lm2, &nt2.b, key), 0);
    EXPECT_NE(Bytes(lm1 + 16, lm1 + 24), Bytes(lm2 + 16, lm2 + 24));
    EXPECT_EQ(Bytes(lm1 + 16, lm1 + 24), slice(nt1.bytes(), 32, 8)) << "LMv2 and NTLMv2 share the client challenge";
}

TEST(NtlmBareResponses, Failures)
{
    const uint8_t sc[8] = {};
    uint8_t lm[24];
    uint8_t key[16];
    ByteBuffer nt{};
    EXPECT_EQ(vnb_ntlm_v2_responses("", "u", "pw", nullptr, kTime, lm, &nt, key), -1);
    EXPECT_EQ(vnb_ntlm_v2_responses("", "u", "pw", sc, kTime, nullptr, &nt, key), -1);
    EXPECT_EQ(vnb_ntlm_v2_responses("", "u", "pw", sc, kTime, lm, nullptr, key), -1);
    EXPECT_EQ(vnb_ntlm_v2_responses("", "u", "pw", sc, kTime, lm, &nt, nullptr), -1);
    EXPECT_EQ(vnb_ntlm_v2_responses("", "u", nullptr, sc, kTime, lm, &nt, key), -1);

    // An empty password: -2, with the outputs reset first.
    std::memset(lm, 0xAB, sizeof lm);
    std::memset(key, 0xAB, sizeof key);
    nt.len = 7;
    nt.failed = 1;
    EXPECT_EQ(vnb_ntlm_v2_responses(nullptr, nullptr, "", sc, kTime, lm, &nt, key), -2);
    EXPECT_EQ(Bytes(lm, lm + 24), Bytes(24, 0));
    EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));
    EXPECT_EQ(nt.data, nullptr);
    EXPECT_EQ(nt.len, 0u);
    EXPECT_EQ(nt.failed, 0);

    // A NULL user counts as empty.
    Buf a;
    Buf b;
    uint8_t key_null[16];
    uint8_t key_empty[16];
    ASSERT_EQ(vnb_ntlm_v2_responses_at("", nullptr, "pw", sc, 0, kCc, lm, &a.b, key_null), 0);
    ASSERT_EQ(vnb_ntlm_v2_responses_at("", "", "pw", sc, 0, kCc, lm, &b.b, key_empty), 0);
    EXPECT_EQ(a.bytes(), b.bytes());
}

struct Hashes {
    uint8_t nt[16];
    uint8_t v2[16];
};

Hashes hashes(const char *user, const char *domain, const char *password)
{
    Hashes h;
    std::memset(&h, 0xAB, sizeof h);
    vnb_ntlm_hashes_dom(user, domain, password, h.nt, h.v2);
    return h;
}

Bytes v2(const Hashes &h) { return Bytes(h.v2, h.v2 + 16); }
Bytes nt(const Hashes &h) { return Bytes(h.nt, h.nt + 16); }

TEST(NtlmHashes, UserCaseFoldsDomainCaseCounts)
{
    EXPECT_EQ(v2(hashes("alice", "Dom", "pw")), v2(hashes("ALICE", "Dom", "pw")));
    EXPECT_EQ(v2(hashes("aLiCe", "Dom", "pw")), v2(hashes("ALICE", "Dom", "pw")));
    EXPECT_NE(v2(hashes("alice", "Dom", "pw")), v2(hashes("alice", "DOM", "pw")));
    EXPECT_EQ(v2(hashes("alice", nullptr, "pw")), v2(hashes("alice", "", "pw")));
    EXPECT_EQ(nt(hashes("alice", "Dom", "pw")), nt(hashes("bob", "", "pw"))) << "the NT hash is the password's alone";

    Hashes plain;
    vnb_ntlm_hashes("alice", "pw", plain.nt, plain.v2);
    EXPECT_EQ(v2(plain), v2(hashes("alice", "", "pw")));
}

TEST(NtlmHashes, PasswordLengthLimit)
{
    const std::string fits(257, 'p');
    const std::string too_long(258, 'p');
    EXPECT_NE(nt(hashes("u", "", fits.c_str())), Bytes(16, 0));
    EXPECT_EQ(nt(hashes("u", "", too_long.c_str())), Bytes(16, 0));
    EXPECT_EQ(v2(hashes("u", "", too_long.c_str())), Bytes(16, 0));
    EXPECT_EQ(v2(hashes("u", "", "\xff")), Bytes(16, 0)) << "a password that is not UTF-8";
}

TEST(NtlmHashes, UserAndDomainAreCutAt128Bytes)
{
    const std::string user128(128, 'a');
    const std::string user200(200, 'a');
    EXPECT_EQ(v2(hashes(user128.c_str(), "", "pw")), v2(hashes(user200.c_str(), "", "pw")));
    EXPECT_NE(v2(hashes(user128.c_str(), "", "pw")), v2(hashes(std::string(127, 'a').c_str(), "", "pw")));
}

TEST(NtlmFiletime, UnixEpochAndKnownValue)
{
    EXPECT_EQ(vnb_ntlm_filetime(0), 116444736000000000ull);
    EXPECT_EQ(vnb_ntlm_filetime(kTime), 0x01DA1747C66D0000ull);
}

TEST(NtlmRandom, ClientChallengesDiffer)
{
    uint8_t a[8] = {};
    uint8_t b[8] = {};
    ASSERT_EQ(vnb_ntlm_client_challenge(a), 0);
    ASSERT_EQ(vnb_ntlm_client_challenge(b), 0);
    EXPECT_NE(Bytes(a, a + 8), Bytes(b, b + 8));
    EXPECT_EQ(vnb_ntlm_client_challenge(nullptr), -1);
}

}  // namespace
