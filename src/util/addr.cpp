#include "util/addr.h"

#include <cstdio>
#include <cstring>

#include "util/text.h"

namespace {

constexpr size_t kMaxAddressText = 45;
constexpr size_t kMaxCidrAddress = 63;

bool has_char(const char *s, size_t len, char c)
{
    return len != 0 && std::memchr(s, c, len) != nullptr;
}

// One IPv6 group of 1 to 4 hexadecimal digits.
int parse_group(const char *s, size_t len, uint16_t *out)
{
    if (len < 1 || len > 4)
        return -1;
    uint32_t v = 0;
    for (size_t i = 0; i < len; i++) {
        int d = vnb_hex_digit(s[i]);
        if (d < 0)
            return -1;
        v = (v << 4) | static_cast<uint32_t>(d);
    }
    *out = static_cast<uint16_t>(v);
    return 0;
}

// Groups before "::" go to the front, groups after it to the end; the gap is zero.
int parse_v6(const char *s, size_t len, uint8_t out[16])
{
    uint16_t head[8] = {};
    uint16_t tail[8] = {};
    size_t n_head = 0;
    size_t n_tail = 0;
    bool gap = false;
    size_t i = 0;

    if (len >= 2 && s[0] == ':' && s[1] == ':') {
        gap = true;
        i = 2;
    } else if (s[0] == ':') {
        return -1;
    }
    while (i < len) {
        size_t end = i;
        while (end < len && s[end] != ':')
            end++;
        uint16_t *groups = gap ? tail : head;
        size_t &n = gap ? n_tail : n_head;
        if (has_char(s + i, end - i, '.')) {
            // A trailing dotted quad fills the last two groups.
            uint8_t v4[4];
            if (end != len || n_head + n_tail > 6 || parse_v4(s + i, end - i, v4) != 0)
                return -1;
            groups[n++] = static_cast<uint16_t>((v4[0] << 8) | v4[1]);
            groups[n++] = static_cast<uint16_t>((v4[2] << 8) | v4[3]);
            break;
        }
        if (n_head + n_tail >= 8 || parse_group(s + i, end - i, &groups[n]) != 0)
            return -1;
        n++;
        if (end == len)
            break;
        if (end + 1 < len && s[end + 1] == ':') {
            if (gap)
                return -1;
            gap = true;
            i = end + 2;
        } else {
            i = end + 1;
            if (i == len)
                return -1;  // single trailing ":"
        }
    }
    size_t total = n_head + n_tail;
    if (gap ? total > 7 : total != 8)
        return -1;
    std::memset(out, 0, 16);
    for (size_t k = 0; k < n_head; k++) {
        out[2 * k] = static_cast<uint8_t>(head[k] >> 8);
        out[2 * k + 1] = static_cast<uint8_t>(head[k] & 0xFF);
    }
    size_t first_tail = 8 - n_tail;
    for (size_t k = 0; k < n_tail; k++) {
        out[2 * (first_tail + k)] = static_cast<uint8_t>(tail[k] >> 8);
        out[2 * (first_tail + k) + 1] = static_cast<uint8_t>(tail[k] & 0xFF);
    }
    return 0;
}

bool is_v4_mapped(const uint8_t b[16])
{
    for (int k = 0; k < 10; k++)
        if (b[k] != 0)
            return false;
    return b[10] == 0xFF && b[11] == 0xFF;
}

constexpr uint8_t lead_mask(int bits)
{
    return static_cast<uint8_t>((0xFFu << (8 - bits)) & 0xFFu);
}

size_t address_size(int32_t family)
{
    return family == 4 ? 4 : 16;
}

int32_t max_prefix(int32_t family)
{
    return family == 4 ? 32 : 128;
}

}  // namespace

int parse_v4(const char *text, size_t len, uint8_t out[4])
{
    if (text == nullptr || out == nullptr || len == 0)
        return -1;
    uint8_t bytes[4] = {};
    size_t i = 0;
    for (int group = 0; group < 4; group++) {
        if (group > 0) {
            if (i >= len || text[i] != '.')
                return -1;
            i++;
        }
        uint32_t v = 0;
        size_t digits = 0;
        while (i < len && text[i] >= '0' && text[i] <= '9') {
            if (++digits > 3)
                return -1;
            v = v * 10 + static_cast<uint32_t>(text[i] - '0');
            i++;
        }
        if (digits == 0 || v > 255)
            return -1;
        bytes[group] = static_cast<uint8_t>(v);
    }
    if (i != len)
        return -1;
    std::memcpy(out, bytes, 4);
    return 0;
}

int vnb_ip_parse(const char *text, IpAddress *out)
{
    if (text == nullptr || out == nullptr)
        return -1;
    *out = IpAddress{};
    size_t len = std::strlen(text);
    const char *s = text;
    if (len > 1 && s[0] == '[' && s[len - 1] == ']') {
        s++;
        len -= 2;
    }
    if (const void *zone = std::memchr(s, '%', len))
        len = static_cast<size_t>(static_cast<const char *>(zone) - s);
    if (len < 1 || len > kMaxAddressText)
        return -1;

    IpAddress a{};
    if (!has_char(s, len, ':')) {
        if (parse_v4(s, len, a.bytes) != 0)
            return -1;
        a.family = 4;
    } else {
        if (parse_v6(s, len, a.bytes) != 0)
            return -1;
        a.family = 6;
        if (is_v4_mapped(a.bytes)) {
            uint8_t v4[4];
            std::memcpy(v4, a.bytes + 12, 4);
            a = IpAddress{};
            std::memcpy(a.bytes, v4, 4);
            a.family = 4;
        }
    }
    *out = a;
    return 0;
}

