// The pages the gateway writes: folder and share listings as HTML, JSON and
// M3U, and the header values of a file answer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "listing.h"

namespace serve {

// The pages show the tool's listing entries (Item, listing.h).

// & < > " ' as character references; every other byte as it is.
std::string html_escape(std::string_view text);
// Folders first, then names in natural order (Episode 9 before Episode 10).
void sort_entries(std::vector<Item> &entries);

// folder: the decoded segments of the listed folder, share first.
std::string folder_html(const std::vector<std::string> &folder, const std::vector<Item> &entries);
std::string folder_json(const std::vector<std::string> &folder, const std::vector<Item> &entries);
// "#EXTM3U" and the video and audio files, each as an absolute URL under
// origin ("http://host:port").
std::string folder_m3u(std::string_view origin, const std::vector<std::string> &folder,
                       const std::vector<Item> &entries);
std::string shares_html(const std::vector<std::string> &shares);
std::string shares_json(const std::vector<std::string> &shares);

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string http_date(int64_t mtime_ms);
// A strong validator from the size and the modification time.
std::string entity_tag(int64_t size, int64_t mtime_ms);
// "1.5 MiB", "512 B".
std::string size_text(int64_t bytes);

}  // namespace serve
