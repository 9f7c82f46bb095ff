#include "conditional.h"

#include <cctype>
#include <vector>

#include "http_text.h"

namespace serve {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
constexpr int64_t days_from_civil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
static_assert(days_from_civil(1970, 1, 1) == 0);
static_assert(days_from_civil(2000, 3, 1) == 11017);

// The words of a date: runs of letters or digits; ", - :" and spaces part them.
std::vector<std::string_view> date_words(std::string_view text)
{
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size() && words.size() < 16) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == ',' || c == '-' || c == ':' || c == '\t') {
            i++;
            continue;
        }
        if (!std::isalnum(c))
            return {};
        size_t start = i;
        while (i < text.size() && std::isalnum(static_cast<unsigned char>(text[i])))
            i++;
        words.push_back(text.substr(start, i - start));
    }
    return i == text.size() ? words : std::vector<std::string_view>{};
}

// A number of 1 to max_digits digits, or -1.
int number(std::string_view word, size_t max_digits)
{
    if (word.empty() || word.size() > max_digits)
        return -1;
    int v = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

int month_number(std::string_view word)
{
    for (size_t i = 0; i < kHttpMonths.size(); i++)
        if (word == kHttpMonths[i])
            return static_cast<int>(i) + 1;
    return -1;
}

int64_t unix_seconds(int year, int month, int day, int hour, int minute, int second)
{
    static constexpr int kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || day < 1 || day > kDaysIn[month - 1] || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60)
        return -1;
    return days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

std::string_view without_weak_prefix(std::string_view tag)
{
    return tag.substr(0, 2) == "W/" ? tag.substr(2) : tag;
}

}  // namespace

int64_t parse_http_date(std::string_view text)
{
    const std::vector<std::string_view> w = date_words(trim_ows(text));
    // IMF-fixdate and RFC 850: weekday, day, month, year, h, m, s, "GMT".
    if (w.size() == 8 && w[7] == "GMT") {
        int year = number(w[3], 4);
        if (w[3].size() == 2 && year >= 0)
            year += year < 70 ? 2000 : 1900;
        else if (w[3].size() != 4)
            return -1;
        return unix_seconds(year, month_number(w[2]), number(w[1], 2), number(w[4], 2), number(w[5], 2),
                            number(w[6], 2));
    }
    // asctime: weekday, month, day, h, m, s, year.
    if (w.size() == 7 && w[6].size() == 4)
        return unix_seconds(number(w[6], 4), month_number(w[1]), number(w[2], 2), number(w[3], 2), number(w[4], 2),
                            number(w[5], 2));
    return -1;
}

bool not_modified(std::string_view if_none_match, std::string_view if_modified_since, std::string_view etag,
                  int64_t mtime_ms)
{
    if (!trim_ows(if_none_match).empty()) {
        std::string_view rest = if_none_match;
        while (!rest.empty()) {
            size_t comma = rest.find(',');
            std::string_view tag = trim_ows(rest.substr(0, comma));
            rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
            if (tag == "*" || (!tag.empty() && without_weak_prefix(tag) == without_weak_prefix(etag)))
                return true;
        }
        return false;
    }
    if (mtime_ms <= 0 || trim_ows(if_modified_since).empty())
        return false;
    const int64_t since = parse_http_date(if_modified_since);
    return since >= 0 && mtime_ms / 1000 <= since;
}

bool range_still_applies(std::string_view if_range, std::string_view etag, int64_t mtime_ms)
{
    if_range = trim_ows(if_range);
    if (if_range.empty())
        return true;
    if (if_range.front() == '"')
        return if_range == etag;
    if (if_range.substr(0, 2) == "W/")
        return false;  // a weak tag never validates a range
    const int64_t date = parse_http_date(if_range);
    return date >= 0 && mtime_ms > 0 && date == mtime_ms / 1000;
}

}  // namespace serve
