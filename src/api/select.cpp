// Choosing the transport of a session's next connection, and the controls of
// the in-process fake server.
#include <cstdint>

#include "api/own_io.h"
#include "api/session_handle.h"
#include "api/session_ops.h"
#include "api/session_pool.h"
#include "fake/fake.h"
#include "fake/fake_hostio.h"
#include "fake/fake_lock.h"
#include "fake/fake_transport.h"
#include "net/socket_hostio.h"
#include "sess/lifecycle.h"
#include "util/error.h"
#include "vnsmb1c.h"

Session &vnb_default_session()
{
    return vnb_default_handle()->s;
}

bool vnb_default_session_made()
{
    return vnb_default_handle_made();
}

TransportChoice vnb_selected_transport()
{
    return vnb_default_handle()->choice();
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

namespace {

// The host tables connect with the default session's selection: a new one
// ends the sessions their pool keeps for the old.
void drain_for_selection(const vnsmb1c_session &h)
{
    if (h.serial == 0)
        vnb_pool_drain();
}

// Selects the fake server for the session, loading the tree given; with
// null_keeps, NULL keeps the tree loaded already (the fake server is one per
// process), otherwise the loader refuses it.
int use_fake(vnsmb1c_session *session, const char *tree_json, bool null_keeps)
{
    return vnb_on_session(session, [tree_json, null_keeps](SessionCall &call) {
        vnb_sess_drop(call.s());
        // The host tables' waiting sessions belong to the tree being replaced.
        if (tree_json != nullptr || !null_keeps)
            vnb_pool_drain();
        {
            FakeModelLock model;
            if (tree_json == nullptr && null_keeps) {
                if (vnb_fake_loaded() == 0)
                    return vnb_fail(-6, "no fake tree is loaded");
            } else if (vnb_fake_load(tree_json) != 0) {
                return vnb_fail(-6, "fake tree JSON is invalid");
            }
        }
        TransportChoice c = call.handle().choice();
        c.mode = VNSMB1C_MODE_FAKE;
        call.handle().choose(c);
        return 0;
    });
}

}  // namespace

extern "C" {

// Each selection call ends the running session first, whatever it then
// decides; the new kind is used when the next connect builds a transport.

VNSMB1C_API int vnsmb1c_s_use_sockets(vnsmb1c_session *session)
{
    return vnb_on_session(session, [](SessionCall &call) {
        vnb_sess_drop(call.s());
        drain_for_selection(call.handle());
        call.handle().choose(TransportChoice{});
        return 0;
    });
}

VNSMB1C_API int vnsmb1c_s_use_io(vnsmb1c_session *session, const vnsmb1c_HostIo *io)
{
    return vnb_on_session(session, [io](SessionCall &call) {
        vnb_sess_drop(call.s());
        drain_for_selection(call.handle());
        if (io == nullptr || io->http_post == nullptr)
            return vnb_fail(-6, "io without http_post");
        call.handle().choose(TransportChoice{VNSMB1C_MODE_HOSTIO, io});
        return 0;
    });
}

VNSMB1C_API int vnsmb1c_s_use_fake(vnsmb1c_session *session, const char *tree_json)
{
    return use_fake(session, tree_json, true);
}

VNSMB1C_API int vnsmb1c_use_sockets(void)
{
    return vnsmb1c_s_use_sockets(vnb_default_handle());
}

VNSMB1C_API int vnsmb1c_use_io(const vnsmb1c_HostIo *io)
{
    return vnsmb1c_s_use_io(vnb_default_handle(), io);
}

VNSMB1C_API int vnsmb1c_use_fake(const char *tree_json)
{
    return use_fake(vnb_default_handle(), tree_json, false);
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
    FakeModelLock lock;
    return vnb_fake_fault(name, value) == 0 ? 0 : -6;
}

VNSMB1C_API int64_t vnsmb1c_fake_calls(int command)
{
    FakeModelLock lock;
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
