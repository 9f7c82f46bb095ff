// SPNEGO envelopes: exact bytes of the tokens written, and the reader of a
// server's negTokenResp against well-formed and hostile input.
#include <gtest/gtest.h>

#include "ntlm/ntlm.h"
#include "ntlm/ntlm_test_util.h"
#include "ntlm/spnego.h"

namespace {

const Bytes kNtlmOid = hex("060A2B06010401823702020A");

// n bytes that start like an NTLM message.
Bytes ntlm_like(size_t n)
{
    Bytes m(n);
    for (size_t i = 0; i < n; i++)
        m[i] = uint8_t(i * 7 + 3);
    const size_t sig = std::min<size_t>(n, 8);
    std::memcpy(m.data(), NTLMSSP_SIGNATURE, sig);
    return m;
}

Bytes wrap(int (*wrapper)(const uint8_t *, size_t, ByteBuffer *), const Bytes &msg)
{
    Buf out;
    EXPECT_EQ(wrapper(msg.data(), msg.size(), &out.b), 0);
    EXPECT_FALSE(out.b.failed);
    return out.bytes();
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(SpnegoWrap, NegTokenInitAroundTheNegotiateMessage)
{
    Buf type1;
    ASSERT_EQ(vnb_ntlm_build_type1(&type1.b), 0);
    const Bytes msg = type1.bytes();
    const Bytes token = wrap(vnb_spnego_wrap_type1, msg);
    ASSERT_EQ(token.size(), 66u);
    EXPECT_EQ(slice(token, 0, 34), hex("6040 06062B0601050502 A036 3034 A00E300C 060A2B06010401823702020A A222 0420"));
    EXPECT_EQ(slice(token, 34, 32), msg);
}

TEST(SpnegoWrap, NegTokenRespLengthForms)
{
    struct Case {
        size_t n;
        size_t total;
        const char *prefix;
    };
    const Case cases[] = {
        {100, 108, "A16A 3068 A266 0464"},
        {200, 212, "A181D1 3081CE A281CB 0481C8"},
        {300, 316, "A1820138 30820134 A2820130 0482012C"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.n);
        const Bytes msg = ntlm_like(c.n);
        const Bytes token = wrap(vnb_spnego_wrap_type3, msg);
        const Bytes prefix = hex(c.prefix);
        ASSERT_EQ(token.size(), c.total);
        EXPECT_EQ(slice(token, 0, prefix.size()), prefix);
        EXPECT_EQ(slice(token, prefix.size(), c.n), msg);
    }
}

TEST(SpnegoWrap, FakeServerNegTokenResp)
{
    const Bytes challenge = fake_challenge_message(kFakeChallenge);
    const Bytes token = wrap(vnb_spnego_resp_fake, challenge);
    ASSERT_EQ(token.size(), 107u);
    EXPECT_EQ(slice(token, 0, 27), cat({hex("A169 3067 A0030A0101 A10C"), kNtlmOid, hex("A252 0450")}));
    EXPECT_EQ(slice(token, 27, 80), challenge);
}

TEST(SpnegoWrap, AppendsAndHonoursAFailedBuffer)
{
    const Bytes msg = ntlm_like(40);
    Buf out;
    vnb_buf_str(&out.b, "ab");
    EXPECT_EQ(vnb_spnego_wrap_type3(msg.data(), msg.size(), &out.b), 0);
    EXPECT_EQ(out.b.len, 2u + 48u);

    Buf failed;
    failed.b.failed = 1;
    EXPECT_EQ(vnb_spnego_wrap_type1(msg.data(), msg.size(), &failed.b), 0);
    EXPECT_EQ(failed.b.len, 0u);
}

TEST(SpnegoWrap, ContentsBeyondTwoLengthBytesFailTheBuffer)
{
    const Bytes big(65530, 0x4E);
    for (auto wrapper : {vnb_spnego_wrap_type1, vnb_spnego_wrap_type3, vnb_spnego_resp_fake}) {
        Buf out;
        wrapper(big.data(), big.size(), &out.b);
        EXPECT_TRUE(out.b.failed);
        EXPECT_EQ(out.b.len, 0u);
    }
    // The negTokenResp adds 12 bytes inside its outermost element.
    const Bytes largest = ntlm_like(65535 - 12);
    EXPECT_EQ(slice(wrap(vnb_spnego_wrap_type3, largest), 0, 4), hex("A182FFFF"));
    const Bytes one_more = ntlm_like(65535 - 11);
    Buf out;
    vnb_spnego_wrap_type3(one_more.data(), one_more.size(), &out.b);
    EXPECT_TRUE(out.b.failed);
}

// Every length form of every writer reads back to the same message.
TEST(SpnegoWrap, WrappedTokensReadBack)
{
    for (size_t n : {8u, 90u, 100u, 101u, 102u, 120u, 121u, 122u, 123u, 124u, 125u, 126u, 127u, 128u, 240u, 245u,
                     250u, 251u, 252u, 253u, 254u, 255u, 256u, 1000u, 65000u}) {
        const Bytes msg = ntlm_like(n);
        for (auto wrapper : {vnb_spnego_wrap_type3, vnb_spnego_resp_fake}) {
            SCOPED_TRACE(n);
            const Bytes token = wrap(wrapper, msg);
            const uint8_t *inner = nullptr;
            size_t inner_len = 0;
            int raw = -1;
            ASSERT_EQ(vnb_spnego_unwrap_resp(token.data(), token.size(), &inner, &inner_len, &raw), 0);
            EXPECT_EQ(raw, 0);
            EXPECT_EQ(inner, token.data() + token.size() - n);
            EXPECT_EQ(inner_len, n);
        }
    }
}

TEST(SpnegoUnwrap, FakeServerTokenAndBareChallenge)
{
    const Bytes challenge = fake_challenge_message(kFakeChallenge);
    const Bytes token = wrap(vnb_spnego_resp_fake, challenge);
    const uint8_t *inner = nullptr;
    size_t inner_len = 0;
    int raw = -1;
    ASSERT_EQ(vnb_spnego_unwrap_resp(token.data(), token.size(), &inner, &inner_len, &raw), 0);
    EXPECT_EQ(Bytes(inner, inner + inner_len), challenge);
    EXPECT_EQ(raw, 0);

    ASSERT_EQ(vnb_spnego_unwrap_resp(challenge.data(), challenge.size(), &inner, &inner_len, &raw), 0);
    EXPECT_EQ(inner, challenge.data());
    EXPECT_EQ(inner_len, 80u);
    EXPECT_EQ(raw, 1);
}

TEST(SpnegoUnwrap, Shapes)
{
    const Bytes tok = ntlm_like(12);  // the token every accepted case carries
    struct Case {
        const char *what;
        Bytes blob;
        int result;
    };
    const Case cases[] = {
        {"responseToken only", cat({hex("A112 3010 A20E 040C"), tok}), 0},
        {"negState, supportedMech, token, mechListMIC",
         cat({hex("A12B 3029 A0030A0101 A10C"), kNtlmOid, hex("A20E 040C"), tok, hex("A304 0402 CAFE")}), 0},
        {"A1 with 0x80 and no length bytes", cat({hex("A180 3010 A20E 040C"), tok}), 0},
        {"four length bytes", cat({hex("A1840000001E 308400000018 A28400000012 0484 0000000C"), tok}), 0},
        {"later token replaces an earlier one",
         cat({hex("A11C 301A A20E 040C"), ntlm_like(12), hex("A208 0406 000000000000")}), -1},
        {"a second token that is NTLM wins",
         cat({hex("A11C 301A A208 0406 000000000000 A20E 040C"), tok}), 0},
        {"trailing element running past the SEQUENCE ends the walk",
         cat({hex("A116 3014 A20E 040C"), tok, hex("A37F 0000")}), 0},
        {"A2 of length 1 is skipped", cat({hex("A115 3013 A20104 A20E 040C"), tok}), 0},
        {"A2 not holding an OCTET STRING is skipped", cat({hex("A116 3014 A2020500 A20E 040C"), tok}), 0},
        {"token shorter than 8 bytes", hex("A10D 300B A209 0407 4E544C4D535350"), -1},
        {"token that is not NTLM", cat({hex("A112 3010 A20E 040C"), Bytes(12, 0x4E)}), -1},
        {"negState only (final reject)", hex("A107 3005 A0030A0100"), -1},
        {"7 bytes", hex("A105 3003 A20104"), -1},
        {"first byte neither A1 nor NTLMSSP", cat({hex("A012 3010 A20E 040C"), tok}), -1},
        {"five length bytes", cat({hex("A1850000000015 3010 A20E 040C"), tok}), -1},
        {"A1 length past the end", cat({hex("A113 3010 A20E 040C"), tok}), -1},
        {"second element not a SEQUENCE", cat({hex("A112 3110 A20E 040C"), tok}), -1},
        {"SEQUENCE length past the end", cat({hex("A112 3011 A20E 040C"), tok}), -1},
        {"SEQUENCE with 0x80 counts as empty", cat({hex("A112 3080 A20E 040C"), tok}), -1},
        {"SEQUENCE with one content byte", cat({hex("A112 3001 A20E 040C"), tok}), -1},
        {"token past the SEQUENCE", cat({hex("A112 300F A20E 040C"), tok}), -1},
        {"octet length bytes outside the element", cat({hex("A116 3014 A202 0484 0000000C"), tok}), -1},
        {"octet length of 2^32-1", cat({hex("A116 3014 A212 0484 FFFFFFFF"), tok}), -1},
        {"element length bytes past the SEQUENCE", cat({hex("A112 3003 A284 00"), Bytes(16, 0)}), -1},
        {"NTLMSSP at the start is taken as it is", ntlm_like(8), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const uint8_t *inner = reinterpret_cast<const uint8_t *>(&c);
        size_t inner_len = 99;
        int raw = 99;
        EXPECT_EQ(vnb_spnego_unwrap_resp(c.blob.data(), c.blob.size(), &inner, &inner_len, &raw), c.result);
        if (c.result == 0) {
            ASSERT_NE(inner, nullptr);
            ASSERT_GE(inner, c.blob.data());
            ASSERT_LE(inner + inner_len, c.blob.data() + c.blob.size());
            EXPECT_EQ(Bytes(inner, inner + inner_len), raw ? c.blob : tok);
        } else {
            EXPECT_EQ(inner, nullptr);
            EXPECT_EQ(inner_len, 0u);
            EXPECT_EQ(raw, 0);
        }
    }
}

TEST(SpnegoUnwrap, NullArguments)
{
    const Bytes token = ntlm_like(20);
    const uint8_t *inner = nullptr;
    size_t inner_len = 0;
    int raw = 0;
    EXPECT_EQ(vnb_spnego_unwrap_resp(nullptr, 20, &inner, &inner_len, &raw), -1);
    EXPECT_EQ(vnb_spnego_unwrap_resp(token.data(), token.size(), nullptr, &inner_len, &raw), -1);
    EXPECT_EQ(vnb_spnego_unwrap_resp(token.data(), token.size(), &inner, nullptr, &raw), -1);
    EXPECT_EQ(vnb_spnego_unwrap_resp(token.data(), token.size(), &inner, &inner_len, nullptr), -1);
}

// Every prefix of a good token is read without reaching past its end.
TEST(SpnegoUnwrap, TruncatedTokens)
{
    const Bytes token = wrap(vnb_spnego_resp_fake, fake_challenge_message(kFakeChallenge));
    for (size_t n = 0; n < token.size(); n++) {
        SCOPED_TRACE(n);
        const Bytes cut(token.begin(), token.begin() + long(n));
        const uint8_t *inner = nullptr;
        size_t inner_len = 0;
        int raw = 0;
        EXPECT_EQ(vnb_spnego_unwrap_resp(cut.data(), cut.size(), &inner, &inner_len, &raw), -1);
    }
}

TEST(SpnegoNegTokenInit, RecognisesTheClientsToken)
{
    Buf type1;
    ASSERT_EQ(vnb_ntlm_build_type1(&type1.b), 0);
    const Bytes msg = type1.bytes();
    const Bytes init = wrap(vnb_spnego_wrap_type1, msg);
    struct Case {
        const char *what;
        Bytes blob;
        int result;
    };
    Bytes no_oid = init;
    no_oid[25] = 0x38;  // inside the NTLMSSP identifier (it starts at offset 18)
    Bytes oid_late(30, 0);
    oid_late[0] = 0x60;
    oid_late.insert(oid_late.end(), kNtlmOid.begin() + 2, kNtlmOid.end());
    const Case cases[] = {
        {"client negTokenInit", init, 1},
        {"bare NEGOTIATE", msg, 0},
        {"no NTLMSSP identifier", no_oid, 0},
        {"identifier anywhere after 0x60", oid_late, 1},
        {"identifier cut by the end", slice(oid_late, 0, oid_late.size() - 1), 0},
        {"23 bytes", slice(init, 0, 23), 0},
        {"not starting with 0x60", cat({hex("61"), slice(init, 1, 65)}), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(vnb_negtokeninit_ntlm(c.blob.data(), c.blob.size()), c.result);
    }
    EXPECT_EQ(vnb_negtokeninit_ntlm(nullptr, 66), 0);
}

}  // namespace
