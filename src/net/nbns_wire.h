// NetBIOS name service packets (RFC 1002 4.2, UDP port 137): the name query
// and node status requests the client sends, and the reader of every packet
// that comes back. Everything a peer sends is read with bounds checks.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "net/nb_name.h"
#include "util/bytebuf.h"

inline constexpr uint16_t kNbnsPort = 137;
// A request is 50 bytes; the largest reply a client needs to read is a node
// status listing 255 names.
inline constexpr size_t kNbnsRequestLen = 50;
inline constexpr size_t kNbnsMaxPacket = 8192;

enum : uint16_t {
    kNbnsTypeNb = 0x0020,      // name query: addresses
    kNbnsTypeNbstat = 0x0021,  // node status: the node's names
};

enum : uint16_t {
    kNbnsFlagResponse = 0x8000,
    kNbnsFlagAuthoritative = 0x0400,
    kNbnsFlagRecursionDesired = 0x0100,
    kNbnsFlagBroadcast = 0x0010,
};

// NB_FLAGS and the name flags of a node status: the group bit.
inline constexpr uint16_t kNbGroupName = 0x8000;

enum class NbnsAsk : uint8_t {
    broadcast,   // name query to a broadcast address (B bit)
    name_server, // name query to a name server (WINS): recursion desired
    node_status, // node status of one address
};

// A request for name (ignored for a node status, which asks for "*"),
// appended to an empty buffer.
void nbns_build_request(ByteBuffer *b, uint16_t trn_id, NbnsAsk ask, const NbName &name);

struct NbAddress {
    uint16_t flags = 0;  // NB_FLAGS: group bit, owner node type
    uint32_t ipv4 = 0;   // host byte order
};

struct NbStatusName {
    NbName name;
    uint16_t flags = 0;  // group bit, node type, state bits
};

// One reply as read. Records beyond the first answer are not looked at.
struct NbnsReply {
    uint16_t trn_id = 0;
    uint16_t flags = 0;  // the whole 16-bit word after the id (R, opcode, NM_FLAGS, RCODE)
    uint8_t opcode = 0;
    uint8_t rcode = 0;
    bool has_answer = false;
    NbName rr_name;
    uint16_t rr_type = 0;
    std::vector<NbAddress> addresses;  // NB answer
    std::vector<NbStatusName> names;   // NBSTAT answer
    bool has_mac = false;
    std::array<uint8_t, 6> mac{};

    bool response() const { return (flags & kNbnsFlagResponse) != 0; }
};

// Reads a packet: 0, or -1 when it is not a name service response this
// client can read (short, truncated, a record running past the end, a name
// that is not a first-level encoded NetBIOS name without scope, a looping
// or forward name pointer). A negative response (RCODE not 0) reads as 0
// with no answer needed.
int nbns_parse_reply(std::span<const uint8_t> packet, NbnsReply *out);
