// The message framing MD4, MD5 and SHA-256 share: 64-byte blocks handed to the
// hash's compression function, and the last block padded with 0x80, zeros
// and the message's length in bits in its last eight bytes.
#pragma once

#include <cstdint>
#include <cstring>

// 32-bit words in MD4's and MD5's byte order, and in SHA-256's.
inline uint32_t load_le32(const uint8_t *p)
{
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline void store_le32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t load_be32(const uint8_t *p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void store_be32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[3 - i] = static_cast<uint8_t>(v >> (8 * i));
}

// The length field in MD4's and MD5's byte order, and in SHA-256's.
inline void put_bits_le(uint8_t *at, uint64_t bits)
{
    for (int i = 0; i < 8; i++)
        at[i] = static_cast<uint8_t>(bits >> (8 * i));
}

inline void put_bits_be(uint8_t *at, uint64_t bits)
{
    for (int i = 0; i < 8; i++)
        at[7 - i] = static_cast<uint8_t>(bits >> (8 * i));
}

template <typename Ctx, void (*Compress)(uint32_t *, const uint8_t *)>
void block_digest_update(Ctx *c, const void *bytes, uint64_t len)
{
    if (len == 0)
        return;
    const auto *p = static_cast<const uint8_t *>(bytes);
    c->total += len;
    if (c->fill > 0) {
        uint64_t take = 64 - c->fill < len ? 64 - c->fill : len;
        std::memcpy(c->block + c->fill, p, take);
        c->fill += take;
        p += take;
        len -= take;
        if (c->fill < 64)
            return;
        Compress(c->h, c->block);
        c->fill = 0;
    }
    for (; len >= 64; p += 64, len -= 64)
        Compress(c->h, p);
    if (len > 0) {
        std::memcpy(c->block, p, len);
        c->fill = len;
    }
}

// Pads and compresses the last block; put_bits writes the length in bits
// into its last eight bytes in the hash's byte order.
template <typename Ctx, void (*Compress)(uint32_t *, const uint8_t *)>
void block_digest_pad(Ctx *c, void (*put_bits)(uint8_t *, uint64_t))
{
    uint64_t bits = c->total * 8;
    c->block[c->fill++] = 0x80;
    if (c->fill > 56) {
        std::memset(c->block + c->fill, 0, 64 - c->fill);
        Compress(c->h, c->block);
        c->fill = 0;
    }
    std::memset(c->block + c->fill, 0, 56 - c->fill);
    put_bits(c->block + 56, bits);
    Compress(c->h, c->block);
    c->fill = 0;
}
