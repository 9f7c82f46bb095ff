// %XX escapes in URLs (RFC 3986), decoded once for the whole tool.
#pragma once

#include <string>
#include <string_view>

// Value of one hexadecimal digit (either case), or -1.
int hex_digit(char c);

// Decodes every %XX escape; an escape that is not one ("100%", "%zz", a '%'
// one or two bytes before the end) stays as it stands.
std::string percent_decode(std::string_view s);

// Decodes every %XX escape into out; false at the first broken one (out then
// holds what came before it).
bool percent_decode_strict(std::string_view s, std::string &out);
