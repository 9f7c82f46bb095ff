#include "sess/session.h"

#include <atomic>

#include "crypto/crypto.h"
#include "sess/exchange.h"
#include "sess/stream.h"

namespace {

std::atomic<uint64_t> g_frames{0};

}  // namespace

Session::Session() = default;

Session::~Session()
{
    // Records still waiting for a reply must not point back at a session
    // that is gone.
    discard_in_flight();
    if (transport && transport_open)
        transport->close();
    wipe_secrets();
    vnb_buf_free(&rx);
}

void Session::discard_in_flight()
{
    for (SmbRequest *req : in_flight)
        req->session = nullptr;
    in_flight.clear();
    posted.clear();
}

void Session::wipe_secrets()
{
    vnb_wipe(password, sizeof password);
    vnb_wipe(signing_key, sizeof signing_key);
    vnb_wipe(lm_response, sizeof lm_response);
    lm_response_len = 0;
    vnb_wipe(nt_response, sizeof nt_response);
    nt_response_len = 0;
    vnb_wipe(&type2, sizeof type2);
}

uint64_t vnb_frames_sent()
{
    return g_frames.load();
}

void vnb_count_frame()
{
    g_frames.fetch_add(1);
}
