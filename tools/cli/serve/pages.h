// The pages the gateway writes: folder and share listings as HTML, JSON and
// M3U, and the header values of a file answer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "listing.h"
#include "servers.h"

namespace serve {

// The pages show the tool's listing entries (Item, listing.h).

// & < > " ' as character references; every other byte as it is.
std::string html_escape(std::string_view text);
// Folders first, then names in natural order (Episode 9 before Episode 10).
void sort_entries(std::vector<Item> &entries);

// What the root page lists, named first in each page's breadcrumbs: the
// shares of the one server served, or the network's servers (whose paths
// then begin with the server's name).
enum class Root { shares, network };

// folder: the decoded segments of the listed folder as the gateway's URL
// names them: the share first (the server, then the share, on the network).
std::string folder_html(const std::vector<std::string> &folder, const std::vector<Item> &entries,
                        Root root = Root::shares);
std::string folder_json(const std::vector<std::string> &folder, const std::vector<Item> &entries);
// "#EXTM3U" and the video and audio files, each as an absolute URL under
// origin ("http://host:port").
std::string folder_m3u(std::string_view origin, const std::vector<std::string> &folder,
                       const std::vector<Item> &entries);
// server: {} for the one server served, {NAME} for a server of the network.
std::string shares_html(const std::vector<std::string> &shares, const std::vector<std::string> &server = {});
std::string shares_json(const std::vector<std::string> &shares, const std::vector<std::string> &server = {});
// The network's servers, each a link to its shares.
std::string servers_html(const NetServers &found);
std::string servers_json(const NetServers &found);

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string http_date(int64_t mtime_ms);
// A strong validator from the size and the modification time.
std::string entity_tag(int64_t size, int64_t mtime_ms);
// "1.5 MiB", "512 B".
std::string size_text(int64_t bytes);

}  // namespace serve
