// Folder listings as the tool shows them: parsed items, sorted.
#include <rapidjson/document.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli.h"
#include "vnsmb1c.h"

namespace {

bool parse_item(const char *json, Item &out)
{
    rapidjson::Document doc;
    doc.Parse(json, std::strlen(json));
    if (doc.HasParseError() || !doc.IsObject())
        return false;
    auto name = doc.FindMember("name");
    if (name == doc.MemberEnd() || !name->value.IsString())
        return false;
    out.name.assign(name->value.GetString(), name->value.GetStringLength());
    if (auto f = doc.FindMember("folder"); f != doc.MemberEnd() && f->value.IsBool())
        out.folder = f->value.GetBool();
    if (auto s = doc.FindMember("size"); s != doc.MemberEnd() && s->value.IsInt64())
        out.size = s->value.GetInt64();
    if (auto m = doc.FindMember("mtime_ms"); m != doc.MemberEnd() && m->value.IsInt64())
        out.mtime_ms = m->value.GetInt64();
    out.json = json;
    return true;
}

constexpr char fold(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// <0, 0 or >0 comparing names without regard to ASCII case, then byte by byte.
int compare_names(std::string_view a, std::string_view b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; i++)
        if (fold(a[i]) != fold(b[i]))
            return static_cast<unsigned char>(fold(a[i])) < static_cast<unsigned char>(fold(b[i])) ? -1 : 1;
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

// <0 when a comes before b by the key alone, names breaking ties.
int compare_by(const Item &a, const Item &b, SortKey key)
{
    if (key == SortKey::size && a.size != b.size)
        return a.size > b.size ? -1 : 1;
    if (key == SortKey::time && a.mtime_ms != b.mtime_ms)
        return a.mtime_ms > b.mtime_ms ? -1 : 1;
    return compare_names(a.name, b.name);
}

}  // namespace

int list_folder(const std::string &path, std::vector<Item> &out, bool with_hidden)
{
    out.clear();
    int n = with_hidden ? vnsmb1c_list_all(path.c_str(), nullptr) : vnsmb1c_list(path.c_str(), nullptr);
    if (n < 0)
        return n;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; i++) {
        Item it;
        if (parse_item(vnsmb1c_item_json(i), it))
            out.push_back(std::move(it));
    }
    return static_cast<int>(out.size());
}

void sort_items(std::vector<Item> &items, SortKey key, bool reverse)
{
    if (key == SortKey::none) {
        if (reverse)
            std::reverse(items.begin(), items.end());
        return;
    }
    std::stable_sort(items.begin(), items.end(), [key, reverse](const Item &a, const Item &b) {
        if (a.folder != b.folder)
            return a.folder;
        int c = compare_by(a, b, key);
        return reverse ? c > 0 : c < 0;
    });
}
