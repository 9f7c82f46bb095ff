// HMAC-SHA256 (RFC 2104 over FIPS 180-4).
#include "crypto/crypto.h"

#include <cstring>

void vnb_hmac256_init(Hmac256Ctx *c, const void *key, uint64_t key_len)
{
    uint8_t key_block[64] = {};
    if (key_len > 64)
        vnb_sha256(key, key_len, key_block);
    else if (key_len > 0)
        std::memcpy(key_block, key, key_len);

    uint8_t ipad[64];
    for (int i = 0; i < 64; i++) {
        ipad[i] = key_block[i] ^ 0x36;
        c->opad[i] = key_block[i] ^ 0x5c;
    }
    vnb_sha256_init(&c->inner);
    vnb_sha256_update(&c->inner, ipad, 64);
    vnb_sha256_init(&c->outer);

    vnb_wipe(key_block, sizeof key_block);
    vnb_wipe(ipad, sizeof ipad);
}

void vnb_hmac256_update(Hmac256Ctx *c, const void *bytes, uint64_t len)
{
    vnb_sha256_update(&c->inner, bytes, len);
}

void vnb_hmac256_final(Hmac256Ctx *c, uint8_t out[32])
{
    uint8_t inner_digest[32];
    vnb_sha256_final(&c->inner, inner_digest);
    vnb_sha256_init(&c->outer);
    vnb_sha256_update(&c->outer, c->opad, 64);
    vnb_sha256_update(&c->outer, inner_digest, 32);
    vnb_sha256_final(&c->outer, out);
    vnb_wipe(inner_digest, sizeof inner_digest);
}

void vnb_hmac256(const void *key, uint64_t key_len, const void *msg, uint64_t msg_len, uint8_t out[32])
{
    Hmac256Ctx c;
    vnb_hmac256_init(&c, key, key_len);
    vnb_hmac256_update(&c, msg, msg_len);
    vnb_hmac256_final(&c, out);
    vnb_wipe(&c, sizeof c);
}
