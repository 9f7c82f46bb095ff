// The byte-stream pieces under the TCP transport: NBSS framing over a
// Transport record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/clock.h"
#include "util/bytebuf.h"
#include "vnsmb1c.h"

using Transport = vnsmb1c_Transport;
using HostIo = vnsmb1c_HostIo;

constexpr uint32_t kMaxFrame = 4194304;  // largest SMB1 message either way (4 MiB)

// NBSS framing over any byte-stream transport.
int32_t nbss_write(Transport *t, const uint8_t *msg, size_t len);
int32_t read_exact(Transport *t, ByteBuffer *b, uint32_t len, int timeout_ms);
