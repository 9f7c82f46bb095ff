// The session layer: bring a session up, take it down, reset its state.
#pragma once

#include <cstdint>

#include "sess/session.h"

// 0 when a session is established (already, or now): opens the session's
// transport, runs NEGOTIATE and SESSION_SETUP, and gives an anonymous logon
// refused for authentication one more complete try on a fresh connection.
int32_t vnb_sess_ensure(Session &s);

// Ends the session whatever its state: LOGOFF when logged on, TREE_DISCONNECT
// for every connected tree, then the reset.
void vnb_sess_drop(Session &s);

// Closes the connection (the transport itself stays), forgets the requests
// in flight, frees the tree and file slots and the listing, wipes the keys
// and zeroes the per-session values. Connection settings and the last
// recorded status stay.
void sess_reset(Session &s);

// sess_reset short of the open files, the listing and the share names: what
// a connection that is gone leaves behind for a reconnect to take up.
void sess_close_connection(Session &s);

// Marks a logged-on session's connection as broken and closes it (nothing
// is sent); `why` tells a silent server from a closed or forgetful one and
// from a call that was stopped. Does nothing to a session that is not logged
// on.
void sess_mark_broken(Session &s, Failure why);

// Whether an operation that broke the connection may run once more within
// the same call: not after a time-out, a cancel or the call's limit, so that
// a call waits at most one time-out and stops when it is told to.
bool sess_may_retry_in_call(const Session &s);

// Whether a reply status says that the server no longer knows the session
// or the tree the request named (any request's reply marks the session
// broken with it).
bool sess_status_forgets(uint32_t status);
// Whether it says that the server no longer knows a file handle: the read
// path marks the session broken with it for a handle it knows is open.
bool sess_status_forgets_handle(uint32_t status);

// Connects a broken session again: NEGOTIATE and logon with the stored
// settings, then every open file is opened again by share and path (trees
// are connected as they are needed). A file that is gone or changed is
// marked so; its reads fail. 0, or the ResultCode of the failed step with
// the session still broken, so that a later call tries again. After a
// time-out it is a probe whose waits are bounded by sess_probe_ms; while
// probes time out it fails at once (-1, "timed out ...") until the pause
// after the last one has passed.
int32_t sess_reconnect(Session &s);

// The bound of a probe's waits: a tenth of the time-out, 0.5 s to 2 s, never
// more than the time-out.
int sess_probe_ms(const Session &s);
