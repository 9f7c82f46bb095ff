// Finding the SMB servers of the local network: the browse lists of the
// workgroups' local master browsers and the nodes that answer a broadcast
// name query with a node status, merged within a time bound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "api/session_ops.h"
#include "net/name_resolve.h"

struct FoundServer {
    std::string name;
    std::string workgroup;
    std::string address;  // "" when no answer gave one
    std::string comment;
    std::string mac;      // from its node status, when it gave a real one
    bool by_browse = false;
    bool by_broadcast = false;
};

struct FoundWorkgroup {
    std::string name;
    std::string master;   // its local master browser, when known
    std::string address;  // the master browser's address
};

struct DiscoveryRequest {
    TransportChoice kind;
    NameSettings names;
    std::string workgroup;  // only this one; "" for all
    int bound_ms = 4000;
    std::string domain;     // the logon for the browse lists; anonymous without a user
    std::string user;
    std::string password;
};

inline constexpr int kDefaultDiscoveryMs = 4000;
inline constexpr int kMinDiscoveryMs = 100;
inline constexpr int kMaxDiscoveryMs = 60000;

struct DiscoveryResult {
    std::vector<FoundServer> servers;  // by workgroup, then name
    std::vector<FoundWorkgroup> workgroups;
    std::vector<std::string> notes;    // what could not be asked, and why
};

// Runs discovery; it ends by itself within the bound (and the time a
// connection attempt under way takes to give up).
void vnb_discover(const DiscoveryRequest &rq, DiscoveryResult *out);

// {"servers":[...],"workgroups":[...],"notes":[...]}
std::string vnb_discovery_json(const DiscoveryResult &r);
