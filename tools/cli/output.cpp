// Text formatting and error reporting for the command-line client.
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string>

#include "cli.h"
#include "vnsmb1c.h"

int exit_code_for(int rc)
{
    if (rc >= 0)
        return 0;
    if (rc < VNSMB1C_ENOMEM)
        return kExitLibraryBase + 1;  // outside the table: count it as a network failure
    return kExitLibraryBase - rc;
}

int report_failure(int rc)
{
    const char *text = vnsmb1c_last_error();
    if (text[0] == '\0')
        text = vnsmb1c_strerror(rc);
    std::fprintf(stderr, "vnsmb1c: %s\n", text);
    return exit_code_for(rc);
}

int report_local(const std::string &text)
{
    std::fprintf(stderr, "vnsmb1c: %s\n", text.c_str());
    return kExitLocal;
}

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

std::string utc_time(int64_t mtime_ms)
{
    std::time_t t = static_cast<std::time_t>(mtime_ms / 1000);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr)
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
