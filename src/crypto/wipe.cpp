// Secret wiping and constant-time comparison.
#include "crypto/crypto.h"

void vnb_wipe(void *area, uint64_t len)
{
    // Stores through a volatile pointer: the area usually dies right after
    // this call, so plain stores would be dropped as dead.
    volatile auto *p = static_cast<volatile uint8_t *>(area);
    for (uint64_t n = 0; n < len; n++)
        p[n] = 0;
}

int vnb_ct_equal(const void *a, const void *b, uint64_t len)
{
    const auto *x = static_cast<const uint8_t *>(a);
    const auto *y = static_cast<const uint8_t *>(b);
    uint8_t diff = 0;
    for (uint64_t n = 0; n < len; n++)
        diff |= static_cast<uint8_t>(x[n] ^ y[n]);
    return diff == 0 ? 1 : 0;
}
