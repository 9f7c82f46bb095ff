// Pieces of the transport unit shared between its own files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/net.h"

// ---- socket kind ----

// The socket kind's context: a zero-filled heap block (or a stack record for
// the one-shot exchange).
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
void sock_close_free(void *rec);
void sock_close_v(void *rec);
// 1 ready, 0 not ready within ms, -1 error; direction kWaitRead or kWaitWrite.
int wait_fd(intptr_t sock, int direction, int ms);

// ---- NBSS framing ----

constexpr uint32_t kMinMessage = 32;  // an SMB1 header

// One read call of four bytes: 0 with the announced length, -1 "no NBSS
// header from the peer", or -2 for a type byte other than a session message.
int32_t nbss_read_header(Transport *t, int timeout_ms, uint32_t *len);

// ---- host-io relay kind ----

// One POST outcome waiting for vnb_net_recv.
struct RelayPending {
    RelayPending *next;
    int32_t code;       // 0, or the ResultCode of the failed relay
    char text[512];     // failure text for code != 0
    ByteBuffer reply;   // decoded reply message for code == 0
};

// The host-io kind's context. Host and port are those of the last connect,
// from which the relay URL is built.
struct RelayCell {
    const HostIo *io;
    char host[256];
    int32_t port;
    RelayPending *head;  // oldest outcome first
    RelayPending *tail;
};

int tio_connect(void *cell, const char *host, int port, int timeout_ms);
int tio_write(void *cell, const uint8_t *bytes, size_t len);
int tio_read(void *cell, uint8_t *buf, size_t cap, int timeout_ms);
void tio_close(void *cell);

bool relay_is(const Transport *t);
int32_t relay_send(Transport *t, const uint8_t *req, size_t req_len);
int32_t relay_recv(Transport *t, ByteBuffer *reply);
