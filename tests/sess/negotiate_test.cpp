#include <gtest/gtest.h>

#include <string>

#include "sess/logon.h"
#include "sess/support/sess_fixture.h"

namespace {

using sp::Bytes;

// A NEGOTIATE reply described field by field.
struct NegReply {
    uint8_t word_count = 17;
    sp::NegWords words;
    Bytes bytes;
    int byte_count = -1;     // -1: the size of bytes
    int total = -1;          // cut the message to this many bytes
    bool no_byte_count = false;
};

Bytes build(const Bytes &req, const NegReply &n)
{
    Bytes r(req.begin(), req.begin() + 32);
    r[9] = 0x98;
    r[10] = 0x01;
    r[11] = 0xC8;
    r.push_back(n.word_count);
    sp::append(r, sp::negotiate_words(n.words));
    if (!n.no_byte_count) {
        sp::put16(r, n.byte_count >= 0 ? static_cast<uint32_t>(n.byte_count) : static_cast<uint32_t>(n.bytes.size()));
        sp::append(r, n.bytes);
    }
    if (n.total >= 0)
        r.resize(static_cast<size_t>(n.total));
    return r;
}

constexpr uint32_t kExt = 0x8000F3FD;
constexpr uint32_t kBasic = 0x0000F3FD;

NegReply ext(Bytes bytes, int byte_count = -1)
{
    NegReply n;
    n.words.capabilities = kExt;
    n.bytes = std::move(bytes);
    n.byte_count = byte_count;
    return n;
}

NegReply basic(uint8_t challenge_len, Bytes bytes, int byte_count = -1)
{
    NegReply n;
    n.words.capabilities = kBasic;
    n.words.challenge_len = challenge_len;
    n.bytes = std::move(bytes);
    n.byte_count = byte_count;
    return n;
}

template <typename F>
NegReply with(NegReply n, F change)
{
    change(n);
    return n;
}

const Bytes kChallenge{1, 2, 3, 4, 5, 6, 7, 8};

Bytes guid_and(size_t blob)
{
    Bytes b(16, 0xAB);
    b.resize(16 + blob, 0x60);
    return b;
}

class Negotiate : public sp::SessTest {
protected:
    int32_t run(const NegReply &n)
    {
        peer.respond = [&n](const Bytes &req) { return std::vector<Bytes>{build(req, n)}; };
        return do_negotiate(s);
    }
};

TEST_F(Negotiate, RequestOffersOneDialect)
{
    ASSERT_EQ(run(ext(guid_and(0))), 0) << vnb_error();
    ASSERT_EQ(peer.requests.size(), 1u);
    const Bytes &r = peer.requests[0];
    const Bytes dialects{0x02, 'N', 'T', ' ', 'L', 'M', ' ', '0', '.', '1', '2', 0x00};
    EXPECT_EQ(r[4], 0x72);
    EXPECT_EQ(r[9], 0x18);
    EXPECT_EQ(sp::get16(r, 10), 0xC801);
    EXPECT_EQ(sp::tid_of(r), 0);
    EXPECT_EQ(r[32], 0);
    EXPECT_EQ(sp::get16(r, 33), 12);
    EXPECT_EQ(Bytes(r.begin() + 35, r.end()), dialects);
}

struct Case {
    const char *what;
    NegReply reply;
    int32_t rc;
    const char *text;  // nullptr on success
};

TEST_F(Negotiate, RepliesAreValidated)
{
    const Case cases[] = {
        {"WordCount 13", with(ext(guid_and(0)), [](NegReply &n) { n.word_count = 13; }), -2,
         "NEGOTIATE WordCount 13 (17 expected)"},
        {"words cut short", with(ext({}), [](NegReply &n) { n.total = 66; }), -2, "NEGOTIATE reply too short (34 bytes)"},
        {"only the WordCount", with(ext({}), [](NegReply &n) { n.total = 33; }), -2,
         "NEGOTIATE reply too short (1 bytes)"},
        {"header only", with(ext({}), [](NegReply &n) { n.total = 32; }), -2, "NEGOTIATE WordCount 0 (17 expected)"},
        {"no dialect", with(ext(guid_and(0)), [](NegReply &n) { n.words.dialect = 0xFFFF; }), -8,
         "the server picked dialect index 65535 (not the NT LM 0.12 family)"},
        {"dialect 11", with(ext(guid_and(0)), [](NegReply &n) { n.words.dialect = 11; }), -8,
         "the server picked dialect index 11 (not the NT LM 0.12 family)"},
        {"dialect 10", with(ext(guid_and(0)), [](NegReply &n) { n.words.dialect = 10; }), 0, nullptr},
        {"ByteCount over the frame", ext(guid_and(0), 20), -2, "NEGOTIATE ByteCount 20 over the frame"},
        {"extended, 15 bytes", ext(Bytes(15, 0xAB)), -2, "extended-security NEGOTIATE carried no ServerGuid"},
        {"extended, GUID only", ext(guid_and(0)), 0, nullptr},
        {"extended, blob of 8192", ext(guid_and(8192)), 0, nullptr},
        {"extended, blob of 8193", ext(guid_and(8193)), -7, "the security blob is 8193 bytes"},
        {"extended, no bytes block", with(ext({}), [](NegReply &n) { n.no_byte_count = true; }), -2,
         "extended-security NEGOTIATE carried no bytes block"},
        {"extended, ByteCount cut off", with(ext({}), [](NegReply &n) { n.total = 68; }), -2,
         "extended-security NEGOTIATE carried no bytes block"},
        {"basic, challenge longer than the bytes", basic(8, {1, 2, 3, 4}), -2,
         "NEGOTIATE ByteCount 4 < ChallengeLength 8"},
        {"basic, ChallengeLength 7", basic(7, kChallenge), -2, "ChallengeLength 7 (8 expected)"},
        {"basic, ChallengeLength 8", basic(8, kChallenge), 0, nullptr},
        {"basic, ChallengeLength 0 with 8 bytes", basic(0, kChallenge), 0, nullptr},
        {"basic, no bytes block", with(basic(0, {}), [](NegReply &n) { n.no_byte_count = true; }), 0, nullptr},
        {"basic, ChallengeLength 0 and 4 bytes", basic(0, {1, 2, 3, 4}), 0, nullptr},
    };
    for (const Case &c : cases) {
        sess_reset(s);
        s.flags2 = 0;
        int32_t rc = run(c.reply);
        EXPECT_EQ(rc, c.rc) << c.what << ": " << vnb_error();
        if (c.text) {
            EXPECT_STREQ(vnb_error(), c.text) << c.what;
        }
        EXPECT_EQ(s.negotiated, c.rc == 0 ? 1 : 0) << c.what;
    }
}

TEST_F(Negotiate, ExtendedSecurityKeepsGuidAndBlob)
{
    Bytes bytes = guid_and(5);
    ASSERT_EQ(run(ext(bytes)), 0) << vnb_error();
    EXPECT_EQ(s.ext_security, 1);
    EXPECT_EQ(s.have_challenge, 0);
    EXPECT_EQ(s.flags2, 0xC801u);
    EXPECT_EQ(Bytes(s.server_guid, s.server_guid + 16), Bytes(16, 0xAB));
    EXPECT_EQ(s.neg_blob_len, 5u);
    EXPECT_EQ(Bytes(s.neg_blob, s.neg_blob + 5), Bytes(5, 0x60));
}

TEST_F(Negotiate, BasicSecurityTakesTheChallenge)
{
    struct Sub {
        const char *what;
        NegReply reply;
        int have_challenge;
    } cases[] = {
        {"ChallengeLength 8", basic(8, kChallenge), 1},
        {"ChallengeLength 0, bytes still read", basic(0, kChallenge), 1},
        {"no bytes block", with(basic(0, {}), [](NegReply &n) { n.no_byte_count = true; }), 0},
        {"too few bytes for a challenge", basic(0, {1, 2, 3, 4}), 0},
    };
    for (const Sub &c : cases) {
        s.have_challenge = 1;  // left over from an earlier connection
        std::memset(s.challenge, 0, 8);
        ASSERT_EQ(run(c.reply), 0) << c.what << ": " << vnb_error();
        EXPECT_EQ(s.ext_security, 0) << c.what;
        EXPECT_EQ(s.flags2, 0xC001u) << c.what;
        EXPECT_EQ(s.have_challenge, c.have_challenge) << c.what;
        if (c.have_challenge) {
            EXPECT_EQ(Bytes(s.challenge, s.challenge + 8), kChallenge) << c.what;
        }
    }
}

TEST_F(Negotiate, EveryNegotiateAsksForExtendedSecurity)
{
    // A server without extended security before must not make the next
    // connection's NEGOTIATE leave the wish out.
    ASSERT_EQ(run(basic(8, kChallenge)), 0) << vnb_error();
    ASSERT_EQ(s.flags2, 0xC001u);
    peer.requests.clear();
    ASSERT_EQ(run(basic(8, kChallenge)), 0) << vnb_error();
    ASSERT_EQ(peer.requests.size(), 1u);
    EXPECT_EQ(sp::get16(peer.requests[0], 10), 0xC801);
}

TEST_F(Negotiate, BasicSecurityStringsFollowTheServersUnicodeCapability)
{
    // NT status and long names always; Unicode only when the server takes it;
    // never the extended-security bit, which this session does not use.
    struct Sub {
        uint32_t capabilities;
        uint32_t flags2;
    } cases[] = {
        {kBasic, 0xC001},
        {kBasic & ~0x0004u, 0x4001},
        {0x0004, 0xC001},
        {0, 0x4001},
    };
    for (const Sub &c : cases) {
        NegReply n = with(basic(8, kChallenge), [&c](NegReply &r) { r.words.capabilities = c.capabilities; });
        ASSERT_EQ(run(n), 0) << vnb_error();
        EXPECT_EQ(s.flags2, c.flags2) << std::hex << c.capabilities;
    }
}

TEST_F(Negotiate, KeepsTheServerLimitsAndSigningDemand)
{
    struct Sub {
        uint8_t security_mode;
        uint32_t max_buffer;
        int signing;
        uint32_t kept_buffer;
    } cases[] = {
        {0x0F, 512, 1, 1024},      // signatures required
        {0x07, 1023, 0, 1024},     // enabled only: not turned on
        {0x03, 1024, 0, 1024},
        {0x08, 65535, 1, 65535},
    };
    for (const Sub &c : cases) {
        NegReply n = ext(guid_and(0));
        n.words.security_mode = c.security_mode;
        n.words.max_buffer = c.max_buffer;
        n.words.max_mpx = 10;
        n.words.max_raw = 70000;
        n.words.dialect = 0;
        ASSERT_EQ(run(n), 0) << vnb_error();
        EXPECT_EQ(s.signing, c.signing) << int(c.security_mode);
        EXPECT_EQ(s.security_mode, c.security_mode);
        EXPECT_EQ(s.max_buffer, c.kept_buffer);
        EXPECT_EQ(s.max_mpx, 10u);
        EXPECT_EQ(s.max_raw, 70000u);
        EXPECT_EQ(s.capabilities, kExt);
        EXPECT_EQ(s.dialect_index, 0);
    }
}

TEST_F(Negotiate, FailureStatusIsRecorded)
{
    peer.respond = [](const Bytes &req) { return std::vector<Bytes>{sp::reply_to(req, 0xC00000A0)}; };
    EXPECT_EQ(do_negotiate(s), -8);
    EXPECT_STREQ(vnb_error(), "NEGOTIATE: REQUEST_NOT_SUPPORTED");
    EXPECT_EQ(s.last_status, 0xC00000A0u);
    EXPECT_EQ(s.last_status_nt, 1);
    EXPECT_EQ(s.last_code, -8);
    EXPECT_EQ(s.negotiated, 0);
}

TEST_F(Negotiate, TraceLine)
{
    sp::TraceOn trace;
    testing::internal::CaptureStderr();
    ASSERT_EQ(run(ext(guid_and(0))), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[neg] idx=0 sec=0x03 mpx=50 buf=16644 caps=0x8000f3fd extsec=1\n");
}

}  // namespace
