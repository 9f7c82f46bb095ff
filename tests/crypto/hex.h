// Hex text helpers for the crypto tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline std::string to_hex(const uint8_t *p, size_t n)
{
    static constexpr char DIGITS[] = "0123456789abcdef";
    std::string s;
    for (size_t k = 0; k < n; k++) {
        s += DIGITS[p[k] >> 4];
        s += DIGITS[p[k] & 0x0f];
    }
    return s;
}

inline std::vector<uint8_t> from_hex(std::string_view hex)
{
    auto nibble = [](char c) { return static_cast<uint8_t>(c <= '9' ? c - '0' : c - 'a' + 10); };
    std::vector<uint8_t> v;
    for (size_t k = 0; k + 1 < hex.size(); k += 2)
        v.push_back(static_cast<uint8_t>(nibble(hex[k]) << 4 | nibble(hex[k + 1])));
    return v;
}

inline std::vector<uint8_t> repeat(uint8_t byte, size_t n)
{
    return std::vector<uint8_t>(n, byte);
}

inline std::vector<uint8_t> bytes_of(std::string_view s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}