void vnb_ip_format(const IpAddress *a, char *out, int32_t size)
{
    if (out == nullptr || size <= 0)
        return;
    out[0] = '\0';
    if (a == nullptr)
        return;
    char text[64];
    if (a->family == 4) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a->bytes[0], a->bytes[1], a->bytes[2],
                      a->bytes[3]);
    } else {
        unsigned groups[8];
        for (int k = 0; k < 8; k++)
            groups[k] = (unsigned{a->bytes[2 * k]} << 8) | a->bytes[2 * k + 1];
        // The longest run of two or more zero groups becomes "::"; the first wins a tie.
        int best_start = -1;
        int best_len = 1;
        for (int k = 0; k < 8;) {
            if (groups[k] != 0) {
                k++;
                continue;
            }
            int start = k;
            while (k < 8 && groups[k] == 0)
                k++;
            if (k - start > best_len) {
                best_start = start;
                best_len = k - start;
            }
        }
        size_t o = 0;
        for (int k = 0; k < 8; k++) {
            if (k == best_start) {
                o += static_cast<size_t>(std::snprintf(text + o, sizeof text - o, "::"));
                k += best_len - 1;
                continue;
            }
            bool after_gap = best_start >= 0 && k == best_start + best_len;
            const char *sep = (k == 0 || after_gap) ? "" : ":";
            o += static_cast<size_t>(std::snprintf(text + o, sizeof text - o, "%s%x", sep, groups[k]));
        }
        // At most 39 characters, so the 64-byte area never cuts.
        text[o] = '\0';
    }
    std::snprintf(out, static_cast<size_t>(size), "%s", text);
}

int vnb_ip_equal(const IpAddress *a, const IpAddress *b)
{
    if (a == nullptr || b == nullptr || a->family != b->family)
        return 0;
    return std::memcmp(a->bytes, b->bytes, address_size(a->family)) == 0 ? 1 : 0;
}

int vnb_ip_is_loopback(const IpAddress *a)
{
    if (a == nullptr)
        return 0;
    if (a->family == 4)
        return a->bytes[0] == 127 ? 1 : 0;
    if (a->family == 6) {
        static constexpr uint8_t kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        return std::memcmp(a->bytes, kLoopback, 16) == 0 ? 1 : 0;
    }
    return 0;
}

int vnb_cidr_parse(const char *text, CidrBlock *out)
{
    if (text == nullptr || out == nullptr)
        return -1;
    *out = CidrBlock{};
    size_t len = std::strlen(text);
    const void *slash = std::memchr(text, '/', len);
    size_t addr_len = slash ? static_cast<size_t>(static_cast<const char *>(slash) - text) : len;
    if (addr_len < 1 || addr_len > kMaxCidrAddress)
        return -1;
    char addr_text[kMaxCidrAddress + 1];
    std::memcpy(addr_text, text, addr_len);
    addr_text[addr_len] = '\0';

    CidrBlock block{};
    if (vnb_ip_parse(addr_text, &block.addr) != 0)
        return -1;
    int32_t limit = max_prefix(block.addr.family);
    block.prefix = limit;
    if (slash) {
        const char *digits = text + addr_len + 1;
        size_t n = len - addr_len - 1;
        if (n < 1 || n > 3)
            return -1;
        int32_t prefix = 0;
        for (size_t k = 0; k < n; k++) {
            if (digits[k] < '0' || digits[k] > '9')
                return -1;
            prefix = prefix * 10 + (digits[k] - '0');
        }
        // An IPv4-mapped block counts its prefix over the whole IPv6 address.
        if (has_char(addr_text, addr_len, ':') && block.addr.family == 4) {
            if (prefix < 96)
                return -1;
            prefix -= 96;
        }
        block.prefix = prefix;
    }
    if (block.prefix > limit)
        return -1;

    size_t size = address_size(block.addr.family);
    for (size_t k = 0; k < size; k++) {
        int32_t bit = static_cast<int32_t>(k) * 8;
        if (bit + 8 <= block.prefix)
            continue;
        block.addr.bytes[k] = bit < block.prefix
            ? static_cast<uint8_t>(block.addr.bytes[k] & lead_mask(block.prefix - bit))
            : 0;
    }
    *out = block;
    return 0;
}

int vnb_cidr_match(const CidrBlock *block, const IpAddress *a)
{
    if (block == nullptr || a == nullptr || block->addr.family != a->family)
        return 0;
    int32_t prefix = block->prefix;
    if (prefix < 0 || prefix > max_prefix(a->family))
        return 0;
    size_t whole = static_cast<size_t>(prefix / 8);
    if (std::memcmp(block->addr.bytes, a->bytes, whole) != 0)
        return 0;
    int rest = prefix % 8;
    if (rest != 0 && (a->bytes[whole] & lead_mask(rest)) != block->addr.bytes[whole])
        return 0;
    return 1;
}
