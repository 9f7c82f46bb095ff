#include "sess/exchange.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "net/clock.h"
#include "sess/lifecycle.h"
#include "sess/sess_sign.h"
#include "sess/trace.h"
#include "util/error.h"
#include "util/status.h"
#include "util/smb1_wire.h"

namespace {

constexpr size_t kTraceBytes = 40;

// AndX requests whose reply may name a chained command instead of the
// request's own.
bool reply_command_may_differ(uint32_t command)
{
    switch (command) {
    case smb::READ_ANDX:
    case smb::SESSION_SETUP_ANDX:
    case smb::LOGOFF_ANDX:
    case smb::TREE_CONNECT_ANDX:
    case smb::NT_CREATE_ANDX:
        return true;
    default:
        return false;
    }
}

void trace_bad_header(std::span<const uint8_t> reply)
{
    if (!sess_trace_on())
        return;
    std::fprintf(stderr, "[hdr-fail] n=%zu:", reply.size());
    for (size_t i = 0; i < reply.size() && i < kTraceBytes; i++)
        std::fprintf(stderr, " %02x", reply[i]);
    std::fputc('\n', stderr);
}

int32_t bad_signature(uint32_t command)
{
    if (const char *name = smb_command_name(command))
        return vnb_fail(-2, "%s reply signature does not verify", name);
    return vnb_fail(-2, "command %02x reply signature does not verify", command);
}

void forget(Session &s, SmbRequest &req)
{
    std::erase(s.in_flight, &req);
    req.session = nullptr;
}

SmbRequest *outstanding(Session &s, uint32_t mid)
{
    for (SmbRequest *req : s.in_flight)
        if (req->mid == mid)
            return req;
    return nullptr;
}

// Receives one reply and files it with its request. A reply that cannot be
// filed leaves its header with the request waited for (when there is one),
// so that its status can still be recorded; a request whose reply fails its
// checks keeps the failure and no longer waits (its reply stays empty).
int32_t take_reply(Session &s, SmbRequest *awaited)
{
    ByteBuffer &msg = s.rx;
    if (int32_t rc = sess_check_stop(s); rc != 0)
        return rc;
    bool by_limit = false;
    int32_t rc = s.transport->recv(msg, sess_wait_ms(s, &by_limit));
    if (rc != 0) {
        // The connection is gone, the server went silent or the call was
        // stopped: whatever of it was under way belongs to no one now.
        rc = sess_note_failure(s, rc, by_limit);
        if (rc == -1 || rc == -12)
            sess_mark_broken(s, s.failure);
        return rc;
    }
    const std::span<const uint8_t> view(msg.data, static_cast<size_t>(msg.len));

    ParsedHeader h;
    if (vnb_hdr_parse(view, &h) != 0) {
        trace_bad_header(view);
        return vnb_fail(-2, "the reply is not an SMB1 header (%u bytes)", static_cast<unsigned>(view.size()));
    }
    SmbRequest *owner = outstanding(s, h.mid);
    if (owner == nullptr)
        rc = awaited != nullptr ? vnb_fail(-2, "the reply mid %u answers another request (%u)", h.mid, awaited->mid)
                                : vnb_fail(-2, "the reply mid %u answers no outstanding request", h.mid);
    else
        rc = req_check(s, *owner, view, &h);
    if (rc != 0) {
        if (awaited != nullptr)
            awaited->header = h;
        if (owner != nullptr) {
            owner->error = rc;
            forget(s, *owner);
        }
        return rc;
    }
    // The buffers trade places: once every record has grown one of its own,
    // a steady stream of replies neither allocates nor copies.
    std::swap(owner->reply, msg);
    owner->header = h;
    owner->answered = true;
    forget(s, *owner);
    return 0;
}

}  // namespace

int sess_wait_ms(const Session &s, bool *by_limit)
{
    int wait = s.timeout_ms;
    if (s.wait_cap_ms > 0)
        wait = std::min(wait, s.wait_cap_ms);
    bool limited = false;
    if (s.call_deadline_ms != 0) {
        int64_t left = static_cast<int64_t>(s.call_deadline_ms) - static_cast<int64_t>(vnb_now_ms());
        if (left < wait) {
            wait = static_cast<int>(std::max<int64_t>(left, 0));
            limited = true;
        }
    }
    if (by_limit != nullptr)
        *by_limit = limited;
    return wait;
}

