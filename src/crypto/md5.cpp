// MD5 (RFC 1321), one-shot and streaming, and HMAC-MD5 (RFC 2104).
#include "crypto/crypto.h"

#include <cstring>

namespace {

// T[i] = floor(abs(sin(i + 1)) * 2^32)
constexpr uint32_t T[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Left-rotation amounts, four per round.
constexpr unsigned SHIFT[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr uint32_t rotl(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

uint32_t load_le32(const uint8_t *p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void store_le32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void md5_block(uint32_t h[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = load_le32(block + 4 * i);

    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (unsigned i = 0; i < 64; i++) {
        uint32_t f;
        unsigned g;
        switch (i / 16) {
        case 0: f = (b & c) | (~b & d); g = i; break;
        case 1: f = (b & d) | (c & ~d); g = (5 * i + 1) % 16; break;
        case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
        default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
        }
        uint32_t next = b + rotl(a + f + T[i] + x[g], SHIFT[i / 16][i % 4]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}

void md5_start(Md5State *s)
{
    s->h[0] = 0x67452301;
    s->h[1] = 0xefcdab89;
    s->h[2] = 0x98badcfe;
    s->h[3] = 0x10325476;
    s->total = 0;
    std::memset(s->block, 0, sizeof s->block);
    s->fill = 0;
}

void md5_feed(Md5State *s, const void *bytes, uint64_t len)
{
    if (len == 0)
        return;
    const auto *p = static_cast<const uint8_t *>(bytes);
    s->total += len;
    if (s->fill > 0) {
        uint64_t take = 64 - s->fill < len ? 64 - s->fill : len;
        std::memcpy(s->block + s->fill, p, take);
        s->fill += take;
        p += take;
        len -= take;
        if (s->fill < 64)
            return;
        md5_block(s->h, s->block);
        s->fill = 0;
    }
    for (; len >= 64; p += 64, len -= 64)
        md5_block(s->h, p);
    if (len > 0) {
        std::memcpy(s->block, p, len);
        s->fill = len;
    }
}

void md5_finish(Md5State *s, uint8_t out[16])
{
    // 0x80, zeros up to 56 bytes mod 64, then the bit length as 64-bit little-endian.
    uint64_t bits = s->total * 8;
    s->block[s->fill++] = 0x80;
    if (s->fill > 56) {
        std::memset(s->block + s->fill, 0, 64 - s->fill);
        md5_block(s->h, s->block);
        s->fill = 0;
    }
    std::memset(s->block + s->fill, 0, 56 - s->fill);
    store_le32(s->block + 56, static_cast<uint32_t>(bits));
    store_le32(s->block + 60, static_cast<uint32_t>(bits >> 32));
    md5_block(s->h, s->block);
    s->fill = 0;
    for (int i = 0; i < 4; i++)
        store_le32(out + 4 * i, s->h[i]);
}

} // namespace

void vnb_md5_init(Md5State *s)
{
    md5_start(s);
}

void vnb_md5_update(Md5State *s, const void *bytes, uint64_t len)
{
    md5_feed(s, bytes, len);
}

void vnb_md5_final(Md5State *s, uint8_t out[16])
{
    md5_finish(s, out);
}

void vnb_md5(const void *bytes, uint64_t len, uint8_t out[16])
{
    Md5State s;
    md5_start(&s);
    md5_feed(&s, bytes, len);
    md5_finish(&s, out);
}

void vnb_hmacmd5_init(HmacMd5Ctx *c, const void *key, uint64_t key_len)
{
    uint8_t key_block[64] = {};
    if (key_len > 64)
        vnb_md5(key, key_len, key_block);
    else if (key_len > 0)
        std::memcpy(key_block, key, key_len);

    uint8_t ipad[64];
    for (int i = 0; i < 64; i++) {
        ipad[i] = key_block[i] ^ 0x36;
        c->opad[i] = key_block[i] ^ 0x5c;
    }
    md5_start(&c->inner);
    md5_feed(&c->inner, ipad, 64);
    md5_start(&c->outer);

    vnb_wipe(key_block, sizeof key_block);
    vnb_wipe(ipad, sizeof ipad);
}

void vnb_hmacmd5_update(HmacMd5Ctx *c, const void *bytes, uint64_t len)
{
    md5_feed(&c->inner, bytes, len);
}

void vnb_hmacmd5_final(HmacMd5Ctx *c, uint8_t out[16])
{
    uint8_t inner_digest[16];
    md5_finish(&c->inner, inner_digest);
    md5_start(&c->outer);
    md5_feed(&c->outer, c->opad, 64);
    md5_feed(&c->outer, inner_digest, 16);
    md5_finish(&c->outer, out);
    vnb_wipe(inner_digest, sizeof inner_digest);
}

void vnb_hmacmd5(const void *key, uint64_t key_len, const void *msg, uint64_t msg_len, uint8_t out[16])
{
    HmacMd5Ctx c;
    vnb_hmacmd5_init(&c, key, key_len);
    vnb_hmacmd5_update(&c, msg, msg_len);
    vnb_hmacmd5_final(&c, out);
    vnb_wipe(&c, sizeof c);
}
