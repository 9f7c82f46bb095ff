// Small helpers for header values.
#pragma once

#include <string_view>

namespace serve {

// The value without the optional white space (spaces, tabs) around it.
inline std::string_view trim_ows(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

}  // namespace serve
