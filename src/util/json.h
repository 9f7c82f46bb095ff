// Parsing JSON texts with a known end.
//
// RapidJSON 1.1.0, when it validates UTF-8, takes every continuation byte a
// lead byte announces without looking for the end of the text: a
// NUL-terminated text ending in "\xF1" is read up to three bytes past its
// NUL. Texts are therefore parsed from a memory stream bounded by their
// length, which ends every sequence at the end of the text.
#pragma once

#include <rapidjson/document.h>

#include <cstddef>
#include <string_view>

template <unsigned Flags>
void vnb_json_parse(rapidjson::Document &doc, std::string_view text)
{
    static_assert((Flags & rapidjson::kParseInsituFlag) == 0, "an in-place parse has no bounded stream");
    doc.Parse<Flags>(text.data(), text.size());
}

// In-place parsing reads the buffer itself and cannot be bounded, so a buffer
// parsed in place carries this many NUL bytes after its text: more than a
// UTF-8 sequence can claim past its lead byte.
inline constexpr size_t kJsonInsituPad = 4;

template <unsigned Flags>
void vnb_json_parse_insitu(rapidjson::Document &doc, char *padded_text)
{
    static_assert((Flags & rapidjson::kParseInsituFlag) != 0);
    doc.ParseInsitu<Flags>(padded_text);
}
