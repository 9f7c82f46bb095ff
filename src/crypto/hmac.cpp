// HMAC (RFC 2104), once, over any hash described as crypto.h describes
// SHA-256 and MD5: HMAC-SHA256 and HMAC-MD5 are its two instances.
#include "crypto/crypto.h"

#include <cstring>

namespace {

template <typename Hash>
void hmac_init(HmacCtx<Hash> *c, const void *key, uint64_t key_len)
{
    static_assert(Hash::kDigest <= Hash::kBlock, "a hashed key fits the block");
    // A key longer than the block is hashed; a shorter one is zero-filled.
    uint8_t key_block[Hash::kBlock] = {};
    if (key_len > Hash::kBlock) {
        Hash::init(&c->outer);
        Hash::update(&c->outer, key, key_len);
        Hash::final(&c->outer, key_block);
    } else if (key_len > 0) {
        std::memcpy(key_block, key, key_len);
    }

    uint8_t ipad[Hash::kBlock];
    for (size_t i = 0; i < Hash::kBlock; i++) {
        ipad[i] = key_block[i] ^ 0x36;
        c->opad[i] = key_block[i] ^ 0x5c;
    }
    Hash::init(&c->inner);
    Hash::update(&c->inner, ipad, Hash::kBlock);
    Hash::init(&c->outer);

    vnb_wipe(key_block, sizeof key_block);
    vnb_wipe(ipad, sizeof ipad);
}

template <typename Hash>
void hmac_update(HmacCtx<Hash> *c, const void *bytes, uint64_t len)
{
    Hash::update(&c->inner, bytes, len);
}

template <typename Hash>
void hmac_final(HmacCtx<Hash> *c, uint8_t *out)
{
    uint8_t inner_digest[Hash::kDigest];
    Hash::final(&c->inner, inner_digest);
    Hash::init(&c->outer);
    Hash::update(&c->outer, c->opad, Hash::kBlock);
    Hash::update(&c->outer, inner_digest, Hash::kDigest);
    Hash::final(&c->outer, out);
    vnb_wipe(inner_digest, sizeof inner_digest);
}

template <typename Hash>
void hmac(const void *key, uint64_t key_len, const void *msg, uint64_t msg_len, uint8_t *out)
{
    HmacCtx<Hash> c;
    hmac_init(&c, key, key_len);
    hmac_update(&c, msg, msg_len);
    hmac_final(&c, out);
    vnb_wipe(&c, sizeof c);
}

}  // namespace

void vnb_hmac256_init(Hmac256Ctx *c, const void *key, uint64_t key_len)
{
    hmac_init(c, key, key_len);
}

void vnb_hmac256_update(Hmac256Ctx *c, const void *bytes, uint64_t len)
{
    hmac_update(c, bytes, len);
}

void vnb_hmac256_final(Hmac256Ctx *c, uint8_t out[32])
{
    hmac_final(c, out);
}

void vnb_hmac256(const void *key, uint64_t key_len, const void *msg, uint64_t msg_len, uint8_t out[32])
{
    hmac<Sha256Hash>(key, key_len, msg, msg_len, out);
}

void vnb_hmacmd5_init(HmacMd5Ctx *c, const void *key, uint64_t key_len)
{
    hmac_init(c, key, key_len);
}

void vnb_hmacmd5_update(HmacMd5Ctx *c, const void *bytes, uint64_t len)
{
    hmac_update(c, bytes, len);
}

void vnb_hmacmd5_final(HmacMd5Ctx *c, uint8_t out[16])
{
    hmac_final(c, out);
}

void vnb_hmacmd5(const void *key, uint64_t key_len, const void *msg, uint64_t msg_len, uint8_t out[16])
{
    hmac<Md5Hash>(key, key_len, msg, msg_len, out);
}
