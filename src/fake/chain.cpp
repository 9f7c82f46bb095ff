// AndX chains: TREE_CONNECT behind SESSION_SETUP and READ behind NT_CREATE,
// answered in the same reply as a server does; the no_chain and chain_fault
// switches make the server refuse them or bend the reply.
#include <algorithm>
#include <cstring>

#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"

using namespace smb;

namespace {

constexpr uint8_t kNoAndx = 0xFF;
constexpr size_t kOffAndxCommand = kOffWords;
constexpr size_t kOffAndxOffset = kOffWords + 2;
constexpr size_t kLinkAlign = 4;
// Inside a link: the FID of a READ request, the FID of an NT_CREATE
// answer and the DataOffset of a READ answer.
constexpr size_t kReadFid = 1 + 4;
constexpr size_t kCreateFid = 1 + 5;
constexpr size_t kReadDataOffset = 1 + 12;

bool chain_allowed(uint8_t first, uint8_t second)
{
    return (first == SESSION_SETUP_ANDX && second == TREE_CONNECT_ANDX) ||
           (first == NT_CREATE_ANDX && second == READ_ANDX);
}

// The chained request as a message of its own: the header of the whole,
// then its link from WordCount through its bytes.
bool lift_link(const FakeRequest &rq, size_t at, uint8_t command, ByteBuffer *out)
{
    LeReader r = rq.reader();
    const uint8_t *wc = r.peek(at, 1);
    if (!wc)
        return false;
    size_t count_at = at + 1 + 2 * size_t{*wc};
    const uint8_t *bc = r.peek(count_at, 2);
    if (!bc)
        return false;
    size_t end = std::min(rq.len, count_at + 2 + vnb_r16(bc));
    vnb_buf_put(out, rq.msg, kHeaderLen);
    vnb_buf_put(out, rq.msg + at, end - at);
    if (out->failed)
        return false;
    out->data[kOffCommand] = command;
    return true;
}

void put16(ByteBuffer &b, size_t off, uint32_t v)
{
    if (off + 2 <= b.len) {
        b.data[off] = static_cast<uint8_t>(v);
        b.data[off + 1] = static_cast<uint8_t>(v >> 8);
    }
}

// Bends the finished chained reply as chain_fault says; second_at is where
// the second answer starts.
void bend(FakeReply &rp, size_t first_end, size_t second_at)
{
    switch (F.faults.chain_fault) {
    case 1: put16(rp.msg, kOffAndxOffset, kOffWords); break;
    case 2: put16(rp.msg, kOffAndxOffset, static_cast<uint32_t>(rp.msg.len + 8)); break;
    case 3: put16(rp.msg, kOffAndxOffset, static_cast<uint32_t>(first_end - 1)); break;
    case 4: rp.msg.len = second_at; break;
    case 5: put16(rp.msg, second_at + 1 + 2 * size_t{rp.msg.data[second_at]}, 0xFFF0); break;
    default: break;
    }
}

}  // namespace

void fake_answer_chain(const FakeRequest &rq, FakeReply &rp)
{
    if (rq.wc < 2 || !rq.words_ok || !rq.bytes_ok)
        return;
    const uint8_t next = rq.u8_at(kOffAndxCommand);
    if (next == kNoAndx || !chain_allowed(rq.command, next))
        return;
    F.calls[next]++;
    // Only an answer with words goes on: an error ends the chain.
    if (rp.status != 0 || rp.msg.len <= kOffAndxOffset + 1 || rp.msg.data[kOffWordCount] < 2)
        return;
    if (F.faults.no_chain == 2)
        return;
    const size_t at = rq.u16_at(kOffAndxOffset);
    const size_t first_end = rp.msg.len;
    const size_t second_at = (first_end + kLinkAlign - 1) / kLinkAlign * kLinkAlign;

    FakeReply second{};
    second.tid = rq.tid;
    second.send = true;
    ByteBuffer lifted{};
    if (F.faults.no_chain == 1 || at < rq.bytes_off + rq.bytes_len || !lift_link(rq, at, next, &lifted)) {
        fake_put_header(&second.msg, rq);
        rp_error(second, F.faults.no_chain == 1 ? STATUS_NOT_SUPPORTED : STATUS_INVALID_PARAMETER);
    } else {
        // The chained request acts on what the first gave: the session
        // just set up, the file just opened.
        if (next == TREE_CONNECT_ANDX)
            put16(lifted, kOffUid, rq.st.uid);
        if (next == READ_ANDX)
            put16(lifted, kHeaderLen + kReadFid, vnb_r16(rp.msg.data + kHeaderLen + kCreateFid));
        FakeRequest chained = fake_parse_request(rq.st, lifted.data, lifted.len);
        second.tid = chained.tid;
        fake_put_header(&second.msg, chained);
        fake_dispatch(chained, second);
    }
    vnb_buf_free(&lifted);

    while (!rp.msg.failed && rp.msg.len < second_at)
        vnb_buf_byte(&rp.msg, 0);
    if (second.msg.len > kHeaderLen)
        vnb_buf_put(&rp.msg, second.msg.data + kHeaderLen, second.msg.len - kHeaderLen);
    vnb_buf_free(&second.msg);
    for (int i = 0; i < second.more_count; i++)
        vnb_buf_free(&second.more[i]);
    if (rp.msg.failed)
        return;
    rp.msg.data[kOffAndxCommand] = next;
    put16(rp.msg, kOffAndxOffset, static_cast<uint32_t>(second_at));
    // A READ answer's DataOffset counts from the header: the data moved.
    if (next == READ_ANDX && second.status == 0 && rp.msg.data[second_at] >= 7) {
        size_t off = second_at + kReadDataOffset;
        put16(rp.msg, off, vnb_r16(rp.msg.data + off) + static_cast<uint32_t>(second_at - kHeaderLen));
    }
    rp.status = second.status;
    rp.tid = second.tid;
    bend(rp, first_end, second_at);
}
