#include "sess/sess_sign.h"

#include <cstring>

#include "crypto/crypto.h"
#include "crypto/smb_sign.h"

int sess_signs(const Session &s)
{
    return s.signing && s.established && !s.guest ? 1 : 0;
}

size_t sess_mac_key(const Session &s, uint8_t out[kMaxMacKey])
{
    size_t n = sizeof s.signing_key;
    std::memcpy(out, s.signing_key, n);
    if (!s.ext_security) {
        size_t nt = s.nt_response_len <= sizeof s.nt_response ? s.nt_response_len : 0;
        std::memcpy(out + n, s.nt_response, nt);
        n += nt;
    }
    return n;
}

void sess_sign(const Session &s, uint32_t seq, uint8_t *msg, size_t len)
{
    uint8_t key[kMaxMacKey];
    size_t key_len = sess_mac_key(s, key);
    vnb_sign_frame(key, key_len, seq, msg, len);
    vnb_wipe(key, key_len);
}

int sess_verify(const Session &s, uint32_t seq, std::span<const uint8_t> msg)
{
    uint8_t key[kMaxMacKey];
    size_t key_len = sess_mac_key(s, key);
    int rc = vnb_sign_verify(key, key_len, seq, msg.data(), msg.size());
    vnb_wipe(key, key_len);
    return rc;
}
