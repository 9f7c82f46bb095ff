// The browse commands: shares, ls, stat, and the self-test.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "connect.h"
#include "errors.h"
#include "exit_codes.h"
#include "listing.h"
#include "options.h"
#include "output.h"
#include "servers.h"
#include "vnsmb1c.h"

namespace {

constexpr int kMaxDepth = 64;  // folder levels ls -R descends

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

// A host part that could name a workgroup: one label of at most 15 bytes,
// no port, no user.
bool may_be_workgroup(const Target &t)
{
    return t.port == 0 && t.user.empty() && !t.host.empty() && t.host.size() <= 15 &&
           t.host.find_first_of(".:[]%") == std::string::npos;
}

void print_table(const std::vector<Item> &items, int hidden, bool all)
{
    std::printf("%-4s  %10s  %-16s  %s\n", "TYPE", "SIZE", "MODIFIED (UTC)", "NAME");
    int64_t total = 0;
    for (const Item &it : items) {
        total += it.folder ? 0 : it.size;
        std::printf("%-4s  %10s  %-16s  %s%s\n", it.folder ? "dir" : "file",
                    it.folder ? "-" : human_size(it.size).c_str(), utc_time(it.mtime_ms).c_str(),
                    printable(it.name).c_str(), it.folder ? "/" : "");
    }
    size_t n = items.size();
    std::printf("%zu item%s, %s", n, n == 1 ? "" : "s", human_size(total).c_str());
    if (hidden > 0)
        std::printf(", %d %s", hidden, all ? "of them hidden" : "hidden (-a shows them)");
    std::printf("\n");
}

// What one ls URL prints: tables as it goes, JSON items gathered for one line.
struct ListRun {
    const ListOptions *lo = nullptr;
    bool headers = false;     // each folder under its path
    bool first_table = true;
    std::string json_items;   // "," separated item JSON
    Outcome result;

    void header(const std::string &path)
    {
        if (!headers || lo->json)
            return;
        std::printf("%s%s:\n", first_table ? "" : "\n", printable(path).c_str());
        first_table = false;
    }

    void show(std::vector<Item> &items, int hidden)
    {
        sort_items(items, lo->sort, lo->reverse);
        if (lo->json) {
            for (const Item &it : items)
                json_items += (json_items.empty() ? "" : ",") + it.json;
            return;
        }
        print_table(items, hidden, lo->all);
    }
};

// Lists the share-qualified folder, and with -R its subfolders after it;
// a subfolder that fails is reported and the rest listed.
void list_tree(ListRun &run, const Target &t, const std::string &path, int depth)
{
    Target here = t;
    here.path = path;
    if (depth > kMaxDepth) {
        std::fprintf(stderr, "vnsmb1c: %s: more than %d folder levels; not listed\n", printable(path).c_str(),
                     kMaxDepth);
        run.result.add(exit_code_for(VNSMB1C_ELIMIT));
        return;
    }
    std::vector<Item> items;
    int n = list_folder(path, items, run.lo->all, run.lo->json);
    if (n < 0) {
        run.result.add(report_failure(n, here));
        return;
    }
    int hidden = vnsmb1c_list_hidden_count();
    run.header(path);
    run.show(items, hidden);
    if (!run.lo->recursive)
        return;
    // The listing is taken whole first: the library holds one at a time.
    for (const Item &it : items)
        if (it.folder)
            list_tree(run, t, path + "/" + it.name, depth + 1);
}

void ls_one(ListRun &run, const GlobalOptions &opt, const std::string &url)
{
    bool tried = false;
    if (url_names_network(url_from_unc(url))) {
        run.result.add(list_network(opt, "", run.lo->json, &tried));
        return;
    }
    Target t;
    if (int rc = resolve_target(url, opt, t); rc != 0) {
        run.result.add(rc);
        return;
    }
    // smb://NAME/ without a share: NAME may be a workgroup.
    if (t.path.empty() && may_be_workgroup(t)) {
        int rc = list_network(opt, t.host, run.lo->json, &tried);
        if (tried) {
            run.result.add(rc);
            return;
        }
    }
    if (int rc = open_session(opt, t); rc != 0) {
        run.result.add(rc);
        return;
    }
    if (t.path.empty()) {
        std::fprintf(stderr, "vnsmb1c: the URL names no share; try: vnsmb1c shares %s\n", printable(t.url).c_str());
        run.result.add(kExitUsage);
        return;
    }
    run.json_items.clear();
    if (t.path.find_first_of("*?") != std::string::npos) {
        std::vector<RemotePath> matches;
        if (int rc = expand_target(t, matches); rc != 0) {
            run.result.add(rc);
            return;
        }
        std::vector<Item> items;
        for (RemotePath &m : matches)
            items.push_back(std::move(m.item));
        run.header(t.path);
        run.show(items, 0);
        if (run.lo->recursive)
            for (const Item &it : items)
                if (it.folder)
                    list_tree(run, t, t.path.substr(0, t.path.find_last_of('/')) + "/" + it.name, 1);
    } else {
        list_tree(run, t, t.path, 1);
    }
    if (run.lo->json)
        std::printf("{\"items\":[%s]}\n", run.json_items.c_str());
}

// The item of a stat record, with its item JSON as ls --json lists it:
// "path" inside the share.
Item item_of_entry(const vnsmb1c_Entry &e)
{
    Item it;
    it.name = e.name;
    it.folder = e.folder != 0;
    it.hidden = e.hidden != 0;
    it.size = e.size;
    it.mtime_ms = e.mtime_ms;
    std::string path = e.path;
    auto slash = path.find('/');
    std::string in_share = slash == std::string::npos ? "" : path.substr(slash + 1);
    it.json = "{\"name\":" + json_quote(it.name) + ",\"path\":" + json_quote(in_share) +
              ",\"folder\":" + (it.folder ? "true" : "false") + ",\"size\":" + std::to_string(it.size) +
              ",\"mtime_ms\":" + std::to_string(it.mtime_ms) + ",\"hidden\":" + (it.hidden ? "true" : "false") +
              "}";
    return it;
}

// One file, folder or share at the share-qualified path; the entry when a
// listing gave it already. 0 or an exit code.
int stat_one(const Target &t, const RemotePath &rp, bool json, bool first)
{
    std::string folder;
    std::string name;
    split_last(rp.path, folder, name);
    Target here = t;
    here.path = rp.path;
    if (!first && !json)
        std::printf("\n");
    if (folder.empty()) {
        // The share itself: it has no entry of its own, so describe its contents.
        int n = vnsmb1c_list(name.c_str(), nullptr);
        if (n < 0)
            return report_failure(n, here);
        if (json)
            std::printf("{\"name\":%s,\"path\":\"\",\"share\":true,\"folder\":true,\"entries\":%d}\n",
                        json_quote(name).c_str(), n);
        else
            std::printf("name:     %s\ntype:     share\nentries:  %d\npath:     %s\n", printable(name).c_str(), n,
                        printable(name).c_str());
        return 0;
    }
    Item found;
    if (rp.listed) {
        found = rp.item;
    } else {
        vnsmb1c_Entry e{};
        int rc = vnsmb1c_stat(rp.path.c_str(), &e);
        if (rc == VNSMB1C_ENOTFOUND) {
            std::fprintf(stderr, "vnsmb1c: %s: no such file or folder\n", printable(rp.path).c_str());
            return exit_code_for(VNSMB1C_ENOTFOUND);
        }
        if (rc < 0)
            return report_failure(rc, here);
        found = item_of_entry(e);
    }
    if (json) {
        // The library's item JSON as ls --json prints it: "path" inside the share.
        std::printf("%s\n", found.json.c_str());
        return 0;
    }
    std::printf("name:     %s\ntype:     %s\n", printable(found.name).c_str(), found.folder ? "folder" : "file");
    if (!found.folder)
        std::printf("size:     %" PRId64 " (%s)\n", found.size, human_size(found.size).c_str());
    std::printf("modified: %s UTC\npath:     %s\n", utc_time(found.mtime_ms).c_str(), printable(rp.path).c_str());
    return 0;
}

}  // namespace

