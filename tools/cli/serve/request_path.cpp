#include "request_path.h"

#include <cstdint>

#include "percent.h"

namespace serve {

namespace {

// Well-formed UTF-8: no overlong forms, surrogates or values past U+10FFFF.
bool valid_utf8(std::string_view s)
{
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        size_t extra = c < 0x80 ? 0 : (c >= 0xC2 && c <= 0xDF) ? 1 : (c >= 0xE0 && c <= 0xEF) ? 2
                                                                : (c >= 0xF0 && c <= 0xF4) ? 3 : 4;
        if (extra == 4 || i + extra >= s.size())
            return false;
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (size_t k = 1; k <= extra; k++) {
            auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (t & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

PathFault check_segment(const std::string &seg)
{
    if (seg == "." || seg == "..")
        return PathFault::dot_segment;
    for (char ch : seg) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            return PathFault::control_character;
        if (c == '/' || c == '\\')
            return PathFault::encoded_separator;
        switch (c) {
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            return PathFault::reserved_character;
        default:
            break;
        }
    }
    return valid_utf8(seg) ? PathFault::none : PathFault::not_utf8;
}

}  // namespace

RequestPath parse_request_path(std::string_view raw)
{
    RequestPath out;
    if (raw.empty() || raw.front() != '/') {
        out.fault = PathFault::not_absolute;
        return out;
    }
    raw.remove_prefix(1);
    out.folder = raw.empty() || raw.back() == '/';
    if (!raw.empty() && raw.back() == '/')
        raw.remove_suffix(1);
    if (raw.empty())
        return out;
    std::string seg;
    for (;;) {
        auto slash = raw.find('/');
        std::string_view part = raw.substr(0, slash);
        if (part.empty()) {
            out.fault = PathFault::empty_segment;
            break;
        }
        if (!percent_decode_strict(part, seg)) {
            out.fault = PathFault::bad_escape;
            break;
        }
        if (PathFault f = check_segment(seg); f != PathFault::none) {
            out.fault = f;
            break;
        }
        out.segments.push_back(seg);
        if (slash == std::string_view::npos)
            break;
        raw.remove_prefix(slash + 1);
    }
    if (out.fault != PathFault::none)
        out.segments.clear();
    return out;
}

std::string_view fault_text(PathFault fault)
{
    switch (fault) {
    case PathFault::none:
        return "";
    case PathFault::not_absolute:
        return "the path must begin with /";
    case PathFault::bad_escape:
        return "broken %-escape in the path";
    case PathFault::encoded_separator:
        return "encoded / or \\ in the path";
    case PathFault::dot_segment:
        return ". or .. in the path";
    case PathFault::empty_segment:
        return "empty name in the path";
    case PathFault::control_character:
        return "control character in the path";
    case PathFault::reserved_character:
        return "a name holds one of : * ? \" < > |";
    case PathFault::not_utf8:
        return "a name is not UTF-8 text";
    }
    return "bad path";
}

bool is_folder_share(std::string_view share)
{
    constexpr std::string_view kIpc = "IPC$";
    if (share.size() != kIpc.size())
        return true;
    for (size_t i = 0; i < share.size(); i++) {
        char c = share[i] >= 'a' && share[i] <= 'z' ? static_cast<char>(share[i] - 'a' + 'A') : share[i];
        if (c != kIpc[i])
            return true;
    }
    return false;
}

std::string query_value(std::string_view query, std::string_view key)
{
    while (!query.empty()) {
        auto amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        auto eq = pair.find('=');
        if (pair.substr(0, eq) == key) {
            std::string value;
            if (eq == std::string_view::npos || !percent_decode_strict(pair.substr(eq + 1), value))
                return "";
            return value;
        }
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return "";
}

std::string encode_segment(std::string_view name)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '.' || c == '_' || c == '~';
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string encode_path(const std::vector<std::string> &segments, bool folder)
{
    std::string out = "/";
    for (size_t i = 0; i < segments.size(); i++) {
        if (i)
            out += '/';
        out += encode_segment(segments[i]);
    }
    if (folder && !segments.empty())
        out += '/';
    return out;
}

std::string join_path(const std::vector<std::string> &segments, size_t count)
{
    std::string out;
    for (size_t i = 0; i < count && i < segments.size(); i++) {
        if (i)
            out += '/';
        out += segments[i];
    }
    return out;
}

}  // namespace serve
