// The exchange of one SMB1 request message for one reply message over a
// Transport record. The relay and fake kinds are recognised by their connect
// operation (the relay kind also by its context); every other transport is a
// byte stream carrying NBSS frames.
#include <cstdio>
#include <cstdlib>

#include "net/net_internal.h"
#include "util/error.h"

namespace {

int32_t stream_send(Transport *t, const uint8_t *req, size_t req_len)
{
    if (req_len != 0 && nbss_write(t, req, req_len) != 0)
        return -1;
    return 0;
}

int32_t stream_recv(Transport *t, ByteBuffer *reply, int timeout_ms)
{
    uint32_t len = 0;
    int32_t rc = nbss_read_header(t, timeout_ms, &len);
    // A zero-length session message is skipped once; a second one is not.
    if (rc == 0 && len == 0)
        rc = nbss_read_header(t, timeout_ms, &len);
    if (rc != 0)
        return rc;
    if (len < kMinMessage)
        return vnb_fail(-2, "NBSS frame shorter than an SMB1 header");
    rc = read_exact(t, reply, len, timeout_ms);
    if (rc != 0)
        return rc;
    if (reply->len)
        dump_frame("VNSMB1C_DUMPREP", reply->data, static_cast<size_t>(reply->len));
    return 0;
}

}  // namespace

int32_t vnb_net_send(Transport *t, const uint8_t *req, size_t req_len)
{
    if (t == nullptr || (req == nullptr && req_len != 0))
        return vnb_fail(-6, "invalid argument");
    dump_frame("VNSMB1C_DUMP", req, req_len);
    if (relay_is(t))
        return relay_send(t, req, req_len);
    if (fake_is(t))
        return fake_send(req, req_len);
    if (t->write == nullptr || t->read == nullptr)
        return vnb_fail(-1, "no transport installed");
    return stream_send(t, req, req_len);
}

int32_t vnb_net_recv(Transport *t, ByteBuffer *reply, int timeout_ms)
{
    if (t == nullptr || reply == nullptr)
        return vnb_fail(-6, "invalid argument");
    if (relay_is(t))
        return relay_recv(t, reply);
    if (fake_is(t))
        return fake_recv(reply);
    if (t->write == nullptr || t->read == nullptr)
        return vnb_fail(-1, "no transport installed");
    return stream_recv(t, reply, timeout_ms);
}

int32_t vnb_net_frame(Transport *t, const uint8_t *req, size_t req_len, ByteBuffer *reply, int timeout_ms)
{
    int32_t rc = vnb_net_send(t, req, req_len);
    if (rc != 0)
        return rc;
    return vnb_net_recv(t, reply, timeout_ms);
}