int cmd_shares(const GlobalOptions &opt, const std::vector<std::string> &urls, bool json)
{
    Outcome result;
    for (const std::string &url : urls) {
        Target t;
        if (int rc = connect_to(opt, url, t); rc != 0) {
            result.add(rc);
            continue;
        }
        int n = vnsmb1c_shares();
        if (n < 0) {
            result.add(report_failure(n, t));
            continue;
        }
        std::string out = json ? "{\"shares\":[" : urls.size() > 1 ? printable(server_url(t)) + ":\n" : "";
        for (int i = 0; i < n; i++) {
            if (json)
                out += (i ? "," : "") + json_quote(vnsmb1c_share_name(i));
            else
                out += std::string(vnsmb1c_share_name(i)) + "\n";
        }
        if (json)
            out += "]}\n";
        std::fputs(out.c_str(), stdout);
    }
    close_session();
    return result.code;
}

int cmd_ls(const GlobalOptions &opt, const std::vector<std::string> &urls, const ListOptions &lo)
{
    ListRun run;
    run.lo = &lo;
    run.headers = urls.size() > 1 || lo.recursive;
    for (const std::string &url : urls)
        ls_one(run, opt, url);
    close_session();
    return run.result.code;
}

int cmd_stat(const GlobalOptions &opt, const std::vector<std::string> &urls, bool json)
{
    Outcome result;
    bool first = true;
    for (const std::string &url : urls) {
        Target t;
        if (int rc = connect_to(opt, url, t); rc != 0) {
            result.add(rc);
            continue;
        }
        if (t.path.empty()) {
            std::fprintf(stderr, "vnsmb1c: the URL names no share\n");
            result.add(kExitUsage);
            continue;
        }
        std::vector<RemotePath> paths;
        if (int rc = expand_target(t, paths); rc != 0) {
            result.add(rc);
            continue;
        }
        for (const RemotePath &rp : paths) {
            result.add(stat_one(t, rp, json, first));
            first = false;
        }
    }
    close_session();
    return result.code;
}

int cmd_selftest()
{
    int rc = vnsmb1c_selftest();
    if (rc != 0)
        return report_failure(rc);
    std::printf("selftest: ok\n");
    return 0;
}
