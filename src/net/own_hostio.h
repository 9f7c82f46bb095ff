// Pieces of the library's own HostIo objects, the far side of the relay in
// one process: reading the relay URL and body, and handing texts out. Every
// text they hand out is a heap copy for the object's `free`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "util/bytebuf.h"
#include "vnsmb1c.h"

// "smbrpc://" host ":" port "/" path, the host split off at the last ':'
// before the first '/', an IPv6 literal in brackets. 0, or -1; the port is
// stored whenever one was read, also when it is out of range.
int parse_smb_url(const char *url, char (&host)[256], int *port);

// The `get` of both objects: always -1 "smbrpc transport: GET is not used".
int sio_get(void *context, const char *url, char **out_body, long *out_status, char **out_error);
// Releases a text that one of the objects handed out.
void sio_free(void *context, void *pointer);

// -1, with a copy of the text for the caller when it asked for one.
int hostio_refuse(char **out_error, const char *text);
// The reply message as Base64 text with status 200; -1 without a text when
// the encoding cannot be allocated (the status is 200 all the same).
int hostio_hand_over(std::span<const uint8_t> msg, char **out_body, long *out_status);
// The request message a post carries: its Base64 body (NULL counts as empty).
bool hostio_decode_body(const char *body, ByteBuffer *msg);

// True for an SMB1 NEGOTIATE request, which begins a new connection.
bool smb1_is_negotiate(std::span<const uint8_t> msg);
