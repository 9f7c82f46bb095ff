// Frame handling: the checks every request passes, signing, the refusal of
// write-class commands, dispatch to the command handlers and the reply frame.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "crypto/smb_sign.h"
#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"
#include "util/text.h"

using namespace smb;

namespace {

// Commands that would change the tree; the server refuses and counts them.
bool write_class(uint8_t cmd)
{
    switch (cmd) {
    case CREATE_DIRECTORY:
    case DELETE_DIRECTORY:
    case CREATE:
    case DELETE:
    case RENAME:
    case SET_INFORMATION:
    case WRITE:
    case CREATE_TEMPORARY:
    case CREATE_NEW:
    case WRITE_AND_UNLOCK:
    case WRITE_RAW:
    case WRITE_MPX:
    case WRITE_COMPLETE:
    case SET_INFORMATION2:
    case WRITE_ANDX:
    case NT_RENAME:
    case WRITE_PRINT_FILE:
        return true;
    default:
        return false;
    }
}

}  // namespace

FakeRequest fake_parse_request(FakeServerState &st, const uint8_t *req, size_t len)
{
    FakeRequest rq{st, req, len};
    LeReader r(req, len);
    rq.command = r.u8_at(kOffCommand);
    rq.flags2 = r.u16_at(kOffFlags2);
    rq.tid = r.u16_at(kOffTid);
    rq.uid = r.u16_at(kOffUid);
    rq.mid = r.u16_at(kOffMid);
    rq.unicode = (rq.flags2 & kFlags2Unicode) != 0;
    if (len > kOffWordCount) {
        rq.wc = r.u8_at(kOffWordCount);
        size_t words_end = kOffWords + 2 * size_t{rq.wc};
        rq.words_ok = words_end <= len;
        if (words_end + 2 <= len) {
            size_t bc = r.u16_at(words_end);
            rq.bytes_off = words_end + 2;
            rq.bytes_ok = bc <= len - rq.bytes_off;
            rq.bytes_len = rq.bytes_ok ? bc : len - rq.bytes_off;
        }
    }
    return rq;
}

void fake_put_header(ByteBuffer *b, const FakeRequest &rq)
{
    vnb_buf_put(b, kProtocol, sizeof kProtocol);
    vnb_buf_byte(b, rq.command);
    vnb_w32(b, 0);                       // Status, patched at the end
    vnb_buf_byte(b, kFlagsReply);
    vnb_w16(b, 0);                       // Flags2, patched at the end
    vnb_w16(b, rq.u16_at(kOffPidHigh));
    vnb_w64(b, 0);                       // SecuritySignature
    vnb_w16(b, 0);
    vnb_w16(b, rq.tid);
    vnb_w16(b, rq.u16_at(kOffPid));
    vnb_w16(b, rq.uid);
    vnb_w16(b, rq.mid);
}

namespace {

// DOS error form: for a client without CAP_STATUS32, or always when the
// server has no NT statuses.
bool dos_form_replies(const FakeServerState &st)
{
    return st.dos_errors || F.faults.dos_errors;
}

uint16_t reply_flags2(const FakeRequest &rq)
{
    const FakeServerState &st = rq.st;
    uint16_t f = dos_form_replies(st) ? kFlags2LongNames : kFlags2NtStatus | kFlags2LongNames;
    if (rq.unicode)
        f |= kFlags2Unicode;
    if (st.ext_security)
        f |= kFlags2ExtSecurity;
    return f;
}

}  // namespace

void fake_dispatch(const FakeRequest &rq, FakeReply &rp)
{
    switch (rq.command) {
    case NEGOTIATE: fake_cmd_negotiate(rq, rp); break;
    case SESSION_SETUP_ANDX: fake_cmd_session_setup(rq, rp); break;
    case LOGOFF_ANDX: fake_cmd_logoff(rq, rp); break;
    case TREE_CONNECT_ANDX: fake_cmd_tree_connect(rq, rp); break;
    case TREE_DISCONNECT: fake_cmd_tree_disconnect(rq, rp); break;
    case NT_CREATE_ANDX: fake_cmd_nt_create(rq, rp); break;
    case READ_ANDX: fake_cmd_read(rq, rp); break;
    case CLOSE: fake_cmd_close(rq, rp); break;
    case TRANSACTION: fake_cmd_transaction(rq, rp); break;
    case TRANSACTION2: fake_cmd_transaction2(rq, rp); break;
    case FIND_CLOSE2: fake_cmd_find_close2(rq, rp); break;
    default: rp_error(rp, STATUS_REQUEST_NOT_SUPPORTED); break;
    }
}

