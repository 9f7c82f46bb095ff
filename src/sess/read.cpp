// READ_ANDX: one chunk of a file at a 64-bit offset.
#include <algorithm>
#include <cstring>

#include "sess/tree_file.h"
#include "util/error.h"
#include "util/le_reader.h"
#include "util/status.h"

namespace {

constexpr uint32_t kReplyWords = 12;
constexpr uint32_t kHeaderSlack = 64;  // what a reply needs beside the data

// Reply offsets, counted from the start of the message.
constexpr size_t kOffDataLength = 43;
constexpr size_t kOffDataOffset = 45;
constexpr size_t kOffDataLengthHigh = 47;

static_assert(kLargeReadChunk + kHeaderSlack <= kMaxReply, "a large READ reply fits the receive buffer");
static_assert(kLargeReadChunk + kHeaderSlack <= 0xFFFFFF, "a large READ reply fits one NBSS frame");

}  // namespace

uint32_t read_chunk_size(const Session &s)
{
    // CAP_LARGE_READX, which SESSION_SETUP asked for when the server offered
    // it, lets one READ_ANDX return more than the server's buffer.
    uint32_t chunk = kDefaultReadChunk;
    if (s.capabilities & smb::kCapLargeReadX)
        chunk = kLargeReadChunk;
    else if (s.max_buffer > kHeaderSlack)
        chunk = std::min(s.max_buffer - kHeaderSlack, kMaxReadChunk);
    // A server that answered a READ short inside the file has shown the most
    // it returns at once: asking for more only leaves gaps to fill.
    if (s.read_cap != 0)
        chunk = std::min(chunk, std::max(s.read_cap, kDefaultReadChunk));
    return chunk;
}

void read_words(uint32_t fid, uint64_t offset, uint32_t n, ByteBuffer *words)
{
    vnb_buf_byte(words, 0xFF);  // AndXCommand: none
    vnb_buf_byte(words, 0);
    vnb_w16(words, 0);
    vnb_w16(words, fid);
    vnb_w32(words, static_cast<uint32_t>(offset));
    vnb_w16(words, n & 0xFFFF);  // MaxCountOfBytesToReturn
    vnb_w16(words, n & 0xFFFF);  // MinCountOfBytesToReturn
    vnb_w32(words, n >> 16);     // Timeout, whose low word is MaxCountHigh for a large read
    vnb_w16(words, 0);           // Remaining
    vnb_w32(words, static_cast<uint32_t>(offset >> 32));  // OffsetHigh
}

int32_t read_post(Session &s, uint32_t tid, uint32_t fid, uint64_t offset, uint32_t n, SmbRequest &req)
{
    if (n > 0xFFFF && !(s.capabilities & smb::kCapLargeReadX))
        return vnb_fail(-6, "a READ of %u bytes needs large reads", n);
    ByteBuffer words{};
    read_words(fid, offset, n, &words);
    int32_t rc = words.failed ? vnb_fail(-11, "out of memory")
                              : req_send(s, smb::READ_ANDX, buf_span(words), {}, tid, true, req);
    vnb_buf_free(&words);
    return rc;
}

int32_t read_send(Session &s, uint32_t tid, uint32_t fid, uint64_t offset, uint32_t n, SmbRequest &req)
{
    int32_t rc = read_post(s, tid, fid, offset, n, req);
    if (rc == 0)
        rc = req_await(s, req);
    if (rc != 0)
        remember_status(s, &req.header);
    return rc;
}

int32_t read_reply_data(std::span<const uint8_t> msg, uint32_t asked, std::span<const uint8_t> &data, size_t at)
{
    data = {};
    LeReader r(msg.data(), msg.size());
    uint32_t wc = r.u8_at(at);
    if (wc < kReplyWords)
        return vnb_fail(-2, "READ reply WordCount %u", wc);
    // The byte block starts after the words and ByteCount.
    size_t block = at + 1 + 2 * size_t{wc} + 2;
    if (block > msg.size())
        return vnb_fail(-2, "READ reply words lie outside the frame");

    // The offsets count from a reply of its own; DataOffset from the header.
    const size_t shift = at - smb::kHeaderLen;
    uint32_t count = r.u16_at(shift + kOffDataLength);
    uint32_t offset = r.u16_at(shift + kOffDataOffset);
    // DataLengthHigh counts only when more than 64 KiB were asked for: older
    // servers leave stray bits there.
    if (asked > 0xFFFF)
        count |= uint32_t{r.u16_at(shift + kOffDataLengthHigh)} << 16;
    if (count > asked)
        return vnb_fail(-2, "READ reply carries %u bytes for %u asked", count, asked);
    if (count == 0)
        return 0;
    if (offset < block || count > msg.size() - std::min<size_t>(offset, msg.size()))
        return vnb_fail(-2, "READ reply data lies outside the frame");
    data = msg.subspan(offset, count);
    return 0;
}

int32_t vnb_do_read(Session &s, uint32_t tid, uint32_t fid, uint64_t offset, uint8_t *dest, int32_t capacity)
{
    if (capacity <= 0)
        return vnb_fail(-6, "read length must be positive");
    uint32_t n = std::min(read_chunk_size(s), static_cast<uint32_t>(capacity));

    SmbRequest req;
    int32_t rc = read_send(s, tid, fid, offset, n, req);
    if (rc != 0)
        return rc;
    const ParsedHeader &h = req.header;
    if (h.status != 0) {
        if (hdr_status_means(h, STATUS_END_OF_FILE)) {
            remember_status(s, &h);
            return 0;
        }
        return fail_status(s, h, "READ");
    }

    std::span<const uint8_t> data;
    rc = read_reply_data(req.message(), n, data);
    if (rc != 0)
        return rc;
    if (dest && !data.empty())
        std::memcpy(dest, data.data(), data.size());
    return static_cast<int32_t>(data.size());
}
