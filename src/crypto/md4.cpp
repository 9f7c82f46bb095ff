// MD4 (RFC 1320), in one call.
#include "crypto/crypto.h"
#include "crypto/block_digest.h"

#include <cstring>

namespace {

// The running state, in the shape block_digest.h works on.
struct Md4Ctx {
    uint32_t h[4];
    uint64_t total;
    uint8_t block[64];
    uint64_t fill;
};

constexpr uint32_t rotl(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// Word order of rounds 2 and 3; round 1 takes the words in order.
constexpr unsigned ORDER2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
constexpr unsigned ORDER3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
constexpr unsigned SHIFT[3][4] = {{3, 7, 11, 19}, {3, 5, 9, 13}, {3, 9, 11, 15}};

void md4_block(uint32_t h[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = load_le32(block + 4 * i);

    uint32_t v[4] = {h[0], h[1], h[2], h[3]};
    // Step i updates word (4 - i % 4) % 4 (a, d, c, b, a, ...) from the other three.
    for (unsigned i = 0; i < 48; i++) {
        unsigned round = i / 16, step = i % 16;
        uint32_t &a = v[(4 - step % 4) % 4];
        uint32_t b = v[(5 - step % 4) % 4], c = v[(6 - step % 4) % 4], d = v[(7 - step % 4) % 4];
        uint32_t f;
        uint32_t add;
        if (round == 0) {
            f = (b & c) | (~b & d);
            add = x[step];
        } else if (round == 1) {
            f = (b & c) | (b & d) | (c & d);
            add = x[ORDER2[step]] + 0x5a827999;
        } else {
            f = b ^ c ^ d;
            add = x[ORDER3[step]] + 0x6ed9eba1;
        }
        a = rotl(a + f + add, SHIFT[round][step % 4]);
    }
    for (int i = 0; i < 4; i++)
        h[i] += v[i];
}

} // namespace

void vnb_md4(const void *bytes, uint64_t len, uint8_t out[16])
{
    Md4Ctx c{{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, 0, {}, 0};
    block_digest_update<Md4Ctx, md4_block>(&c, bytes, len);
    block_digest_pad<Md4Ctx, md4_block>(&c, put_bits_le);
    for (int i = 0; i < 4; i++)
        store_le32(out + 4 * i, c.h[i]);
    // The input is often a password.
    vnb_wipe(&c, sizeof c);
}
