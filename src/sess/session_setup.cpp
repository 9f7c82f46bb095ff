// SESSION_SETUP_ANDX: the extended-security logon (NTLMSSP in SPNEGO), the
// non-extended logon (LMv2 and NTLMv2, or what the LegacyAuth setting
// allows: NTLMv1, the LAN Manager response, the plaintext password) and the
// session of a share-level server.
#include <cstdio>
#include <cstring>

#include "crypto/crypto.h"
#include "net/net.h"
#include "ntlm/ntlm.h"
#include "ntlm/spnego.h"
#include "sess/andx_chain.h"
#include "sess/exchange.h"
#include "sess/logon.h"
#include "sess/sess_sign.h"
#include "sess/trace.h"
#include "sess/trans.h"
#include "sess/tree_file.h"
#include "util/codepage.h"
#include "util/error.h"
#include "util/le_reader.h"
#include "util/status.h"
#include "util/text.h"
#include "util/smb1_wire.h"

namespace {

constexpr uint32_t kMaxMpxCount = 2;
constexpr uint32_t kVcNumber = 1;
// Extended security, NT find, 32-bit status, NT SMBs, Unicode.
constexpr uint32_t kCapsExtended = 0x80001054;
// The same without extended security. CAP_STATUS32 matters: without it a
// server answers in DOS error form, even its successes.
constexpr uint32_t kCapsBasic = 0x00001054;
constexpr uint16_t kActionGuest = 0x0001;
constexpr int kLegLimit = 7;  // the seventh request is never sent
constexpr size_t kMaxNtResponse = 2048 - 24;
// Room for the longest user or domain name as UTF-16LE.
constexpr size_t kTextArea = 2 * sizeof Session::user;
constexpr uint32_t kFinalReplySeq = 1;  // the final SESSION_SETUP reply of a signing session

// Offsets in the SESSION_SETUP_ANDX reply.
constexpr size_t kOffWordCount = 32;
constexpr size_t kOffAction = 37;
constexpr size_t kOffBlobLength = 39;

// Appends a text for the SESSION_SETUP data bytes: UTF-16LE with a two-byte
// terminator, or in the session's code page with one NUL. A text that does
// not convert is left out with its terminator (false).
bool put_text(ByteBuffer *b, const char *text, bool unicode, CodePage cp)
{
    uint8_t area[kTextArea];
    size_t n = 0;
    if (vnb_utf8_to_wire(text, unicode, cp, area, sizeof area, &n) != 0)
        return false;
    vnb_buf_put(b, area, n);
    if (unicode)
        vnb_w16(b, 0);
    else
        vnb_buf_byte(b, 0);
    return true;
}

// Unicode strings start at an even offset from the header.
void pad_for_unicode(const ByteBuffer &words, ByteBuffer *bytes)
{
    size_t data_start = smb::kHeaderLen + 1 + static_cast<size_t>(words.len) + 2;
    if ((data_start + bytes->len) % 2 != 0)
        vnb_buf_byte(bytes, 0);
}

// The fixed words both forms start with, up to SessionKey.
void put_andx_prefix(const Session &s, ByteBuffer *w)
{
    vnb_buf_byte(w, 0xFF);  // AndXCommand: none
    vnb_buf_byte(w, 0);     // AndXReserved
    vnb_w16(w, 0);          // AndXOffset
    vnb_w16(w, vnb_client_max_buffer(s));
    vnb_w16(w, kMaxMpxCount);
    vnb_w16(w, kVcNumber);
    vnb_w32(w, 0);          // SessionKey
}

uint32_t request_flags2(const Session &s)
{
    return s.flags2 ? s.flags2 : kFlags2Default;
}

// Sends one SESSION_SETUP_ANDX and reads the reply's status, guest bit,
// security blob and UID. The leg that completes the logon (last_leg) takes
// the TREE_CONNECT of the session's first share along when it can: *links
// is then the count of links the reply answered (1: the tree's is missing),
// and 0 when nothing was chained. The status of a reply that answers both
// belongs to the tree; the logon went through.
int32_t setup_exchange(Session &s, const ByteBuffer &words, const ByteBuffer &bytes, bool last_leg, SmbRequest &req,
                       SetupReply *out, int *links)
{
    *out = SetupReply{};
    *links = 0;
    if (words.failed || bytes.failed)
        return vnb_fail(-11, "out of memory");
    ByteBuffer tree_words{};
    ByteBuffer tree_bytes{};
    bool chain = last_leg && tree_chain_wanted(s) && tree_chain_build(s, &tree_words, &tree_bytes) == 0;
    if (chain) {
        size_t first_end = smb::kHeaderLen + 1 + words.len + 2 + bytes.len;
        chain = chain_fits(s, (first_end + 3) / 4 * 4 + 1 + tree_words.len + 2 + tree_bytes.len);
    }
    int32_t rc = 0;
    if (chain)
        rc = chain_exchange(s, {smb::SESSION_SETUP_ANDX, buf_span(words), buf_span(bytes)},
                            {smb::TREE_CONNECT_ANDX, buf_span(tree_words), buf_span(tree_bytes)}, 0, false, req);
    else
        rc = exchange(s, smb::SESSION_SETUP_ANDX, buf_span(words), buf_span(bytes), 0, false, req);
    vnb_buf_free(&tree_words);
    vnb_wipe(tree_bytes.data, tree_bytes.len);
    vnb_buf_free(&tree_bytes);
    if (rc != 0)
        return rc;
    if (chain) {
        AndxLink found[kMaxAndxLinks];
        int32_t n = andx_links(req.message(), found);
        if (n < 0)
            return n;
        if (n >= 2 && found[1].command != smb::TREE_CONNECT_ANDX)
            return vnb_fail(-2, "chained reply: command %02x answers TREE_CONNECT", found[1].command);
        *links = n;
    }
    rc = setup_reply_read(s, req.header, req.message(), out);
    if (rc == 0 && *links >= 2) {
        out->status = 0;
        out->status_is_nt = true;
    }
    return rc;
}

}  // namespace

