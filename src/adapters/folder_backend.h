// The folder-access backend's own session, for inspection.
#pragma once

#include "sess/session.h"

// The session of the backend instance behind a table's context, or NULL for
// a NULL context.
Session *vnb_backend_session(void *context);
