// Choosing the transport of the next session, and the controls of the
// in-process fake server.
#include <cstdint>

#include "fake/fake.h"
#include "net/net.h"
#include "sess/lifecycle.h"
#include "sess/session_state.h"
#include "sess/transport_select.h"
#include "util/error.h"
#include "vnsmb1c.h"

extern "C" {

// Each selection call ends the running session first, whatever it then
// decides; the new mode is used when the next connect builds a transport.

VNSMB1C_API int vnsmb1c_use_sockets(void)
{
    vnb_state_ensure_init();
    vnb_sess_drop();
    g_mode = VNSMB1C_MODE_SOCKET;
    g_io = nullptr;
    return 0;
}

VNSMB1C_API int vnsmb1c_use_io(const vnsmb1c_HostIo *io)
{
    vnb_state_ensure_init();
    vnb_sess_drop();
    if (io == nullptr || io->http_post == nullptr)
        return vnb_fail(-6, "io without http_post");
    g_io = io;
    g_mode = VNSMB1C_MODE_HOSTIO;
    return 0;
}

VNSMB1C_API int vnsmb1c_use_fake(const char *tree_json)
{
    vnb_state_ensure_init();
    vnb_sess_drop();
    if (vnb_fake_load(tree_json) != 0)
        return vnb_fail(-6, "fake tree JSON is invalid");
    g_mode = VNSMB1C_MODE_FAKE;
    return 0;
}

VNSMB1C_API const vnsmb1c_HostIo *vnsmb1c_io_socket(void)
{
    return vnb_vantrelx_io_socket();
}

VNSMB1C_API const vnsmb1c_HostIo *vnsmb1c_io_fake(void)
{
    return vnb_vantrelx_io_fake();
}

VNSMB1C_API int vnsmb1c_fake_set_fault(const char *name, int value)
{
    return vnb_fake_fault(name, value) == 0 ? 0 : -6;
}

VNSMB1C_API int64_t vnsmb1c_fake_calls(int command)
{
    if (command < 0 || command > 255)
        return -1;
    return vnb_fake_count(static_cast<uint32_t>(command));
}

}  // extern "C"
