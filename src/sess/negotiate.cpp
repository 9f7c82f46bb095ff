// NEGOTIATE: one dialect offered, the server's answer validated and kept.
#include <cstdio>
#include <cstring>

#include "sess/exchange.h"
#include "sess/logon.h"
#include "sess/session_state.h"
#include "sess/trace.h"
#include "util/error.h"
#include "util/le_reader.h"

namespace {

// Dialect buffer format 0x02, "NT LM 0.12", NUL.
constexpr uint8_t kDialects[] = {0x02, 'N', 'T', ' ', 'L', 'M', ' ', '0', '.', '1', '2', 0x00};

constexpr uint32_t kWordCount = 17;
constexpr uint64_t kMinBody = 35;
constexpr uint32_t kMinMaxBuffer = 1024;
constexpr int32_t kLastNtDialect = 10;
constexpr uint32_t kCapExtendedSecurity = 0x80000000;
constexpr uint32_t kSecModeSignaturesRequired = 0x08;
constexpr uint32_t kCapUnicode = 0x0004;
constexpr uint32_t kFlags2Extended = 0xC801;
// Without extended security: NT status and long names, and Unicode strings
// when the server takes them. The extended-security bit stays off, since
// this session does not use it.
constexpr uint32_t kFlags2Basic = 0x4001;

// Reply offsets (from the start of the SMB1 message).
constexpr size_t kOffDialect = 33;
constexpr size_t kOffSecurityMode = 35;
constexpr size_t kOffMaxMpx = 36;
constexpr size_t kOffMaxBuffer = 40;
constexpr size_t kOffMaxRaw = 44;
constexpr size_t kOffCapabilities = 52;
constexpr size_t kOffChallengeLength = 66;
constexpr size_t kOffByteCount = 67;
constexpr size_t kOffBytes = 69;
constexpr size_t kGuidLen = 16;
constexpr size_t kChallengeLen = 8;

uint32_t basic_flags2()
{
    return kFlags2Basic | ((g_s.capabilities & kCapUnicode) ? kFlags2Unicode : 0);
}

void no_challenge()
{
    g_s.have_challenge = 0;
    g_s.ext_security = 0;
    g_s.flags2 = basic_flags2();
}

// The bytes block of the reply (r covers the whole reply, which is longer
// than kOffBytes - 1).
int32_t take_bytes_block(LeReader &r)
{
    uint32_t byte_count = r.u16_at(kOffByteCount);
    if (kOffBytes + byte_count > r.size())
        return vnb_fail(-2, "NEGOTIATE ByteCount %u over the frame", byte_count);

    if (g_s.capabilities & kCapExtendedSecurity) {
        if (byte_count < kGuidLen)
            return vnb_fail(-2, "extended-security NEGOTIATE carried no ServerGuid");
        std::memcpy(g_s.server_guid, r.at(kOffBytes, kGuidLen), kGuidLen);
        uint32_t blob_len = byte_count - kGuidLen;
        if (blob_len > sizeof g_s.neg_blob)
            return vnb_fail(-7, "the security blob is %u bytes", blob_len);
        if (blob_len)
            std::memcpy(g_s.neg_blob, r.at(kOffBytes + kGuidLen, blob_len), blob_len);
        g_s.neg_blob_len = blob_len;
        g_s.have_challenge = 0;
        g_s.ext_security = 1;
        g_s.flags2 = kFlags2Extended;
        return 0;
    }

    uint32_t challenge_len = r.u8_at(kOffChallengeLength);
    if (challenge_len > byte_count)
        return vnb_fail(-2, "NEGOTIATE ByteCount %u < ChallengeLength %u", byte_count, challenge_len);
    if (challenge_len != 0 && challenge_len != kChallengeLen)
        return vnb_fail(-2, "ChallengeLength %u (8 expected)", challenge_len);
    // A ChallengeLength of 0 still takes the first 8 bytes, when there are 8.
    if (byte_count < kChallengeLen) {
        no_challenge();
        return 0;
    }
    std::memcpy(g_s.challenge, r.at(kOffBytes, kChallengeLen), kChallengeLen);
    g_s.have_challenge = 1;
    g_s.ext_security = 0;
    g_s.flags2 = basic_flags2();
    return 0;
}

}  // namespace

int32_t do_negotiate()
{
    // Every connection asks for extended security again: the strings form
    // of an earlier server without it must not stop a newer one from
    // offering it.
    g_s.flags2 = 0;
    ParsedHeader h;
    int32_t rc = frame_inner(SMB_COM_NEGOTIATE, nullptr, 0, kDialects, sizeof kDialects, 0, 0, &h);
    if (rc != 0)
        return rc;
    if (h.status != 0)
        return fail_status(&h, "NEGOTIATE");

    LeReader r(g_rep, g_rep_n);
    uint32_t word_count = r.u8_at(kSmbHeaderLen);
    if (word_count != kWordCount)
        return vnb_fail(-2, "NEGOTIATE WordCount %u (17 expected)", word_count);
    uint64_t body_len = g_rep_n - kSmbHeaderLen;
    if (body_len < kMinBody)
        return vnb_fail(-2, "NEGOTIATE reply too short (%u bytes)", static_cast<unsigned>(body_len));

    g_s.dialect_index = r.u16_at(kOffDialect);
    g_s.security_mode = r.u8_at(kOffSecurityMode);
    g_s.max_mpx = r.u16_at(kOffMaxMpx);
    uint32_t max_buffer = r.u32_at(kOffMaxBuffer);
    g_s.max_buffer = max_buffer < kMinMaxBuffer ? kMinMaxBuffer : max_buffer;
    g_s.max_raw = r.u32_at(kOffMaxRaw);
    g_s.capabilities = r.u32_at(kOffCapabilities);

    if (g_s.dialect_index > kLastNtDialect)
        return vnb_fail(-8, "the server picked dialect index %d (not the NT LM 0.12 family)", g_s.dialect_index);

    if (g_rep_n >= kOffBytes) {
        rc = take_bytes_block(r);
        if (rc != 0)
            return rc;
    } else if (g_s.capabilities & kCapExtendedSecurity) {
        return vnb_fail(-2, "extended-security NEGOTIATE carried no bytes block");
    } else {
        no_challenge();
    }

    g_s.negotiated = 1;
    g_s.signing = (g_s.security_mode & kSecModeSignaturesRequired) ? 1 : 0;
    if (sess_trace_on())
        std::fprintf(stderr, "[neg] idx=%d sec=0x%02x mpx=%u buf=%u caps=0x%08x extsec=%d\n", g_s.dialect_index,
                     g_s.security_mode, g_s.max_mpx, g_s.max_buffer, g_s.capabilities, g_s.ext_security);
    return 0;
}

int32_t vnb_dbg_negotiate()
{
    return do_negotiate();
}
