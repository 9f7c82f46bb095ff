#include "net/nb_name.h"

#include <algorithm>

namespace {

constexpr std::string_view kForbidden = "\\/:*?\"<>|+=;,";

bool name_byte_ok(char c)
{
    return c > ' ' && c < 0x7F && kForbidden.find(c) == std::string_view::npos;
}

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

bool nb_name_make(std::string_view text, uint8_t suffix, NbName *out)
{
    if (text.empty() || text.size() > kNbNameLen || !std::all_of(text.begin(), text.end(), name_byte_ok))
        return false;
    out->bytes.fill(' ');
    for (size_t i = 0; i < text.size(); i++)
        out->bytes[i] = static_cast<uint8_t>(upper(text[i]));
    out->bytes[15] = suffix;
    return true;
}

NbName nb_name_wildcard()
{
    NbName n;
    n.bytes[0] = '*';
    return n;
}

NbName nb_name_msbrowse()
{
    static constexpr char kMsBrowse[16] = "\x01\x02__MSBROWSE__\x02";
    NbName n;
    std::copy(kMsBrowse, kMsBrowse + kNbNameLen, n.bytes.begin());
    n.bytes[15] = kNbMasterBrowsers;
    return n;
}

std::array<uint8_t, 32> nb_encode_first_level(const NbName &name)
{
    std::array<uint8_t, 32> out{};
    for (size_t i = 0; i < name.bytes.size(); i++) {
        out[2 * i] = static_cast<uint8_t>('A' + (name.bytes[i] >> 4));
        out[2 * i + 1] = static_cast<uint8_t>('A' + (name.bytes[i] & 0x0F));
    }
    return out;
}

bool nb_decode_first_level(std::span<const uint8_t, 32> encoded, NbName *out)
{
    for (size_t i = 0; i < 16; i++) {
        uint8_t hi = encoded[2 * i];
        uint8_t lo = encoded[2 * i + 1];
        if (hi < 'A' || hi > 'P' || lo < 'A' || lo > 'P')
            return false;
        out->bytes[i] = static_cast<uint8_t>(((hi - 'A') << 4) | (lo - 'A'));
    }
    return true;
}

std::string nb_oem_text(std::span<const uint8_t> bytes)
{
    std::string text;
    for (uint8_t b : bytes) {
        if (b == 0)
            break;
        text += b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '?';
    }
    return text;
}

std::string nb_name_text(const NbName &name)
{
    std::string text = nb_oem_text(std::span<const uint8_t>(name.bytes.data(), kNbNameLen));
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}
