// Server side: the check of a client's AUTHENTICATE message.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crypto/crypto.h"
#include "ntlm/ntlm.h"
#include "ntlm/ntlm_internal.h"
#include "util/le_reader.h"
#include "util/text.h"

uint8_t g_fake_challenge[8];

namespace {

constexpr size_t kMinType3 = 72;
constexpr uint32_t kMinNtResponse = 44;    // NTProofStr and the smallest blob
constexpr uint32_t kMaxNtResponse = 1040;

// One field descriptor resolved against the message: `data` is null when the
// block has offset 0 or does not lie inside the message.
struct NtlmField {
    const uint8_t *data;
    uint32_t len;
};

// Reads one 8-byte descriptor (length, maximum length, offset) at the cursor.
// A descriptor cut off by the end of the message yields {nullptr, 0}.
NtlmField field(LeReader &r)
{
    uint32_t len = r.u16();
    uint32_t max_len = r.u16();
    uint32_t offset = r.u32();
    if (r.failed)
        return {nullptr, 0};
    if (offset == 0)
        return {nullptr, len};
    const uint8_t *data = r.peek(offset, len);
    if (!data && std::getenv("VNSMB1C_TRACE"))
        std::fprintf(stderr, "[t3field] off=%u ln=%u msglen=%zu hi=%u\n", offset, len, r.size(), max_len);
    return {data, len};
}

}  // namespace

int vnb_ntlm_verify_type3(const uint8_t *msg, size_t len, const char *expected_user, const char *password,
                          uint8_t session_key[16])
{
    if (!session_key)
        return -1;
    std::memset(session_key, 0, 16);
    LeReader r(msg, len);
    if (len < kMinType3 || !r.peek(0, 8) || std::memcmp(msg, NTLMSSP_SIGNATURE, 8) != 0 || r.u32_at(8) != 3)
        return -1;

    r.seek(12);
    const NtlmField lm = field(r);
    const NtlmField nt = field(r);
    const NtlmField dom = field(r);
    const NtlmField usr = field(r);
    const NtlmField ws = field(r);
    const NtlmField key_field = field(r);
    uint32_t flags = r.u32();
    if (r.failed)
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

int vnb_ntlm_type3_fields(const uint8_t *msg, size_t len, NtlmType3Fields *out)
{
    if (!out)
        return -1;
    *out = NtlmType3Fields{};
    LeReader r(msg, len);
    if (len < kMinType3 || !r.peek(0, 8) || std::memcmp(msg, NTLMSSP_SIGNATURE, 8) != 0 || r.u32_at(8) != 3)
        return -1;
    r.seek(12);
    const NtlmField lm = field(r);
    const NtlmField nt = field(r);
    const NtlmField dom = field(r);
    const NtlmField usr = field(r);
    field(r);  // workstation
    field(r);  // session key
    out->flags = r.u32();
    if (r.failed || (lm.len && !lm.data) || (nt.len && !nt.data) || (dom.len && !dom.data) || (usr.len && !usr.data))
        return -1;
    if (vnb_utf16_to_utf8(usr.data, usr.len, out->user, sizeof out->user) < 0 ||
        vnb_utf16_to_utf8(dom.data, dom.len, out->domain, sizeof out->domain) < 0)
        return -1;
    out->lm = lm.data;
    out->lm_len = lm.len;
    out->nt = nt.data;
    out->nt_len = nt.len;
    return 0;
}
