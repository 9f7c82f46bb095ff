// Text formatting for the command-line client.
#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "output.h"
#include "vnsmb1c.h"

std::string human_size(int64_t bytes)
{
    static constexpr const char *kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    double v = static_cast<double>(bytes);
    size_t unit = 0;
    while (v >= 1024.0 && unit + 1 < std::size(kUnits)) {
        v /= 1024.0;
        unit++;
    }
    char out[32];
    std::snprintf(out, sizeof out, "%.1f %s", v, kUnits[unit]);
    return out;
}

namespace {

// gmtime without its shared result: gmtime_s on Windows (arguments the
// other way round, 0 on success), gmtime_r elsewhere.
bool utc_fields(std::time_t t, std::tm &out)
{
#ifdef _WIN32
    return gmtime_s(&out, &t) == 0;
#else
    return gmtime_r(&t, &out) != nullptr;
#endif
}

}  // namespace

std::string utc_time(int64_t mtime_ms)
{
    std::time_t t = static_cast<std::time_t>(mtime_ms / 1000);
    std::tm tm{};
    if (!utc_fields(t, tm))
        return "-";
    char out[32];
    std::strftime(out, sizeof out, "%Y-%m-%d %H:%M", &tm);
    return out;
}

std::string duration_text(double seconds)
{
    if (seconds < 0 || seconds > 359999)
        return "--:--";
    auto s = static_cast<long>(seconds + 0.5);
    char out[32];
    if (s >= 3600)
        std::snprintf(out, sizeof out, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(out, sizeof out, "%ld:%02ld", s / 60, s % 60);
    return out;
}

std::string json_quote(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string printable(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); i++) {
        auto c = static_cast<unsigned char>(s[i]);
        auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0u;
        if (c < 0x20 || c == 0x7F) {
            out += '?';
        } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
            out += '?';  // a C1 control written in UTF-8
            i++;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {

constexpr size_t kMinName = 12;
constexpr size_t kMinCells = 10;
constexpr size_t kMaxCells = 30;
constexpr std::string_view kGap = "  ";
constexpr std::string_view kEllipsis = "...";

constexpr bool utf8_continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// At most room bytes of name: its start and its end (where the file
// extension is) around "...", cut between UTF-8 characters.
std::string shorten(const std::string &name, size_t room)
{
    if (name.size() <= room)
        return name;
    if (room <= kEllipsis.size())
        return std::string(kEllipsis.substr(0, room));
    size_t keep = room - kEllipsis.size();
    size_t head = keep / 3;
    size_t tail = name.size() - (keep - head);
    while (head > 0 && utf8_continuation(name[head]))
        head--;
    while (tail < name.size() && utf8_continuation(name[tail]))
        tail++;
    return name.substr(0, head) + std::string(kEllipsis) + name.substr(tail);
}

}  // namespace

std::string progress_text(const ProgressFigures &f, int width)
{
    const size_t room = width > 1 ? static_cast<size_t>(width - 1) : 0;
    int pct = f.total > 0 ? static_cast<int>(f.done * 100 / f.total) : 100;
    pct = pct < 0 ? 0 : pct > 100 ? 100 : pct;
    char pct_text[8];
    std::snprintf(pct_text, sizeof pct_text, "%3d%%", pct);
    const std::string name = printable(f.name);
    const std::string sizes = std::string(kGap) + human_size(f.done) + " / " + human_size(f.total);
    const std::string eta = std::string(kGap) + (f.final ? "in " : "eta ") + duration_text(f.seconds);
    const std::string rate = std::string(kGap) + human_size(static_cast<int64_t>(f.rate)) + "/s";
    const size_t bar_frame = 3;  // "[", "] "

    // The percentage always; then, while they fit, the name (at least a
    // short form of it), the sizes, the time, the rate and the bar.
    size_t used = std::strlen(pct_text);
    if (used > room)
        return std::string(pct_text, room);
    const size_t name_min = name.empty() ? 0 : std::min(name.size(), kMinName) + kGap.size();
    bool show_name = name_min > 0 && used + name_min <= room;
    used += show_name ? name_min : 0;
    auto take = [&](size_t n) {
        if (used + n > room)
            return false;
        used += n;
        return true;
    };
    bool show_sizes = take(sizes.size());
    bool show_eta = show_sizes && take(eta.size());
    bool show_rate = show_eta && take(rate.size());
    bool show_bar = show_rate && take(kMinCells + bar_frame);

    // What is left goes to the name first, then to the bar.
    size_t name_room = 0;
    if (show_name) {
        size_t extra = std::min(room - used, name.size() - std::min(name.size(), kMinName));
        name_room = name_min - kGap.size() + extra;
        used += extra;
    }
    size_t cells = show_bar ? kMinCells + std::min(room - used, kMaxCells - kMinCells) : 0;

    std::string out;
    if (show_name)
        out += shorten(name, name_room) + std::string(kGap);
    if (show_bar) {
        size_t fill = static_cast<size_t>(pct) * cells / 100;
        out += "[" + std::string(fill, '#') + std::string(cells - fill, '.') + "] ";
    }
    out += pct_text;
    if (show_sizes)
        out += sizes;
    if (show_rate)
        out += rate;
    if (show_eta)
        out += eta;
    return out;
}
