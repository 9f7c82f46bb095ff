// READ_ANDX: file bytes at 64-bit offsets (Offset and OffsetHigh), and the
// queued answer of the srvsvc pipe.
#include <algorithm>

#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"

using namespace smb;

namespace {

constexpr size_t kOffFid = 37;
constexpr size_t kOffOffset = 39;
constexpr size_t kOffMaxCount = 43;
constexpr size_t kOffMaxCountHigh = 47;  // the low word of Timeout
constexpr size_t kOffOffsetHigh = 53;
constexpr size_t kDataOffset = 60;  // header, 12 words, ByteCount, one pad byte
// As Samba: a large read returns what fits a reply of 0x1FFFF bytes (the
// 17-bit NBSS length), however much more was asked for.
constexpr size_t kLargeReadMax = 0x1FFFF - kDataOffset;

// Reply words and the pad byte; the caller appends the data and then
// patches ByteCount with rp_bytes_end.
size_t begin_reply(FakeReply &rp, size_t count)
{
    ByteBuffer *b = &rp.msg;
    rp_words(rp, 12);
    vnb_buf_byte(b, 0xFF);
    vnb_buf_byte(b, 0);
    vnb_w16(b, 0);
    vnb_w16(b, 0);   // Available
    vnb_w16(b, 0);   // DataCompactionMode
    vnb_w16(b, 0);
    vnb_w16(b, static_cast<uint32_t>(count & 0xFFFF));
    vnb_w16(b, kDataOffset);
    vnb_w16(b, static_cast<uint32_t>(count >> 16));  // DataLengthHigh
    vnb_w64(b, 0);
    size_t bc = rp_bytes_begin(rp);
    vnb_buf_byte(b, 0);
    return bc;
}

void read_pipe(FakeHandle *h, size_t max, FakeReply &rp)
{
    const uint8_t *bytes = nullptr;
    bool more = false;
    size_t n = fake_pipe_take(h, max, &bytes, &more);
    if (n == 0) {
        rp_error(rp, kStatusPipeEmpty);
        return;
    }
    // A message-mode pipe read that ends inside a fragment says so.
    if (more)
        rp.status = STATUS_BUFFER_OVERFLOW;
    size_t bc = begin_reply(rp, n);
    vnb_buf_put(&rp.msg, bytes, n);
    rp_bytes_end(rp, bc);
}

}  // namespace

void fake_cmd_read(const FakeRequest &rq, FakeReply &rp)
{
    if (!rq.st.session) {
        rp_error(rp, STATUS_USER_SESSION_DELETED);
        return;
    }
    if ((rq.wc != 10 && rq.wc != 12) || !rq.words_ok) {
        rp_error(rp, STATUS_INVALID_HANDLE);
        return;
    }
    FakeHandle *h = fake_handle_by_fid(rq.st, rq.u16_at(kOffFid));
    size_t max = rq.u16_at(kOffMaxCount);
    if (h && h->is_pipe) {
        read_pipe(h, max, rp);
        return;
    }
    if (!h || !h->node || h->node->kind != kNodeFile) {
        rp_error(rp, STATUS_INVALID_HANDLE);
        return;
    }
    // A large read carries the high part of its count in MaxCountHigh.
    if (rq.st.large_read && rq.wc == 12)
        max = std::min(max | size_t{rq.u16_at(kOffMaxCountHigh)} << 16, kLargeReadMax);
    if (F.faults.read_cap > 0)
        max = std::min(max, static_cast<size_t>(F.faults.read_cap));
    uint64_t offset = rq.u32_at(kOffOffset);
    if (rq.wc == 12)
        offset |= uint64_t{rq.u32_at(kOffOffsetHigh)} << 32;
    auto size = static_cast<uint64_t>(h->node->size);
    size_t count = offset >= size ? 0 : static_cast<size_t>(std::min<uint64_t>(max, size - offset));

    size_t bc = begin_reply(rp, count);
    uint8_t chunk[4096];
    for (size_t done = 0; done < count;) {
        size_t n = std::min(count - done, sizeof chunk);
        for (size_t i = 0; i < n; i++)
            chunk[i] = fake_content_byte(h->node, offset + done + i);
        vnb_buf_put(&rp.msg, chunk, n);
        done += n;
    }
    rp_bytes_end(rp, bc);
}