namespace {

void vtrace(const char *var, const char *fmt, va_list ap)
{
    if (!getenv(var))
        return;
    vfprintf(stderr, fmt, ap);
}

}  // namespace

void fake_trace(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vtrace("VNSMB1C_TRACE", fmt, ap);
    va_end(ap);
}

void fake_dbg(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vtrace("VNSMB1C_DBG", fmt, ap);
    va_end(ap);
}

void rp_error(FakeReply &rp, uint32_t status)
{
    if (rp.msg.len > kHeaderLen)
        rp.msg.len = kHeaderLen;
    rp.status = status;
    vnb_buf_byte(&rp.msg, 0);  // WordCount
    vnb_w16(&rp.msg, 0);       // ByteCount
}

void rp_words(FakeReply &rp, uint8_t wc)
{
    vnb_buf_byte(&rp.msg, wc);
}

size_t rp_bytes_begin(FakeReply &rp)
{
    size_t at = rp.msg.len;
    vnb_w16(&rp.msg, 0);
    return at;
}

void rp_bytes_end(FakeReply &rp, size_t bc_at)
{
    // A READ of 65535 bytes (and its pad byte) cannot state its ByteCount;
    // the count saturates and the reader goes by DataLength.
    uint64_t n = rp.msg.len - bc_at - 2;
    rp_put16_at(rp, bc_at, static_cast<uint32_t>(n > 0xFFFF ? 0xFFFF : n));
}

void rp_align(FakeReply &rp, size_t to)
{
    while (!rp.msg.failed && rp.msg.len % to != 0)
        vnb_buf_byte(&rp.msg, 0);
}

void rp_put16_at(FakeReply &rp, size_t off, uint32_t v)
{
    if (rp.msg.failed || off + 2 > rp.msg.len)
        return;
    rp.msg.data[off] = static_cast<uint8_t>(v);
    rp.msg.data[off + 1] = static_cast<uint8_t>(v >> 8);
}

void rp_put32_at(FakeReply &rp, size_t off, uint32_t v)
{
    rp_put16_at(rp, off, v & 0xFFFF);
    rp_put16_at(rp, off + 2, v >> 16);
}

void rp_string(FakeReply &rp, const char *text, bool unicode, bool align)
{
    if (!unicode) {
        uint8_t oem[512];
        size_t n = 0;
        if (vnb_utf8_to_oem(kFakeCodePage, text, oem, sizeof oem, &n) != 0)
            n = 0;
        vnb_buf_put(&rp.msg, oem, n);
        vnb_buf_byte(&rp.msg, 0);
        return;
    }
    if (align)
        rp_align(rp, 2);
    uint8_t u16[512];
    int32_t n = 0;
    if (vnb_utf8_to_utf16le(text, u16, sizeof u16, &n) != 0)
        n = 0;
    vnb_buf_put(&rp.msg, u16, static_cast<uint64_t>(n));
    vnb_w16(&rp.msg, 0);
}

uint32_t fake_max_mpx()
{
    constexpr uint32_t kDefaultMpx = 10;
    int32_t n = F.faults.max_mpx;
    return n > 0 && n <= 0xFFFF ? static_cast<uint32_t>(n) : kDefaultMpx;
}

size_t fake_reply_limit(const FakeServerState &st)
{
    if (st.client_max_buffer == 0)
        return 65535;
    return st.client_max_buffer < 512 ? 512 : st.client_max_buffer;
}

int32_t fake_read_string(const FakeRequest &rq, size_t off, size_t end, bool unicode, char *out, int32_t cap,
                         size_t *next)
{
    if (end > rq.len)
        end = rq.len;
    if (off > end || cap < 1)
        return -1;
    std::span<const uint8_t> p = rq.block(off, end - off);
    size_t avail = p.size();
    size_t n = 0;
    size_t term = 0;
    if (unicode) {
        while (n + 2 <= avail && (p[n] | p[n + 1]) != 0)
            n += 2;
        term = n + 2 <= avail ? 2 : 0;
        if (term == 0 && n < avail)
            return -1;  // half a code unit at the end
    } else {
        while (n < avail && p[n] != 0)
            n++;
        term = n < avail ? 1 : 0;
    }
    if (next)
        *next = off + n + term;
    if (unicode)
        return vnb_utf16_to_utf8(p.data(), n, out, cap);
    if (vnb_oem_to_utf8(kFakeCodePage, p.data(), n, out, static_cast<size_t>(cap)) != 0)
        return -1;
    return static_cast<int32_t>(strlen(out));
}

