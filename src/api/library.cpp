// Version, result texts and the last-failure accessors.
#include <array>

#include "api/session_handle.h"
#include "api/session_ops.h"
#include "crypto/crypto.h"
#include "util/error.h"
#include "util/status.h"
#include "vnsmb1c.h"

namespace {

constexpr std::array<const char *, 13> kResultTexts{
    "ok",
    "network error",
    "protocol error",
    "authentication error",
    "not found",
    "no session",
    "invalid argument",
    "limit exceeded",
    "unsupported",
    "buffer too small",
    "end of file",
    "out of memory",
    "cancelled",
};

}  // namespace

extern "C" {

VNSMB1C_API const char *vnsmb1c_version(void)
{
    return "1.0.1";
}

VNSMB1C_API const char *vnsmb1c_strerror(int code)
{
    if (code > 0 || code < -static_cast<int>(kResultTexts.size() - 1))
        return "unknown error";
    return kResultTexts[static_cast<size_t>(-code)];
}

VNSMB1C_API const char *vnsmb1c_last_error(void)
{
    return vnb_error();
}

VNSMB1C_API int vnsmb1c_s_last_code(vnsmb1c_session *session)
{
    return vnb_on_session(session, [](SessionCall &call) { return call.s().last_code; });
}

VNSMB1C_API uint32_t vnsmb1c_s_last_status(vnsmb1c_session *session)
{
    SessionCall call(session);
    return call.refused() == 0 ? call.s().last_status : 0;
}

VNSMB1C_API int vnsmb1c_last_code(void)
{
    return vnsmb1c_s_last_code(vnb_default_handle());
}

VNSMB1C_API uint32_t vnsmb1c_last_status(void)
{
    return vnsmb1c_s_last_status(vnb_default_handle());
}

VNSMB1C_API uint64_t vnsmb1c_frame_count(void)
{
    return vnb_frames_sent();
}

VNSMB1C_API const char *vnsmb1c_status_name(uint32_t status)
{
    return vnb_status_name(status);
}

VNSMB1C_API int vnsmb1c_selftest(void)
{
    int rc = vnb_selftest_run();
    if (rc == 0)
        return 0;
    return vnb_fail(-2, "selftest vector %d failed", -rc);
}

}  // extern "C"
