// Server side: the check of a client's AUTHENTICATE message.
#include <cstring>

#include "crypto/crypto.h"
#include "ntlm/ntlm.h"
#include "ntlm/ntlm_internal.h"
#include "util/text.h"

uint8_t g_fake_challenge[8];

namespace {

constexpr size_t kMinType3 = 72;
constexpr uint32_t kMinNtResponse = 44;    // NTProofStr and the smallest blob
constexpr uint32_t kMaxNtResponse = 1040;

}  // namespace

int vnb_ntlm_verify_type3(const uint8_t *msg, size_t len, const char *expected_user, const char *password,
                          uint8_t session_key[16])
{
    if (!session_key)
        return -1;
    std::memset(session_key, 0, 16);
    if (!msg || len < kMinType3 || std::memcmp(msg, NTLMSSP_SIGNATURE, 8) != 0 || ntlm_le32(msg + 8) != 3)
        return -1;

    NtlmReader r{msg, len, 12};
    const NtlmField lm = field(r);
    const NtlmField nt = field(r);
    const NtlmField dom = field(r);
    const NtlmField usr = field(r);
    const NtlmField ws = field(r);
    const NtlmField key_field = field(r);
    uint32_t flags = 0;
    if (!rd_u32(r, &flags))
        return -1;
    (void)lm;
    (void)ws;

    if (!nt.data)
        return -1;
    if (nt.len == 0)
        return 2;
    if (nt.len < kMinNtResponse || nt.len > kMaxNtResponse || nt.data[16] != 0x01 || nt.data[17] != 0x01)
        return -1;
    if (usr.len && !usr.data)
        return -1;
    char user[129];
    if (vnb_utf16_to_utf8(usr.data, usr.len, user, sizeof user) < 0)
        return -1;
    char domain[129];
    if ((dom.len && !dom.data) || vnb_utf16_to_utf8(dom.data, dom.len, domain, sizeof domain) < 0)
        domain[0] = '\0';

    if (user[0] == '\0')
        return 1;
    if (expected_user && expected_user[0] && vnb_casecmp(expected_user, user) != 0)
        return 1;

    NtlmSecret<uint8_t[16]> nt_hash;
    NtlmSecret<uint8_t[16]> v2_hash;
    vnb_ntlm_hashes_dom(user, domain, password ? password : "", nt_hash.v, v2_hash.v);
    uint8_t expected_proof[16];
    ntlm_proof(v2_hash.v, g_fake_challenge, nt.data + 16, nt.len - 16, expected_proof);
    if (!vnb_ct_equal(expected_proof, nt.data, 16))
        return 1;

    NtlmSecret<uint8_t[16]> base_key;
    vnb_hmacmd5(v2_hash.v, 16, nt.data, 16, base_key.v);
    if (flags & NTLMSSP_NEGOTIATE_KEY_EXCH) {
        // The client chose the session key and sent it RC4-encrypted under the base key.
        if (!key_field.data || key_field.len != 16)
            return -1;
        NtlmSecret<Rc4State> rc4;
        vnb_rc4_init(&rc4.v, base_key.v, 16);
        std::memcpy(session_key, key_field.data, 16);
        vnb_rc4(&rc4.v, session_key, 16);
    } else {
        std::memcpy(session_key, base_key.v, 16);
    }
    return 0;
}