int32_t setup_reply_read(Session &s, const ParsedHeader &h, std::span<const uint8_t> reply, SetupReply *out)
{
    *out = SetupReply{};
    const size_t reply_len = reply.size();
    LeReader r(reply);
    uint32_t wc = r.u8_at(kOffWordCount);
    size_t words_end = smb::kHeaderLen + 1 + 2 * size_t{wc} + 2;  // through ByteCount
    if (wc >= 3 && reply_len >= words_end)
        out->guest = (r.u16_at(kOffAction) & kActionGuest) ? 1 : 0;
    if (wc > 3 && reply_len >= words_end) {
        size_t blob_len = r.u16_at(kOffBlobLength);
        if (blob_len && reply_len >= words_end + blob_len) {
            out->blob = reply.data() + words_end;
            out->blob_len = blob_len;
        }
    }
    if (sess_trace_on())
        std::fprintf(stderr, "[ss1] wc=%u uid_read=%u nt=%d status=%08x\n", wc, h.uid, h.status_is_nt, h.status);
    if (h.uid != 0)
        s.uid = h.uid;
    // A server without NT statuses answers in DOS form: success is 0, and an
    // interim leg of extended security says ERRDOS/ERRmoredata.
    out->status = h.status;
    out->status_is_nt = h.status_is_nt != 0;
    if (!out->status_is_nt && hdr_status_means(h, STATUS_MORE_PROCESSING_REQUIRED)) {
        out->status = STATUS_MORE_PROCESSING_REQUIRED;
        out->status_is_nt = true;
    }
    // Some servers sign the final reply without setting the Flags2 bit;
    // others fill an unsigned reply's field with the text "BSRSPYL ".
    static constexpr uint8_t kNoSignature[8] = {};
    static constexpr uint8_t kPlaceholder[8] = {'B', 'S', 'R', 'S', 'P', 'Y', 'L', ' '};
    out->signature = h.is_signed || (std::memcmp(h.signature, kNoSignature, sizeof kNoSignature) != 0 &&
                                     std::memcmp(h.signature, kPlaceholder, sizeof kPlaceholder) != 0);
    return 0;
}

