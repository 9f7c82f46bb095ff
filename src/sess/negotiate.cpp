// NEGOTIATE: one dialect offered, the server's answer validated and kept.
#include <cstdio>
#include <cstring>

#include "sess/exchange.h"
#include "sess/logon.h"
#include "sess/trace.h"
#include "util/error.h"
#include "util/le_reader.h"
#include "util/smb1_wire.h"

namespace {

// Dialect buffer format 0x02, "NT LM 0.12", NUL.
constexpr uint8_t kDialects[] = {0x02, 'N', 'T', ' ', 'L', 'M', ' ', '0', '.', '1', '2', 0x00};

constexpr uint32_t kWordCount = 17;
constexpr uint64_t kMinBody = 35;
constexpr uint32_t kMinMaxBuffer = 1024;
constexpr int32_t kLastNtDialect = 10;
// NT status and long names, with extended security when the session uses
// it (the bit stays off otherwise), and Unicode strings only when the server
// takes them: a server without CAP_UNICODE reads every name as 8-bit text.
constexpr uint32_t kFlags2Extended = 0x4801;
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

uint32_t string_form(const Session &s)
{
    return (s.capabilities & smb::kCapUnicode) ? smb::kFlags2Unicode : 0;
}

uint32_t basic_flags2(const Session &s)
{
    return kFlags2Basic | string_form(s);
}

void no_challenge(Session &s)
{
    s.have_challenge = 0;
    s.ext_security = 0;
    s.flags2 = basic_flags2(s);
}

// The bytes block of the reply (r covers the whole reply, which is longer
// than kOffBytes - 1).
int32_t take_bytes_block(Session &s, LeReader &r)
{
    uint32_t byte_count = r.u16_at(kOffByteCount);
    if (kOffBytes + byte_count > r.size())
        return vnb_fail(-2, "NEGOTIATE ByteCount %u over the frame", byte_count);

    if (s.capabilities & smb::kCapExtendedSecurity) {
        if (byte_count < kGuidLen)
            return vnb_fail(-2, "extended-security NEGOTIATE carried no ServerGuid");
        std::memcpy(s.server_guid, r.at(kOffBytes, kGuidLen), kGuidLen);
        uint32_t blob_len = byte_count - kGuidLen;
        if (blob_len > sizeof s.neg_blob)
            return vnb_fail(-7, "the security blob is %u bytes", blob_len);
        if (blob_len)
            std::memcpy(s.neg_blob, r.at(kOffBytes + kGuidLen, blob_len), blob_len);
        s.neg_blob_len = blob_len;
        s.have_challenge = 0;
        s.ext_security = 1;
        s.flags2 = kFlags2Extended | string_form(s);
        return 0;
    }

    // A server that does not encrypt passwords sends no challenge; whatever
    // its bytes block holds (its domain name) is none.
    if (!(s.security_mode & smb::kSecEncryptPasswords)) {
        no_challenge(s);
        return 0;
    }
    uint32_t challenge_len = r.u8_at(kOffChallengeLength);
    if (challenge_len > byte_count)
        return vnb_fail(-2, "NEGOTIATE ByteCount %u < ChallengeLength %u", byte_count, challenge_len);
    if (challenge_len != 0 && challenge_len != kChallengeLen)
        return vnb_fail(-2, "ChallengeLength %u (8 expected)", challenge_len);
    // A ChallengeLength of 0 still takes the first 8 bytes, when there are 8.
    if (byte_count < kChallengeLen) {
        no_challenge(s);
        return 0;
    }
    std::memcpy(s.challenge, r.at(kOffBytes, kChallengeLen), kChallengeLen);
    s.have_challenge = 1;
    s.ext_security = 0;
    s.flags2 = basic_flags2(s);
    return 0;
}

}  // namespace

int32_t do_negotiate(Session &s)
{
    // Every connection asks for extended security again: the strings form
    // of an earlier server without it must not stop a newer one from
    // offering it.
    s.flags2 = 0;
    SmbRequest req;
    int32_t rc = exchange(s, smb::NEGOTIATE, {}, kDialects, 0, false, req);
    if (rc != 0)
        return rc;
    if (req.header.status != 0)
        return fail_status(s, req.header, "NEGOTIATE");
    return negotiate_reply_read(s, req.message());
}

int32_t negotiate_reply_read(Session &s, std::span<const uint8_t> reply)
{
    const size_t reply_len = reply.size();
    LeReader r(reply);
    uint32_t word_count = r.u8_at(smb::kHeaderLen);
    if (word_count != kWordCount)
        return vnb_fail(-2, "NEGOTIATE WordCount %u (17 expected)", word_count);
    uint64_t body_len = reply_len - smb::kHeaderLen;
    if (body_len < kMinBody)
        return vnb_fail(-2, "NEGOTIATE reply too short (%u bytes)", static_cast<unsigned>(body_len));

    s.dialect_index = r.u16_at(kOffDialect);
    s.security_mode = r.u8_at(kOffSecurityMode);
    s.max_mpx = r.u16_at(kOffMaxMpx);
    uint32_t max_buffer = r.u32_at(kOffMaxBuffer);
    s.max_buffer = max_buffer < kMinMaxBuffer ? kMinMaxBuffer : max_buffer;
    s.max_raw = r.u32_at(kOffMaxRaw);
    s.capabilities = r.u32_at(kOffCapabilities);
    s.read_cap = 0;

    if (s.dialect_index > kLastNtDialect)
        return vnb_fail(-8, "the server picked dialect index %d (not the NT LM 0.12 family)", s.dialect_index);

    if (reply_len >= kOffBytes) {
        int32_t rc = take_bytes_block(s, r);
        if (rc != 0)
            return rc;
    } else if (s.capabilities & smb::kCapExtendedSecurity) {
        return vnb_fail(-2, "extended-security NEGOTIATE carried no bytes block");
    } else {
        no_challenge(s);
    }

    s.negotiated = 1;
    s.signing = (s.security_mode & smb::kSecSignaturesRequired) ? 1 : 0;
    if (sess_trace_on())
        std::fprintf(stderr, "[neg] idx=%d sec=0x%02x mpx=%u buf=%u caps=0x%08x extsec=%d\n", s.dialect_index,
                     s.security_mode, s.max_mpx, s.max_buffer, s.capabilities, s.ext_security);
    return 0;
}
