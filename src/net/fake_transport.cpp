// The fake kind of Transport: each request message goes to the in-process
// fake server, whose answer is kept until the exchange collects it.
#include <cstdio>

#include "fake/fake.h"
#include "net/net_internal.h"
#include "util/error.h"
#include "util/text.h"

namespace {

// The fake kind has no context, so its unanswered outcomes are process-wide.
PendingQueue g_fake_pending;

constexpr size_t kShortestFakeFrame = 36;  // NBSS header and an SMB1 header + 0 words

}  // namespace

int fake_connect(void *, const char *host, int, int)
{
    if (host != nullptr && vnb_casecmp(host, "fake") == 0)
        return vnb_fake_loaded() ? 0 : -1;
    vnb_set_error("no fake server for %.200s", host ? host : "");
    return -1;
}

int fake_write(void *, const uint8_t *, size_t)
{
    return 0;
}

int fake_read(void *, uint8_t *, size_t, int)
{
    return 0;
}

void fake_close(void *)
{
}

bool fake_is(const Transport *t)
{
    return t->connect == fake_connect;
}

const char *fake_answer(const uint8_t *req, size_t req_len, ByteBuffer *frame, uint32_t *msg_len)
{
    static constexpr uint8_t kNoBytes[1] = {0};
    vnb_fake_handle_frame(req_len ? req : kNoBytes, req_len, frame);
    if (frame->len == 0)
        return "the fake server produced no reply";
    if (frame->len < kShortestFakeFrame)
        return "fake reply too short";
    // Byte 0 (the NBSS type) is the fake's own business and is not checked.
    const uint8_t *h = frame->data;
    uint32_t n = (uint32_t{h[1]} << 16) | (uint32_t{h[2]} << 8) | h[3];
    if (frame->len < uint64_t{n} + 4)
        return "fake NBSS length lies";
    *msg_len = n;
    return nullptr;
}

int32_t fake_send(const uint8_t *req, size_t req_len)
{
    PendingReply *p = pending_new();
    if (p == nullptr)
        return vnb_fail(-11, "out of memory");
    ByteBuffer frame{};
    uint32_t n = 0;
    if (const char *wrong = fake_answer(req, req_len, &frame, &n)) {
        p->code = -2;
        std::snprintf(p->text, sizeof p->text, "%s", wrong);
    } else {
        if (req_len)
            dump_bytes("VNSMB1C_DUMPREQ", req, req_len);
        dump_bytes("VNSMB1C_DUMPREP", frame.data, static_cast<size_t>(frame.len));
        vnb_buf_put(&p->reply, frame.data + 4, n);
        if (p->reply.failed) {
            vnb_buf_free(&p->reply);
            p->code = -11;
            std::snprintf(p->text, sizeof p->text, "out of memory");
        }
    }
    vnb_buf_free(&frame);
    pending_push(&g_fake_pending, p);
    return 0;
}

int32_t fake_recv(ByteBuffer *reply)
{
    return pending_take(&g_fake_pending, reply, "no fake reply is pending");
}

int vnb_net_io_fake(Transport *t)
{
    if (t == nullptr)
        return -1;
    // A new fake transport starts without answers left over from an old one.
    pending_clear(&g_fake_pending);
    *t = Transport{nullptr, fake_connect, fake_write, fake_read, fake_close};
    return 0;
}
