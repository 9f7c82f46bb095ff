#include "percent.h"

namespace {

// The byte an escape at s[at] stands for, or -1 when s[at] starts none.
int escaped_byte(std::string_view s, size_t at)
{
    if (s[at] != '%' || s.size() - at < 3)
        return -1;
    int hi = hex_digit(s[at + 1]);
    int lo = hex_digit(s[at + 2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

}  // namespace

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percent_decode(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); i++) {
        int byte = escaped_byte(s, i);
        if (byte < 0) {
            out += s[i];
            continue;
        }
        out += static_cast<char>(byte);
        i += 2;
    }
    return out;
}

bool percent_decode_strict(std::string_view s, std::string &out)
{
    out.clear();
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        int byte = escaped_byte(s, i);
        if (byte < 0)
            return false;
        out += static_cast<char>(byte);
        i += 2;
    }
    return true;
}
