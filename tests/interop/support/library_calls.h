// What the interop tests ask of the library through its C interface, in
// test-friendly form: listings parsed from their JSON, session report flags,
// whole files read in a loop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace interop {

struct Item {
    std::string name;
    bool folder = false;
    int64_t size = -1;
    bool hidden = false;
};

// The last listing, parsed from vnsmb1c_list_json (a test failure when it
// cannot be read).
std::vector<Item> listed_items();
std::set<std::string> names_of(const std::vector<Item> &items);
std::set<std::string> names_on_disk(const std::filesystem::path &dir);

// A true/false member of vnsmb1c_session_json; -1 when missing.
int session_flag(const char *key);

// The names of the last share listing.
std::vector<std::string> share_names();
bool has(const std::vector<std::string> &v, const std::string &s);

// Reads the whole open file with vnsmb1c_read_at in chunks of `chunk`.
std::vector<uint8_t> read_all(int handle, int chunk);
// Opens path/file, reads it whole and closes it; "" and a test failure when
// it cannot be opened.
std::string read_text_file(const char *path, const char *file);

// On a connected session: public/Names lists exactly kAwkwardNames, and
// each of them opens as an empty file.
void expect_awkward_names_round_trip();

}  // namespace interop
