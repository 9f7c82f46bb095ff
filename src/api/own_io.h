// Recognising the library's own HostIo objects (vnsmb1c_io_socket,
// vnsmb1c_io_fake).
#pragma once

#include "vnsmb1c.h"

// 1 for the socket-backed object, 2 for the fake-backed one, 0 for any other
// object or NULL.
int vnb_io_own_face(const vnsmb1c_HostIo *io);
