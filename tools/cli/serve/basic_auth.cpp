#include "basic_auth.h"

#include <algorithm>
#include <cstdint>

namespace serve {

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool same_word(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i])
            return false;
    }
    return true;
}

int sextet(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Equal texts, in time that depends on the lengths alone.
bool same_secret(std::string_view a, std::string_view b)
{
    uint8_t diff = a.size() == b.size() ? 0 : 1;
    const size_t n = a.size() > b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; i++) {
        uint8_t x = i < a.size() ? static_cast<uint8_t>(a[i]) : 0;
        uint8_t y = i < b.size() ? static_cast<uint8_t>(b[i]) : 0;
        diff |= static_cast<uint8_t>(x ^ y);
    }
    return diff == 0;
}

}  // namespace

bool parse_auth_file(std::string_view text, BasicAuth &out)
{
    out = {};
    bool pair_line = false;
    std::string_view rest = text;
    while (!rest.empty()) {
        size_t eol = rest.find('\n');
        std::string_view line = trim(rest.substr(0, eol));
        rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
        if (line.empty() || line.front() == '#')
            continue;
        size_t eq = line.find('=');
        size_t colon = line.find(':');
        if (eq != std::string_view::npos && (colon == std::string_view::npos || eq < colon)) {
            std::string_view key = trim(line.substr(0, eq));
            std::string_view value = trim(line.substr(eq + 1));
            if (same_word(key, "username"))
                out.user = value;
            else if (same_word(key, "password"))
                out.password = value;
        } else if (colon != std::string_view::npos && !pair_line && out.user.empty()) {
            out.user = line.substr(0, colon);
            out.password = line.substr(colon + 1);
            pair_line = true;
        }
    }
    return !out.user.empty() && !out.password.empty() && out.user.find(':') == std::string::npos;
}

bool base64_decode(std::string_view text, std::string &out)
{
    out.clear();
    if (text.size() % 4 != 0)
        return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; k++) {
            char c = text[i + static_cast<size_t>(k)];
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                v[k] = 0;
                pad++;
                continue;
            }
            if (pad > 0)
                return false;
            v[k] = sextet(c);
            if (v[k] < 0)
                return false;
        }
        uint32_t n = static_cast<uint32_t>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
        out += static_cast<char>(n >> 16 & 0xFF);
        if (pad < 2)
            out += static_cast<char>(n >> 8 & 0xFF);
        if (pad < 1)
            out += static_cast<char>(n & 0xFF);
    }
    return true;
}

bool basic_auth_admits(std::string_view header, const BasicAuth &auth)
{
    header = trim(header);
    if (header.size() < 6 || !same_word(header.substr(0, 6), "basic "))
        return false;
    std::string given;
    if (!base64_decode(trim(header.substr(6)), given))
        return false;
    std::string expected = auth.user + ":" + auth.password;
    bool ok = same_secret(given, expected);
    std::fill(given.begin(), given.end(), '\0');
    std::fill(expected.begin(), expected.end(), '\0');
    return ok;
}

}  // namespace serve
