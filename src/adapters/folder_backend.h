// The folder-access backend's own session, for inspection.
#pragma once

#include "sess/session.h"

// The session the backend instance behind a table's context holds, or NULL
// for a NULL context or an instance that holds none.
Session *vnb_backend_session(void *context);
