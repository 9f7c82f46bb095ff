// Transports and the exchange of one SMB1 message for one reply.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/bytebuf.h"
#include "vnsmb1c.h"

using Transport = vnsmb1c_Transport;
using HostIo = vnsmb1c_HostIo;

constexpr uint32_t kMaxFrame = 4194304;  // largest SMB1 message either way (4 MiB)

// ---- exchange ----

// Sends one request message and receives the one reply message (neither
// carries an NBSS header). The reply buffer is passed in empty.
int32_t vnb_net_frame(Transport *t, const uint8_t *req, size_t req_len, ByteBuffer *reply, int timeout_ms);
// The two halves of vnb_net_frame, kept separable so that several requests
// can be in flight on one byte stream. vnb_net_send writes the request dump
// and hands the request to the transport; vnb_net_recv takes the next reply.
// On the relay and fake kinds, which answer each request at once, the reply
// is held by the transport until vnb_net_recv collects it.
int32_t vnb_net_send(Transport *t, const uint8_t *req, size_t req_len);
int32_t vnb_net_recv(Transport *t, ByteBuffer *reply, int timeout_ms);

uint64_t vnb_now_ms();
int64_t vnb_unix_now();

// ---- socket kind (TransportMode 0) ----

int vnb_net_io_socket(Transport *t);
// Connect, send one frame, read one NBSS-framed reply, close.
int32_t vnb_net_socket_roundtrip(const char *host, int port, const uint8_t *msg, size_t len, ByteBuffer *reply);
// NBSS framing over any byte-stream transport.
int32_t nbss_write(Transport *t, const uint8_t *msg, size_t len);
int32_t read_exact(Transport *t, ByteBuffer *b, uint32_t len, int timeout_ms);

// ---- host-io relay kind (TransportMode 1) ----

// -6 "io without http_post" for a NULL record, io or http_post; -1 when the
// context cannot be allocated.
int32_t vnb_net_io_from_vantrelx(Transport *t, const HostIo *io);

// ---- fake kind (TransportMode 2) ----

// Installs the fake operations with a NULL context: every request goes to the
// in-process fake server, reached by connecting to the host "fake". -1 for a
// NULL record. Drops fake answers that were never collected.
int vnb_net_io_fake(Transport *t);

// ---- the library's own HostIo objects ----

// Relays each posted frame over a new TCP connection to the URL's host and
// port (g_sio_socket), or hands it to the in-process fake server
// (g_sio_fake). Every text they hand out is a heap copy for their `free`.
extern const HostIo g_sio_socket;
extern const HostIo g_sio_fake;

const HostIo *vnb_vantrelx_io_socket();
const HostIo *vnb_vantrelx_io_fake();
// 1 for g_sio_socket, 2 for g_sio_fake, 0 for any other object or NULL.
int vnb_io_own_face(const HostIo *io);

// "smbrpc://" host ":" port "/" path, the host split off at the last ':'
// before the first '/', an IPv6 literal in brackets. 0, or -1; the port is
// stored whenever one was read, also when it is out of range.
int parse_smb_url(const char *url, char (&host)[256], int *port);

// The objects' operations (http_post and get signatures of HostIo).
int sio_get(void *context, const char *url, char **out_body, long *out_status, char **out_error);
int sio_post(void *context, const char *url, const char *body, const char *content_type, char **out_body,
             long *out_status, char **out_error);
int fio_post(void *context, const char *url, const char *body, const char *content_type, char **out_body,
             long *out_status, char **out_error);
void sio_free(void *context, void *pointer);
void fio_free(void *context, void *pointer);

// ---- additions of the transport unit ----

// vnb_net_socket_roundtrip with the connect and reply time-out as a parameter
// (the plain form uses 30000 ms).
int32_t vnb_net_socket_roundtrip_ms(const char *host, int port, const uint8_t *msg, size_t len, ByteBuffer *reply,
                                    int timeout_ms);
