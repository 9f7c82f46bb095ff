// Pieces of the transport unit shared between its own files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/frame_dump.h"
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

// ---- replies held between vnb_net_send and vnb_net_recv ----

// The outcome of one request on a kind that answers at once (relay, fake).
struct PendingReply {
    PendingReply *next;
    int32_t code;       // 0, or the ResultCode of the failed exchange
    char text[512];     // failure text for code != 0
    ByteBuffer reply;   // the reply message for code == 0
};

struct PendingQueue {
    PendingReply *head;  // oldest outcome first
    PendingReply *tail;
};

// A zero-filled outcome, or NULL when it cannot be allocated.
PendingReply *pending_new();
void pending_push(PendingQueue *q, PendingReply *p);
// Hands over the oldest outcome: 0 with its message moved into `reply`, or its
// failure code with the error text set; -1 with `none_text` when the queue is
// empty.
int32_t pending_take(PendingQueue *q, ByteBuffer *reply, const char *none_text);
void pending_clear(PendingQueue *q);

// ---- host-io relay kind ----

// The host-io kind's context. Host and port are those of the last connect,
// from which the relay URL is built.
struct RelayCell {
    const HostIo *io;
    char host[256];
    int32_t port;
    PendingQueue pending;
};

int tio_connect(void *cell, const char *host, int port, int timeout_ms);
int tio_write(void *cell, const uint8_t *bytes, size_t len);
int tio_read(void *cell, uint8_t *buf, size_t cap, int timeout_ms);
void tio_close(void *cell);

bool relay_is(const Transport *t);
int32_t relay_send(Transport *t, const uint8_t *req, size_t req_len);
int32_t relay_recv(Transport *t, ByteBuffer *reply);

// ---- fake kind ----

int fake_connect(void *context, const char *host, int port, int timeout_ms);
int fake_write(void *context, const uint8_t *bytes, size_t len);
int fake_read(void *context, uint8_t *buf, size_t cap, int timeout_ms);
void fake_close(void *context);

bool fake_is(const Transport *t);
int32_t fake_send(const uint8_t *req, size_t req_len);
int32_t fake_recv(ByteBuffer *reply);

// Hands one request message to the fake server and checks its NBSS-framed
// answer, left in `frame` (which the caller releases). NULL with the message
// length in *msg_len, or the text of what is wrong with the answer.
const char *fake_answer(const uint8_t *req, size_t req_len, ByteBuffer *frame, uint32_t *msg_len);
