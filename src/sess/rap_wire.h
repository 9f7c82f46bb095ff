// RAP, the LAN Manager remote administration protocol that servers without
// DCE/RPC answer over \PIPE\LANMAN: the NetShareEnum and NetServerEnum2
// requests at information level 1, and the readers of their replies. Every
// count and pointer in a reply is checked against the bytes that are there.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/bytebuf.h"

enum : uint16_t {
    kRapNetShareEnum = 0,
    kRapNetServerEnum2 = 104,
};

// The receive buffer a request offers, and what a reply's status means.
inline constexpr uint16_t kRapReceiveBuffer = 0xFFE0;
inline constexpr uint16_t kRapMoreData = 234;  // ERROR_MORE_DATA: the entries that fitted
inline constexpr uint16_t kRapAccessDenied = 5;

// Server type bits (SV_TYPE_*) of NetServerEnum2.
inline constexpr uint32_t kSvTypeServer = 0x00000002;
inline constexpr uint32_t kSvTypeMasterBrowser = 0x00040000;
inline constexpr uint32_t kSvTypeAll = 0xFFFFFFFF;
inline constexpr uint32_t kSvTypeDomainEnum = 0x80000000;

// The request parameters, appended to an empty buffer. domain is the
// workgroup whose servers are listed (8-bit, at most 15 bytes).
void rap_build_share_enum(ByteBuffer *params);
void rap_build_server_enum(ByteBuffer *params, uint32_t server_type, std::string_view domain);

struct RapShare {
    std::string name;
    uint16_t type = 0;  // 0 disk, 1 printer, 3 IPC ...
    std::string remark;
};

struct RapServer {
    std::string name;
    uint8_t major = 0;
    uint8_t minor = 0;
    uint32_t type = 0;
    std::string comment;  // a workgroup's entry: its master browser's name
};

// The reply: the parameters (status, converter, entry count, available
// entries) and the entries in the data. 0 with the status in *status (the
// caller decides what a non-zero one means; 234 keeps the entries that
// came), or -1 for a reply that breaks the layout. Texts are 8-bit on the
// wire and come out with bytes outside printable ASCII as '?'; a remark or
// comment whose pointer lies outside the data comes out empty.
int rap_parse_shares(std::span<const uint8_t> params, std::span<const uint8_t> data, uint16_t *status,
                     std::vector<RapShare> *out);
int rap_parse_servers(std::span<const uint8_t> params, std::span<const uint8_t> data, uint16_t *status,
                      std::vector<RapServer> *out);
