// The default session of the C interface, choosing the transport of its next
// connection, and the controls of the in-process fake server.
#include <cstdint>

#include "api/api_lock.h"
#include "api/own_io.h"
#include "api/session_ops.h"
#include "fake/fake.h"
#include "fake/fake_hostio.h"
#include "fake/fake_transport.h"
#include "net/socket_hostio.h"
#include "sess/lifecycle.h"
#include "util/error.h"
#include "vnsmb1c.h"

namespace {

TransportChoice g_choice;
Session *g_default = nullptr;

}  // namespace

Session &vnb_default_session()
{
    // Never destroyed: hosts may call in while the process exits.
    if (g_default == nullptr)
        g_default = new Session;
    return *g_default;
}

bool vnb_default_session_made()
{
    return g_default != nullptr;
}

TransportChoice vnb_selected_transport()
{
    return g_choice;
}

std::unique_ptr<MsgTransport> vnb_make_transport(const TransportChoice &kind)
{
    switch (kind.mode) {
    case VNSMB1C_MODE_HOSTIO:
        return vnb_transport_relay(kind.io);
    case VNSMB1C_MODE_FAKE:
        return vnb_fake_transport();
    default:
        return vnb_transport_tcp();
    }
}

extern "C" {

// Each selection call ends the running session first, whatever it then
// decides; the new kind is used when the next connect builds a transport.

VNSMB1C_API int vnsmb1c_use_sockets(void)
{
    ApiLock lock;
    vnb_sess_drop(vnb_default_session());
    g_choice = TransportChoice{};
    return 0;
}

VNSMB1C_API int vnsmb1c_use_io(const vnsmb1c_HostIo *io)
{
    ApiLock lock;
    vnb_sess_drop(vnb_default_session());
    if (io == nullptr || io->http_post == nullptr)
        return vnb_fail(-6, "io without http_post");
    g_choice = TransportChoice{VNSMB1C_MODE_HOSTIO, io};
    return 0;
}

VNSMB1C_API int vnsmb1c_use_fake(const char *tree_json)
{
    ApiLock lock;
    vnb_sess_drop(vnb_default_session());
    if (vnb_fake_load(tree_json) != 0)
        return vnb_fail(-6, "fake tree JSON is invalid");
    g_choice.mode = VNSMB1C_MODE_FAKE;
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
    ApiLock lock;
    return vnb_fake_fault(name, value) == 0 ? 0 : -6;
}

VNSMB1C_API int64_t vnsmb1c_fake_calls(int command)
{
    ApiLock lock;
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
