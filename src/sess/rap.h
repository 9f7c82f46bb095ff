// RAP calls over \PIPE\LANMAN on the IPC$ tree: the share listing of servers
// that refuse \srvsvc, and the browse list a master browser keeps.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "sess/rap_wire.h"
#include "sess/session.h"
#include "util/bytebuf.h"

// The most entries a browse list keeps.
inline constexpr size_t kMaxRapServers = 4096;

// One RAP call (IPC$ connected when needed): 0 with the reply's parameter and
// data blocks appended to params and data, or the ResultCode of the
// failure (the server's status through the session's status rule).
int32_t vnb_rap_call(Session &s, std::span<const uint8_t> request, ByteBuffer *params, ByteBuffer *data);

// NetShareEnum into the session's share table, administrative shares left
// out as in the srvsvc listing.
int32_t vnb_rap_share_enum(Session &s);

// NetServerEnum2 for the servers of a type in a workgroup (empty: the
// server's own). *more says that the list was cut short by the server.
int32_t vnb_rap_server_enum(Session &s, uint32_t server_type, std::string_view domain, std::vector<RapServer> *out,
                            bool *more);

// The share listing: IPC$, then \srvsvc, and RAP NetShareEnum when the
// server refuses the DCE/RPC listing (no such pipe, access denied, a
// rejected bind or call).
// When both fail the srvsvc failure is returned, with RAP's named in it.
int32_t vnb_share_enum(Session &s);
