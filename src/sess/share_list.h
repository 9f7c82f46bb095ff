// The share listing: DCE/RPC over the named pipe \srvsvc on IPC$, carried by
// TRANSACTION (TransactNmPipe) and READ_ANDX, with a bind to the server
// service and NetShareEnumAll at information level 1.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sess/session.h"
#include "util/bytebuf.h"

// Interface identifiers in wire byte order: srvsvc 4b324fc8-1670-01d3-1278-
// 5a47bf6ee188 (version 3.0) and NDR 8a885d04-1ceb-11c9-9fe8-08002b104860
// (version 2).
extern const uint8_t srvsvc_uuid[16];
extern const uint8_t ndr_syntax[16];

inline constexpr uint32_t kSrvsvcBindCallId = 1;
inline constexpr uint32_t kSrvsvcEnumCallId = 2;
// What the listing reads from the pipe at most before it gives up.
inline constexpr size_t kMaxSrvsvcAnswer = 4194304;
inline constexpr int kMaxSrvsvcReads = 4096;

// Little-endian appenders of the PDU encoders.
void d_u8(ByteBuffer *b, uint32_t v);
void d_u16(ByteBuffer *b, uint32_t v);
void d_u32(ByteBuffer *b, uint32_t v);

// Append the 72-byte bind PDU or NetShareEnumAll request PDU to an empty
// buffer and patch its frag_length.
void srvsvc_build_bind(ByteBuffer *b, uint32_t call_id);
void srvsvc_build_request(ByteBuffer *b, uint32_t call_id);

// Looks at the pipe's answer as a run of response fragments for call_id.
// 1 when it ends with a complete last fragment: then, when pdu is not NULL,
// the first fragment's 24-byte header followed by the stubs of all
// fragments is appended to pdu (one PDU as if unfragmented). 0 when more
// bytes are needed, -1 when the answer is not a run of response fragments,
// -11 when pdu cannot grow.
int srvsvc_join_fragments(const uint8_t *answer, size_t len, uint32_t call_id, ByteBuffer *pdu);

// Decodes one NDR conformant varying string at *pos (the three counts, the
// UTF-16 units with their NUL, padding to 4 bytes) and advances *pos. With
// out, the text (without its NUL) is converted to UTF-8 into cap bytes;
// NULL only checks the layout. false for any count or offset that lies.
bool ndr_str(const uint8_t *bytes, size_t len, size_t *pos, char *out, size_t cap);

// Whether a share name is one an administrator uses (IPC$, ADMIN$, C$,
// print$), which listings leave out.
bool vnb_is_admin_share(const char *name);

// Checks and decodes a NetShareEnumAll level-1 response PDU, filling the
// session's share table (administrative names left out) before it looks at
// the status word. 0; -7 (with the error text) for more shares than the
// table holds (kMaxShares), the table then left empty; or -1 for a reply
// that breaks the layout or carries a non-zero status.
int srvsvc_parse_enum(Session &s, const uint8_t *bytes, size_t len);

// Writes the n-byte PDU to pipe fid on tree tid with TransactNmPipe and
// appends the pipe's answer to out. A STATUS_BUFFER_OVERFLOW reply (the
// answer continues in the pipe) is a success.
int32_t trans_ipc_pipe(Session &s, uint32_t tid, uint32_t fid, const uint8_t *pdu, size_t n, ByteBuffer *out);

// Appends the next piece of the pipe's answer, read with READ_ANDX.
int32_t pipe_read(Session &s, uint32_t tid, uint32_t fid, ByteBuffer *out);

// Lists the connected server's shares into the session's share table.
int32_t vnb_srvsvc_share_enum(Session &s);
