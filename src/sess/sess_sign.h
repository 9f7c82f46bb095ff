// The session's signing state: whether it signs, and its MAC key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sess/session.h"

// Session key (16) followed by the NT response of a non-extended logon.
inline constexpr size_t kMaxMacKey = 16 + 2048;

// 1 when the established session signs its requests and checks its replies:
// the server demanded signatures and the logon was neither guest nor
// anonymous.
int sess_signs(const Session &s);

// The MAC key: the session key, followed for a non-extended logon by the NT
// response as it was sent. Returns its length. The caller wipes it.
size_t sess_mac_key(const Session &s, uint8_t out[kMaxMacKey]);

// Signs msg in place with sequence number seq under the session's MAC key.
void sess_sign(const Session &s, uint32_t seq, uint8_t *msg, size_t len);

// 1 when msg carries the session's signature for seq, 0 when not, -1 when
// there is no memory to check it.
int sess_verify(const Session &s, uint32_t seq, std::span<const uint8_t> msg);
