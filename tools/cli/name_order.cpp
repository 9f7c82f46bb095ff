#include "name_order.h"

#include <array>
#include <cstdint>

namespace {

// Base letters of U+00C0..U+017F (Latin-1 letters and Latin Extended-A), in
// lower case; "" for the two signs among them (multiplication, division).
constexpr std::array<const char *, 0x180 - 0xC0> kLatinBase = {
    // U+00C0
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "th", "ss",
    "a", "a", "a", "a", "a", "a", "ae", "c", "e", "e", "e", "e", "i", "i", "i", "i",
    "d", "n", "o", "o", "o", "o", "o", "", "o", "u", "u", "u", "u", "y", "th", "y",
    // U+0100
    "a", "a", "a", "a", "a", "a", "c", "c", "c", "c", "c", "c", "c", "c", "d", "d",
    "d", "d", "e", "e", "e", "e", "e", "e", "e", "e", "e", "e", "g", "g", "g", "g",
    "g", "g", "g", "g", "h", "h", "h", "h", "i", "i", "i", "i", "i", "i", "i", "i",
    "i", "i", "ij", "ij", "j", "j", "k", "k", "k", "l", "l", "l", "l", "l", "l", "l",
    "l", "l", "l", "n", "n", "n", "n", "n", "n", "n", "n", "n", "o", "o", "o", "o",
    "o", "o", "oe", "oe", "r", "r", "r", "r", "r", "r", "s", "s", "s", "s", "s", "s",
    "s", "s", "t", "t", "t", "t", "t", "t", "u", "u", "u", "u", "u", "u", "u", "u",
    "u", "u", "u", "u", "w", "w", "y", "y", "y", "z", "z", "z", "z", "z", "z", "s",
};

constexpr bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// The code point of the UTF-8 sequence at text[i] and its length; an
// invalid sequence is one byte, returned as -1.
int32_t decode(std::string_view text, size_t i, size_t &length)
{
    auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    uint8_t lead = byte(i);
    length = 1;
    if (lead < 0x80)
        return lead;
    size_t need = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (need == 0 || i + need > text.size())
        return -1;
    int32_t cp = lead & (0x7F >> need);
    for (size_t k = 1; k < need; k++) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return -1;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    length = need;
    return cp;
}

// A run of digits as one unit that sorts by its value: '0', the count of
// its digits without leading zeros (runs of 255 and more share a count),
// then those digits. It sorts against other characters as a digit does.
void put_number(std::string_view digits, std::string &key)
{
    size_t first = digits.find_first_not_of('0');
    std::string_view value = first == std::string_view::npos ? std::string_view{} : digits.substr(first);
    key += '0';
    key += static_cast<char>(value.size() < 255 ? value.size() : 255);
    key += value;
}

}  // namespace

namespace name_order {

std::string sort_key(std::string_view name)
{
    std::string key;
    key.reserve(name.size() + 4);
    for (size_t i = 0; i < name.size();) {
        if (is_digit(name[i])) {
            size_t end = i;
            while (end < name.size() && is_digit(name[end]))
                end++;
            put_number(name.substr(i, end - i), key);
            i = end;
            continue;
        }
        size_t length = 1;
        int32_t cp = decode(name, i, length);
        if (cp >= 'A' && cp <= 'Z')
            key += static_cast<char>(cp - 'A' + 'a');
        else if (cp >= 0xC0 && cp < 0x180 && kLatinBase[static_cast<size_t>(cp - 0xC0)][0] != '\0')
            key += kLatinBase[static_cast<size_t>(cp - 0xC0)];
        else if (cp < 0x300 || cp >= 0x370)  // a combining accent (a name written decomposed) adds nothing
            key += name.substr(i, length);
        i += length;
    }
    return key;
}

int compare(std::string_view a, std::string_view b)
{
    int c = sort_key(a).compare(sort_key(b));
    if (c == 0)
        c = a.compare(b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

}  // namespace name_order
