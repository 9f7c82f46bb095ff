// The network's SMB servers as the library's discovery lists them, read
// once for the tool's table and the gateway's pages.
#pragma once

#include <string>
#include <vector>

struct GlobalOptions;
struct ServersOptions;

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