namespace {

// A failure status of SESSION_SETUP: recorded, and the key dropped.
int32_t setup_refused(Session &s, const SetupReply &rep)
{
    s.last_status = rep.status;
    s.last_status_nt = rep.status_is_nt ? 1 : 0;
    s.last_code = vnb_status_code(rep.status, s.last_status_nt);
    vnb_wipe(s.signing_key, sizeof s.signing_key);
    return vnb_fail(s.last_code != 0 ? s.last_code : -2, "SESSION_SETUP: %s", vnb_status_name(rep.status));
}

}  // namespace

int32_t setup_done(Session &s, std::span<const uint8_t> reply, const SetupReply &rep, int legs)
{
    int guest = rep.guest || s.anonymous ? 1 : 0;
    if (s.signing && !guest && rep.signature) {
        int ok = sess_verify(s, kFinalReplySeq, reply);
        if (ok < 0)
            return vnb_fail(-11, "out of memory");
        if (ok == 0)
            return vnb_fail(-2, "SESSION_SETUP reply signature does not verify");
    }
    s.established = 1;
    s.guest = guest;
    // The final SESSION_SETUP exchange took sequence numbers 0 and 1.
    s.sign_seq = 2;
    if (sess_trace_on())
        std::fprintf(stderr, "[ss] uid=%u guest=%d extsec=%d legs=%d signing=%d logon=%s\n", s.uid, s.guest,
                     s.ext_security, legs, s.signing, vnb_logon_kind_name(s.logon));
    return 0;
}

namespace {

void build_extended(const Session &s, const ByteBuffer &token, ByteBuffer *words, ByteBuffer *bytes)
{
    put_andx_prefix(s, words);
    vnb_w16(words, static_cast<uint32_t>(token.len));  // SecurityBlobLength
    vnb_w32(words, 0);                                  // Reserved
    // Large reads are asked for whenever the server offers them.
    vnb_w32(words, (s.capabilities & smb::kCapLargeReadX) | kCapsExtended);

    vnb_buf_put(bytes, token.data, token.len);
    bool unicode = (request_flags2(s) & smb::kFlags2Unicode) != 0;
    if (unicode)
        pad_for_unicode(*words, bytes);
    put_text(bytes, kNativeOs, unicode, s.code_page);
    put_text(bytes, kNativeLanMan, unicode, s.code_page);
}

LogonKind kind_of(NtlmV1Form form)
{
    switch (form) {
    case NtlmV1Form::ess: return LogonKind::ntlmv1_ess;
    case NtlmV1Form::nt_and_lm: return LogonKind::lm;
    default: return LogonKind::ntlmv1;
    }
}

}  // namespace

