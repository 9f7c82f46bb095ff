// Which kind of transport the next session uses (socket, host io, fake), and
// building it.
#pragma once

#include <cstdint>

#include "vnsmb1c.h"

// VNSMB1C_MODE_SOCKET, VNSMB1C_MODE_HOSTIO or VNSMB1C_MODE_FAKE.
extern int32_t g_mode;
// The selected HostIo, borrowed from the host; meaningful in mode 1 only.
extern const vnsmb1c_HostIo *g_io;

// Builds g_s.transport for the selected mode. It neither closes a previous
// transport nor initialises: the caller has reset the session before.
int32_t vnb_transport_rebuild();

// Initialises the library state, then reports the selection through
// whichever pointer is not NULL.
void vnb_transport_peek(int32_t *mode, const vnsmb1c_HostIo **io);

// Puts a selection back without dropping the session; returns the mode now
// selected. Mode 1 needs an io with http_post, else sockets are selected.
int32_t vnb_transport_restore(int32_t mode, const vnsmb1c_HostIo *io);
