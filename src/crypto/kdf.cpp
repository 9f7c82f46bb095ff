// Counter-mode key derivation over HMAC-SHA256 (NIST SP 800-108).
#include "crypto/crypto.h"

#include <cstring>

namespace {

void put_be32(uint8_t out[4], uint32_t v)
{
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

} // namespace

void vnb_kdf_ctr_hmacsha256(const void *key, uint64_t key_len, const char *label,
                            const void *context, uint64_t context_len,
                            uint8_t *out, uint64_t out_len)
{
    // The length field is fixed at 128 bits, whatever length is asked for.
    uint8_t length_field[4];
    put_be32(length_field, 128);

    uint8_t block[32];
    uint32_t counter = 1;
    for (uint64_t done = 0; done < out_len; done += 32, counter++) {
        uint8_t counter_field[4];
        put_be32(counter_field, counter);

        Hmac256Ctx c;
        vnb_hmac256_init(&c, key, key_len);
        vnb_hmac256_update(&c, counter_field, 4);
        if (label)
            vnb_hmac256_update(&c, label, std::strlen(label) + 1); // its NUL is the separator
        vnb_hmac256_update(&c, context, context_len);
        vnb_hmac256_update(&c, length_field, 4);
        vnb_hmac256_final(&c, block);
        vnb_wipe(&c, sizeof c);

        uint64_t take = out_len - done < 32 ? out_len - done : 32;
        std::memcpy(out + done, block, take);
    }
    vnb_wipe(block, sizeof block);
}
