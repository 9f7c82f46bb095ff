// The browse commands: shares, ls, stat, and the self-test.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli.h"
#include "vnsmb1c.h"

namespace {

// Splits "Share/a/b" into its folder "Share/a" and name "b".
void split_last(const std::string &path, std::string &folder, std::string &name)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        folder.clear();
        name = path;
    } else {
        folder = path.substr(0, slash);
        name = path.substr(slash + 1);
    }
}

// The item JSON with its "path" share-qualified, the form the URL and the
// text output use.
std::string with_full_path(const std::string &json, const std::string &full_path)
{
    rapidjson::Document doc;
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError() || !doc.IsObject())
        return json;
    rapidjson::Value path(full_path.c_str(), static_cast<rapidjson::SizeType>(full_path.size()), doc.GetAllocator());
    if (auto m = doc.FindMember("path"); m != doc.MemberEnd())
        m->value = path;
    else
        doc.AddMember("path", path, doc.GetAllocator());
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> w(out);
    doc.Accept(w);
    return out.GetString();
}

// A host part that could name a workgroup: one label of at most 15 bytes,
// no port, no user.
bool may_be_workgroup(const Target &t)
{
    return t.port == 0 && t.user.empty() && !t.host.empty() && t.host.size() <= 15 &&
           t.host.find_first_of(".:[]%") == std::string::npos;
}

}  // namespace

int cmd_shares(const GlobalOptions &opt, const std::string &url, bool json)
{
    Target t;
    if (int rc = connect_to(opt, url, t); rc != 0)
        return rc;
    int n = vnsmb1c_shares();
    if (n < 0)
        return report_failure(n, t);
    std::string out = json ? "{\"shares\":[" : "";
    for (int i = 0; i < n; i++) {
        if (json)
            out += (i ? "," : "") + json_quote(vnsmb1c_share_name(i));
        else
            out += std::string(vnsmb1c_share_name(i)) + "\n";
    }
    if (json)
        out += "]}\n";
    std::fputs(out.c_str(), stdout);
    vnsmb1c_disconnect();
    return 0;
}

int cmd_ls(const GlobalOptions &opt, const std::string &url, const ListOptions &lo)
{
    bool tried = false;
    if (url_names_network(url_from_unc(url)))
        return list_network(opt, "", lo.json, &tried);
    Target t;
    if (int rc = resolve_target(url, opt, t); rc != 0)
        return rc;
    // smb://NAME/ without a share: NAME may be a workgroup.
    if (t.path.empty() && may_be_workgroup(t)) {
        int rc = list_network(opt, t.host, lo.json, &tried);
        if (tried)
            return rc;
    }
    if (int rc = open_session(opt, t); rc != 0)
        return rc;
    if (t.path.empty()) {
        std::fprintf(stderr, "vnsmb1c: the URL names no share; try: vnsmb1c shares %s\n", t.url.c_str());
        return kExitUsage;
    }
    std::vector<Item> items;
    int n = list_folder(t.path, items, lo.all);
    if (n < 0)
        return report_failure(n, t);
    int hidden = vnsmb1c_list_hidden_count();
    sort_items(items, lo.sort, lo.reverse);
    if (lo.json) {
        std::string out = "{\"items\":[";
        for (size_t i = 0; i < items.size(); i++)
            out += (i ? "," : "") + items[i].json;
        std::printf("%s]}\n", out.c_str());
        vnsmb1c_disconnect();
        return 0;
    }
    std::printf("%-4s  %10s  %-16s  %s\n", "TYPE", "SIZE", "MODIFIED (UTC)", "NAME");
    int64_t total = 0;
    for (const Item &it : items) {
        total += it.folder ? 0 : it.size;
        std::printf("%-4s  %10s  %-16s  %s%s\n", it.folder ? "dir" : "file",
                    it.folder ? "-" : human_size(it.size).c_str(), utc_time(it.mtime_ms).c_str(),
                    printable(it.name).c_str(), it.folder ? "/" : "");
    }
    std::printf("%d item%s, %s", n, n == 1 ? "" : "s", human_size(total).c_str());
    if (hidden > 0)
        std::printf(", %d %s", hidden, lo.all ? "of them hidden" : "hidden (-a shows them)");
    std::printf("\n");
    vnsmb1c_disconnect();
    return 0;
}

int cmd_stat(const GlobalOptions &opt, const std::string &url, bool json)
{
    Target t;
    if (int rc = connect_to(opt, url, t); rc != 0)
        return rc;
    std::string folder;
    std::string name;
    split_last(t.path, folder, name);
    if (folder.empty()) {
        // The share itself: it has no entry of its own, so describe its contents.
        if (name.empty()) {
            std::fprintf(stderr, "vnsmb1c: the URL names no share\n");
            return kExitUsage;
        }
        int n = vnsmb1c_list(name.c_str(), nullptr);
        if (n < 0)
            return report_failure(n, t);
        if (json)
            std::printf("{\"name\":%s,\"path\":%s,\"share\":true,\"folder\":true,\"entries\":%d}\n",
                        json_quote(name).c_str(), json_quote(name).c_str(), n);
        else
            std::printf("name:     %s\ntype:     share\nentries:  %d\npath:     %s\n", printable(name).c_str(), n,
                        printable(name).c_str());
        vnsmb1c_disconnect();
        return 0;
    }
    std::vector<Item> items;
    int n = list_folder(folder, items, true);
    if (n < 0)
        return report_failure(n, t);
    for (const Item &it : items) {
        if (it.name != name)
            continue;
        if (json) {
            std::printf("%s\n", with_full_path(it.json, t.path).c_str());
        } else {
            std::printf("name:     %s\ntype:     %s\n", printable(it.name).c_str(), it.folder ? "folder" : "file");
            if (!it.folder)
                std::printf("size:     %" PRId64 " (%s)\n", it.size, human_size(it.size).c_str());
            std::printf("modified: %s UTC\npath:     %s\n", utc_time(it.mtime_ms).c_str(), printable(t.path).c_str());
        }
        vnsmb1c_disconnect();
        return 0;
    }
    std::fprintf(stderr, "vnsmb1c: %s: no such file or folder\n", printable(t.path).c_str());
    vnsmb1c_disconnect();
    return exit_code_for(VNSMB1C_ENOTFOUND);
}

int cmd_selftest()
{
    int rc = vnsmb1c_selftest();
    if (rc != 0)
        return report_failure(rc);
    std::printf("selftest: ok\n");
    return 0;
}
