// What a node status says about a node: its name, its workgroup, whether it
// serves files, which workgroups it is the master browser of, and its MAC.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "net/nbns_client.h"

struct NodeInfo {
    std::string name;        // its unique <00> name (else its <20> name)
    std::string workgroup;   // its group <00> name
    bool file_server = false;          // it holds a <20> name
    std::vector<std::string> master_of;  // workgroups whose <1D> name it holds
    bool has_mac = false;
    std::array<uint8_t, 6> mac{};
    std::vector<NbStatusName> names;  // every name it listed

    // "00:11:22:33:44:55"; "" when none was given or it is all zeros.
    std::string mac_text() const;
};

NodeInfo vnb_node_info(const NbnsReply &reply);

// A node status of one address (timing kNodeStatusTiming, cut at the
// deadline): 0 with out filled, or -1 with the error text ("no node status
// from ADDRESS", or why nothing could be sent).
int32_t vnb_node_status(const NameService &ns, uint32_t ip, uint64_t deadline_ms, NodeInfo *out);
