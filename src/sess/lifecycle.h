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
