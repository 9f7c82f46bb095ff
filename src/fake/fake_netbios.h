// The fake server as a node of a NetBIOS network: its names, its workgroup,
// the browse list it keeps as the workgroup's master browser, and the names
// it knows as a WINS server. The fake tree's "netbios" object describes it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/datagram.h"
#include "util/bytebuf.h"

struct FakeNbHost {
    std::string name;  // upper case
    uint32_t address = 0;
};

struct FakeBrowseEntry {
    std::string name;     // a server, or a workgroup in the list of workgroups
    std::string comment;  // a workgroup's entry names its master browser here
    uint32_t type = 0;    // SV_TYPE bits
};

struct FakeNetbiosNode {
    std::string name;       // upper case
    std::string workgroup;  // upper case
    std::string comment;
    uint32_t address = 0x7F000001;  // what its name resolves to
    std::array<uint8_t, 6> mac{};
    bool master = false;       // the local master browser of its workgroup
    bool wins_server = false;  // answers name-server queries, negatively for names it does not know
    std::vector<FakeNbHost> wins_names;
    std::vector<FakeBrowseEntry> browse;      // servers of its workgroup besides itself
    std::vector<FakeBrowseEntry> workgroups;  // workgroups besides its own
};

// SV_TYPE bits of the fake server's own browse entry: workstation, server,
// and the master browser bit when it is one.
inline constexpr uint32_t kFakeServerType = 0x00000003;
inline constexpr uint32_t kSvTypeMasterBrowser = 0x00040000;

// The loaded tree's node, or nothing when the tree has no "netbios" object.
std::optional<FakeNetbiosNode> vnb_fake_netbios();
// Whether host names the fake server itself: "fake", or the address its
// NetBIOS name resolves to.
bool vnb_fake_is_own_host(const char *host);

// Answers one name service request as the node does: queries for its own
// names (and "*"), broadcast or not; node status; and, as a WINS server,
// name-server queries for the names it knows (negatively for others).
// Appends the reply to out; false when the request gets no answer.
bool vnb_fake_nbns_answer(const FakeNetbiosNode &node, std::span<const uint8_t> request, ByteBuffer *out);

// A datagram port on which the node answers in-process, as if it stood on
// port 137 of its address: requests sent to that address or broadcast get
// their answer at once, from that address; nothing else is answered (and
// nothing at all without a node). No datagram leaves the process.
std::unique_ptr<DatagramPort> vnb_fake_datagram_port(std::optional<FakeNetbiosNode> node);
