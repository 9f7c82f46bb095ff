#include "util/text.h"

namespace {

constexpr uint32_t kHighFirst = 0xD800;
constexpr uint32_t kHighLast = 0xDBFF;
constexpr uint32_t kLowFirst = 0xDC00;
constexpr uint32_t kLowLast = 0xDFFF;

constexpr unsigned char fold(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

constexpr bool hex_space(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

// Number of UTF-8 bytes for a code point as this library writes them.
constexpr int32_t utf8_size(uint32_t cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

void put_utf8(uint32_t cp, char *out)
{
    auto byte = [](uint32_t v) { return static_cast<char>(static_cast<unsigned char>(v)); };
    switch (utf8_size(cp)) {
    case 1:
        out[0] = byte(cp);
        break;
    case 2:
        out[0] = byte(0xC0 | (cp >> 6));
        out[1] = byte(0x80 | (cp & 0x3F));
        break;
    case 3:
        out[0] = byte(0xE0 | (cp >> 12));
        out[1] = byte(0x80 | ((cp >> 6) & 0x3F));
        out[2] = byte(0x80 | (cp & 0x3F));
        break;
    default:
        out[0] = byte(0xF0 | (cp >> 18));
        out[1] = byte(0x80 | ((cp >> 12) & 0x3F));
        out[2] = byte(0x80 | ((cp >> 6) & 0x3F));
        out[3] = byte(0x80 | (cp & 0x3F));
        break;
    }
}

void put_unit(uint8_t *out, uint32_t unit)
{
    out[0] = static_cast<uint8_t>(unit & 0xFF);
    out[1] = static_cast<uint8_t>((unit >> 8) & 0xFF);
}

}  // namespace

uint64_t vnb_fnv1a64(const void *bytes, size_t len, uint64_t h)
{
    if (bytes == nullptr)
        return h;
    const auto *p = static_cast<const uint8_t *>(bytes);
    for (size_t i = 0; i < len; i++) {
        h ^= p[i];
        h *= 0x100000001b3ULL;
    }
    return h;
}

int32_t vnb_utf16_to_utf8(const uint8_t *in, size_t in_len, char *out, int32_t cap)
{
    if ((in_len & 1) != 0 || (in_len != 0 && in == nullptr) || out == nullptr || cap < 1)
        return -1;
    int32_t used = 0;
    size_t i = 0;
    while (i < in_len) {
        uint32_t unit = in[i] | (uint32_t{in[i + 1]} << 8);
        i += 2;
        uint32_t cp = unit;
        if (unit == 0 || (unit >= kLowFirst && unit <= kLowLast))
            return -1;
        if (unit >= kHighFirst && unit <= kHighLast) {
            if (i >= in_len)
                return -1;
            uint32_t low = in[i] | (uint32_t{in[i + 1]} << 8);
            if (low < kLowFirst || low > kLowLast)
                return -1;
            i += 2;
            cp = 0x10000 + ((unit - kHighFirst) << 10) + (low - kLowFirst);
        }
        int32_t n = utf8_size(cp);
        if (n > cap - used)
            return -1;
        put_utf8(cp, out + used);
        used += n;
    }
    if (used >= cap)
        return -1;
    out[used] = '\0';
    return used;
}

int vnb_utf8_to_utf16le(const char *in, uint8_t *out, int32_t cap, int32_t *out_len)
{
    if (in == nullptr || out == nullptr || out_len == nullptr)
        return -1;
    const auto *s = reinterpret_cast<const unsigned char *>(in);
    int32_t room = cap < 0 ? 0 : cap;
    int32_t used = 0;
    size_t i = 0;
    while (s[i] != 0) {
        unsigned char lead = s[i++];
        uint32_t cp;
        int more;
        if (lead < 0x80) {
            cp = lead;
            more = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            cp = lead & 0x1Fu;
            more = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            cp = lead & 0x0Fu;
            more = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            cp = lead & 0x07u;
            more = 3;
        } else {
            return -1;  // continuation byte or 0xF8-0xFF in lead position
        }
        // The NUL is not of the form 10xxxxxx, so a cut-short sequence stops there.
        for (int k = 0; k < more; k++) {
            unsigned char c = s[i];
            if ((c & 0xC0) != 0x80)
                return -1;
            cp = (cp << 6) | (c & 0x3Fu);
            i++;
        }
        if (cp >= kHighFirst && cp <= kLowLast)
            return -1;
        // Overlong forms and values above 0x10FFFF pass on purpose.
        if (cp <= 0xFFFF) {
            if (room - used < 2)
                return -1;
            put_unit(out + used, cp);
            used += 2;
        } else {
            if (room - used < 4)
                return -1;
            uint32_t v = cp - 0x10000;
            put_unit(out + used, kHighFirst | (v >> 10));
            put_unit(out + used + 2, kLowFirst | (v & 0x3FF));
            used += 4;
        }
    }
    *out_len = used;
    return 0;
}

int vnb_utf8_to_latin1(const char *in, uint8_t *out, size_t cap, size_t *out_len)
{
    if (in == nullptr || out == nullptr || out_len == nullptr)
        return -1;
    size_t n = 0;
    for (const auto *p = reinterpret_cast<const unsigned char *>(in); *p; p++) {
        if (n >= cap)
            return -1;
        if (*p < 0x80) {
            out[n++] = *p;
        } else if ((*p == 0xC2 || *p == 0xC3) && (p[1] & 0xC0) == 0x80) {
            out[n++] = static_cast<uint8_t>(((*p & 0x1F) << 6) | (p[1] & 0x3F));
            p++;
        } else {
            return -1;
        }
    }
    *out_len = n;
    return 0;
}

int32_t vnb_casecmp(const char *a, const char *b)
{
    return vnb_ncasecmp(a, b, SIZE_MAX);
}

int32_t vnb_ncasecmp(const char *a, const char *b, size_t max)
{
    const auto *x = reinterpret_cast<const unsigned char *>(a ? a : "");
    const auto *y = reinterpret_cast<const unsigned char *>(b ? b : "");
    for (size_t i = 0; i < max; i++) {
        int32_t d = int32_t{fold(x[i])} - int32_t{fold(y[i])};
        if (d != 0 || x[i] == 0)
            return d;
    }
    return 0;
}

int vnb_glob_match(const char *pattern, const char *name)
{
    if (pattern == nullptr || name == nullptr)
        return 0;
    const auto *p = reinterpret_cast<const unsigned char *>(pattern);
    const auto *n = reinterpret_cast<const unsigned char *>(name);
    const unsigned char *after_star = nullptr;  // pattern just past the last "*"
    const unsigned char *star_name = nullptr;   // name position that "*" has reached
    while (*n != 0) {
        if (*p == '*') {
            after_star = ++p;
            star_name = n;
        } else if (*p != 0 && (*p == '?' || fold(*p) == fold(*n))) {
            p++;
            n++;
        } else if (after_star != nullptr) {
            p = after_star;
            n = ++star_name;
        } else {
            return 0;
        }
    }
    while (*p == '*')
        p++;
    return *p == 0 ? 1 : 0;
}

int vnb_hex_decode(const char *text, size_t text_len, uint8_t *out, size_t cap, size_t *count)
{
    if (count != nullptr)
        *count = 0;
    if (text == nullptr && text_len != 0)
        return -1;
    size_t bytes = 0;
    int high = -1;  // first digit of a byte waiting for its second
    for (size_t i = 0; i < text_len; i++) {
        if (hex_space(text[i]))
            continue;
        int v = vnb_hex_digit(text[i]);
        if (v < 0)
            return -1;
        if (high < 0) {
            high = v;
            continue;
        }
        if (out != nullptr) {
            if (bytes >= cap)
                return -1;
            out[bytes] = static_cast<uint8_t>((high << 4) | v);
        }
        bytes++;
        high = -1;
    }
    if (high >= 0)
        return -1;
    if (count != nullptr)
        *count = bytes;
    return 0;
}

void vnb_hex_encode(const void *bytes, size_t len, ByteBuffer *b)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    if (b == nullptr || (bytes == nullptr && len != 0))
        return;
    const auto *p = static_cast<const uint8_t *>(bytes);
    for (size_t i = 0; i < len; i++) {
        vnb_buf_byte(b, kDigits[p[i] >> 4]);
        vnb_buf_byte(b, kDigits[p[i] & 0x0F]);
    }
}