int32_t sess_note_failure(Session &s, int32_t rc, bool by_limit)
{
    s.failure = s.transport ? s.transport->failure() : Failure::broken;
    if (s.failure == Failure::cancelled || s.signal.stop_requested()) {
        s.failure = Failure::cancelled;
        return vnb_fail(-12, "cancelled");
    }
    if (s.failure == Failure::timed_out && by_limit) {
        s.failure = Failure::deadline;
        return vnb_fail(-1, "timed out: the call did not end within its limit of %d ms", s.call_limit_ms);
    }
    return rc;
}

int32_t sess_check_stop(Session &s)
{
    if (s.signal.stop_requested()) {
        s.failure = Failure::cancelled;
        sess_mark_broken(s, Failure::cancelled);
        return vnb_fail(-12, "cancelled");
    }
    if (s.call_deadline_ms != 0 && vnb_now_ms() >= s.call_deadline_ms) {
        s.failure = Failure::deadline;
        sess_mark_broken(s, Failure::deadline);
        return vnb_fail(-1, "timed out: the call did not end within its limit of %d ms", s.call_limit_ms);
    }
    return 0;
}

SmbRequest::~SmbRequest()
{
    if (session != nullptr)
        std::erase(session->in_flight, this);
    vnb_buf_free(&reply);
}

uint32_t sess_next_mid(Session &s)
{
    uint32_t low = static_cast<uint32_t>(s.mid_counter & 0xFFFF);
    if (low == 0) {
        s.mid_counter += 2;
        return 1;
    }
    s.mid_counter += 1;
    return low;
}

int32_t req_send(Session &s, uint32_t command, std::span<const uint8_t> words, std::span<const uint8_t> bytes,
                 uint32_t tid, bool sign, SmbRequest &req)
{
    if (words.size() > kMaxRequestWords || bytes.size() > kMaxRequestBytes)
        return vnb_fail(-7, "a request does not fit one SMB1 frame");
    ByteBuffer msg{};
    vnb_hdr_build(&msg, s.flags2, command & 0xFF, tid, s.uid, 0, static_cast<uint32_t>(words.size() / 2));
    vnb_buf_put(&msg, words.data(), words.size());
    vnb_w16(&msg, static_cast<uint32_t>(bytes.size()));
    vnb_buf_put(&msg, bytes.data(), bytes.size());
    int32_t rc = req_send_built(s, msg, sign, req);
    vnb_buf_free(&msg);
    return rc;
}

int32_t req_send_built(Session &s, ByteBuffer &msg, bool sign, SmbRequest &req)
{
    if (!s.transport)
        return vnb_fail(-5, "no transport");
    if (msg.failed || msg.len < smb::kHeaderLen)
        return vnb_fail(-11, "out of memory");
    if (req.session != nullptr)
        return vnb_fail(-6, "the request is still waiting for its reply");
    if (int32_t rc = sess_check_stop(s); rc != 0)
        return rc;
    // One request at a time on a transport that answers each before the next.
    while (!s.transport->pipelines() && !s.in_flight.empty()) {
        int32_t rc = take_reply(s, s.in_flight.front());
        if (rc != 0)
            return rc;
    }

    req.command = msg.data[smb::kOffCommand];
    req.mid = sess_next_mid(s);
    req.signed_reply = false;
    req.reply_seq = 0;
    req.answered = false;
    req.error = 0;
    req.reply.len = 0;
    req.header = ParsedHeader{};
    msg.data[smb::kOffMid] = static_cast<uint8_t>(req.mid);
    msg.data[smb::kOffMid + 1] = static_cast<uint8_t>(req.mid >> 8);

    // Each signed request takes the next sequence number, its reply the one
    // after that.
    if (sign && sess_signs(s)) {
        sess_sign(s, s.sign_seq, msg.data, static_cast<size_t>(msg.len));
        req.signed_reply = true;
        req.reply_seq = s.sign_seq + 1;
        s.sign_seq += 2;
    }

    vnb_count_frame();
    int32_t rc = s.transport->send(buf_span(msg));
    if (rc != 0) {
        rc = sess_note_failure(s, rc, false);
        if (rc == -1 || rc == -12)
            sess_mark_broken(s, s.failure == Failure::cancelled ? Failure::cancelled : Failure::broken);
        return rc;
    }
    req.session = &s;
    s.in_flight.push_back(&req);
    return 0;
}