int32_t setup_answer_challenge(Session &s, const SetupReply &rep, int leg, ByteBuffer *token)
{
    if (!rep.blob || rep.blob_len < 8)
        return vnb_fail(-2, "MORE_PROCESSING_REQUIRED carried no token");
    const uint8_t *inner = nullptr;
    size_t inner_len = 0;
    int raw = 0;
    if (vnb_spnego_unwrap_resp(rep.blob, rep.blob_len, &inner, &inner_len, &raw) != 0)
        return vnb_fail(-2, "leg %d token is not a negTokenResp we can read", leg);
    if (!inner || inner_len < 8 || std::memcmp(inner, NTLMSSP_SIGNATURE, 8) != 0)
        return vnb_fail(-2, "leg %d did not carry an NTLM type-2 challenge", leg);
    if (vnb_ntlm_parse_type2(inner, inner_len, &s.type2) != 0)
        return vnb_fail(-2, "malformed NTLM type-2 CHALLENGE (leg %d)", leg);

    const char *domain = s.anonymous ? "" : s.domain;
    const char *user = s.anonymous ? "" : s.user;
    ByteBuffer type3{};
    uint8_t key[16];
    int built = 0;
    if (s.anonymous || s.legacy_auth == LegacyAuth::none) {
        built = vnb_ntlm_build_type3(&s.type2, domain, user, s.password, static_cast<uint64_t>(vnb_unix_now()),
                                     &type3, key);
        s.logon = s.anonymous ? LogonKind::anonymous : LogonKind::ntlmv2;
    } else {
        NtlmV1Form form = NtlmV1Form::nt;
        built = vnb_ntlm_build_type3_v1(&s.type2, domain, user, s.password, s.code_page,
                                        s.legacy_auth >= LegacyAuth::lm, nullptr, &type3, key, &form);
        s.logon = kind_of(form);
    }
    if (built != 0 || type3.failed) {
        vnb_wipe(key, sizeof key);
        vnb_buf_free(&type3);
        return vnb_fail(-3, "cannot build the NTLM type-3 for this identity");
    }
    std::memcpy(s.signing_key, key, sizeof key);
    vnb_wipe(key, sizeof key);

    vnb_buf_free(token);
    vnb_spnego_wrap_type3(type3.data, static_cast<size_t>(type3.len), token);
    vnb_wipe(type3.data, type3.len);
    vnb_buf_free(&type3);
    if (token->failed)
        return vnb_fail(-11, "out of memory");
    return 0;
}

