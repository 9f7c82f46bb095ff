// The in-process fake SMB1 server: a test peer that answers the client from a
// JSON fake tree and can be told to misbehave.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/bytebuf.h"

// Loads a fake tree from JSON text (replacing any loaded one and resetting the
// default connection). Handles and searches that open connections held in the
// previous tree are dropped: their FIDs and search ids become unknown. 0, or
// -1 on any failure (no error text).
int vnb_fake_load(const char *json);
int vnb_fake_loaded();
// Requests seen for a command code (0..255), or -1 for a code above 255.
int64_t vnb_fake_count(uint32_t command);
uint64_t vnb_fake_writes();
// Sets a named fault switch. 0 when the name is known, else -1.
int vnb_fake_fault(const char *name, int32_t value);
// Counts one request against the drop_at switch: true when this request
// finds its connection closed.
bool vnb_fake_drop_due();

// Answers one SMB1 request message on the process-default connection, as
// vnb_fake_answer does. Kept for callers that do not open connections yet.
void vnb_fake_handle_frame(const uint8_t *req, size_t len, ByteBuffer *out);

// ---- connections ----

// One client connection to the fake server. What a real server keeps per
// connection (negotiated values, the logged-on user, trees, open files,
// searches, the signing sequence) lives here; the loaded tree, the fault
// switches and the call counters are shared by all connections.
struct FakeConnection;

// A new connection, or NULL when no tree is loaded.
FakeConnection *vnb_fake_open();
// Ends the connection and releases it; NULL is ignored.
void vnb_fake_close(FakeConnection *c);
// Answers one SMB1 request message arriving on the connection: appends one
// NBSS-framed reply (4-byte header and message) to `out`, or nothing when the
// request gets no answer. Replies already in `out` stay: requests sent back
// to back are answered in order, one frame each.
void vnb_fake_answer(FakeConnection *c, const uint8_t *req, size_t len, ByteBuffer *out);

// ---- NetBIOS session service (for a front that carries NBSS itself) ----

// Answers one NBSS packet that is not a session message: a session request
// gets a positive answer, or a negative one (called name not present) under
// the nbss_refuse_name switch; a keep-alive nothing. Appends the answer frame
// to out. false when the connection is to end once out is sent.
bool vnb_fake_nbss_packet(FakeConnection *c, uint8_t type, const uint8_t *payload, size_t len, ByteBuffer *out);
// Whether session messages are taken now: not before a granted session
// request under the nbss_required switch (the front then hangs up).
bool vnb_fake_nbss_open(const FakeConnection *c);
