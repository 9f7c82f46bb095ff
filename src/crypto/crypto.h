// Digests, MACs, RC4, DES blocks and key derivation, written out here with no outside
// crypto package. No function allocates or fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

struct Sha256Ctx {
    uint32_t h[8];
    uint64_t total;      // message bytes fed so far
    uint8_t block[64];
    uint64_t fill;       // bytes waiting in block
};

struct Md5Ctx {
    uint32_t h[4];
    uint64_t total;      // message bytes fed so far
    uint8_t block[64];
    uint64_t fill;       // bytes waiting in block
};

struct Rc4State {
    uint8_t s[256];
    uint8_t i;
    uint8_t j;
};

// The hashes, each in the same three steps (init, any number of updates,
// final) and in one call.
void vnb_sha256_init(Sha256Ctx *c);
void vnb_sha256_update(Sha256Ctx *c, const void *bytes, uint64_t len);
void vnb_sha256_final(Sha256Ctx *c, uint8_t out[32]);
void vnb_sha256(const void *bytes, uint64_t len, uint8_t out[32]);

void vnb_md5_init(Md5Ctx *c);
void vnb_md5_update(Md5Ctx *c, const void *bytes, uint64_t len);
void vnb_md5_final(Md5Ctx *c, uint8_t out[16]);
void vnb_md5(const void *bytes, uint64_t len, uint8_t out[16]);

void vnb_md4(const void *bytes, uint64_t len, uint8_t out[16]);

// A hash as HMAC takes it: its state, its block and digest sizes, its steps.
struct Sha256Hash {
    using Ctx = Sha256Ctx;
    static constexpr size_t kBlock = 64;
    static constexpr size_t kDigest = 32;
    static constexpr void (*init)(Ctx *) = vnb_sha256_init;
    static constexpr void (*update)(Ctx *, const void *, uint64_t) = vnb_sha256_update;
    static constexpr void (*final)(Ctx *, uint8_t *) = vnb_sha256_final;
};

struct Md5Hash {
    using Ctx = Md5Ctx;
    static constexpr size_t kBlock = 64;
    static constexpr size_t kDigest = 16;
    static constexpr void (*init)(Ctx *) = vnb_md5_init;
    static constexpr void (*update)(Ctx *, const void *, uint64_t) = vnb_md5_update;
    static constexpr void (*final)(Ctx *, uint8_t *) = vnb_md5_final;
};

// HMAC (RFC 2104) over a hash, in the hash's steps.
template <typename Hash>
struct HmacCtx {
    typename Hash::Ctx inner;    // fed with key ^ 0x36 from init on
    typename Hash::Ctx outer;    // set up by the final step
    uint8_t opad[Hash::kBlock];  // key ^ 0x5c
};
using Hmac256Ctx = HmacCtx<Sha256Hash>;
using HmacMd5Ctx = HmacCtx<Md5Hash>;

void vnb_hmac256_init(Hmac256Ctx *c, const void *key, uint64_t key_len);
void vnb_hmac256_update(Hmac256Ctx *c, const void *bytes, uint64_t len);
void vnb_hmac256_final(Hmac256Ctx *c, uint8_t out[32]);
void vnb_hmac256(const void *key, uint64_t key_len, const void *msg, uint64_t msg_len, uint8_t out[32]);

void vnb_hmacmd5_init(HmacMd5Ctx *c, const void *key, uint64_t key_len);
void vnb_hmacmd5_update(HmacMd5Ctx *c, const void *bytes, uint64_t len);
void vnb_hmacmd5_final(HmacMd5Ctx *c, uint8_t out[16]);
void vnb_hmacmd5(const void *key, uint64_t key_len, const void *msg, uint64_t msg_len, uint8_t out[16]);

void vnb_rc4_init(Rc4State *st, const void *key, uint64_t key_len);
void vnb_rc4(Rc4State *st, void *bytes, uint64_t len);

// DES, one block: with a key of eight bytes (parity bits ignored), or of
// seven bytes spread over eight as the NTLM responses use them.
void vnb_des_encrypt(const uint8_t key[8], const uint8_t in[8], uint8_t out[8]);
void vnb_des_key_from_56(const uint8_t in[7], uint8_t out[8]);
void vnb_des56_encrypt(const uint8_t key7[7], const uint8_t in[8], uint8_t out[8]);

// SP 800-108 counter mode over HMAC-SHA256: block counter (32-bit BE), label
// and its NUL (nothing for a NULL label), context as given, then the fixed
// length field 0x00000080.
void vnb_kdf_ctr_hmacsha256(const void *key, uint64_t key_len, const char *label,
                            const void *context, uint64_t context_len,
                            uint8_t *out, uint64_t out_len);

void vnb_wipe(void *area, uint64_t len);
int vnb_ct_equal(const void *a, const void *b, uint64_t len);

// Known-answer run over the table of vectors: 0 when all match, otherwise
// minus the table position of the first failing vector.
int vnb_selftest_run();

// Self-test internals, reachable so a test can run an altered copy of the
// table. Each vector names the primitive, its inputs and the expected result
// as lower-case hex.
enum class SelftestKind : uint8_t { sha256, md5, md4, hmac_sha256, hmac_md5, rc4_inline, kdf };

struct SelftestVector {
    SelftestKind kind;
    std::string_view key;     // HMAC, RC4 and key-derivation key
    std::string_view data;    // message, or the key-derivation context
    const char *label;        // key-derivation label
    uint32_t out_len;         // bytes produced by RC4 and the key derivation (at most 64)
    std::string_view expect;  // lower-case hex
};

// The built-in table, in the order vnb_selftest_run checks it.
std::span<const SelftestVector> vnb_selftest_vectors();
// Runs every vector of the table: 0 when all match, otherwise minus the
// 1-based position of the first failing vector.
int vnb_selftest_run_table(std::span<const SelftestVector> table);
