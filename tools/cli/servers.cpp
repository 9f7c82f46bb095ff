// "vnsmb1c servers" and ls of the network: the SMB servers the library's
// discovery finds, as a table or as its JSON.
#include <rapidjson/document.h>

#include <cstdio>
#include <string>
#include <vector>

#include "connect.h"
#include "errors.h"
#include "exit_codes.h"
#include "options.h"
#include "output.h"
#include "servers.h"
#include "vnsmb1c.h"

namespace {

std::string member_text(const rapidjson::Value &v, const char *key)
{
    auto it = v.FindMember(key);
    return it != v.MemberEnd() && it->value.IsString() ? it->value.GetString() : "";
}

// Runs discovery; the count of servers, or an exit code (negative count
// turned into one) through *exit_code.
int discover(const GlobalOptions &opt, const ServersOptions &so, NetServers &found, int *exit_code)
{
    *exit_code = 0;
    if (int rc = select_transport(opt); rc != 0) {
        *exit_code = rc;
        return -1;
    }
    if (int rc = apply_name_options(opt); rc != 0) {
        *exit_code = rc;
        return -1;
    }
    int n = vnsmb1c_servers(discovery_settings(opt, so).c_str());
    if (n < 0) {
        *exit_code = report_failure(n);
        return -1;
    }
    found = read_servers(vnsmb1c_servers_json());
    return n;
}

void print_table(const NetServers &found, bool quiet)
{
    const std::vector<NetServer> &rows = found.servers;
    if (!rows.empty()) {
        std::printf("%-15s  %-15s  %-15s  %-16s  %s\n", "SERVER", "WORKGROUP", "ADDRESS", "FOUND BY", "COMMENT");
        for (const NetServer &r : rows)
            std::printf("%-15s  %-15s  %-15s  %-16s  %s\n", printable(r.name).c_str(), printable(r.workgroup).c_str(),
                        r.address.empty() ? "-" : printable(r.address).c_str(), r.found_by.c_str(),
                        printable(r.comment).c_str());
    }
    std::printf("%zu server%s\n", rows.size(), rows.size() == 1 ? "" : "s");
    if (!quiet)
        for (const std::string &n : found.notes)
            std::fprintf(stderr, "vnsmb1c: %s\n", printable(n).c_str());
}

}  // namespace

NetServers read_servers(const char *json)
{
    NetServers out;
    rapidjson::Document doc;
    doc.Parse(json == nullptr ? "" : json);
    if (doc.HasParseError() || !doc.IsObject())
        return out;
    auto array = [&doc](const char *key) -> const rapidjson::Value * {
        auto it = doc.FindMember(key);
        return it != doc.MemberEnd() && it->value.IsArray() ? &it->value : nullptr;
    };
    if (const rapidjson::Value *servers = array("servers")) {
        for (const rapidjson::Value &s : servers->GetArray()) {
            if (!s.IsObject())
                continue;
            NetServer r{member_text(s, "name"), member_text(s, "workgroup"), member_text(s, "address"),
                        member_text(s, "comment"), ""};
            if (r.name.empty())
                continue;
            if (auto f = s.FindMember("found_by"); f != s.MemberEnd() && f->value.IsArray())
                for (const rapidjson::Value &how : f->value.GetArray())
                    if (how.IsString())
                        r.found_by += (r.found_by.empty() ? "" : ",") + std::string(how.GetString());
            out.servers.push_back(std::move(r));
        }
    }
    if (const rapidjson::Value *workgroups = array("workgroups"))
        for (const rapidjson::Value &w : workgroups->GetArray())
            if (w.IsObject())
                out.workgroups.push_back(member_text(w, "name"));
    if (const rapidjson::Value *notes = array("notes"))
        for (const rapidjson::Value &n : notes->GetArray())
            if (n.IsString())
                out.notes.emplace_back(n.GetString());
    return out;
}

std::string discovery_settings(const GlobalOptions &opt, const ServersOptions &so)
{
    std::string json = "{";
    auto add = [&json](const char *key, const std::string &value) {
        json += (json.size() > 1 ? "," : "") + json_quote(key) + ":" + value;
    };
    if (!so.workgroup.empty())
        add("Workgroup", json_quote(so.workgroup));
    if (so.within_s > 0)
        add("DiscoveryMs", std::to_string(static_cast<int>(so.within_s * 1000 + 0.5)));
    if (!opt.user.empty())
        add("UserName", json_quote(opt.user));
    if (opt.password_given)
        add("Password", json_quote(opt.password));
    if (!opt.domain.empty())
        add("DomainName", json_quote(opt.domain));
    return json + "}";
}

int apply_name_options(const GlobalOptions &opt)
{
    const char *order = opt.name_resolve.empty() ? nullptr : opt.name_resolve.c_str();
    const char *wins = opt.wins.empty() ? nullptr : opt.wins.c_str();
    int rc = vnsmb1c_set_name_resolve(order, wins, opt.no_broadcast ? 0 : -1);
    if (rc != 0) {
        std::fprintf(stderr, "vnsmb1c: %s\n", vnsmb1c_last_error());
        return kExitUsage;
    }
    return 0;
}

int cmd_servers(const GlobalOptions &opt, const ServersOptions &so)
{
    NetServers found;
    int exit_code = 0;
    int n = discover(opt, so, found, &exit_code);
    if (n < 0)
        return exit_code;
    if (so.json)
        std::printf("%s\n", vnsmb1c_servers_json());
    else
        print_table(found, opt.quiet);
    if (n == 0) {
        if (!so.json)
            std::fprintf(stderr, "vnsmb1c: no SMB server %s\n",
                         so.workgroup.empty() ? "was found" : ("of workgroup " + printable(so.workgroup) + " was found").c_str());
        return exit_code_for(VNSMB1C_ENOTFOUND);
    }
    return 0;
}

bool url_names_network(const std::string &url)
{
    std::string rest = url;
    if (rest.size() >= 4 && (rest[0] == 's' || rest[0] == 'S') && (rest[1] == 'm' || rest[1] == 'M') &&
        (rest[2] == 'b' || rest[2] == 'B') && rest[3] == ':')
        rest.erase(0, 4);
    else
        return false;
    return rest.find_first_not_of("/\\") == std::string::npos;
}

int list_network(const GlobalOptions &opt, const std::string &workgroup, bool json, bool *tried)
{
    ServersOptions so;
    so.workgroup = workgroup;
    so.json = json;
    NetServers found;
    int exit_code = 0;
    int n = discover(opt, so, found, &exit_code);
    *tried = true;
    if (n < 0)
        return exit_code;
    bool known_workgroup = workgroup.empty() || n > 0 || !found.workgroups.empty();
    if (!known_workgroup) {
        *tried = false;
        return 0;
    }
    if (json)
        std::printf("%s\n", vnsmb1c_servers_json());
    else
        print_table(found, opt.quiet);
    return n > 0 ? 0 : exit_code_for(VNSMB1C_ENOTFOUND);
}
