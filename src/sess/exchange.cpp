#include "sess/exchange.h"

#include <cstdio>
#include <cstring>

#include "net/net.h"
#include "sess/sess_sign.h"
#include "sess/session_state.h"
#include "sess/trace.h"
#include "util/error.h"
#include "util/status.h"

uint8_t g_rep[kMaxReply];
size_t g_rep_n;

namespace {

constexpr uint32_t kStatusPending = 0x00000103;
constexpr size_t kTraceBytes = 40;

// AndX requests whose reply may name a chained command instead of the
// request's own.
bool reply_command_may_differ(uint32_t command)
{
    switch (command) {
    case SMB_COM_READ_ANDX:
    case SMB_COM_SESSION_SETUP_ANDX:
    case SMB_COM_LOGOFF_ANDX:
    case SMB_COM_TREE_CONNECT_ANDX:
    case SMB_COM_NT_CREATE_ANDX:
        return true;
    default:
        return false;
    }
}

void trace_bad_header(const uint8_t *reply, size_t len)
{
    if (!sess_trace_on())
        return;
    std::fprintf(stderr, "[hdr-fail] n=%zu:", len);
    for (size_t i = 0; i < len && i < kTraceBytes; i++)
        std::fprintf(stderr, " %02x", reply[i]);
    std::fputc('\n', stderr);
}

int32_t bad_signature(uint32_t command)
{
    if (const char *name = smb_command_name(command))
        return vnb_fail(-2, "%s reply signature does not verify", name);
    return vnb_fail(-2, "command %02x reply signature does not verify", command);
}

}  // namespace

uint32_t sess_next_mid()
{
    uint32_t low = static_cast<uint32_t>(g_s.mid_counter & 0xFFFF);
    if (low == 0) {
        g_s.mid_counter += 2;
        return 1;
    }
    g_s.mid_counter += 1;
    return low;
}

int32_t req_send(uint32_t command, const uint8_t *words, size_t words_len, const uint8_t *bytes, size_t bytes_len,
                 uint32_t tid, int sign, PendingRequest *pending)
{
    if (!g_s.transport.connect)
        return vnb_fail(-5, "no transport");
    if (words_len > kMaxRequestWords || bytes_len > kMaxRequestBytes)
        return vnb_fail(-7, "a request does not fit one SMB1 frame");
    if ((!words && words_len) || (!bytes && bytes_len))
        return vnb_fail(-6, "invalid argument");

    PendingRequest p{};
    p.command = command & 0xFF;
    p.mid = sess_next_mid();

    ByteBuffer msg{};
    vnb_hdr_build(&msg, p.command, tid, g_s.uid, p.mid, static_cast<uint32_t>(words_len / 2));
    vnb_buf_put(&msg, words, words_len);
    vnb_w16(&msg, static_cast<uint32_t>(bytes_len));
    vnb_buf_put(&msg, bytes, bytes_len);
    if (msg.failed) {
        vnb_buf_free(&msg);
        return vnb_fail(-11, "out of memory");
    }

    // Each signed request takes the next sequence number, its reply the one
    // after that.
    if (sign && sess_signs()) {
        sess_sign(g_s.sign_seq, msg.data, static_cast<size_t>(msg.len));
        p.signed_reply = 1;
        p.reply_seq = g_s.sign_seq + 1;
        g_s.sign_seq += 2;
    }

    g_s.frames_sent += 1;
    int32_t rc = vnb_net_send(&g_s.transport, msg.data, static_cast<size_t>(msg.len));
    vnb_buf_free(&msg);
    if (rc == 0 && pending)
        *pending = p;
    return rc;
}

