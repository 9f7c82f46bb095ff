#include "util/netbios_name.h"

#include <cstring>

namespace {

constexpr uint8_t kEncodedLabel = 32;

bool is_ip_address(const char *host)
{
    // IPv6 literals hold a colon; IPv4 ones only digits and dots.
    if (std::strchr(host, ':') != nullptr)
        return true;
    bool digits = false;
    for (const char *p = host; *p; p++) {
        if (*p >= '0' && *p <= '9')
            digits = true;
        else if (*p != '.')
            return false;
    }
    return digits;
}

}  // namespace

int vnb_netbios_encode(const char *name, uint8_t type, uint8_t (&out)[kNetbiosEncodedLen])
{
    if (name == nullptr)
        return -1;
    size_t len = strnlen(name, kNetbiosNameChars + 1);
    if (len == 0 || len > kNetbiosNameChars)
        return -1;
    uint8_t raw[16];
    std::memset(raw, ' ', sizeof raw);
    for (size_t i = 0; i < len; i++) {
        auto c = static_cast<uint8_t>(name[i]);
        if (c < 0x20 || c == 0x7F)
            return -1;
        raw[i] = (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 'a' + 'A') : c;
    }
    raw[15] = type;
    out[0] = kEncodedLabel;
    for (size_t i = 0; i < sizeof raw; i++) {
        out[1 + 2 * i] = static_cast<uint8_t>('A' + (raw[i] >> 4));
        out[2 + 2 * i] = static_cast<uint8_t>('A' + (raw[i] & 0x0F));
    }
    out[kNetbiosEncodedLen - 1] = 0;
    return 0;
}

int vnb_netbios_decode(const uint8_t *in, size_t len, char (&name)[kNetbiosNameChars + 1], uint8_t *type)
{
    name[0] = '\0';
    if (in == nullptr || len < kNetbiosEncodedLen || in[0] != kEncodedLabel || in[kNetbiosEncodedLen - 1] != 0)
        return -1;
    uint8_t raw[16];
    for (size_t i = 0; i < sizeof raw; i++) {
        uint8_t hi = in[1 + 2 * i];
        uint8_t lo = in[2 + 2 * i];
        if (hi < 'A' || hi > 'P' || lo < 'A' || lo > 'P')
            return -1;
        raw[i] = static_cast<uint8_t>(((hi - 'A') << 4) | (lo - 'A'));
    }
    size_t n = kNetbiosNameChars;
    while (n > 0 && raw[n - 1] == ' ')
        n--;
    for (size_t i = 0; i < n; i++)
        name[i] = raw[i] != 0 ? static_cast<char>(raw[i]) : '?';
    name[n] = '\0';
    if (type)
        *type = raw[15];
    return static_cast<int>(kNetbiosEncodedLen);
}

void vnb_netbios_called_name(const char *host, char (&name)[kNetbiosNameChars + 1])
{
    std::memcpy(name, kNetbiosAnyServer, sizeof kNetbiosAnyServer);
    if (host == nullptr || host[0] == '\0' || is_ip_address(host))
        return;
    size_t n = 0;
    for (const char *p = host; *p && *p != '.' && n < kNetbiosNameChars; p++) {
        auto c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7F) {
            n = 0;
            break;
        }
        name[n++] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
    }
    if (n == 0) {
        std::memcpy(name, kNetbiosAnyServer, sizeof kNetbiosAnyServer);
        return;
    }
    name[n] = '\0';
}
