// RC4 key schedule and key stream.
#include "crypto/crypto.h"

void vnb_rc4_init(Rc4State *st, const void *key, uint64_t key_len)
{
    const auto *k = static_cast<const uint8_t *>(key);
    for (int i = 0; i < 256; i++)
        st->s[i] = static_cast<uint8_t>(i);
    // An empty key is outside the contract; it leaves the identity permutation.
    if (key_len > 0) {
        uint8_t j = 0;
        for (int i = 0; i < 256; i++) {
            j = static_cast<uint8_t>(j + st->s[i] + k[static_cast<uint64_t>(i) % key_len]);
            uint8_t t = st->s[i];
            st->s[i] = st->s[j];
            st->s[j] = t;
        }
    }
    st->i = 0;
    st->j = 0;
}

void vnb_rc4(Rc4State *st, void *bytes, uint64_t len)
{
    auto *p = static_cast<uint8_t *>(bytes);
    uint8_t i = st->i, j = st->j;
    for (uint64_t n = 0; n < len; n++) {
        i = static_cast<uint8_t>(i + 1);
        j = static_cast<uint8_t>(j + st->s[i]);
        uint8_t t = st->s[i];
        st->s[i] = st->s[j];
        st->s[j] = t;
        p[n] ^= st->s[static_cast<uint8_t>(st->s[i] + st->s[j])];
    }
    st->i = i;
    st->j = j;
}
