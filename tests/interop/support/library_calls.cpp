#include "interop/support/library_calls.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include "interop/support/samba_fixture.h"
#include "vnsmb1c.h"

namespace fs = std::filesystem;

namespace interop {

// The last listing, parsed from vnsmb1c_list_json.
std::vector<Item> listed_items()
{
    std::vector<Item> items;
    rapidjson::Document doc;
    doc.Parse(vnsmb1c_list_json());
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("items") || !doc["items"].IsArray()) {
        ADD_FAILURE() << "unreadable listing JSON";
        return items;
    }
    for (const auto &v : doc["items"].GetArray()) {
        Item it;
        if (v.HasMember("name") && v["name"].IsString())
            it.name = v["name"].GetString();
        if (v.HasMember("folder"))
            it.folder = v["folder"].IsBool() ? v["folder"].GetBool() : v["folder"].IsInt() && v["folder"].GetInt();
        if (v.HasMember("size") && v["size"].IsInt64())
            it.size = v["size"].GetInt64();
        if (v.HasMember("hidden"))
            it.hidden = v["hidden"].IsBool() ? v["hidden"].GetBool() : v["hidden"].IsInt() && v["hidden"].GetInt();
        items.push_back(it);
    }
    return items;
}

// A true/false member of vnsmb1c_session_json; -1 when missing.
int session_flag(const char *key)
{
    rapidjson::Document doc;
    doc.Parse(vnsmb1c_session_json());
    if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember(key) || !doc[key].IsBool())
        return -1;
    return doc[key].GetBool() ? 1 : 0;
}

std::set<std::string> names_of(const std::vector<Item> &items)
{
    std::set<std::string> names;
    for (const auto &it : items)
        names.insert(it.name);
    return names;
}

std::set<std::string> names_on_disk(const fs::path &dir)
{
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

std::vector<std::string> share_names()
{
    std::vector<std::string> names;
    int n = vnsmb1c_shares();
    for (int i = 0; i < n; ++i)
        names.emplace_back(vnsmb1c_share_name(i));
    return names;
}

bool has(const std::vector<std::string> &v, const std::string &s)
{
    for (const auto &x : v)
        if (x == s)
            return true;
    return false;
}

// Reads the whole open file with vnsmb1c_read_at in a loop.
std::vector<uint8_t> read_all(int handle, int chunk)
{
    std::vector<uint8_t> out;
    std::vector<uint8_t> buf(static_cast<size_t>(chunk));
    for (int guard = 0; guard < 1 << 20; ++guard) {
        int n = vnsmb1c_read_at(handle, static_cast<int64_t>(out.size()), buf.data(), chunk);
        if (n <= 0) {
            EXPECT_EQ(n, 0) << vnsmb1c_last_error();
            break;
        }
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    return out;
}

std::string read_text_file(const char *path, const char *file)
{
    int h = vnsmb1c_open(path, file);
    if (h <= 0) {
        ADD_FAILURE() << "open " << path << " " << file << ": " << h << " " << vnsmb1c_last_error();
        return {};
    }
    auto bytes = read_all(h, 4096);
    vnsmb1c_close(h);
    return {bytes.begin(), bytes.end()};
}

void expect_awkward_names_round_trip()
{
    ASSERT_EQ(vnsmb1c_list("public/Names", nullptr), static_cast<int>(kAwkwardNames.size()))
        << vnsmb1c_last_error();
    EXPECT_EQ(names_of(listed_items()), std::set<std::string>(kAwkwardNames.begin(), kAwkwardNames.end()));
    for (const auto &name : kAwkwardNames) {
        SCOPED_TRACE(name);
        int h = vnsmb1c_open("public/Names", name.c_str());
        ASSERT_GT(h, 0) << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_size(h), 0);
        char b[4];
        EXPECT_EQ(vnsmb1c_read_at(h, 0, b, sizeof b), 0);
        vnsmb1c_close(h);
    }
}

}  // namespace interop
