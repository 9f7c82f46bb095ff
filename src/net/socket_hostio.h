// The library's socket-backed HostIo: relays each posted message to the
// server named by the relay URL over a TCP connection that it keeps per
// server (host and port) across posts, as SMB1's logged-on user, trees and
// open files belong to the connection. A NEGOTIATE starts a fresh
// connection; one that failed is opened again by the next post.
#pragma once

#include "vnsmb1c.h"

extern const vnsmb1c_HostIo g_sio_socket;

int sio_post(void *context, const char *url, const char *body, const char *content_type, char **out_body,
             long *out_status, char **out_error);