void vnb_fake_answer(FakeConnection *c, const uint8_t *req, size_t len, ByteBuffer *out)
{
    if (!c || !F.loaded || !out)
        return;
    FakeServerState &st = c->st;
    if (c->generation != F.generation) {
        // Another tree was loaded: what this connection had open is gone.
        fake_close_all_handles(st);
        fake_close_all_searches(st);
        c->generation = F.generation;
    }
    if (F.faults.garbage > 0) {
        F.faults.garbage--;
        vnb_buf_put(out, "garbage", 7);
        return;
    }
    if (!req || len < kHeaderLen || memcmp(req, kProtocol, sizeof kProtocol) != 0)
        return;

    FakeRequest rq = fake_parse_request(st, req, len);
    st.last_tid = rq.tid;
    st.unicode = rq.unicode ? 1 : 0;
    st.tick++;
    F.calls[rq.command]++;
    fake_trace("[hdr] cmd=%02x flags2=%04x u16=%d\n", rq.command, rq.flags2, st.unicode);

    FakeReply rp{};
    rp.tid = rq.tid;
    rp.send = true;
    fake_put_header(&rp.msg, rq);

    // Requests on a signing connection carry the next sequence number; the
    // reply takes the one after it. NEGOTIATE starts a new connection.
    bool signed_reply = false;
    uint32_t reply_seq = 0;
    bool verified = true;
    if (st.sign_active && rq.command != NEGOTIATE) {
        uint32_t seq = st.seq;
        st.seq += 2;
        reply_seq = seq + 1;
        signed_reply = true;
        verified = vnb_sign_verify(st.mac_key, st.mac_key_len, seq, req, len) == 1;
        if (!verified)
            fake_trace("[sign] bad signature on cmd=%02x seq=%u\n", rq.command, seq);
    }

    bool forget = F.faults.forget_session > 0 && st.uid != 0 && rq.command != NEGOTIATE &&
                  rq.command != SESSION_SETUP_ANDX;
    if (forget) {
        F.faults.forget_session = 0;
        rp_error(rp, STATUS_USER_SESSION_DELETED);
    } else if (!verified) {
        rp_error(rp, STATUS_ACCESS_DENIED);
    } else if (write_class(rq.command)) {
        F.writes++;
        rp_error(rp, STATUS_ACCESS_DENIED);
    } else if (len == kHeaderLen && rq.command != CLOSE) {
        rp_error(rp, STATUS_INVALID_PARAMETER);  // not even a WordCount
    } else if (F.faults.no_unicode && rq.unicode && rq.command != NEGOTIATE) {
        // A server without Unicode cannot read UTF-16 names; it refuses
        // rather than guess.
        rp_error(rp, STATUS_INVALID_PARAMETER);
    } else {
        fake_dispatch(rq, rp);
        fake_answer_chain(rq, rp);
    }
    // A server that does what a client leaving asks but never says so.
    if (F.faults.silent_leave && (rq.command == CLOSE || rq.command == TREE_DISCONNECT || rq.command == LOGOFF_ANDX))
        rp.send = false;

    // Every message of the reply is finished alike; the secondary responses
    // of a transaction carry the same signing sequence number.
    auto send_message = [&](ByteBuffer &msg) {
        if (!rp.send || msg.failed || msg.len < kHeaderLen || msg.len > 0xFFFFFF)
            return;
        uint8_t *m = msg.data;
        auto put16 = [m](size_t off, uint32_t v) {
            m[off] = static_cast<uint8_t>(v);
            m[off + 1] = static_cast<uint8_t>(v >> 8);
        };
        uint32_t status = dos_form_replies(st) ? dos_form(rp.status) : rp.status;
        put16(kOffStatus, status & 0xFFFF);
        put16(kOffStatus + 2, status >> 16);
        put16(kOffFlags2, reply_flags2(rq));
        put16(kOffTid, rp.tid);
        if (rq.command == SESSION_SETUP_ANDX && st.uid != 0)
            put16(kOffUid, st.uid);
        if (rp.sign_seq1)
            vnb_sign_frame(st.mac_key, st.mac_key_len, 1, m, msg.len);
        else if (signed_reply && st.sign_active)
            vnb_sign_frame(st.mac_key, st.mac_key_len, reply_seq, m, msg.len);
        size_t n = msg.len;
        uint8_t nbss[4] = {0, static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
        vnb_buf_put(out, nbss, 4);
        vnb_buf_put(out, m, n);
    };
    send_message(rp.msg);
    for (int i = 0; i < rp.more_count; i++) {
        send_message(rp.more[i]);
        vnb_buf_free(&rp.more[i]);
    }
    vnb_buf_free(&rp.msg);
    // Forgotten after the (still signed) answer went out.
    if (forget)
        fake_end_session(st);
}