namespace {

int32_t setup_extended(Session &s)
{
    // The LAN Manager response needs a CHALLENGE without extended session
    // security, so that logon does not ask for it.
    bool ask_ess = s.anonymous || s.legacy_auth < LegacyAuth::lm;
    ByteBuffer type1{};
    if (vnb_ntlm_build_type1(&type1, ask_ess) != 0 || type1.failed) {
        vnb_buf_free(&type1);
        return vnb_fail(-3, "cannot build the NTLM type-1");
    }
    ByteBuffer token{};
    vnb_spnego_wrap_type1(type1.data, static_cast<size_t>(type1.len), &token);
    vnb_buf_free(&type1);
    if (token.failed) {
        vnb_buf_free(&token);
        return vnb_fail(-11, "out of memory");
    }

    int32_t rc = 0;
    for (int leg = 1;; leg++) {
        ByteBuffer words{};
        ByteBuffer bytes{};
        build_extended(s, token, &words, &bytes);
        SmbRequest req;
        SetupReply rep;
        int links = 0;
        // The leg after a CHALLENGE carries the AUTHENTICATE that ends it.
        rc = setup_exchange(s, words, bytes, leg > 1, req, &rep, &links);
        vnb_buf_free(&words);
        vnb_wipe(bytes.data, bytes.len);
        vnb_buf_free(&bytes);
        if (rc != 0)
            break;
        if (rep.status == STATUS_MORE_PROCESSING_REQUIRED && rep.status_is_nt) {
            rc = setup_answer_challenge(s, rep, leg, &token);
            if (rc != 0)
                break;
            if (leg + 1 >= kLegLimit) {
                rc = vnb_fail(-2, "the server pings more than 4 SPNEGO interims");
                break;
            }
            continue;
        }
        rc = rep.status != 0 ? setup_refused(s, rep) : setup_done(s, req.message(), rep, leg);
        if (rc == 0 && links > 0)
            tree_chain_settle(s, req.message(), links);
        break;
    }
    vnb_wipe(token.data, token.len);
    vnb_buf_free(&token);
    return rc;
}

// Keeps a logon's two password fields in the session (the NT one is part
// of the MAC key) and its signing key.
void keep_responses(Session &s, const uint8_t *lm, size_t lm_len, const uint8_t *nt, size_t nt_len,
                    const uint8_t key[16])
{
    vnb_wipe(s.lm_response, sizeof s.lm_response);
    vnb_wipe(s.nt_response, sizeof s.nt_response);
    if (lm_len)
        std::memcpy(s.lm_response, lm, lm_len);
    if (nt_len)
        std::memcpy(s.nt_response, nt, nt_len);
    s.lm_response_len = static_cast<uint32_t>(lm_len);
    s.nt_response_len = static_cast<uint32_t>(nt_len);
    if (key)
        std::memcpy(s.signing_key, key, sizeof s.signing_key);
    else
        vnb_wipe(s.signing_key, sizeof s.signing_key);
}

// The LMv2 and NTLMv2 responses of a named non-extended logon.
int32_t ntlmv2_responses(Session &s)
{
    uint8_t lmv2[24];
    uint8_t key[16];
    ByteBuffer ntv2{};
    int rc = vnb_ntlm_v2_responses(s.domain, s.user, s.password, s.challenge,
                                   static_cast<uint64_t>(vnb_unix_now()), lmv2, &ntv2, key);
    int32_t result = 0;
    if (rc != 0 || ntv2.failed)
        result = vnb_fail(-3, "cannot build the NTLMv2 responses for this identity");
    else if (ntv2.len > kMaxNtResponse)
        result = vnb_fail(-7, "the NTLMv2 response overflows the frame");
    else
        keep_responses(s, lmv2, sizeof lmv2, ntv2.data, static_cast<size_t>(ntv2.len), key);
    s.logon = LogonKind::ntlmv2;
    vnb_wipe(lmv2, sizeof lmv2);
    vnb_wipe(key, sizeof key);
    vnb_wipe(ntv2.data, ntv2.len);
    vnb_buf_free(&ntv2);
    return result;
}

// The NTLMv1 responses, with the LAN Manager one when the settings allow it.
int32_t ntlmv1_responses(Session &s)
{
    NtlmV1Answer a;
    NtlmV1Form asked = s.legacy_auth >= LegacyAuth::lm ? NtlmV1Form::nt_and_lm : NtlmV1Form::nt;
    int32_t rc = 0;
    if (vnb_ntlm_v1_answer(s.password, s.code_page, s.challenge, asked, nullptr, &a) != 0) {
        rc = vnb_fail(-3, "cannot build the NTLMv1 responses for this identity");
    } else {
        keep_responses(s, a.lm, sizeof a.lm, a.nt, sizeof a.nt, a.session_key);
        s.logon = kind_of(a.form);
    }
    vnb_wipe(&a, sizeof a);
    return rc;
}

// The password itself for a server that offers no challenge, in the code
// page with its NUL, in the OEM password field: servers read it from there
// whatever their string form. An empty one (the anonymous logon) is the NUL
// alone, which needs no opt-in: Samba refuses an empty field.
int32_t plaintext_password(Session &s)
{
    const bool secret = !s.anonymous && s.password[0] != '\0';
    if (secret && s.legacy_auth < LegacyAuth::plaintext)
        return vnb_legacy_refusal("the password in plain text (it offers no challenge to answer)", LegacyAuth::plaintext);
    if (secret && s.signing)
        return vnb_fail(-8, "the server demands signatures, which a plaintext logon gives no key for");
    uint8_t oem[sizeof s.password + 1];
    size_t n = 0;
    if (vnb_utf8_to_oem(s.code_page, secret ? s.password : "", oem, sizeof oem - 1, &n) != 0)
        return vnb_fail(-8, "the password cannot be written in code page %s, which the server's plaintext logon needs",
                        vnb_code_page_name(s.code_page));
    oem[n] = 0;
    keep_responses(s, oem, n + 1, nullptr, 0, nullptr);
    vnb_wipe(oem, sizeof oem);
    s.logon = s.anonymous ? LogonKind::anonymous : LogonKind::plaintext;
    return 0;
}

// The non-extended request: both password fields, then account, domain and
// the native texts in the session's string form. false when the account or
// domain name cannot be sent in that form.
bool build_basic(const Session &s, ByteBuffer *words, ByteBuffer *bytes)
{
    put_andx_prefix(s, words);
    vnb_w16(words, s.lm_response_len);  // OEMPasswordLength
    vnb_w16(words, s.nt_response_len);  // UnicodePasswordLength
    vnb_w32(words, 0);                    // Reserved
    vnb_w32(words, (s.capabilities & (smb::kCapLargeReadX | smb::kCapLargeWriteX)) | kCapsBasic);

    vnb_buf_put(bytes, s.lm_response, s.lm_response_len);
    vnb_buf_put(bytes, s.nt_response, s.nt_response_len);
    bool unicode = (request_flags2(s) & smb::kFlags2Unicode) != 0;
    if (unicode)
        pad_for_unicode(*words, bytes);
    const char *user = s.anonymous ? "" : s.user;
    const char *domain = s.anonymous ? "" : s.domain;
    if (!put_text(bytes, user, unicode, s.code_page) || !put_text(bytes, domain, unicode, s.code_page))
        return false;
    put_text(bytes, kNativeOs, unicode, s.code_page);
    put_text(bytes, kNativeLanMan, unicode, s.code_page);
    return true;
}

// The password fields of a non-extended logon, by what the server offers
// and the settings allow.
int32_t basic_responses(Session &s)
{
    if (!(s.security_mode & smb::kSecEncryptPasswords) && (s.security_mode & smb::kSecUserLevel))
        return plaintext_password(s);
    if (s.anonymous) {
        keep_responses(s, nullptr, 0, nullptr, 0, nullptr);
        s.logon = LogonKind::anonymous;
        return 0;
    }
    if (!(s.security_mode & smb::kSecUserLevel)) {
        // Share-level: the session carries the user name only; each
        // TREE_CONNECT carries the share's password.
        keep_responses(s, nullptr, 0, nullptr, 0, nullptr);
        s.logon = LogonKind::share;
        return 0;
    }
    if (!s.have_challenge)
        return vnb_fail(-2, "the server offered no challenge and no extended security");
    return s.legacy_auth == LegacyAuth::none ? ntlmv2_responses(s) : ntlmv1_responses(s);
}

int32_t setup_basic(Session &s)
{
    int32_t rc = basic_responses(s);
    if (rc != 0)
        return rc;

    ByteBuffer words{};
    ByteBuffer bytes{};
    SmbRequest req;
    SetupReply rep;
    int links = 0;
    rc = build_basic(s, &words, &bytes)
             ? setup_exchange(s, words, bytes, true, req, &rep, &links)
             : vnb_fail(-8, "the user or domain name cannot be written in code page %s (the server has no Unicode)",
                        vnb_code_page_name(s.code_page));
    vnb_buf_free(&words);
    vnb_wipe(bytes.data, bytes.len);
    vnb_buf_free(&bytes);
    if (!(s.security_mode & smb::kSecEncryptPasswords))
        keep_responses(s, nullptr, 0, nullptr, 0, nullptr);  // a plaintext password is not kept
    if (rc != 0)
        return rc;
    if (rep.status == STATUS_MORE_PROCESSING_REQUIRED && rep.status_is_nt)
        return vnb_fail(-2, "MORE_PROCESSING_REQUIRED on the non-extended leg");
    if (rep.status != 0)
        return setup_refused(s, rep);
    rc = setup_done(s, req.message(), rep, 1);
    if (rc == 0 && links > 0)
        tree_chain_settle(s, req.message(), links);
    return rc;
}

}  // namespace

int32_t do_session_setup(Session &s)
{
    s.logon = LogonKind::none;
    s.tree_logon = LogonKind::none;
    return s.ext_security ? setup_extended(s) : setup_basic(s);
}
