// TRANSACTION on \PIPE\ (TransactNmPipe) to the srvsvc pipe: DCE/RPC bind and
// NetShareEnumAll at level 1. An answer longer than one fragment is split into
// fragments of the size the bind negotiated; the TRANSACTION reply carries the
// first one with STATUS_BUFFER_OVERFLOW and READ_ANDX on the pipe's FID
// hands out the rest, one fragment (or the part that fits) per read.
#include <algorithm>
#include <cstring>

#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"
#include "util/text.h"

using namespace smb;

namespace {

constexpr uint8_t kSrvsvcUuid[16] = {0xc8, 0x4f, 0x32, 0x4b, 0x70, 0x16, 0xd3, 0x01,
                                     0x12, 0x78, 0x5a, 0x47, 0xbf, 0x6e, 0xe1, 0x88};
constexpr uint8_t kNdrSyntax[16] = {0x04, 0x5d, 0x88, 0x8a, 0xeb, 0x1c, 0xc9, 0x11,
                                   0x9f, 0xe8, 0x08, 0x00, 0x2b, 0x10, 0x48, 0x60};

enum : uint8_t { kPtypeRequest = 0, kPtypeResponse = 2, kPtypeFault = 3, kPtypeBind = 11, kPtypeBindAck = 12 };
enum : uint8_t { kFirstFrag = 0x01, kLastFrag = 0x02 };

constexpr uint32_t kFaultOpRange = 0x1C010003;    // nca_s_op_rng_error
constexpr uint32_t kFaultProtoError = 0x1C01000B;  // nca_proto_error
constexpr uint16_t kOpNetShareEnumAll = 15;
constexpr uint32_t kServerMaxFrag = 4280;
constexpr uint32_t kMinFrag = 1432;
constexpr uint32_t kAssocGroup = 0x53F0;
constexpr size_t kMinPdu = 16;
constexpr size_t kMaxPdu = 16384;

void d_u8(ByteBuffer *b, uint32_t v) { vnb_buf_byte(b, static_cast<int>(v & 0xFF)); }
void d_u16(ByteBuffer *b, uint32_t v) { vnb_w16(b, v); }
void d_u32(ByteBuffer *b, uint32_t v) { vnb_w32(b, v); }

void pdu_header(ByteBuffer *b, uint8_t ptype, uint8_t flags, uint32_t call_id)
{
    d_u8(b, 5);
    d_u8(b, 0);
    d_u8(b, ptype);
    d_u8(b, flags);
    d_u32(b, 0x00000010);  // little-endian, ASCII, IEEE
    d_u16(b, 0);           // frag_length, patched
    d_u16(b, 0);           // auth_length
    d_u32(b, call_id);
}

void patch_frag_length(ByteBuffer *b, size_t start)
{
    if (b->failed)
        return;
    size_t n = b->len - start;
    b->data[start + 8] = static_cast<uint8_t>(n);
    b->data[start + 9] = static_cast<uint8_t>(n >> 8);
}

void put_fault(ByteBuffer *b, uint32_t call_id, uint32_t status)
{
    size_t start = b->len;
    pdu_header(b, kPtypeFault, kFirstFrag | kLastFrag, call_id);
    d_u32(b, 0);  // alloc_hint
    d_u16(b, 0);  // context id
    d_u8(b, 0);   // cancel count
    d_u8(b, 0);
    d_u32(b, status);
    d_u32(b, 0);
    patch_frag_length(b, start);
}

// bind_ack for the first presentation context: accepted when it names
// srvsvc 3.0 with NDR 2 among its transfer syntaxes.
void put_bind_ack(ByteBuffer *b, const uint8_t *pdu, size_t n, uint32_t call_id, FakeHandle *h)
{
    LeReader r(pdu, n);
    uint32_t client_recv = r.u16_at(18);
    uint32_t assoc = r.u32_at(20);
    uint8_t contexts = r.u8_at(24);
    uint16_t result = 2;  // provider rejection
    uint16_t reason = 1;  // abstract syntax not supported
    if (!r.failed && contexts >= 1) {
        uint8_t syntaxes = r.u8_at(30);
        const uint8_t *abstract = r.at(32, 20);
        if (abstract && memcmp(abstract, kSrvsvcUuid, 16) == 0 && r.u16_at(48) == 3) {
            reason = 2;  // proposed transfer syntaxes not supported
            for (size_t i = 0; i < syntaxes; i++) {
                const uint8_t *ts = r.at(52 + 20 * i, 20);
                if (!ts)
                    break;
                if (memcmp(ts, kNdrSyntax, 16) == 0 && r.u32_at(52 + 20 * i + 16) == 2) {
                    result = 0;
                    reason = 0;
                    break;
                }
            }
        }
    }
    uint32_t frag = std::clamp<uint32_t>(client_recv, kMinFrag, kServerMaxFrag);
    if (result == 0) {
        h->pipe_bound = 1;
        h->pipe_frag = frag;
    }
    size_t start = b->len;
    pdu_header(b, kPtypeBindAck, kFirstFrag | kLastFrag, call_id);
    d_u16(b, frag);  // max_xmit_frag
    d_u16(b, frag);  // max_recv_frag
    d_u32(b, assoc ? assoc : kAssocGroup);
    static constexpr char kSecAddr[] = "\\PIPE\\srvsvc";
    d_u16(b, sizeof kSecAddr);
    vnb_buf_put(b, kSecAddr, sizeof kSecAddr);
    while (!b->failed && (b->len - start) % 4 != 0)
        d_u8(b, 0);
    d_u8(b, 1);  // one result
    d_u8(b, 0);
    d_u16(b, 0);
    d_u16(b, result);
    d_u16(b, reason);
    if (result == 0)
        vnb_buf_put(b, kNdrSyntax, 16);
    else
        vnb_buf_put(b, "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16);
    d_u32(b, result == 0 ? 2 : 0);
    patch_frag_length(b, start);
}

// NDR conformant varying string: counts in UTF-16 units with the NUL, then
// padding to 4 bytes.
void ndr_string(ByteBuffer *b, const char *text)
{
    uint8_t u16[256];
    int32_t n = 0;
    if (vnb_utf8_to_utf16le(text, u16, sizeof u16 - 2, &n) != 0)
        n = 0;
    uint32_t units = static_cast<uint32_t>(n) / 2 + 1;
    d_u32(b, units);
    d_u32(b, 0);
    d_u32(b, units);
    vnb_buf_put(b, u16, static_cast<uint64_t>(n));
    d_u16(b, 0);
    if (units % 2 != 0)
        d_u16(b, 0);
}

// The NetShareEnumAll level-1 stub: IPC$, then every share in tree order.
void fake_srvsvc_share_enum(ByteBuffer *b)
{
    uint32_t e = 1 + F.share_count;
    d_u32(b, 1);            // level
    d_u32(b, 1);            // switch
    d_u32(b, 0x00020000);   // container referent
    d_u32(b, e);            // EntriesRead
    d_u32(b, 0x00020004);   // array referent
    d_u32(b, e);            // maximum count
    for (uint32_t k = 0; k < e; k++) {
        d_u32(b, 0x00020008 + 12 * k);
        d_u32(b, k == 0 ? 3 : 0);  // STYPE_IPC, STYPE_DISKTREE
        d_u32(b, 0x00020008 + 12 * k + 4);
    }
    for (uint32_t k = 0; k < e; k++) {
        const char *name = k == 0 ? "IPC$" : F.shares[k - 1].name;
        ndr_string(b, name);
        ndr_string(b, k == 0 ? "IPC share" : "read-only share");
    }
    d_u32(b, e);  // TotalEntries
    d_u32(b, 0);  // ResumeHandle: NULL
    d_u32(b, 0);  // WERROR
}

// The response in fragments of at most `frag` bytes each.
void put_response(ByteBuffer *b, uint32_t call_id, uint32_t frag)
{
    ByteBuffer stub{};
    fake_srvsvc_share_enum(&stub);
    if (stub.failed) {
        b->failed = 1;
        vnb_buf_free(&stub);
        return;
    }
    size_t room = frag - 24;
    size_t done = 0;
    do {
        size_t n = std::min<size_t>(room, stub.len - done);
        uint8_t flags = (done == 0 ? kFirstFrag : 0) | (done + n == stub.len ? kLastFrag : 0);
        size_t start = b->len;
        pdu_header(b, kPtypeResponse, flags, call_id);
        d_u32(b, static_cast<uint32_t>(stub.len - done));  // alloc_hint
        d_u16(b, 0);
        d_u8(b, 0);
        d_u8(b, 0);
        vnb_buf_put(b, stub.data + done, n);
        patch_frag_length(b, start);
        done += n;
    } while (done < stub.len);
    vnb_buf_free(&stub);
}

// Queues the pipe's answer to one PDU (possibly none).
void answer(FakeHandle *h, std::span<const uint8_t> pdu)
{
    LeReader r(pdu);
    FakePipeQueue &q = h->pipe_out;
    vnb_buf_free(&q.data);
    q = FakePipeQueue{};
    uint8_t ptype = r.u8_at(2);
    uint32_t call_id = r.u32_at(12);
    fake_trace("[trans] ptype=%u call_id=%u bound=%d\n", ptype, call_id, h->pipe_bound);
    if (ptype == kPtypeBind) {
        put_bind_ack(&q.data, pdu.data(), pdu.size(), call_id, h);
    } else if (ptype == kPtypeRequest && pdu.size() >= 24) {
        if (!h->pipe_bound)
            put_fault(&q.data, call_id, kFaultProtoError);
        else if (r.u16_at(22) == kOpNetShareEnumAll)
            put_response(&q.data, call_id, h->pipe_frag);
        else
            put_fault(&q.data, call_id, kFaultOpRange);
    }
    if (q.data.failed) {
        vnb_buf_free(&q.data);
        q = FakePipeQueue{};
    }
}

}  // namespace

size_t fake_pipe_take(FakeHandle *h, size_t max, const uint8_t **bytes, bool *more)
{
    FakePipeQueue &q = h->pipe_out;
    *bytes = nullptr;
    *more = false;
    if (q.pos >= q.data.len || max == 0)
        return 0;
    if (q.pos >= q.msg_end) {
        size_t frag = LeReader(q.data.data, q.data.len).u16_at(q.pos + 8);
        q.msg_end = q.pos + std::max<size_t>(frag, 1);
        q.msg_end = std::min<uint64_t>(q.msg_end, q.data.len);
    }
    size_t n = std::min<uint64_t>(max, q.msg_end - q.pos);
    *bytes = q.data.data + q.pos;
    q.pos += n;
    *more = q.pos < q.msg_end;
    return n;
}

bool fake_pipe_pending(const FakeHandle *h)
{
    return h->pipe_out.pos < h->pipe_out.data.len;
}

void fake_cmd_transaction(const FakeRequest &rq, FakeReply &rp)
{
    if (!rq.st.session) {
        fake_trace("[trans-out] no session\n");
        rp_error(rp, STATUS_OBJECT_NAME_NOT_FOUND);
        return;
    }
    FakeTrans tr;
    if (fake_trans_parse(rq, &tr) != 0) {
        fake_trace("[trans-out] bad words\n");
        rp_error(rp, STATUS_INVALID_PARAMETER);
        return;
    }
    if (tr.setup_count == 0 && fake_is_lanman(rq, tr)) {
        if (rq.tid != kIpcTid)
            rp_error(rp, STATUS_OBJECT_NAME_NOT_FOUND);
        else
            fake_rap_answer(tr, rp);
        return;
    }
    LeReader setup(tr.setup);
    uint16_t function = tr.setup_count >= 2 ? setup.u16_at(0) : 0;
    fake_trace("[trans-out] setup_count=%u sw=0x%04x\n", tr.setup_count, function);
    if (function != kTransactNmPipe) {
        rp_error(rp, STATUS_OBJECT_NAME_NOT_FOUND);
        return;
    }
    if (rq.tid != kIpcTid) {
        fake_trace("[trans-out] tid=%u not IPC\n", rq.tid);
        rp_error(rp, STATUS_OBJECT_NAME_NOT_FOUND);
        return;
    }
    FakeHandle *h = fake_handle_by_fid(rq.st, setup.u16_at(2));
    if (!h || !h->is_pipe) {
        rp_error(rp, STATUS_INVALID_HANDLE);
        return;
    }
    LeReader pdu(tr.data);
    size_t n = tr.data.size();
    size_t frag_length = pdu.u16_at(8);
    if (n < kMinPdu || n > kMaxPdu || pdu.u8_at(0) != 5 || frag_length > n) {
        fake_trace("[trans-out] no data dcnt=%zu\n", n);
        rp_error(rp, STATUS_OBJECT_NAME_NOT_FOUND);
        return;
    }
    answer(h, tr.data.first(std::max<size_t>(frag_length, kMinPdu)));

    const uint8_t *bytes = nullptr;
    bool more = false;
    size_t got = fake_pipe_take(h, fake_trans_data_room(rq.st, tr, 0), &bytes, &more);
    if (fake_pipe_pending(h))
        rp.status = STATUS_BUFFER_OVERFLOW;
    fake_trans_reply(rp, nullptr, 0, bytes, got);
}
