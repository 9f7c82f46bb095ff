// The session layer: bring a session up, take it down, reset its state.
#pragma once

#include <cstdint>

// 0 when a session is established (already, or now): connects the installed
// transport, runs NEGOTIATE and SESSION_SETUP, and gives an anonymous logon
// refused for authentication one more complete try on a fresh transport.
int32_t vnb_sess_ensure();

// Ends the session whatever its state: LOGOFF when logged on, TREE_DISCONNECT
// for every connected tree, then the reset.
void vnb_sess_drop();

// Closes and zeroes the transport, frees the tree and file slots and the
// listing, and zeroes the per-session values. Connection settings, the last
// recorded status and the frame count stay.
void sess_reset();
