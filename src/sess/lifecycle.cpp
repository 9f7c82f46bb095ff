#include "sess/lifecycle.h"

#include <cstdlib>
#include <cstring>

#include "crypto/crypto.h"
#include "sess/exchange.h"
#include "sess/logon.h"
#include "sess/session_state.h"
#include "sess/transport_select.h"
#include "util/error.h"

namespace {

constexpr int kDefaultPort = 445;
// LOGOFF_ANDX carries the AndX block: no further command.
constexpr uint8_t kLogoffWords[4] = {0xFF, 0x00, 0x00, 0x00};

int port_or_default()
{
    return g_s.port ? g_s.port : kDefaultPort;
}

// Connects the installed transport; on failure the transport's own text is
// kept inside ours: "<lead> to host:port (<text>)".
int32_t connect_transport(const char *lead, size_t keep)
{
    int port = port_or_default();
    if (g_s.transport.connect(g_s.transport.context, g_s.host, port, g_s.timeout_ms) == 0)
        return 0;
    char cause[220];
    size_t n = std::strlen(vnb_error());
    if (n > keep)
        n = keep;
    std::memcpy(cause, vnb_error(), n);
    cause[n] = '\0';
    return vnb_fail(-1, "%s to %.200s:%d (%.200s)", lead, g_s.host, port, cause);
}

// NEGOTIATE then SESSION_SETUP on a connected transport; a failure resets.
int32_t logon()
{
    int32_t rc = do_negotiate();
    if (rc == 0)
        rc = do_session_setup();
    if (rc != 0)
        sess_reset();
    return rc;
}

}  // namespace

void sess_reset()
{
    Transport &t = g_s.transport;
    if (t.context && t.close)
        t.close(t.context);
    t = Transport{};

    for (TreeSlot &tree : g_s.trees)
        tree.in_use = 0;
    for (FileSlot &file : g_s.files)
        file.in_use = 0;
    std::free(g_s.listing.items);
    g_s.listing = ListingRecord{};

    g_s.negotiated = 0;
    g_s.established = 0;
    g_s.dialect_index = 0;
    vnb_wipe(g_s.signing_key, sizeof g_s.signing_key);
    // The NT response of a non-extended logon is part of its MAC key.
    vnb_wipe(g_s.nt_response, sizeof g_s.nt_response);
    g_s.nt_response_len = 0;
    vnb_wipe(g_s.lm_response, sizeof g_s.lm_response);
    g_s.lm_response_len = 0;
    g_s.uid = 0;
    g_s.mid_counter = 0;
    g_s.open_files = 0;
    g_s.ext_security = 0;
}

int32_t vnb_sess_ensure()
{
    if (g_s.established)
        return 0;
    if (!g_s.transport.connect)
        return vnb_fail(-5, "not connected");
    int32_t rc = connect_transport("cannot connect", 219);
    if (rc != 0)
        return rc;
    rc = logon();
    if (rc != -3 || !g_s.anonymous)
        return rc;

    // An anonymous logon refused for authentication: one more complete try
    // on a fresh transport.
    if (vnb_transport_rebuild() != 0)
        return vnb_fail(-11, "cannot rebuild the transport");
    rc = connect_transport("cannot reconnect", 199);
    if (rc != 0)
        return rc;
    return logon();
}

void vnb_sess_drop()
{
    if (g_s.established)
        cmd_ok(SMB_COM_LOGOFF_ANDX, kLogoffWords, sizeof kLogoffWords, 0, "LOGOFF");
    for (TreeSlot &tree : g_s.trees) {
        if (tree.in_use != 1)
            continue;
        tree.in_use = 0;
        cmd_ok(SMB_COM_TREE_DISCONNECT, nullptr, 0, tree.tid, "TREE_DISCONNECT");
    }
    sess_reset();
}
