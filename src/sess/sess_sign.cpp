#include "sess/sess_sign.h"

#include <cstring>

#include "crypto/crypto.h"
#include "crypto/smb_sign.h"
#include "sess/session_state.h"

int sess_signs()
{
    return g_s.signing && g_s.established && !g_s.guest ? 1 : 0;
}

size_t sess_mac_key(uint8_t out[kMaxMacKey])
{
    size_t n = sizeof g_s.signing_key;
    std::memcpy(out, g_s.signing_key, n);
    if (!g_s.ext_security) {
        size_t nt = g_s.nt_response_len <= sizeof g_s.nt_response ? g_s.nt_response_len : 0;
        std::memcpy(out + n, g_s.nt_response, nt);
        n += nt;
    }
    return n;
}

void sess_sign(uint32_t seq, uint8_t *msg, size_t len)
{
    uint8_t key[kMaxMacKey];
    size_t key_len = sess_mac_key(key);
    vnb_sign_frame(key, key_len, seq, msg, len);
    vnb_wipe(key, key_len);
}

int sess_verify(uint32_t seq, const uint8_t *msg, size_t len)
{
    uint8_t key[kMaxMacKey];
    size_t key_len = sess_mac_key(key);
    int rc = vnb_sign_verify(key, key_len, seq, msg, len);
    vnb_wipe(key, key_len);
    return rc;
}
