// SESSION_SETUP_ANDX (extended security over NTLMSSP, raw or in SPNEGO, and
// the basic NTLMv2 form) and LOGOFF_ANDX.
#include <cstring>

#include "crypto/crypto.h"
#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "ntlm/ntlm.h"
#include "ntlm/spnego.h"
#include "util/status.h"
#include "util/text.h"

using namespace smb;

namespace {

constexpr uint32_t kServerUid = 0x4001;
constexpr uint8_t kAcceptCompleted[] = {0xA1, 0x07, 0x30, 0x05, 0xA0, 0x03, 0x0A, 0x01, 0x00};

// Word offsets of the two request forms.
constexpr size_t kOffMaxBuffer = 37;
constexpr size_t kOffBlobLen = 47;     // WordCount 12
constexpr size_t kOffLmLen = 47;       // WordCount 13
constexpr size_t kOffNtLen = 49;
constexpr size_t kOffCapsExtended = 53;  // WordCount 12
constexpr size_t kOffCapsBasic = 55;     // WordCount 13

struct Scrub {
    void *p;
    size_t n;
    ~Scrub() { vnb_wipe(p, n); }
};

// The server's 80-byte CHALLENGE: no target name, flags 0x00008205 (with
// extended session security when settled), the challenge, and target
// information naming FAKE with the server's clock.
void put_challenge(ByteBuffer *b, bool ess)
{
    static constexpr uint8_t kSig[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
    vnb_buf_put(b, kSig, 8);
    vnb_w32(b, 2);
    vnb_w16(b, 0);
    vnb_w16(b, 0);
    vnb_w32(b, 0);
    vnb_w32(b, 0x00008205 | (ess ? NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY : 0));
    vnb_buf_put(b, F.challenge, 8);
    vnb_w64(b, 0);
    vnb_w16(b, 32);
    vnb_w16(b, 32);
    vnb_w32(b, 48);
    vnb_w16(b, 2);
    vnb_w16(b, 4);
    vnb_buf_put(b, "FAKE", 4);
    vnb_w16(b, 1);
    vnb_w16(b, 4);
    vnb_buf_put(b, "FAKE", 4);
    vnb_w16(b, 7);
    vnb_w16(b, 8);
    vnb_w64(b, kServerFiletime);
    vnb_w32(b, 0);
}

const FakeUser *first_user()
{
    return F.user_count > 0 ? &F.users[0] : nullptr;
}

// Whether the NEGOTIATE message inside a first-leg token (raw, or found
// inside its SPNEGO wrapping) asks for extended session security.
bool type1_asks_ess(const uint8_t *blob, size_t len)
{
    for (size_t at = 0; at + 16 <= len; at++) {
        if (memcmp(blob + at, NTLMSSP_SIGNATURE, 8) == 0) {
            LeReader t(blob + at, len - at);
            return t.u32_at(8) == 1 && (t.u32_at(12) & NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY) != 0;
        }
    }
    return false;
}

// An AUTHENTICATE message with NTLMv1 responses (24-byte NT response):
// checked when the ntlm_v1 switch lets the server take them. 0 verified.
int verify_v1_type3(const FakeServerState &st, const uint8_t *token, size_t len, const char *password,
                    uint8_t key[16])
{
    if (F.faults.ntlm_v1 == 0)
        return 1;
    NtlmType3Fields f;
    const FakeUser *u = first_user();
    if (vnb_ntlm_type3_fields(token, len, &f) != 0 || (u && vnb_casecmp(f.user, u->name) != 0))
        return 1;
    bool ess = st.ess && (f.flags & NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY);
    bool lm_only = F.faults.ntlm_v1 == 3;
    NtlmV1Form form = NtlmV1Form::nt;
    return vnb_ntlm_verify_v1(f.lm, f.lm_len, lm_only ? nullptr : f.nt, f.nt_len, password, kFakeCodePage,
                              F.challenge, ess && !lm_only, true, key, &form);
}

// The plaintext password field: the password in the code page, NUL-ended
// or not.
bool plaintext_matches(const uint8_t *field, size_t len, const char *password)
{
    if (!field || len == 0)
        return false;
    while (len > 0 && field[len - 1] == 0)
        len--;
    char text[258];
    return vnb_oem_to_utf8(kFakeCodePage, field, len, text, sizeof text) == 0 && strcmp(text, password) == 0;
}

void fail(FakeServerState &st, FakeReply &rp, uint32_t status)
{
    vnb_wipe(st.session_key, sizeof st.session_key);
    rp_error(rp, status);
}

// Logged on. Signing starts with the first non-guest logon of a connection
// that requires it; the reply to this request then carries sequence 1.
void logged_on(FakeServerState &st, FakeReply &rp, bool guest, const uint8_t key[16], const uint8_t *nt, size_t nt_len)
{
    st.session = 1;
    st.guest = guest ? 1 : 0;
    st.leg = 0;
    if (st.uid == 0)
        st.uid = kServerUid;
    memcpy(st.session_key, key, 16);
    if (st.signing && !guest && !st.sign_active) {
        st.sign_active = 1;
        memcpy(st.mac_key, key, 16);
        if (nt_len > sizeof st.mac_key - 16)
            nt_len = sizeof st.mac_key - 16;
        if (nt_len > 0)
            memcpy(st.mac_key + 16, nt, nt_len);
        st.mac_key_len = static_cast<uint32_t>(16 + nt_len);
        st.seq = 2;
        rp.sign_seq1 = true;
    }
    fake_trace("[ss] uid=%u guest=%d signing=%d\n", st.uid, st.guest, st.sign_active);
}

void put_native_strings(FakeReply &rp, const FakeRequest &rq, bool with_domain)
{
    rp_string(rp, "Unix", rq.unicode, true);
    rp_string(rp, "vnsmb1c fake", rq.unicode, true);
    if (with_domain)
        rp_string(rp, "FAKE", rq.unicode, true);
}

// Reply body of the extended form: WordCount 4 with the security blob.
void ext_body(FakeReply &rp, const FakeRequest &rq, bool guest, const uint8_t *blob, size_t blob_len)
{
    ByteBuffer *b = &rp.msg;
    rp_words(rp, 4);
    vnb_buf_byte(b, 0xFF);
    vnb_buf_byte(b, 0);
    vnb_w16(b, 0);
    vnb_w16(b, guest ? 1 : 0);
    vnb_w16(b, static_cast<uint32_t>(blob_len));
    size_t bc = rp_bytes_begin(rp);
    vnb_buf_put(b, blob, blob_len);
    put_native_strings(rp, rq, false);
    rp_bytes_end(rp, bc);
}

void extended(const FakeRequest &rq, FakeReply &rp)
{
    FakeServerState &st = rq.st;
    size_t blob_len = rq.u16_at(kOffBlobLen);
    fake_trace("[fss] pos=%zu n=%zu bloblen=%zu\n", rq.bytes_off, rq.len, blob_len);
    if (blob_len == 0 || blob_len > rq.bytes_len) {
        fail(st, rp, STATUS_INVALID_PARAMETER);
        return;
    }
    const uint8_t *blob = rq.peek(rq.bytes_off, blob_len);
    if (F.faults.logon_fail > 0 && st.leg == 1) {
        F.faults.logon_fail--;
        fail(st, rp, STATUS_LOGON_FAILURE);
        return;
    }
    bool raw = blob_len >= 8 && memcmp(blob, NTLMSSP_SIGNATURE, 8) == 0;
    fake_trace("[fss-leg] extsec=%d leg=%d tn=%zu tok0=%02x raw?=%d\n", st.ext_security, st.leg, blob_len,
               blob[0], raw ? 1 : 0);

    if (st.leg == 0) {
        if (!raw && !vnb_negtokeninit_ntlm(blob, blob_len)) {
            fail(st, rp, STATUS_INVALID_PARAMETER);
            return;
        }
        st.ess = F.faults.ntlm_ess && type1_asks_ess(blob, blob_len) ? 1 : 0;
        ByteBuffer ch{};
        put_challenge(&ch, st.ess != 0);
        ByteBuffer token{};
        if (raw)
            vnb_buf_put(&token, ch.data, ch.len);
        else
            vnb_spnego_resp_fake(ch.data, ch.len, &token);
        st.leg = 1;
        if (st.uid == 0)
            st.uid = kServerUid;
        rp.status = STATUS_MORE_PROCESSING_REQUIRED;
        ext_body(rp, rq, false, token.data, token.len);
        vnb_buf_free(&ch);
        vnb_buf_free(&token);
        return;
    }

    const FakeUser *u = first_user();
    uint8_t key[16] = {};
    Scrub scrub{key, sizeof key};
    const uint8_t *token = blob;
    size_t token_len = blob_len;
    int is_raw = 0;
    int r = -1;
    if (vnb_spnego_unwrap_resp(blob, blob_len, &token, &token_len, &is_raw) == 0) {
        r = vnb_ntlm_verify_type3(token, token_len, u ? u->name : "", u ? u->pass : "", key);
    } else {
        token = blob;
        token_len = blob_len;
    }
    uint32_t user_len = 0;
    uint32_t nt_len = 0;
    LeReader t(token, token_len);
    if (token_len >= 46 && t.u32_at(8) == 3) {
        user_len = t.u16_at(36);
        nt_len = t.u16_at(20);
    }
    if (r == 0 && F.faults.ntlm_v1 >= 2)
        r = 1;  // a server that no longer knows NTLMv2
    if (r == -1 && nt_len == 24 && u)
        r = verify_v1_type3(st, token, token_len, u->pass, key) == 0 ? 0 : 1;
    if (r != 0 && r != 2 && (user_len != 0 || nt_len != 0)) {
        st.leg = 0;
        fail(st, rp, STATUS_LOGON_FAILURE);
        return;
    }
    bool guest = r == 2 || (user_len == 0 && nt_len == 0);
    if (guest)
        memset(key, 0, sizeof key);
    logged_on(st, rp, guest, key, nullptr, 0);  // the MAC key is the session key alone
    ext_body(rp, rq, guest, kAcceptCompleted, sizeof kAcceptCompleted);
}

// Basic security: LMv2 and NTLMv2 responses against the NEGOTIATE challenge,
// checked like an AUTHENTICATE message (the NTProofStr recomputed over the
// received blob with the first user's password); under the old-server
// switches NTLMv1 and LAN Manager responses, the plaintext password, or
// (share-level) anything at all.
void basic(const FakeRequest &rq, FakeReply &rp)
{
    FakeServerState &st = rq.st;
    size_t lm_len = rq.u16_at(kOffLmLen);
    size_t nt_len = rq.u16_at(kOffNtLen);
    fake_trace("[fss] pos=%zu n=%zu lm=%zu nt=%zu\n", rq.bytes_off, rq.len, lm_len, nt_len);
    if (lm_len + nt_len > rq.bytes_len) {
        fail(st, rp, STATUS_INVALID_PARAMETER);
        return;
    }
    const uint8_t *nt = rq.peek(rq.bytes_off + lm_len, nt_len);
    size_t end = rq.bytes_off + rq.bytes_len;
    size_t pos = rq.bytes_off + lm_len + nt_len;
    if (rq.unicode && pos % 2 != 0)
        pos++;
    char name[129] = "";
    char domain[129] = "";
    if (fake_read_string(rq, pos, end, rq.unicode, name, sizeof name, &pos) < 0)
        name[0] = '\0';
    if (rq.unicode && pos % 2 != 0)
        pos++;
    if (fake_read_string(rq, pos, end, rq.unicode, domain, sizeof domain, &pos) < 0)
        domain[0] = '\0';

    uint8_t key[16] = {};
    Scrub scrub{key, sizeof key};
    const FakeUser *user = first_user();
    const uint8_t *lm = rq.peek(rq.bytes_off, lm_len);
    bool known = name[0] != '\0' && (!user || vnb_casecmp(user->name, name) == 0);
    if (F.faults.share_level) {
        // Who logs on does not matter: each share checks its password.
        logged_on(st, rp, false, key, nullptr, 0);
    } else if (F.faults.plaintext) {
        if (name[0] == '\0' && (lm_len == 0 || (lm_len == 1 && lm && lm[0] == 0))) {
            logged_on(st, rp, true, key, nullptr, 0);
        } else if (!known || !plaintext_matches(lm, lm_len, user ? user->pass : "")) {
            fail(st, rp, STATUS_LOGON_FAILURE);
            return;
        } else {
            logged_on(st, rp, false, key, nullptr, 0);
        }
    } else if (nt_len == 24 || (nt_len == 0 && lm_len == 24 && name[0] != '\0')) {
        NtlmV1Form form = NtlmV1Form::nt;
        bool lm_only = F.faults.ntlm_v1 == 3;
        if (F.faults.ntlm_v1 == 0 || !known ||
            vnb_ntlm_verify_v1(lm, lm_len, lm_only ? nullptr : nt, nt_len, user ? user->pass : "", kFakeCodePage,
                               st.basic_challenge, false, true, key, &form) != 0) {
            fail(st, rp, STATUS_LOGON_FAILURE);
            return;
        }
        logged_on(st, rp, false, key, nt, nt_len);
    } else if (nt_len == 0) {
        if (name[0] != '\0') {
            fail(st, rp, STATUS_LOGON_FAILURE);
            return;
        }
        logged_on(st, rp, true, key, nullptr, 0);
    } else {
        if (F.faults.ntlm_v1 >= 2) {
            fail(st, rp, STATUS_LOGON_FAILURE);
            return;
        }
        if (nt_len < 44 || nt_len > 1040 || nt[16] != 0x01 || nt[17] != 0x01) {
            fail(st, rp, STATUS_INVALID_PARAMETER);
            return;
        }
        const FakeUser *u = user;
        if (!known) {
            fail(st, rp, STATUS_LOGON_FAILURE);
            return;
        }
        uint8_t nt_hash[16];
        uint8_t v2_hash[16];
        uint8_t proof[16];
        Scrub s1{nt_hash, sizeof nt_hash}, s2{v2_hash, sizeof v2_hash}, s3{proof, sizeof proof};
        vnb_ntlm_hashes_dom(name, domain, u ? u->pass : "", nt_hash, v2_hash);
        HmacMd5Ctx ctx;
        Scrub s4{&ctx, sizeof ctx};
        vnb_hmacmd5_init(&ctx, v2_hash, 16);
        vnb_hmacmd5_update(&ctx, st.basic_challenge, 8);
        vnb_hmacmd5_update(&ctx, nt + 16, nt_len - 16);
        vnb_hmacmd5_final(&ctx, proof);
        if (!vnb_ct_equal(proof, nt, 16)) {
            fail(st, rp, STATUS_LOGON_FAILURE);
            return;
        }
        vnb_hmacmd5(v2_hash, 16, proof, 16, key);
        logged_on(st, rp, false, key, nt, nt_len);
    }

    ByteBuffer *b = &rp.msg;
    rp_words(rp, 3);
    vnb_buf_byte(b, 0xFF);
    vnb_buf_byte(b, 0);
    vnb_w16(b, 0);
    vnb_w16(b, st.guest ? 1 : 0);
    size_t bc = rp_bytes_begin(rp);
    put_native_strings(rp, rq, true);
    rp_bytes_end(rp, bc);
}

}  // namespace

void fake_cmd_session_setup(const FakeRequest &rq, FakeReply &rp)
{
    FakeServerState &st = rq.st;
    bool ext_form = rq.wc == 12;
    if (!st.negotiated || !rq.words_ok || !rq.bytes_ok || (rq.wc != 12 && rq.wc != 13) ||
        ext_form != (st.ext_security != 0)) {
        fake_trace("[fss] bad request wc=%u n=%zu\n", rq.wc, rq.len);
        fail(st, rp, STATUS_INVALID_PARAMETER);
        return;
    }
    st.client_max_buffer = rq.u16_at(kOffMaxBuffer);
    // As Samba: a client without CAP_STATUS32 gets DOS error codes, in this
    // reply already.
    uint32_t caps = rq.u32_at(ext_form ? kOffCapsExtended : kOffCapsBasic);
    st.dos_errors = (caps & kCapStatus32) ? 0 : 1;
    st.large_read = (caps & kCapLargeReadX) && !F.faults.no_large_read ? 1 : 0;
    if (ext_form)
        extended(rq, rp);
    else
        basic(rq, rp);
}

void fake_end_session(FakeServerState &st)
{
    fake_close_all_handles(st);
    fake_close_all_searches(st);
    st.session = 0;
    st.guest = 0;
    st.uid = 0;
    st.leg = 0;
    vnb_wipe(st.session_key, sizeof st.session_key);
}

void fake_cmd_logoff(const FakeRequest &rq, FakeReply &rp)
{
    FakeServerState &st = rq.st;
    if (!st.session) {
        rp_error(rp, STATUS_USER_SESSION_DELETED);
        return;
    }
    fake_end_session(st);
    ByteBuffer *b = &rp.msg;
    rp_words(rp, 2);
    vnb_buf_byte(b, 0xFF);
    vnb_buf_byte(b, 0);
    vnb_w16(b, 0);
    vnb_w16(b, 0);  // ByteCount
}
