// The share a connection will use first, connected in the logon's last
// message.
#include <cstring>

#include "api/session_handle.h"
#include "api/session_ops.h"
#include "util/error.h"
#include "vnsmb1c.h"

namespace {

constexpr size_t kMaxShareName = 80;

}  // namespace

int32_t vnb_set_first_share(Session &s, const char *share)
{
    size_t len = share != nullptr ? strnlen(share, kMaxShareName + 1) : 0;
    if (len > kMaxShareName)
        return vnb_fail(-6, "share name too long (at most %zu bytes)", kMaxShareName);
    s.first_share.assign(share != nullptr ? share : "", len);
    return 0;
}

extern "C" {

VNSMB1C_API int vnsmb1c_s_set_first_share(vnsmb1c_session *session, const char *share)
{
    return vnb_on_session(session, [share](SessionCall &call) { return vnb_set_first_share(call.s(), share); });
}

VNSMB1C_API int vnsmb1c_set_first_share(const char *share)
{
    return vnsmb1c_s_set_first_share(vnb_default_handle(), share);
}

}  // extern "C"
