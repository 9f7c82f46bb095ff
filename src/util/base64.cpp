#include <cstdlib>

#include "util/text.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Both RFC 4648 alphabets at once: "+"/"-" are 62 and "/"/"_" are 63.
constexpr int b64_value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+' || c == '-')
        return 62;
    if (c == '/' || c == '_')
        return 63;
    return -1;
}

constexpr bool b64_skipped(unsigned char c)
{
    return c == '\n' || c == '\r' || c == ' ' || c == '=';
}

}  // namespace

char *vnb_b64enc(const void *bytes, size_t len)
{
    if (bytes == nullptr && len != 0)
        return nullptr;
    if (len > (SIZE_MAX - 1) / 4 * 3 - 2)
        return nullptr;
    size_t size = (len + 2) / 3 * 4 + 1;
    auto *text = static_cast<char *>(std::malloc(size));
    if (text == nullptr)
        return nullptr;
    const auto *p = static_cast<const uint8_t *>(bytes);
    size_t o = 0;
    size_t i = 0;
    for (; len - i >= 3; i += 3) {
        uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8) | p[i + 2];
        text[o++] = kAlphabet[(v >> 18) & 63];
        text[o++] = kAlphabet[(v >> 12) & 63];
        text[o++] = kAlphabet[(v >> 6) & 63];
        text[o++] = kAlphabet[v & 63];
    }
    if (len - i == 1) {
        uint32_t v = uint32_t{p[i]} << 16;
        text[o++] = kAlphabet[(v >> 18) & 63];
        text[o++] = kAlphabet[(v >> 12) & 63];
        text[o++] = '=';
        text[o++] = '=';
    } else if (len - i == 2) {
        uint32_t v = (uint32_t{p[i]} << 16) | (uint32_t{p[i + 1]} << 8);
        text[o++] = kAlphabet[(v >> 18) & 63];
        text[o++] = kAlphabet[(v >> 12) & 63];
        text[o++] = kAlphabet[(v >> 6) & 63];
        text[o++] = '=';
    }
    text[o] = '\0';
    return text;
}

int vnb_b64dec(const char *text, ByteBuffer *b)
{
    if (text == nullptr || b == nullptr)
        return -1;
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    uint32_t bits = 0;  // only the low `held` bits matter
    int held = 0;
    for (size_t i = 0; s[i] != 0; i++) {
        if (b64_skipped(s[i]))
            continue;
        int v = b64_value(s[i]);
        if (v < 0)
            return -1;
        bits = ((bits << 6) | static_cast<uint32_t>(v)) & 0xFFFF;
        held += 6;
        if (held >= 8) {
            held -= 8;
            vnb_buf_byte(b, static_cast<int>((bits >> held) & 0xFF));
            if (b->failed)
                return -1;
        }
    }
    // Fewer than eight leftover bits are padding; they are dropped unchecked.
    return 0;
}
