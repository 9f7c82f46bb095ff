#include "sess/transport_select.h"

#include "net/net.h"
#include "sess/session_state.h"

int32_t g_mode;
const vnsmb1c_HostIo *g_io;

int32_t vnb_transport_rebuild()
{
    switch (g_mode) {
    case VNSMB1C_MODE_HOSTIO:
        return vnb_net_io_from_vantrelx(&g_s.transport, g_io);
    case VNSMB1C_MODE_FAKE:
        return vnb_net_io_fake(&g_s.transport);
    default:
        return vnb_net_io_socket(&g_s.transport);
    }
}

void vnb_transport_peek(int32_t *mode, const vnsmb1c_HostIo **io)
{
    vnb_state_ensure_init();
    if (mode)
        *mode = g_mode;
    if (io)
        *io = g_io;
}

int32_t vnb_transport_restore(int32_t mode, const vnsmb1c_HostIo *io)
{
    vnb_state_ensure_init();
    if (mode == VNSMB1C_MODE_HOSTIO && io && io->http_post) {
        g_mode = VNSMB1C_MODE_HOSTIO;
        g_io = io;
    } else if (mode == VNSMB1C_MODE_FAKE) {
        g_mode = VNSMB1C_MODE_FAKE;
        g_io = nullptr;
    } else {
        g_mode = VNSMB1C_MODE_SOCKET;
        g_io = nullptr;
    }
    return g_mode;
}
