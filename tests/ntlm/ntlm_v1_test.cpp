// NTLMv1 and the LAN Manager response, with the examples of MS-NLMP 4.2.2
// and 4.2.3: password "Password", server challenge 0123456789abcdef, client
// challenge aa..aa.
#include <gtest/gtest.h>

#include "ntlm/ntlm.h"
#include "ntlm/ntlm_test_util.h"

namespace {

const Bytes kServerChallenge = hex("0123456789abcdef");
const Bytes kClientChallenge = hex("aaaaaaaaaaaaaaaa");
const Bytes kNtResponse = hex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
const Bytes kLmResponse = hex("98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
const Bytes kSessionBaseKey = hex("d87262b0cde4b1cb7499becccdf10784");
const Bytes kEssNtResponse = hex("7537f803ae367128ca458204bde7caf81e97ed2683267232");
const Bytes kEssKey = hex("eb93429a8bd952f8b89c55b87f475edc");

NtlmChallenge challenge(uint32_t flags)
{
    NtlmChallenge ch{};
    std::memcpy(ch.server_challenge, kServerChallenge.data(), 8);
    ch.flags = flags;
    return ch;
}

TEST(NtlmV1, LanManagerHash)
{
    struct Case {
        const char *password;
        const char *hash;  // nullptr: none
    } cases[] = {
        {"Password", "e52cac67419a9a224a3b108f3fa6cb6d"},
        {"PASSWORD", "e52cac67419a9a224a3b108f3fa6cb6d"},
        {"", "aad3b435b51404eeaad3b435b51404ee"},
        {"\xC3\xA9lan", "44f2230b81f57cd9aad3b435b51404ee"},  // "élan", upper-cased in CP850
        {"fourteen-chars", "750697b6e82f3924aed11d8dd93857e8"},
        {"fifteen-charsXX", nullptr},
        {"\xE6\x97\xA5", nullptr},  // not in CP850
    };
    for (const Case &c : cases) {
        uint8_t out[16];
        int rc = vnb_lm_hash(c.password, CodePage::cp850, out);
        if (!c.hash) {
            EXPECT_EQ(rc, -1) << c.password;
            continue;
        }
        ASSERT_EQ(rc, 0) << c.password;
        EXPECT_EQ(Bytes(out, out + 16), hex(c.hash)) << c.password;
    }
}

TEST(NtlmV1, ResponsesOfTheDocument)
{
    NtlmV1Answer a;
    ASSERT_EQ(vnb_ntlm_v1_answer("Password", CodePage::cp850, kServerChallenge.data(), NtlmV1Form::nt_and_lm,
                                 nullptr, &a),
              0);
    EXPECT_EQ(a.form, NtlmV1Form::nt_and_lm);
    EXPECT_EQ(Bytes(a.nt, a.nt + 24), kNtResponse);
    EXPECT_EQ(Bytes(a.lm, a.lm + 24), kLmResponse);
    EXPECT_EQ(Bytes(a.session_key, a.session_key + 16), kSessionBaseKey);

    // Without the LAN Manager response the field repeats the NT response.
    ASSERT_EQ(vnb_ntlm_v1_answer("Password", CodePage::cp850, kServerChallenge.data(), NtlmV1Form::nt, nullptr, &a), 0);
    EXPECT_EQ(a.form, NtlmV1Form::nt);
    EXPECT_EQ(Bytes(a.lm, a.lm + 24), kNtResponse);

    // A password with no LM hash falls back to the NT response alone.
    ASSERT_EQ(vnb_ntlm_v1_answer("a password of twenty", CodePage::cp850, kServerChallenge.data(),
                                 NtlmV1Form::nt_and_lm, nullptr, &a),
              0);
    EXPECT_EQ(a.form, NtlmV1Form::nt);
    EXPECT_EQ(Bytes(a.lm, a.lm + 24), Bytes(a.nt, a.nt + 24));

    ASSERT_EQ(vnb_ntlm_v1_answer("Password", CodePage::cp850, kServerChallenge.data(), NtlmV1Form::ess,
                                 kClientChallenge.data(), &a),
              0);
    EXPECT_EQ(Bytes(a.lm, a.lm + 24), hex("aaaaaaaaaaaaaaaa 0000000000000000 0000000000000000"));
    EXPECT_EQ(Bytes(a.nt, a.nt + 24), kEssNtResponse);
    EXPECT_EQ(Bytes(a.session_key, a.session_key + 16), kEssKey);
}

TEST(NtlmV1, AuthenticateMessageFollowsTheChallenge)
{
    struct Case {
        const char *what;
        uint32_t challenge_flags;
        bool with_lm;
        NtlmV1Form form;
        Bytes lm;
        Bytes nt;
        Bytes key;
    } cases[] = {
        {"NT only", 0x00008205, false, NtlmV1Form::nt, kNtResponse, kNtResponse, kSessionBaseKey},
        {"with LM", 0x00008205, true, NtlmV1Form::nt_and_lm, kLmResponse, kNtResponse, kSessionBaseKey},
        {"ESS settled", 0x00088205, true, NtlmV1Form::ess,
         hex("aaaaaaaaaaaaaaaa 0000000000000000 0000000000000000"), kEssNtResponse, kEssKey},
    };
    for (const Case &c : cases) {
        NtlmChallenge ch = challenge(c.challenge_flags);
        Buf out;
        uint8_t key[16];
        NtlmV1Form used = NtlmV1Form::nt;
        ASSERT_EQ(vnb_ntlm_build_type3_v1(&ch, "Domain", "User", "Password", CodePage::cp850, c.with_lm,
                                          kClientChallenge.data(), &out.b, key, &used),
                  0)
            << c.what;
        EXPECT_EQ(used, c.form) << c.what;
        EXPECT_EQ(Bytes(key, key + 16), c.key) << c.what;
        NtlmType3Fields f;
        Bytes m = out.bytes();
        ASSERT_EQ(vnb_ntlm_type3_fields(m.data(), m.size(), &f), 0) << c.what;
        EXPECT_EQ(Bytes(f.lm, f.lm + f.lm_len), c.lm) << c.what;
        EXPECT_EQ(Bytes(f.nt, f.nt + f.nt_len), c.nt) << c.what;
        EXPECT_STREQ(f.user, "User");
        EXPECT_STREQ(f.domain, "Domain");
        EXPECT_EQ((f.flags & NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY) != 0, c.form == NtlmV1Form::ess) << c.what;

        // The server side takes it, and derives the same key.
        uint8_t server_key[16];
        NtlmV1Form seen = NtlmV1Form::nt;
        ASSERT_EQ(vnb_ntlm_verify_v1(f.lm, f.lm_len, f.nt, f.nt_len, "Password", CodePage::cp850,
                                     kServerChallenge.data(), c.form == NtlmV1Form::ess, true, server_key, &seen),
                  0)
            << c.what;
        EXPECT_EQ(Bytes(server_key, server_key + 16), c.key) << c.what;
        EXPECT_EQ(vnb_ntlm_verify_v1(f.lm, f.lm_len, f.nt, f.nt_len, "password", CodePage::cp850,
                                     kServerChallenge.data(), c.form == NtlmV1Form::ess, false, server_key, &seen),
                  1)
            << c.what << ": a wrong password";
    }
}

TEST(NtlmV1, ServerChecksTheLanManagerResponseOnlyWhenAsked)
{
    // An LM response alone: taken with accept_lm, refused without.
    uint8_t key[16];
    NtlmV1Form seen = NtlmV1Form::nt;
    EXPECT_EQ(vnb_ntlm_verify_v1(kLmResponse.data(), 24, nullptr, 0, "Password", CodePage::cp850,
                                 kServerChallenge.data(), false, true, key, &seen),
              0);
    EXPECT_EQ(seen, NtlmV1Form::nt_and_lm);
    EXPECT_EQ(vnb_ntlm_verify_v1(kLmResponse.data(), 24, nullptr, 0, "Password", CodePage::cp850,
                                 kServerChallenge.data(), false, false, key, &seen),
              1);
    // The LM check ignores case, as the hash does; the NT one does not.
    EXPECT_EQ(vnb_ntlm_verify_v1(kLmResponse.data(), 24, nullptr, 0, "PASSWORD", CodePage::cp850,
                                 kServerChallenge.data(), false, true, key, &seen),
              0);
    EXPECT_EQ(vnb_ntlm_verify_v1(nullptr, 0, kNtResponse.data(), 24, "PASSWORD", CodePage::cp850,
                                 kServerChallenge.data(), false, true, key, &seen),
              1);
    // Wrong lengths are refused.
    EXPECT_EQ(vnb_ntlm_verify_v1(kLmResponse.data(), 23, kNtResponse.data(), 23, "Password", CodePage::cp850,
                                 kServerChallenge.data(), false, true, key, &seen),
              1);
    EXPECT_EQ(vnb_ntlm_verify_v1(kLmResponse.data(), 7, kEssNtResponse.data(), 24, "Password", CodePage::cp850,
                                 kServerChallenge.data(), true, true, key, &seen),
              1);
}

TEST(NtlmV1, Type1LeavesExtendedSessionSecurityOutWhenAsked)
{
    Buf with;
    Buf without;
    ASSERT_EQ(vnb_ntlm_build_type1(&with.b), 0);
    ASSERT_EQ(vnb_ntlm_build_type1(&without.b, false), 0);
    EXPECT_EQ(get32(with.bytes(), 12), 0xA0080401u);
    EXPECT_EQ(get32(without.bytes(), 12), 0xA0000401u);
}

TEST(NtlmV1, ChallengeFlagsAreKept)
{
    Bytes type2 = hex("4e544c4d53535000 02000000 0000 0000 00000000 05820800 0123456789abcdef 0000000000000000"
                      "0000 0000 00000000");
    NtlmChallenge ch{};
    ASSERT_EQ(vnb_ntlm_parse_type2(type2.data(), type2.size(), &ch), 0);
    EXPECT_EQ(ch.flags, 0x00088205u);
}

}  // namespace
