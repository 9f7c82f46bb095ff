#include "fake/fake_hostio.h"

#include <cstdlib>
#include <mutex>

#include "fake/fake_lock.h"
#include "fake/fake_transport.h"
#include "net/own_hostio.h"

const vnsmb1c_HostIo g_sio_fake = {nullptr, sio_get, fio_post, fio_free};

namespace {

// The HostIo record has no context of its own, so its connection is
// process-wide; the mutex keeps each request and its answer together.
std::mutex g_guard;
FakeConnection *g_connection;

FakeConnection *connection_for(std::span<const uint8_t> req)
{
    if (smb1_is_negotiate(req) || g_connection == nullptr) {
        vnb_fake_close(g_connection);
        g_connection = vnb_fake_open();
    }
    return g_connection;
}

}  // namespace

int fio_post(void *, const char *url, const char *body, const char *, char **out_body, long *out_status,
             char **out_error)
{
    if (out_body)
        *out_body = nullptr;
    char host[256];
    int port = 0;
    if (parse_smb_url(url, host, &port) != 0)  // checked, then not used
        return hostio_refuse(out_error, "bad smbrpc url");
    if (FakeModelLock model; !vnb_fake_loaded())
        return hostio_refuse(out_error, "no fake tree loaded");
    ByteBuffer msg{};
    if (!hostio_decode_body(body, &msg)) {
        vnb_buf_free(&msg);
        return hostio_refuse(out_error, "bad base64 body");
    }
    std::span<const uint8_t> req(msg.data, static_cast<size_t>(msg.len));
    ByteBuffer frame{};
    uint32_t n = 0;
    const char *wrong = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_guard);
        FakeModelLock model;
        FakeConnection *c = connection_for(req);
        if (c != nullptr && vnb_fake_drop_due()) {
            vnb_fake_close(g_connection);
            g_connection = nullptr;
            wrong = "connection closed by the peer";
        } else {
            wrong = c ? vnb_fake_checked_answer(c, req, &frame, &n) : "no fake tree loaded";
        }
    }
    vnb_buf_free(&msg);
    int result = wrong ? hostio_refuse(out_error, wrong)
                       : hostio_hand_over(std::span<const uint8_t>(frame.data + 4, n), out_body, out_status);
    vnb_buf_free(&frame);
    return result;
}

void fio_free(void *, void *pointer)
{
    std::free(pointer);
}
