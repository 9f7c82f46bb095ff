// NEGOTIATE: picks "NT LM 0.12" from the client's list and announces the
// server's security. A NEGOTIATE starts a new connection: whatever session,
// handles, searches and signing state the previous one left are dropped.
#include <cstring>

#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"

using namespace smb;

namespace {

// negTokenInit naming NTLMSSP as the one mechanism (RFC 4178), the security
// blob of an extended-security NEGOTIATE reply.
constexpr uint8_t kNegTokenInit[] = {
    0x60, 0x1C, 0x06, 0x06, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x02,  // [APPLICATION 0], SPNEGO
    0xA0, 0x12, 0x30, 0x10,                                      // [0] NegTokenInit, SEQUENCE
    0xA0, 0x0E, 0x30, 0x0C,                                      // [0] mechTypes, SEQUENCE OF
    0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0A,  // NTLMSSP
};

constexpr char kNtLm012[] = "NT LM 0.12";

// Index of "NT LM 0.12" among the dialects (each 0x02 then a NUL-terminated
// name), or -1 when the list does not offer it or is malformed before it.
int dialect_index(const FakeRequest &rq)
{
    if (rq.bytes_off == 0)
        return -1;
    std::span<const uint8_t> p = rq.block(rq.bytes_off, rq.bytes_len);
    size_t n = p.size();
    size_t pos = 0;
    for (int index = 0; pos < n; index++) {
        if (p[pos] != 0x02)
            return -1;
        pos++;
        const void *nul = memchr(p.data() + pos, 0, n - pos);
        if (!nul)
            return -1;
        size_t len = static_cast<const uint8_t *>(nul) - (p.data() + pos);
        if (len == sizeof kNtLm012 - 1 && memcmp(p.data() + pos, kNtLm012, len) == 0)
            return index;
        pos += len + 1;
    }
    return -1;
}

void new_connection(FakeServerState &st)
{
    fake_end_session(st);
    st.sign_active = 0;
    st.seq = 0;
    st.mac_key_len = 0;
    st.client_max_buffer = 0;
    st.dos_errors = 0;
    memset(st.mac_key, 0, sizeof st.mac_key);
}

}  // namespace

void fake_cmd_negotiate(const FakeRequest &rq, FakeReply &rp)
{
    if (F.faults.refuse_nt1) {
        rp_error(rp, STATUS_REQUEST_NOT_SUPPORTED);
        return;
    }
    FakeServerState &st = rq.st;
    new_connection(st);
    st.negotiated = 1;
    // As Samba: extended security only for a client that asks for it, and
    // never with plaintext passwords or share-level security.
    bool old_security = F.faults.plaintext || F.faults.share_level;
    st.ext_security = F.faults.no_extsec || old_security || !(rq.flags2 & kFlags2ExtSecurity) ? 0 : 1;
    st.signing = F.faults.sign_required ? 1 : 0;

    int index = dialect_index(rq);
    fake_trace("[neg] dialect=%d extsec=%d signing=%d\n", index, st.ext_security, st.signing);
    if (index < 0) {
        rp_words(rp, 1);
        vnb_w16(&rp.msg, 0xFFFF);
        vnb_w16(&rp.msg, 0);
        return;
    }

    uint32_t caps = kCapLargeFiles | kCapNtSmbs | kCapNtFind;
    if (!F.faults.dos_errors)
        caps |= kCapStatus32;
    if (!F.faults.no_unicode)
        caps |= kCapUnicode;
    if (!F.faults.no_large_read)
        caps |= kCapLargeReadX;
    if (st.ext_security)
        caps |= kCapExtendedSecurity;
    uint8_t mode = kSecSignaturesEnabled;
    if (!F.faults.share_level)
        mode |= kSecUserLevel;
    if (!F.faults.plaintext)
        mode |= kSecEncryptPasswords;
    if (st.signing)
        mode |= kSecSignaturesRequired;

    ByteBuffer *b = &rp.msg;
    rp_words(rp, 17);
    vnb_w16(b, static_cast<uint32_t>(index));
    vnb_buf_byte(b, mode);
    vnb_w16(b, fake_max_mpx());  // MaxMpxCount
    vnb_w16(b, 1);      // MaxNumberVcs
    vnb_w32(b, 65535);  // MaxBufferSize
    vnb_w32(b, 65536);  // MaxRawSize
    vnb_w32(b, 0);      // SessionKey
    vnb_w32(b, caps);
    vnb_w64(b, kServerFiletime);
    vnb_w16(b, 0);      // ServerTimeZone
    bool challenge = !st.ext_security && !F.faults.plaintext;
    vnb_buf_byte(b, challenge ? 8 : 0);
    size_t bc = rp_bytes_begin(rp);
    if (st.ext_security) {
        // ServerGUID: the challenge value twice.
        for (int i = 0; i < 2; i++)
            vnb_buf_put(b, F.challenge, 8);
        vnb_buf_put(b, kNegTokenInit, sizeof kNegTokenInit);
    } else {
        memcpy(st.basic_challenge, F.challenge, 8);
        if (challenge)
            vnb_buf_put(b, st.basic_challenge, 8);
        rp_string(rp, "FAKE", rq.unicode, false);  // DomainName
        rp_string(rp, "", rq.unicode, false);      // ServerName
    }
    rp_bytes_end(rp, bc);
}
