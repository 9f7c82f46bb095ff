#include "util/path.h"

#include <cstring>

#include "util/error.h"

namespace {

constexpr size_t kMaxInput = 2048;
constexpr size_t kMaxComponent = 255;
constexpr int kMaxDepth = 64;
constexpr size_t kMaxCanonical = 1024;
constexpr size_t kMaxPattern = 512;
// Room for the longest canonical path and its NUL, with some to spare.
constexpr size_t kCanonicalArea = 1040;

constexpr bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

constexpr bool is_control(char c)
{
    auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

// Length of a NUL-terminated text, but looking at no more than max + 1 bytes.
size_t bounded_length(const char *s, size_t max)
{
    size_t n = 0;
    while (n <= max && s[n] != '\0')
        n++;
    return n;
}

int32_t check_component(const char *c, size_t len)
{
    if (len == 1 && c[0] == '.')
        return vnb_fail(-6, "\".\" is not a valid name component");
    if (len == 2 && c[0] == '.' && c[1] == '.')
        return vnb_fail(-6, "\"..\" is not a valid name component");
    if (len > kMaxComponent)
        return vnb_fail(-6, "name component longer than %d bytes", static_cast<int>(kMaxComponent));
    for (size_t i = 0; i < len; i++)
        if (is_control(c[i]))
            return vnb_fail(-6, "control byte in a name component");
    if (c[len - 1] == '.' || c[len - 1] == ' ')
        return vnb_fail(-6, "name component ends in a dot or a space");
    return 0;
}

}  // namespace

int32_t vnb_vpath(const char *path, char *out, int32_t size)
{
    const char *p = path ? path : "";
    size_t len = bounded_length(p, kMaxInput);
    if (len > kMaxInput)
        return vnb_fail(-6, "name longer than %d bytes", static_cast<int>(kMaxInput));

    char canon[kCanonicalArea];
    size_t n = 0;
    int depth = 0;
    size_t i = 0;
    while (i < len) {
        while (i < len && is_separator(p[i]))
            i++;
        if (i == len)
            break;
        size_t start = i;
        while (i < len && !is_separator(p[i]))
            i++;
        const char *comp = p + start;
        size_t comp_len = i - start;
        if (int32_t rc = check_component(comp, comp_len); rc != 0)
            return rc;
        if (++depth > kMaxDepth)
            return vnb_fail(-6, "deeper than %d components", kMaxDepth);
        size_t sep = n == 0 ? 0 : 1;
        if (n + sep + comp_len > kMaxCanonical)
            return vnb_fail(-6, "path longer than %d bytes", static_cast<int>(kMaxCanonical));
        if (sep)
            canon[n++] = '/';
        std::memcpy(canon + n, comp, comp_len);
        n += comp_len;
    }
    canon[n] = '\0';

    if (out == nullptr || size <= static_cast<int32_t>(n))
        return vnb_fail(-9, "the name needs %d bytes", static_cast<int>(n + 1));
    std::memcpy(out, canon, n + 1);
    return 0;
}

int32_t vnb_pat_check(const char *pattern)
{
    if (pattern == nullptr)
        return vnb_fail(-6, "NULL pattern");
    size_t len = bounded_length(pattern, kMaxPattern);
    if (len > kMaxPattern)
        return vnb_fail(-6, "pattern longer than %d bytes", static_cast<int>(kMaxPattern));
    for (size_t i = 0; i < len; i++) {
        if (is_separator(pattern[i]))
            return vnb_fail(-6, "the pattern is a leaf name only");
        if (is_control(pattern[i]))
            return vnb_fail(-6, "control byte in the pattern");
    }
    return 0;
}