int32_t req_check(Session &s, const SmbRequest &req, std::span<const uint8_t> reply, ParsedHeader *h)
{
    if (vnb_hdr_parse(reply, h) != 0) {
        trace_bad_header(reply);
        return vnb_fail(-2, "the reply is not an SMB1 header (%u bytes)", static_cast<unsigned>(reply.size()));
    }
    if (h->mid != req.mid)
        return vnb_fail(-2, "the reply mid %u answers another request (%u)", h->mid, req.mid);
    if (h->command != req.command && !reply_command_may_differ(req.command))
        return vnb_fail(-2, "the reply command %02x does not answer %02x", h->command, req.command);
    if (h->status_is_nt && h->status == smb::kStatusPending)
        return vnb_fail(-2, "SMB1 has no async interim (PENDING status on the reply)");
    if (reply.size() > kMaxReply)
        return vnb_fail(-7, "the reply frame is %u bytes", static_cast<unsigned>(reply.size()));
    if (req.signed_reply) {
        int ok = sess_verify(s, req.reply_seq, reply);
        if (ok < 0)
            return vnb_fail(-11, "out of memory");
        if (ok == 0)
            return bad_signature(req.command);
    }
    return 0;
}

int32_t req_await(Session &s, SmbRequest &req)
{
    while (!req.answered)
        if (int32_t rc = req_await_step(s, req); rc != 0)
            return rc;
    return 0;
}

int32_t req_await_more(Session &s, SmbRequest &req)
{
    if (!req.answered || req.session != nullptr)
        return vnb_fail(-6, "the request has no reply to follow");
    req.answered = false;
    req.reply.len = 0;
    req.header = ParsedHeader{};
    req.session = &s;
    s.in_flight.push_back(&req);
    int32_t rc = req_await(s, req);
    if (rc != 0)
        forget(s, req);
    return rc;
}

int32_t req_await_step(Session &s, SmbRequest &req)
{
    if (req.answered)
        return 0;
    if (req.error != 0)
        return req.error;
    if (req.session != &s)
        return vnb_fail(-6, "the request was not sent on this session");
    return take_reply(s, &req);
}

int32_t req_take_one(Session &s)
{
    if (s.in_flight.empty())
        return vnb_fail(-6, "no request is waiting for its reply");
    return take_reply(s, nullptr);
}

size_t sess_window(const Session &s)
{
    if (!s.transport || !s.transport->pipelines() || s.max_mpx <= 2)
        return 1;
    return s.max_mpx - 1;
}

int32_t exchange(Session &s, uint32_t command, std::span<const uint8_t> words, std::span<const uint8_t> bytes,
                 uint32_t tid, bool sign, SmbRequest &req)
{
    int32_t rc = req_send(s, command, words, bytes, tid, sign, req);
    if (rc != 0)
        return rc;
    rc = req_await(s, req);
    if (rc != 0)
        forget(s, req);
    return rc;
}

int32_t req_post(Session &s, uint32_t command, std::span<const uint8_t> words, uint32_t tid)
{
    // Records whose replies came (or whose connection ended) go first.
    std::erase_if(s.posted, [](const std::unique_ptr<SmbRequest> &r) { return r->session == nullptr; });
    while (s.posted.size() >= kMaxPosted) {
        SmbRequest &oldest = *s.posted.front();
        if (int32_t rc = req_await(s, oldest); rc != 0)
            return rc;
        s.posted.erase(s.posted.begin());
    }
    // The server takes no more requests at once than it said.
    while (!s.in_flight.empty() && s.in_flight.size() >= sess_window(s))
        if (int32_t rc = req_take_one(s); rc != 0)
            return rc;
    auto req = std::make_unique<SmbRequest>();
    if (int32_t rc = req_send(s, command, words, {}, tid, true, *req); rc != 0)
        return rc;
    s.posted.push_back(std::move(req));
    return 0;
}

int32_t remember_status(Session &s, const ParsedHeader *h)
{
    if (!h) {
        s.last_status = 0;
        s.last_status_nt = 1;
        s.last_code = 0;
        return 0;
    }
    s.last_status = h->status;
    s.last_status_nt = h->status_is_nt;
    s.last_code = vnb_status_code(h->status, h->status_is_nt);
    if (sess_status_forgets(h->status))
        sess_mark_broken(s, Failure::broken);
    return s.last_code;
}

int32_t fail_status(Session &s, const ParsedHeader &h, const char *what)
{
    int32_t code = remember_status(s, &h);
    return vnb_fail(code != 0 ? code : -2, "%s: %s", what, vnb_status_name(h.status));
}

int32_t cmd_ok(Session &s, uint32_t command, std::span<const uint8_t> words, uint32_t tid, const char *name)
{
    SmbRequest req;
    int32_t rc = exchange(s, command, words, {}, tid, true, req);
    if (rc != 0)
        return rc;
    if (req.header.status != 0)
        return fail_status(s, req.header, name);
    return 0;
}
