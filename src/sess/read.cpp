// READ_ANDX: one chunk of a file at a 64-bit offset.
#include <algorithm>
#include <cstring>

#include "sess/exchange.h"
#include "sess/session_state.h"
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

}  // namespace

uint32_t read_chunk_size()
{
    if (g_s.max_buffer <= kHeaderSlack)
        return kDefaultReadChunk;
    return std::min(g_s.max_buffer - kHeaderSlack, kMaxReadChunk);
}

int32_t read_send(uint32_t tid, uint32_t fid, uint64_t offset, uint32_t n, ParsedHeader *h)
{
    ByteBuffer words{};
    vnb_buf_byte(&words, 0xFF);  // AndXCommand: none
    vnb_buf_byte(&words, 0);
    vnb_w16(&words, 0);
    vnb_w16(&words, fid);
    vnb_w32(&words, static_cast<uint32_t>(offset));
    vnb_w16(&words, n);          // MaxCountOfBytesToReturn
    vnb_w16(&words, n);          // MinCountOfBytesToReturn
    vnb_w32(&words, 0);          // Timeout
    vnb_w16(&words, 0);          // Remaining
    vnb_w32(&words, static_cast<uint32_t>(offset >> 32));  // OffsetHigh

    *h = ParsedHeader{};
    int32_t rc = words.failed ? vnb_fail(-11, "out of memory")
                              : frame_inner(SMB_COM_READ_ANDX, words.data, static_cast<size_t>(words.len), nullptr,
                                            0, tid, 1, h);
    vnb_buf_free(&words);
    if (rc != 0)
        remember_status(h);
    return rc;
}

int32_t read_reply_data(uint32_t asked, const uint8_t **data, uint32_t *len)
{
    *data = nullptr;
    *len = 0;
    LeReader r(g_rep, g_rep_n);
    uint32_t wc = r.u8_at(kSmbHeaderLen);
    if (wc < kReplyWords)
        return vnb_fail(-2, "READ reply WordCount %u", wc);
    // The byte block starts after the words and ByteCount.
    size_t block = kSmbHeaderLen + 1 + 2 * size_t{wc} + 2;
    if (block > g_rep_n)
        return vnb_fail(-2, "READ reply words lie outside the frame");

    uint32_t count = r.u16_at(kOffDataLength);
    uint32_t offset = r.u16_at(kOffDataOffset);
    if (count > asked)
        return vnb_fail(-2, "READ reply carries %u bytes for %u asked", count, asked);
    if (count == 0)
        return 0;
    if (offset < block || count > g_rep_n - std::min<size_t>(offset, g_rep_n))
        return vnb_fail(-2, "READ reply data lies outside the frame");
    *data = g_rep + offset;
    *len = count;
    return 0;
}

int32_t vnb_do_read(uint32_t tid, uint32_t fid, uint64_t offset, uint8_t *dest, int32_t capacity)
{
    if (capacity <= 0)
        return vnb_fail(-6, "read length must be positive");
    uint32_t n = std::min(read_chunk_size(), static_cast<uint32_t>(capacity));

    ParsedHeader h;
    int32_t rc = read_send(tid, fid, offset, n, &h);
    if (rc != 0)
        return rc;
    if (h.status != 0) {
        if (h.status == STATUS_END_OF_FILE) {
            remember_status(&h);
            return 0;
        }
        return fail_status(&h, "READ");
    }

    const uint8_t *data = nullptr;
    uint32_t len = 0;
    rc = read_reply_data(n, &data, &len);
    if (rc != 0)
        return rc;
    if (dest && len)
        std::memcpy(dest, data, len);
    return static_cast<int32_t>(len);
}