int32_t req_check(const PendingRequest *pending, const uint8_t *reply, size_t len, ParsedHeader *h)
{
    if (vnb_hdr_parse(reply, len, h) != 0) {
        trace_bad_header(reply, reply ? len : 0);
        return vnb_fail(-2, "the reply is not an SMB1 header (%u bytes)", static_cast<unsigned>(len));
    }
    if (h->mid != pending->mid)
        return vnb_fail(-2, "the reply mid %u answers another request (%u)", h->mid, pending->mid);
    if (h->command != pending->command && !reply_command_may_differ(pending->command))
        return vnb_fail(-2, "the reply command %02x does not answer %02x", h->command, pending->command);
    if (h->status_is_nt && h->status == kStatusPending)
        return vnb_fail(-2, "SMB1 has no async interim (PENDING status on the reply)");
    if (len > kMaxReply)
        return vnb_fail(-7, "the reply frame is %u bytes", static_cast<unsigned>(len));
    if (pending->signed_reply) {
        int ok = sess_verify(pending->reply_seq, reply, len);
        if (ok < 0)
            return vnb_fail(-11, "out of memory");
        if (ok == 0)
            return bad_signature(pending->command);
    }
    return 0;
}

int32_t req_recv(const PendingRequest *pending, ByteBuffer *reply, ParsedHeader *h)
{
    int32_t rc = vnb_net_recv(&g_s.transport, reply, g_s.timeout_ms);
    if (rc != 0)
        return rc;
    return req_check(pending, reply->data, static_cast<size_t>(reply->len), h);
}

int32_t frame_inner(uint32_t command, const uint8_t *words, size_t words_len, const uint8_t *bytes,
                    size_t bytes_len, uint32_t tid, int sign, ParsedHeader *h)
{
    ParsedHeader scratch;
    if (!h)
        h = &scratch;
    *h = ParsedHeader{};

    PendingRequest pending{};
    int32_t rc = req_send(command, words, words_len, bytes, bytes_len, tid, sign, &pending);
    if (rc != 0)
        return rc;

    ByteBuffer reply{};
    rc = req_recv(&pending, &reply, h);
    if (rc == 0) {
        std::memcpy(g_rep, reply.data, static_cast<size_t>(reply.len));
        g_rep_n = static_cast<size_t>(reply.len);
        h->body = g_rep + kSmbHeaderLen;
    } else {
        h->body = nullptr;  // the transient copy goes away
        h->body_len = 0;
    }
    vnb_buf_free(&reply);
    return rc;
}

int32_t vnb_frame(uint32_t command, const uint8_t *words, size_t words_len, const uint8_t *bytes, size_t bytes_len,
                  uint32_t tid, int sign, ParsedHeader *h)
{
    return frame_inner(command, words, words_len, bytes, bytes_len, tid, sign, h);
}

int32_t vnb_frame_keep(uint32_t command, const uint8_t *words, size_t words_len, const uint8_t *bytes,
                       size_t bytes_len, uint32_t tid, int sign, ParsedHeader *h)
{
    return frame_inner(command, words, words_len, bytes, bytes_len, tid, sign, h);
}

int32_t remember_status(const ParsedHeader *h)
{
    if (!h) {
        g_s.last_status = 0;
        g_s.last_status_nt = 1;
        g_s.last_code = 0;
        return 0;
    }
    g_s.last_status = h->status;
    g_s.last_status_nt = h->status_is_nt;
    g_s.last_code = vnb_status_code(h->status, h->status_is_nt);
    return g_s.last_code;
}

int32_t fail_status(const ParsedHeader *h, const char *what)
{
    int32_t code = remember_status(h);
    return vnb_fail(code != 0 ? code : -2, "%s: %s", what, vnb_status_name(h->status));
}

int32_t cmd_ok(uint32_t command, const uint8_t *words, size_t words_len, uint32_t tid, const char *name)
{
    ParsedHeader h;
    int32_t rc = frame_inner(command, words, words_len, nullptr, 0, tid, 1, &h);
    if (rc != 0)
        return rc;
    if (h.status != 0)
        return fail_status(&h, name);
    return 0;
}
