// Text the tool prints: sizes, times, JSON strings, control bytes made safe,
// and the progress line's text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::string human_size(int64_t bytes);
std::string utc_time(int64_t mtime_ms);
std::string duration_text(double seconds);
std::string json_quote(const std::string &s);
// The text with control bytes shown as '?', safe to print on a terminal.
std::string printable(std::string_view s);

// What the progress line shows.
struct ProgressFigures {
    std::string_view name;  // destination, shortened to fit
    int64_t done = 0;
    int64_t total = 0;
    double rate = 0;        // bytes per second
    double seconds = -1;    // time left, or the time taken when final
    bool final = false;
};
// The line for a terminal width columns wide: never longer than width - 1
// bytes, so the cursor never wraps.
std::string progress_text(const ProgressFigures &f, int width);
