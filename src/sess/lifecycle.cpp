#include "sess/lifecycle.h"

#include <cstring>

#include "crypto/crypto.h"
#include "sess/exchange.h"
#include "sess/logon.h"
#include "util/error.h"

namespace {

constexpr int kDefaultPort = 445;
// LOGOFF_ANDX carries the AndX block: no further command.
constexpr uint8_t kLogoffWords[4] = {0xFF, 0x00, 0x00, 0x00};

// Resolves the host name (when the transport has a name service) and opens
// the transport; on failure the transport's own text is kept inside ours:
// "<lead> to host:port (<text>)", with " at <address>" after the port when
// a name was resolved.
int32_t open_transport(Session &s, const char *lead, size_t keep)
{
    // Port 0 leaves the default to the transport (the TCP kind falls back
    // to 139 when 445 is refused).
    int port = s.port ? s.port : kDefaultPort;
    if (int32_t stop = sess_check_stop(s); stop != 0)
        return stop;
    bool by_limit = false;
    const char *target = s.host;
    s.resolved = ResolvedHost{};
    if (s.name_service) {
        if (vnb_resolve_host(s.host, s.names, s.name_service(), sess_wait_ms(s, &by_limit), &s.resolved) != 0)
            return -1;
        target = s.resolved.address.c_str();
    }
    s.transport->call_as(s.host);
    int32_t opened = s.transport->open(target, s.port, sess_wait_ms(s, &by_limit));
    if (opened == 0) {
        s.transport_open = true;
        return 0;
    }
    if (sess_note_failure(s, opened, by_limit) == -12)
        return -12;
    if (s.failure == Failure::deadline)
        return -1;
    char cause[220];
    size_t n = std::strlen(vnb_error());
    if (n > keep)
        n = keep;
    std::memcpy(cause, vnb_error(), n);
    cause[n] = '\0';
    if (std::strcmp(target, s.host) != 0)
        return vnb_fail(-1, "%s to %.200s:%d at %.64s (%.200s)", lead, s.host, port, target, cause);
    return vnb_fail(-1, "%s to %.200s:%d (%.200s)", lead, s.host, port, cause);
}

// NEGOTIATE then SESSION_SETUP on an open transport; a failure closes the
// connection (open files stay for a later reconnect to take up).
int32_t logon(Session &s)
{
    int32_t rc = do_negotiate(s);
    if (rc == 0)
        rc = do_session_setup(s);
    if (rc != 0)
        sess_close_connection(s);
    return rc;
}

}  // namespace

void sess_reset(Session &s)
{
    sess_close_connection(s);
    // A slot's count of openings outlives the session, so that the handles
    // it gave out stay bad.
    for (FileSlot &file : s.files) {
        uint32_t opens = file.opens;
        file = FileSlot{};
        file.opens = opens;
    }
    s.listing = Listing{};
    s.open_files = 0;
    s.broken = false;
    s.broken_by = Failure::none;
    s.backoff_ms = 0;
    s.path_info_refused = false;
    s.chain_refused = {};
}

void sess_close_connection(Session &s)
{
    if (s.transport && s.transport_open)
        s.transport->close();
    s.transport_open = false;
    s.discard_in_flight();
    s.connection++;

    for (TreeSlot &tree : s.trees)
        tree.in_use = 0;

    s.negotiated = 0;
    s.established = 0;
    s.dialect_index = 0;
    vnb_wipe(s.signing_key, sizeof s.signing_key);
    // The NT response of a non-extended logon is part of its MAC key.
    vnb_wipe(s.nt_response, sizeof s.nt_response);
    s.nt_response_len = 0;
    vnb_wipe(s.lm_response, sizeof s.lm_response);
    s.lm_response_len = 0;
    s.uid = 0;
    s.mid_counter = 0;
    s.ext_security = 0;
}

int32_t vnb_sess_ensure(Session &s)
{
    if (s.established)
        return 0;
    if (!s.transport)
        return vnb_fail(-5, "not connected");
    int32_t rc = open_transport(s, "cannot connect", 219);
    if (rc != 0)
        return rc;
    rc = logon(s);
    if (rc != -3 || !s.anonymous)
        return rc;

    // An anonymous logon refused for authentication: one more complete try
    // on a fresh connection.
    rc = open_transport(s, "cannot reconnect", 199);
    if (rc != 0)
        return rc;
    return logon(s);
}

void vnb_sess_drop(Session &s)
{
    if (s.transport_open) {
        // Leaving: no reply matters any more. Over a connection that carries
        // requests back to back they go out without waiting (the connection
        // closes right after, taking any late reply with it); otherwise each
        // waits a probe's bound at the most. Trees first, then the logon
        // they belong to.
        const bool post = s.transport && s.transport->pipelines();
        const int32_t cap = s.wait_cap_ms;
        s.wait_cap_ms = sess_probe_ms(s);
        for (TreeSlot &tree : s.trees) {
            if (tree.in_use != 1)
                continue;
            tree.in_use = 0;
            if (post)
                req_post(s, smb::TREE_DISCONNECT, {}, tree.tid);
            else
                cmd_ok(s, smb::TREE_DISCONNECT, {}, tree.tid, "TREE_DISCONNECT");
        }
        if (s.established) {
            if (post)
                req_post(s, smb::LOGOFF_ANDX, kLogoffWords, 0);
            else
                cmd_ok(s, smb::LOGOFF_ANDX, kLogoffWords, 0, "LOGOFF");
        }
        s.wait_cap_ms = cap;
    }
    sess_reset(s);
}
