// Small helpers shared by the NTLM and SPNEGO tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "util/bytebuf.h"

using Bytes = std::vector<uint8_t>;

// A ByteBuffer that frees itself.
struct Buf {
    ByteBuffer b{};
    Buf() = default;
    Buf(const Buf &) = delete;
    Buf &operator=(const Buf &) = delete;
    ~Buf() { vnb_buf_free(&b); }
    Bytes bytes() const { return b.data ? Bytes(b.data, b.data + b.len) : Bytes{}; }
};

inline Bytes hex(const std::string &text)
{
    Bytes out;
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string digits;
    for (char c : text) {
        if (c != ' ')
            digits += c;
    }
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(uint8_t(nibble(digits[i]) << 4 | nibble(digits[i + 1])));
    return out;
}

inline Bytes utf16(const std::string &ascii)
{
    Bytes out;
    for (char c : ascii) {
        out.push_back(uint8_t(c));
        out.push_back(0);
    }
    return out;
}

inline Bytes slice(const Bytes &b, size_t at, size_t n)
{
    return Bytes(b.begin() + long(at), b.begin() + long(at + n));
}

inline uint32_t get16(const Bytes &b, size_t at) { return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8; }
inline uint32_t get32(const Bytes &b, size_t at) { return get16(b, at) | get16(b, at + 2) << 16; }
inline void set16(Bytes &b, size_t at, uint32_t v)
{
    b.at(at) = uint8_t(v);
    b.at(at + 1) = uint8_t(v >> 8);
}
inline void set32(Bytes &b, size_t at, uint32_t v)
{
    set16(b, at, v & 0xFFFF);
    set16(b, at + 2, v >> 16);
}
// Rewrites a field descriptor (length, maximum length, offset) in place.
inline void set_field(Bytes &b, size_t at, uint32_t len, uint32_t offset)
{
    set16(b, at, len);
    set16(b, at + 2, len);
    set32(b, at + 4, offset);
}

// The 80-byte CHALLENGE message the fake server sends: flags 0x00008205, the
// challenge, and 32 bytes of target information at offset 48 (NetBIOS domain
// and computer "FAKE", a timestamp, the end marker).
inline Bytes fake_challenge_message(const uint8_t challenge[8])
{
    Bytes m = hex("4e544c4d53535000 02000000 0000000000000000 05820000");
    m.insert(m.end(), challenge, challenge + 8);
    const Bytes rest = hex("0000000000000000 2000200030000000"
                           "02000400 46414b45 01000400 46414b45"
                           "07000800 00006dc64717da01 00000000");
    m.insert(m.end(), rest.begin(), rest.end());
    return m;
}

inline constexpr uint8_t kFakeChallenge[8] = {0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E};

// An AUTHENTICATE message assembled field by field: header, then the NT
// response, domain, user, workstation and encrypted session key in that order.
inline Bytes type3_message(const Bytes &nt_response, const Bytes &domain, const Bytes &user, const Bytes &workstation,
                           const Bytes &session_key, uint32_t flags)
{
    Bytes m = hex("4e544c4d53535000 03000000");
    m.resize(64, 0);
    const Bytes *parts[] = {&nt_response, &domain, &user, &workstation, &session_key};
    uint32_t offset = 64;
    for (size_t i = 0; i < 5; i++) {
        set_field(m, 20 + 8 * i, uint32_t(parts[i]->size()), offset);
        offset += uint32_t(parts[i]->size());
    }
    set32(m, 60, flags);
    for (const Bytes *p : parts)
        m.insert(m.end(), p->begin(), p->end());
    return m;
}
