// Bounds-checked little-endian reading of bytes that came from a peer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The little-endian value at p; 0 for a NULL pointer. The caller has checked
// that the bytes are there.
inline uint16_t vnb_r16(const uint8_t *p)
{
    return p ? static_cast<uint16_t>(p[0] | (p[1] << 8)) : 0;
}

inline uint32_t vnb_r32(const uint8_t *p)
{
    return p ? uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24) : 0;
}

inline uint64_t vnb_r64(const uint8_t *p)
{
    return p ? uint64_t{vnb_r32(p)} | (uint64_t{vnb_r32(p + 4)} << 32) : 0;
}

// The big-endian value at p (the NetBIOS name service is big-endian); 0 for
// a NULL pointer.
inline uint16_t vnb_r16be(const uint8_t *p)
{
    return p ? static_cast<uint16_t>((p[0] << 8) | p[1]) : 0;
}

inline uint32_t vnb_r32be(const uint8_t *p)
{
    return p ? (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]} : 0;
}

// A cursor over a byte span. A read that would run past the end reads
// nothing, returns 0 and sets `failed`; once set, every later read returns 0,
// so a parser can read a whole layout and check `failed` once.
struct LeReader {
    std::span<const uint8_t> data;
    size_t pos = 0;
    bool failed = false;

    LeReader() = default;
    LeReader(const uint8_t *bytes, size_t len) : data(bytes, bytes ? len : 0) {}
    explicit LeReader(std::span<const uint8_t> bytes) : data(bytes) {}

    size_t size() const { return data.size(); }
    size_t left() const { return failed || pos > data.size() ? 0 : data.size() - pos; }
    bool has(size_t n) const { return !failed && n <= left(); }

    // Pointer to the next n bytes (advancing past them), or NULL.
    const uint8_t *take(size_t n)
    {
        if (!has(n)) {
            failed = true;
            return nullptr;
        }
        const uint8_t *p = data.data() + pos;
        pos += n;
        return p;
    }

    void skip(size_t n) { take(n); }

    // Moves to an absolute offset; an offset past the end fails.
    void seek(size_t offset)
    {
        if (failed || offset > data.size())
            failed = true;
        else
            pos = offset;
    }

    uint8_t u8()
    {
        const uint8_t *p = take(1);
        return p ? *p : 0;
    }
    uint16_t u16() { return vnb_r16(take(2)); }
    uint32_t u32() { return vnb_r32(take(4)); }
    uint64_t u64() { return vnb_r64(take(8)); }
    uint16_t u16be() { return vnb_r16be(take(2)); }
    uint32_t u32be() { return vnb_r32be(take(4)); }

    // Reads at an absolute offset without moving the cursor.
    uint8_t u8_at(size_t offset)
    {
        const uint8_t *p = at(offset, 1);
        return p ? *p : 0;
    }
    uint16_t u16_at(size_t offset) { return vnb_r16(at(offset, 2)); }
    uint32_t u32_at(size_t offset) { return vnb_r32(at(offset, 4)); }
    uint64_t u64_at(size_t offset) { return vnb_r64(at(offset, 8)); }

    // Pointer to n bytes at an absolute offset, or NULL (and failed set).
    const uint8_t *at(size_t offset, size_t n)
    {
        const uint8_t *p = failed ? nullptr : peek(offset, n);
        if (!p)
            failed = true;
        return p;
    }

    // Pointer to n bytes at an absolute offset, or NULL, leaving the cursor
    // and `failed` alone: for a block that a field points at, whose absence
    // the caller judges.
    const uint8_t *peek(size_t offset, size_t n) const
    {
        if (offset > data.size() || n > data.size() - offset)
            return nullptr;
        return data.data() + offset;
    }

    // The n bytes at an absolute offset, or an empty span when they do not
    // all lie inside; leaves the cursor and `failed` alone.
    std::span<const uint8_t> block(size_t offset, size_t n) const
    {
        const uint8_t *p = peek(offset, n);
        return p ? std::span<const uint8_t>(p, n) : std::span<const uint8_t>();
    }
};
