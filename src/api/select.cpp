// Choosing the transport of the next session, and the controls of the
// in-process fake server.
#include <cstdint>

#include "api/own_io.h"
#include "fake/fake.h"
#include "fake/fake_hostio.h"
#include "net/socket_hostio.h"
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
    return &g_sio_socket;
}

VNSMB1C_API const vnsmb1c_HostIo *vnsmb1c_io_fake(void)
{
    return &g_sio_fake;
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

int vnb_io_own_face(const vnsmb1c_HostIo *io)
{
    if (io == &g_sio_socket)
        return 1;
    if (io == &g_sio_fake)
        return 2;
    return 0;
}
