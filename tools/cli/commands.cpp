// Connecting and the browse commands: shares, ls, stat, selftest.
#include <rapidjson/document.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "cli.h"
#include "vnsmb1c.h"

namespace {

struct Item {
    std::string name;
    bool folder = false;
    int64_t size = 0;
    int64_t mtime_ms = 0;
};

bool parse_item(const char *json, Item &out)
{
    rapidjson::Document doc;
    doc.Parse(json, std::strlen(json));
    if (doc.HasParseError() || !doc.IsObject())
        return false;
    auto name = doc.FindMember("name");
    if (name == doc.MemberEnd() || !name->value.IsString())
        return false;
    out.name = name->value.GetString();
    if (auto f = doc.FindMember("folder"); f != doc.MemberEnd() && f->value.IsBool())
        out.folder = f->value.GetBool();
    if (auto s = doc.FindMember("size"); s != doc.MemberEnd() && s->value.IsInt64())
        out.size = s->value.GetInt64();
    if (auto m = doc.FindMember("mtime_ms"); m != doc.MemberEnd() && m->value.IsInt64())
        out.mtime_ms = m->value.GetInt64();
    return true;
}

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

std::string trim_slashes(std::string p)
{
    while (!p.empty() && (p.front() == '/' || p.front() == '\\'))
        p.erase(p.begin());
    while (!p.empty() && (p.back() == '/' || p.back() == '\\'))
        p.pop_back();
    return p;
}

int connect_to(const GlobalOptions &opt, const std::string &url, Target &t)
{
    if (int rc = resolve_target(url, opt, t); rc != 0)
        return rc;
    return open_session(opt, t);
}

}  // namespace

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The library hands URL parts back undecoded; %XX escapes (spaces in share
// and file names, '@' or ':' in passwords) are resolved here.
std::string percent_decode(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        int hi = -1;
        int lo = -1;
        if (s[i] == '%' && i + 2 < s.size() && (hi = hex_value(s[i + 1])) >= 0 && (lo = hex_value(s[i + 2])) >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

bool read_text_file(const std::string &path, std::string &out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return !in.bad();
}

int resolve_target(const std::string &url, const GlobalOptions &opt, Target &out)
{
    char host[256] = "";
    char user[256] = "";
    char password[512] = "";
    char domain[256] = "";
    char path[4096] = "";
    int32_t port = 0;
    int rc = vnsmb1c_url_parse(url.c_str(), host, sizeof host, &port, user, sizeof user, password,
                               sizeof password, domain, sizeof domain, path, sizeof path);
    if (rc != 0)
        return report_failure(rc);
    out.host = host;
    out.port = port;
    out.user = opt.user.empty() ? percent_decode(user) : opt.user;
    out.domain = opt.domain.empty() ? percent_decode(domain) : opt.domain;
    out.password = opt.password.empty() ? percent_decode(password) : opt.password;
    if (out.password.empty() && !out.user.empty()) {
        if (const char *env = std::getenv("VNSMB1C_PASSWORD"))
            out.password = env;
    }
    out.path = trim_slashes(percent_decode(path));
    return 0;
}

int select_transport(const GlobalOptions &opt)
{
    int rc = 0;
    if (!opt.fake_tree.empty()) {
        std::string tree;
        if (!read_text_file(opt.fake_tree, tree))
            return report_local("cannot read fake tree " + opt.fake_tree);
        rc = vnsmb1c_use_fake(tree.c_str());
        if (rc == 0 && opt.relay)
            rc = vnsmb1c_use_io(vnsmb1c_io_fake());
    } else if (opt.relay) {
        rc = vnsmb1c_use_io(vnsmb1c_io_socket());
    }
    return rc == 0 ? 0 : report_failure(rc);
}

int open_session(const GlobalOptions &opt, const Target &t)
{
    if (int rc = select_transport(opt); rc != 0)
        return rc;
    int rc = vnsmb1c_connect(t.host.c_str(), t.port, t.domain.c_str(), t.user.c_str(), t.password.c_str());
    return rc == 0 ? 0 : report_failure(rc);
}

int cmd_shares(const GlobalOptions &opt, const std::string &url, bool json)
{
    Target t;
    if (int rc = connect_to(opt, url, t); rc != 0)
        return rc;
    int n = vnsmb1c_shares();
    if (n < 0)
        return report_failure(n);
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

int cmd_ls(const GlobalOptions &opt, const std::string &url, bool json)
{
    Target t;
    if (int rc = connect_to(opt, url, t); rc != 0)
        return rc;
    if (t.path.empty()) {
        std::fprintf(stderr, "vnsmb1c: the URL names no share; try: vnsmb1c shares %s\n", url.c_str());
        return kExitUsage;
    }
    int n = vnsmb1c_list(t.path.c_str(), nullptr);
    if (n < 0)
        return report_failure(n);
    if (json) {
        std::printf("%s\n", vnsmb1c_list_json());
        vnsmb1c_disconnect();
        return 0;
    }
    std::printf("%-4s  %10s  %-16s  %s\n", "TYPE", "SIZE", "MODIFIED (UTC)", "NAME");
    int64_t total = 0;
    for (int i = 0; i < n; i++) {
        Item it;
        if (!parse_item(vnsmb1c_item_json(i), it))
            continue;
        total += it.folder ? 0 : it.size;
        std::printf("%-4s  %10s  %-16s  %s%s\n", it.folder ? "dir" : "file",
                    it.folder ? "-" : human_size(it.size).c_str(), utc_time(it.mtime_ms).c_str(),
                    it.name.c_str(), it.folder ? "/" : "");
    }
    int hidden = vnsmb1c_list_hidden_count();
    std::printf("%d item%s, %s", n, n == 1 ? "" : "s", human_size(total).c_str());
    if (hidden > 0)
        std::printf(", %d hidden", hidden);
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
            return report_failure(n);
        if (json)
            std::printf("{\"name\":%s,\"path\":%s,\"share\":true,\"folder\":true,\"entries\":%d}\n",
                        json_quote(name).c_str(), json_quote(name).c_str(), n);
        else
            std::printf("name:     %s\ntype:     share\nentries:  %d\n", name.c_str(), n);
        vnsmb1c_disconnect();
        return 0;
    }
    int n = vnsmb1c_list(folder.c_str(), nullptr);
    if (n < 0)
        return report_failure(n);
    for (int i = 0; i < n; i++) {
        const char *text = vnsmb1c_item_json(i);
        Item it;
        if (!parse_item(text, it) || it.name != name)
            continue;
        if (json) {
            std::printf("%s\n", text);
        } else {
            std::printf("name:     %s\ntype:     %s\n", it.name.c_str(), it.folder ? "folder" : "file");
            if (!it.folder)
                std::printf("size:     %" PRId64 " (%s)\n", it.size, human_size(it.size).c_str());
            std::printf("modified: %s UTC\npath:     %s\n", utc_time(it.mtime_ms).c_str(), t.path.c_str());
        }
        vnsmb1c_disconnect();
        return 0;
    }
    std::fprintf(stderr, "vnsmb1c: not found: %s\n", t.path.c_str());
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
