// Folder listings as the tool shows them: the library's records, sorted.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "listing.h"

#include "errors.h"
#include "exit_codes.h"
#include "options.h"
#include "output.h"
#include "terminal.h"
#include "name_order.h"
#include "vnsmb1c.h"

namespace {

// <0 when a comes before b by the key alone, names breaking ties.
int compare_by(const Item &a, const std::string &a_key, const Item &b, const std::string &b_key, SortKey key)
{
    if (key == SortKey::size && a.size != b.size)
        return a.size > b.size ? -1 : 1;
    if (key == SortKey::time && a.mtime_ms != b.mtime_ms)
        return a.mtime_ms > b.mtime_ms ? -1 : 1;
    int c = a_key.compare(b_key);
    return c != 0 ? c : a.name.compare(b.name);
}

constexpr char fold(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool continuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool match_from(std::string_view p, std::string_view n)
{
    size_t pi = 0;
    size_t ni = 0;
    size_t star = std::string_view::npos;  // where the last * stood
    size_t star_n = 0;                     // the name position it was tried at
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            star_n = ni;
        } else if (pi < p.size() && p[pi] == '?') {
            pi++;
            ni++;
            while (ni < n.size() && continuation(n[ni]))
                ni++;  // one character, however many bytes
        } else if (pi < p.size() && fold(p[pi]) == fold(n[ni])) {
            pi++;
            ni++;
        } else if (star != std::string_view::npos) {
            // The * takes one character more.
            pi = star + 1;
            for (star_n++; star_n < n.size() && continuation(n[star_n]); star_n++) {
            }
            ni = star_n;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        pi++;
    return pi == p.size();
}

std::string last_part(const std::string &path)
{
    return path.substr(path.find_last_of('/') + 1);
}

}  // namespace

int list_folder(const std::string &path, std::vector<Item> &out, bool with_hidden, bool with_json)
{
    return list_folder(vnsmb1c_default_session(), path, out, with_hidden, with_json);
}

int list_folder(vnsmb1c_session *session, const std::string &path, std::vector<Item> &out, bool with_hidden,
                bool with_json)
{
    out.clear();
    int n = with_hidden ? vnsmb1c_s_list_all(session, path.c_str(), nullptr)
                        : vnsmb1c_s_list(session, path.c_str(), nullptr);
    if (n < 0)
        return n;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        vnsmb1c_Entry e;
        if (int rc = vnsmb1c_s_entry(session, i, &e); rc != 0)
            return rc;
        out.push_back(Item{e.name, e.folder != 0, e.hidden != 0, e.size, e.mtime_ms,
                           with_json ? vnsmb1c_s_item_json(session, i) : std::string()});
    }
    return n;
}

void sort_items(std::vector<Item> &items, SortKey key, bool reverse)
{
    if (key == SortKey::none) {
        if (reverse)
            std::reverse(items.begin(), items.end());
        return;
    }
    // Each name's key is made once, not at every comparison.
    std::vector<std::pair<std::string, Item>> keyed;
    keyed.reserve(items.size());
    for (Item &it : items)
        keyed.emplace_back(name_order::sort_key(it.name), std::move(it));
    std::stable_sort(keyed.begin(), keyed.end(), [key, reverse](const auto &a, const auto &b) {
        if (a.second.folder != b.second.folder)
            return a.second.folder;
        int c = compare_by(a.second, a.first, b.second, b.first, key);
        return reverse ? c > 0 : c < 0;
    });
    for (size_t i = 0; i < items.size(); i++)
        items[i] = std::move(keyed[i].second);
}

bool has_pattern(const std::string &path)
{
    return last_part(path).find_first_of("*?") != std::string::npos;
}

bool name_matches(const std::string &pattern, const std::string &name)
{
    if (vnsmb1c_is_hidden_name(name.c_str()) != 0 && (pattern.empty() || pattern[0] != name[0]))
        return false;
    return match_from(pattern, name);
}

int expand_target(const Target &t, std::vector<RemotePath> &out)
{
    out.clear();
    auto slash = t.path.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : t.path.substr(0, slash);
    if (folder.find_first_of("*?") != std::string::npos) {
        std::fprintf(stderr, "vnsmb1c: %s: * and ? stand for names in the last part of a path only\n",
                     printable(t.path).c_str());
        return kExitUsage;
    }
    if (!has_pattern(t.path)) {
        out.push_back(RemotePath{t.path, false, {}});
        return 0;
    }
    if (folder.empty()) {
        std::fprintf(stderr, "vnsmb1c: %s: * and ? stand for names in a folder, not for shares\n",
                     printable(t.path).c_str());
        return kExitUsage;
    }
    std::vector<Item> items;
    // stat --json prints the items a pattern matched as their JSON.
    int n = list_folder(folder, items, true, true);
    if (n < 0) {
        Target where = t;
        where.path = folder;
        return report_failure(n, where);
    }
    std::string pattern = last_part(t.path);
    std::vector<Item> matched;
    for (Item &it : items)
        if (name_matches(pattern, it.name))
            matched.push_back(std::move(it));
    if (matched.empty()) {
        end_progress_line();
        std::fprintf(stderr, "vnsmb1c: %s: no match\n", printable(t.path).c_str());
        return exit_code_for(VNSMB1C_ENOTFOUND);
    }
    sort_items(matched, SortKey::name, false);
    for (Item &it : matched)
        out.push_back(RemotePath{folder + "/" + it.name, true, std::move(it)});
    return 0;
}
