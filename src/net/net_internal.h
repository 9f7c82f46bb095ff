// Pieces of the transport unit shared between its own files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/frame_dump.h"
#include "net/net.h"

// ---- socket kind ----

// The socket kind's context: the TCP transport's record of its socket.
struct SockRecord {
    intptr_t sock;        // -1 while not connected (INVALID_SOCKET on Windows)
    char peer_host[256];  // host of the last successful connect, informational
    int32_t peer_port;
};

constexpr int kWaitRead = 0;
constexpr int kWaitWrite = 16;

int sock_connect(void *rec, const char *host, int port, int timeout_ms);
int sock_write(void *rec, const uint8_t *bytes, size_t len);
int sock_read(void *rec, uint8_t *buf, size_t cap, int timeout_ms);
void sock_close_v(void *rec);
// 1 ready, 0 not ready within ms, -1 error; direction kWaitRead or kWaitWrite.
int wait_fd(intptr_t sock, int direction, int ms);
// Starts Windows Sockets once per process (nothing to do elsewhere); false
// when it cannot be started.
bool vnb_sockets_start();

// ---- NBSS framing ----

constexpr uint32_t kMinMessage = 32;  // an SMB1 header
constexpr uint8_t kSessionMessage = 0x00;
constexpr uint8_t kKeepAlive = 0x85;

// Gathers the 4-byte header, in as many read calls as the peer's segments
// need, before the deadline (vnb_now_ms time): 0 with its type byte and
// length, or -1 "no NBSS header from the peer".
int32_t nbss_read_typed_header(Transport *t, uint64_t deadline, uint8_t *type, uint32_t *len);

// nbss_read_typed_header with a deadline timeout_ms from now: 0 with the
// announced length, -1 "no NBSS header from the peer" when the four bytes did
// not all arrive, or -2 for a type byte other than a session message.
int32_t nbss_read_header(Transport *t, int timeout_ms, uint32_t *len);
// read_exact that gives up at the deadline: the whole message arrives within
// it ("no reply within %d ms" names timeout_ms).
int32_t read_exact_by(Transport *t, ByteBuffer *b, uint32_t len, int timeout_ms, uint64_t deadline);
