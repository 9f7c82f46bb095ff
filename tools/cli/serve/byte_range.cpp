#include "byte_range.h"

#include <limits>

#include "http_text.h"

namespace serve {

namespace {

bool starts_with_nocase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); i++) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// Decimal digits only; values beyond int64 saturate (they lie past any end).
bool parse_number(std::string_view s, int64_t &out)
{
    if (s.empty())
        return false;
    int64_t v = 0;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        int d = c - '0';
        v = v > (kMax - d) / 10 ? kMax : v * 10 + d;
    }
    out = v;
    return true;
}

}  // namespace

RangeAnswer resolve_range(std::string_view header, int64_t size)
{
    RangeAnswer whole;
    header = trim_ows(header);
    if (!starts_with_nocase(header, "bytes="))
        return whole;
    std::string_view set = trim_ows(header.substr(6));
    if (set.find(',') != std::string_view::npos)
        return whole;
    auto dash = set.find('-');
    if (dash == std::string_view::npos)
        return whole;
    std::string_view a = trim_ows(set.substr(0, dash));
    std::string_view b = trim_ows(set.substr(dash + 1));
    RangeAnswer r;
    if (a.empty()) {
        int64_t suffix = 0;
        if (!parse_number(b, suffix))
            return whole;
        if (suffix == 0 || size <= 0)
            return {RangeAnswer::Kind::unsatisfiable};
        r.length = suffix < size ? suffix : size;
        r.first = size - r.length;
        r.kind = RangeAnswer::Kind::partial;
        return r;
    }
    int64_t first = 0;
    if (!parse_number(a, first))
        return whole;
    int64_t last = std::numeric_limits<int64_t>::max();
    if (!b.empty() && !parse_number(b, last))
        return whole;
    if (last < first)
        return whole;
    if (first >= size)
        return {RangeAnswer::Kind::unsatisfiable};
    if (last >= size)
        last = size - 1;
    r.kind = RangeAnswer::Kind::partial;
    r.first = first;
    r.length = last - first + 1;
    return r;
}

std::string content_range(const RangeAnswer &r, int64_t size)
{
    if (r.kind != RangeAnswer::Kind::partial)
        return "bytes */" + std::to_string(size);
    return "bytes " + std::to_string(r.first) + "-" + std::to_string(r.first + r.length - 1) + "/" +
           std::to_string(size);
}

}  // namespace serve
