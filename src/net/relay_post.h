// One request message relayed through a host's HostIo: one POST of Base64
// text to "smbrpc://host:port/frame", its reply read back by the HTTP status.
#pragma once

#include <cstdint>
#include <span>

#include "util/bytebuf.h"
#include "vnsmb1c.h"

constexpr size_t kRelayTextMax = 512;

// 0 with the reply message (no NBSS header) in `reply`, or a negative
// ResultCode with the failure written to `text` (the error text itself is
// left alone): -1 "transport failure", -3 "transport refused credentials
// (HTTP %ld)", -2 "transport returned a body that is not base64 NBSS",
// -1 "transport status %ld", -11 "out of memory". Port 0 stands for 445.
// Every text http_post hands out goes back through the HostIo's `free` (the C
// heap's free() when it has none); an error text is released unread.
int32_t vnb_relay_post(const vnsmb1c_HostIo *io, const char *host, int port, std::span<const uint8_t> msg,
                       ByteBuffer *reply, char (&text)[kRelayTextMax]);
