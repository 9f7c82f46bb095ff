// Sessions a host holds: making and freeing them, the default session behind
// the functions without a session argument, cancelling the call under way and
// limiting the next one.
#include <atomic>
#include <new>

#include "api/connect.h"
#include "api/session_handle.h"
#include "api/session_ops.h"
#include "util/error.h"
#include "vnsmb1c.h"

namespace {

std::atomic<vnsmb1c_session *> g_default{nullptr};

}  // namespace

vnsmb1c_session *vnb_default_handle()
{
    vnsmb1c_session *h = g_default.load();
    if (h != nullptr)
        return h;
    // Made on first use, by whichever thread comes first; never destroyed, as
    // hosts may call in while the process exits.
    static vnsmb1c_session *made = new vnsmb1c_session(0);
    g_default.store(made);
    return made;
}

bool vnb_default_handle_made()
{
    return g_default.load() != nullptr;
}

extern "C" {

VNSMB1C_API vnsmb1c_session *vnsmb1c_session_new(void)
{
    auto *h = new (std::nothrow) vnsmb1c_session(vnb_next_serial());
    if (h == nullptr)
        vnb_set_error("out of memory");
    return h;
}

VNSMB1C_API void vnsmb1c_session_free(vnsmb1c_session *session)
{
    if (session == nullptr || session == vnb_default_handle())
        return;
    // A call still under way is stopped, then the session logs off.
    session->s.signal.cancel();
    session->gate.wake_waiters();
    {
        SessionCall call(session);
        if (call.refused() == 0)
            vnb_disconnect(call.s());
    }
    delete session;
}

VNSMB1C_API vnsmb1c_session *vnsmb1c_default_session(void)
{
    return vnb_default_handle();
}

VNSMB1C_API void vnsmb1c_s_cancel(vnsmb1c_session *session)
{
    if (session == nullptr)
        return;
    session->s.signal.cancel();
    session->gate.wake_waiters();
}

VNSMB1C_API void vnsmb1c_cancel(void)
{
    vnsmb1c_s_cancel(vnb_default_handle());
}

VNSMB1C_API int vnsmb1c_s_limit_next_call(vnsmb1c_session *session, int milliseconds)
{
    if (session == nullptr)
        return vnb_fail(-6, "no session");
    if (milliseconds < 0 || milliseconds > kMaxTimeoutMs)
        return vnb_fail(-6, "call limit out of range (0 to %d ms)", kMaxTimeoutMs);
    session->gate.set_next_limit(milliseconds);
    return 0;
}

VNSMB1C_API int vnsmb1c_limit_next_call(int milliseconds)
{
    return vnsmb1c_s_limit_next_call(vnb_default_handle(), milliseconds);
}

}  // extern "C"
