// Folder listings as the tool reads them: one entry type, filled from the
// library's records, sorted and matched against patterns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options.h"

struct vnsmb1c_session;

// One entry of a folder listing, as the library's record gives it; the
// tool's commands and the gateway's pages both work on it.
struct Item {
    std::string name;
    bool folder = false;
    bool hidden = false;
    int64_t size = -1;      // -1 for a folder
    int64_t mtime_ms = -1;  // Unix milliseconds, -1 when unknown
    std::string json;       // the library's item JSON, for --json (when asked for)
};
// Lists the share-qualified folder into out, hidden names too with
// with_hidden, each item's JSON too with with_json; the count, or a
// negative ResultCode.
int list_folder(const std::string &path, std::vector<Item> &out, bool with_hidden = false, bool with_json = false);
// The same on a session of its own; with_json fills each item's JSON too.
int list_folder(vnsmb1c_session *session, const std::string &path, std::vector<Item> &out, bool with_hidden,
                bool with_json);

enum class SortKey { name, size, time, none };
// Folders first, then by the key (names in natural order, see
// name_order.h; the largest and the newest first); reverse turns each
// group around.
void sort_items(std::vector<Item> &items, SortKey key, bool reverse);

// A pattern (with * or ?) in the last part of a share-qualified path.
bool has_pattern(const std::string &path);
// Whether name matches the pattern: * any run of characters, ? one, letters
// without regard to ASCII case (as the server compares names). A hidden
// name matches only a pattern that starts with its first character.
bool name_matches(const std::string &pattern, const std::string &name);

// One share-qualified path a URL stands for, with its entry when a listing
// gave it.
struct RemotePath {
    std::string path;
    bool listed = false;
    Item item;
};
// The paths t.path stands for: itself, or the entries of its folder that its
// last part matches (in name order, hidden ones only for a pattern that
// starts like them). 0, or an exit code after a message (14: no match).
int expand_target(const Target &t, std::vector<RemotePath> &out);
