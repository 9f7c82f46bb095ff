// The network's servers: `vnsmb1c servers`, ls of smb:// and smb://WORKGROUP/,
// the list as the library's discovery gives it (read once for the tool's
// table and the gateway's pages), and the options that say how server names
// are found.
#pragma once

#include <string>
#include <vector>

#include "options.h"

// The SMB servers of the network (of one workgroup when not empty), found
// within `within_s` seconds (0: the library's default).
struct ServersOptions {
    std::string workgroup;
    double within_s = 0;
    bool json = false;
};
int cmd_servers(const GlobalOptions &opt, const ServersOptions &so);
// A URL without a host ("smb://") names the whole network; "smb://NAME/"
// may name a workgroup. True when the URL has no host.
bool url_names_network(const std::string &url);
// ls of smb:// (no host) or smb://WORKGROUP/: the servers; with `tried`
// false when NAME turned out to be no workgroup (nothing printed).
int list_network(const GlobalOptions &opt, const std::string &workgroup, bool json, bool *tried);
// Applies --name-resolve, --wins and --no-broadcast; 0 or an exit code.
int apply_name_options(const GlobalOptions &opt);

struct NetServer {
    std::string name;
    std::string workgroup;
    std::string address;  // "" when no answer gave one
    std::string comment;
    std::string found_by;  // "browse", "broadcast" or both, comma-separated
};

struct NetServers {
    std::vector<NetServer> servers;
    std::vector<std::string> workgroups;  // each with a master browser found
    std::vector<std::string> notes;       // what could not be asked
};

// Reads vnsmb1c_servers_json's text; what is malformed in it is left out.
NetServers read_servers(const char *json);

// The settings JSON of vnsmb1c_servers the options give: the workgroup, the
// bound, the identity for the browse lists.
std::string discovery_settings(const GlobalOptions &opt, const ServersOptions &so);
