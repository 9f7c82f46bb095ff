// Transports and the exchange of one SMB1 message for one reply.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/clock.h"
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

// ---- additions of the transport unit ----

// vnb_net_socket_roundtrip with the connect and reply time-out as a parameter
// (the plain form uses 30000 ms).
int32_t vnb_net_socket_roundtrip_ms(const char *host, int port, const uint8_t *msg, size_t len, ByteBuffer *reply,
                                    int timeout_ms);
