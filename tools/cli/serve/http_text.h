// Small helpers for header values.
#pragma once

#include <array>
#include <string_view>

namespace serve {

// The month names of HTTP dates, January first.
inline constexpr std::array<std::string_view, 12> kHttpMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

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
