// The NTLMv2 example of MS-NLMP section 4.2.4: user "User", domain "Domain",
// password "Password", server challenge 0123456789abcdef, client challenge
// aa..aa, timestamp 0, target information NetBIOS domain "Domain" and
// NetBIOS server "Server".
#include <gtest/gtest.h>

#include "ntlm/ntlm.h"
#include "ntlm/ntlm_test_util.h"

namespace {

const Bytes kServerChallenge = hex("0123456789abcdef");
const Bytes kClientChallenge = hex("aaaaaaaaaaaaaaaa");
// The two AV pairs without the end marker: the blob this library writes ends
// with 8 zero bytes, which here are the end marker and the document's 4-byte
// trailer, so the blob comes out byte for byte as in the document.
const Bytes kAvPairs = hex("02000c00 44006f006d00610069006e00 01000c00 530065007200760065007200");
const Bytes kNtResponse = hex("68cd0ab851e51c96aabc927bebef6a1c 01010000000000000000000000000000"
                              "aaaaaaaaaaaaaaaa0000000002000c00 44006f006d00610069006e0001000c00"
                              "53006500720076006500720000000000 00000000");
const Bytes kSessionBaseKey = hex("8de40ccadbc14a82f15cb0ad0de95ca3");
const Bytes kEncryptedRandomSessionKey = hex("c5dad2544fc9799094ce1ce90bc9d03e");
const Bytes kRandomSessionKey = Bytes(16, 0x55);

NtlmChallenge document_challenge()
{
    NtlmChallenge ch{};
    std::memcpy(ch.server_challenge, kServerChallenge.data(), 8);
    std::memcpy(ch.target_info, kAvPairs.data(), kAvPairs.size());
    ch.target_info_len = uint32_t(kAvPairs.size());
    return ch;
}

TEST(NtlmMsNlmpExample, Hashes)
{
    uint8_t nt[16];
    uint8_t v2[16];
    vnb_ntlm_hashes_dom("User", "Domain", "Password", nt, v2);
    EXPECT_EQ(Bytes(nt, nt + 16), hex("a4f49c406510bdcab6824ee7c30fd852"));
    EXPECT_EQ(Bytes(v2, v2 + 16), hex("0c868a403bfd7a93a3001ef22ef02e3f"));
}

TEST(NtlmMsNlmpExample, LmV2Response)
{
    uint8_t lm[24];
    uint8_t key[16];
    Buf nt;
    ASSERT_EQ(vnb_ntlm_v2_responses_at("Domain", "User", "Password", kServerChallenge.data(), 0,
                                       kClientChallenge.data(), lm, &nt.b, key),
              0);
    EXPECT_EQ(Bytes(lm, lm + 24), hex("86c35097ac9cec102554764a57cccc19 aaaaaaaaaaaaaaaa"));
}

TEST(NtlmMsNlmpExample, AuthenticateCarriesTheDocumentsNtResponseAndKey)
{
    ASSERT_EQ(kAvPairs.size(), 32u);
    const NtlmChallenge ch = document_challenge();
    Buf out;
    uint8_t key[16];
    ASSERT_EQ(vnb_ntlm_build_type3_at(&ch, "Domain", "User", "Password", 0, kClientChallenge.data(), &out.b, key), 0);
    const Bytes m = out.bytes();
    ASSERT_EQ(get16(m, 20), kNtResponse.size());
    EXPECT_EQ(slice(m, get32(m, 24), kNtResponse.size()), kNtResponse);
    EXPECT_EQ(Bytes(key, key + 16), kSessionBaseKey);
}

class NtlmMsNlmpVerify : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(saved_, g_fake_challenge, 8);
        std::memcpy(g_fake_challenge, kServerChallenge.data(), 8);
    }
    void TearDown() override { std::memcpy(g_fake_challenge, saved_, 8); }

    static Bytes message(uint32_t flags)
    {
        return type3_message(kNtResponse, utf16("Domain"), utf16("User"), utf16("COMPUTER"),
                             kEncryptedRandomSessionKey, flags);
    }

private:
    uint8_t saved_[8] = {};
};

TEST_F(NtlmMsNlmpVerify, SessionBaseKeyWithoutKeyExchange)
{
    const Bytes m = message(0xA2888205);
    uint8_t key[16];
    EXPECT_EQ(vnb_ntlm_verify_type3(m.data(), m.size(), "user", "Password", key), 0);
    EXPECT_EQ(Bytes(key, key + 16), kSessionBaseKey);
}

TEST_F(NtlmMsNlmpVerify, KeyExchangeRecoversTheRandomSessionKey)
{
    const Bytes m = message(0xE2888215);  // the document's flags, KEY_EXCH among them
    uint8_t key[16];
    EXPECT_EQ(vnb_ntlm_verify_type3(m.data(), m.size(), "User", "Password", key), 0);
    EXPECT_EQ(Bytes(key, key + 16), kRandomSessionKey);
}

TEST_F(NtlmMsNlmpVerify, OtherChallengeOrPasswordIsRejected)
{
    const Bytes m = message(0xE2888215);
    uint8_t key[16];
    EXPECT_EQ(vnb_ntlm_verify_type3(m.data(), m.size(), "User", "password", key), 1);
    EXPECT_EQ(Bytes(key, key + 16), Bytes(16, 0));
    g_fake_challenge[7] ^= 1;
    EXPECT_EQ(vnb_ntlm_verify_type3(m.data(), m.size(), "User", "Password", key), 1);
}

}  // namespace
