// The frame dump switches: when the environment variable names a file, each
// message is appended to it. The variables are read at every message, so
// dumping can be turned on and off while the library runs.
//   VNSMB1C_DUMP     every request, behind a 4-byte NBSS header
//   VNSMB1C_DUMPREP  every reply, behind a 4-byte NBSS header (the fake
//                    server's frame as it produced it)
//   VNSMB1C_DUMPREQ  fake server only: every non-empty request, bare
#pragma once

#include <cstddef>
#include <cstdint>

// Appends the message behind a 4-byte NBSS header built from its length.
// Failures are ignored.
void dump_frame(const char *variable, const uint8_t *msg, size_t len);
// Appends the bytes as they are.
void dump_bytes(const char *variable, const uint8_t *bytes, size_t len);
