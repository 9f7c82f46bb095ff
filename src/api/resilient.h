// Operations that survive a dropped connection: a broken session connects
// again before the operation runs, and an operation that breaks the
// connection (closed by the peer, or the server forgot the session, the tree
// or the file) is run once more after one reconnect. A time-out is not
// retried within the same call, so that a call waits at most one time-out
// on a silent server, and neither is a cancel or the call's limit. At most
// one reconnect per call.
#pragma once

#include "sess/lifecycle.h"
#include "sess/session.h"

template <typename Op>
auto vnb_resilient(Session &s, Op op) -> decltype(op())
{
    bool reconnected = false;
    if (s.broken) {
        reconnected = true;
        if (int32_t rc = sess_reconnect(s); rc != 0)
            return rc;
    }
    auto rc = op();
    if (rc >= 0 || !s.broken || !sess_may_retry_in_call(s) || reconnected)
        return rc;
    if (int32_t again = sess_reconnect(s); again != 0)
        return again;
    return op();
}
