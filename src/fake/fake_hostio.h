// The library's fake-backed HostIo: serves each posted message from the
// in-process fake server over one connection that it keeps across posts. A
// NEGOTIATE starts a fresh connection, as it would on a real server.
#pragma once

#include "vnsmb1c.h"

extern const vnsmb1c_HostIo g_sio_fake;

int fio_post(void *context, const char *url, const char *body, const char *content_type, char **out_body,
             long *out_status, char **out_error);
void fio_free(void *context, void *pointer);
