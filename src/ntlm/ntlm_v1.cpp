// NTLMv1 and the LAN Manager response: the logons of servers that predate
// NTLMv2, sent only when a session's settings allow them.
#include <cstring>

#include "crypto/crypto.h"
#include "ntlm/ntlm.h"
#include "ntlm/ntlm_internal.h"

namespace {

constexpr uint8_t kLmMagic[8] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
constexpr size_t kLmPasswordMax = 14;

void nt_hash_of(const char *password, uint8_t out[16])
{
    NtlmSecret<uint8_t[16]> v2;
    vnb_ntlm_hashes_dom("", "", password, out, v2.v);
}

// The NTLMv1 response under extended session security: the NT hash answers
// the first 8 bytes of MD5(server challenge, client challenge).
void ess_response(const uint8_t nt_hash[16], const uint8_t server_challenge[8], const uint8_t client_challenge[8],
                  uint8_t out[24])
{
    uint8_t both[16];
    std::memcpy(both, server_challenge, 8);
    std::memcpy(both + 8, client_challenge, 8);
    uint8_t digest[16];
    vnb_md5(both, sizeof both, digest);
    vnb_ntlm_desl(nt_hash, digest, out);
}

// Under extended session security the key is HMAC-MD5 of the session base
// key over both challenges; otherwise the base key itself.
void v1_session_key(const uint8_t nt_hash[16], bool ess, const uint8_t server_challenge[8],
                    const uint8_t client_challenge[8], uint8_t out[16])
{
    NtlmSecret<uint8_t[16]> base;
    vnb_md4(nt_hash, 16, base.v);
    if (!ess) {
        std::memcpy(out, base.v, 16);
        return;
    }
    uint8_t both[16];
    std::memcpy(both, server_challenge, 8);
    std::memcpy(both + 8, client_challenge, 8);
    vnb_hmacmd5(base.v, 16, both, sizeof both, out);
}

}  // namespace

int vnb_lm_hash(const char *password, CodePage cp, uint8_t out[16])
{
    if (!password || !out)
        return -1;
    NtlmSecret<uint8_t[kLmPasswordMax]> upper;
    size_t n = 0;
    if (vnb_utf8_to_oem_upper(cp, password, upper.v, sizeof upper.v, &n) != 0)
        return -1;
    vnb_des56_encrypt(upper.v, kLmMagic, out);
    vnb_des56_encrypt(upper.v + 7, kLmMagic, out + 8);
    return 0;
}

void vnb_ntlm_desl(const uint8_t hash[16], const uint8_t challenge[8], uint8_t out[24])
{
    NtlmSecret<uint8_t[21]> key;
    std::memcpy(key.v, hash, 16);
    vnb_des56_encrypt(key.v, challenge, out);
    vnb_des56_encrypt(key.v + 7, challenge, out + 8);
    vnb_des56_encrypt(key.v + 14, challenge, out + 16);
}

int vnb_ntlm_v1_answer(const char *password, CodePage cp, const uint8_t server_challenge[8], NtlmV1Form form,
                       const uint8_t client_challenge[8], NtlmV1Answer *out)
{
    if (!out)
        return -1;
    std::memset(out, 0, sizeof *out);
    if (!password || !server_challenge)
        return -1;
    NtlmSecret<uint8_t[16]> nt_hash;
    nt_hash_of(password, nt_hash.v);
    out->form = form;
    if (form == NtlmV1Form::ess) {
        uint8_t drawn[8];
        if (!client_challenge) {
            if (vnb_ntlm_client_challenge(drawn) != 0)
                return -1;
            client_challenge = drawn;
        }
        std::memcpy(out->lm, client_challenge, 8);
        ess_response(nt_hash.v, server_challenge, client_challenge, out->nt);
        v1_session_key(nt_hash.v, true, server_challenge, client_challenge, out->session_key);
        return 0;
    }
    vnb_ntlm_desl(nt_hash.v, server_challenge, out->nt);
    v1_session_key(nt_hash.v, false, nullptr, nullptr, out->session_key);
    NtlmSecret<uint8_t[16]> lm_hash;
    if (form == NtlmV1Form::nt_and_lm && vnb_lm_hash(password, cp, lm_hash.v) == 0) {
        vnb_ntlm_desl(lm_hash.v, server_challenge, out->lm);
    } else {
        // No LAN Manager response: the field repeats the NT response, as
        // clients that never send one do.
        std::memcpy(out->lm, out->nt, sizeof out->nt);
        out->form = NtlmV1Form::nt;
    }
    return 0;
}

int vnb_ntlm_build_type3_v1(const NtlmChallenge *ch, const char *domain, const char *user, const char *password,
                            CodePage cp, bool with_lm, const uint8_t client_challenge[8], ByteBuffer *b,
                            uint8_t session_key[16], NtlmV1Form *used)
{
    if (!session_key)
        return -1;
    std::memset(session_key, 0, 16);
    if (!ch || !user || !password || !b)
        return -1;
    bool ess = (ch->flags & NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY) != 0;
    NtlmSecret<NtlmV1Answer> answer;
    NtlmV1Form form = ess ? NtlmV1Form::ess : with_lm ? NtlmV1Form::nt_and_lm : NtlmV1Form::nt;
    if (vnb_ntlm_v1_answer(password, cp, ch->server_challenge, form, client_challenge, &answer.v) != 0)
        return -1;
    uint32_t flags = kNtlmType3Flags;
    if (!ess)
        flags &= ~NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY;
    if (ntlm_put_type3(b, answer.v.lm, answer.v.nt, domain, user, flags) != 0)
        return -1;
    std::memcpy(session_key, answer.v.session_key, 16);
    if (used)
        *used = answer.v.form;
    return 0;
}

int vnb_ntlm_verify_v1(const uint8_t *lm, size_t lm_len, const uint8_t *nt, size_t nt_len, const char *password,
                       CodePage cp, const uint8_t challenge[8], bool ess, bool accept_lm, uint8_t session_key[16],
                       NtlmV1Form *form)
{
    if (!session_key || !challenge)
        return 1;
    std::memset(session_key, 0, 16);
    if (!password)
        password = "";
    NtlmSecret<uint8_t[16]> nt_hash;
    nt_hash_of(password, nt_hash.v);
    uint8_t expect[24];
    if (ess) {
        if (!lm || lm_len < 8 || !nt || nt_len != 24)
            return 1;
        ess_response(nt_hash.v, challenge, lm, expect);
        if (!vnb_ct_equal(expect, nt, 24))
            return 1;
        v1_session_key(nt_hash.v, true, challenge, lm, session_key);
        if (form)
            *form = NtlmV1Form::ess;
        return 0;
    }
    if (nt && nt_len == 24) {
        vnb_ntlm_desl(nt_hash.v, challenge, expect);
        if (vnb_ct_equal(expect, nt, 24)) {
            v1_session_key(nt_hash.v, false, nullptr, nullptr, session_key);
            if (form)
                *form = NtlmV1Form::nt;
            return 0;
        }
    }
    NtlmSecret<uint8_t[16]> lm_hash;
    if (!accept_lm || !lm || lm_len != 24 || vnb_lm_hash(password, cp, lm_hash.v) != 0)
        return 1;
    vnb_ntlm_desl(lm_hash.v, challenge, expect);
    if (!vnb_ct_equal(expect, lm, 24))
        return 1;
    v1_session_key(nt_hash.v, false, nullptr, nullptr, session_key);
    if (form)
        *form = NtlmV1Form::nt_and_lm;
    return 0;
}
