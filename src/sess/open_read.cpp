// Opening a file with its first bytes: READ_ANDX chained behind
// NT_CREATE_ANDX, so that the first read of a file the caller is about to
// read costs no round trip of its own.
#include <algorithm>

#include "sess/andx_chain.h"
#include "sess/trans.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/status.h"
#include "util/smb1_wire.h"

namespace {

// What a chained reply carries beside the data: the header, the open's
// answer, alignment and the read's words, with room to spare.
constexpr uint32_t kChainReplySlack = 256;
// The chained read's FID: the server reads the file the open just opened.
constexpr uint32_t kChainedFid = 0xFFFF;

// The READ on its own after a refused chain. When it goes through (or finds
// the end of the file), the server refused the chain, not the read.
void read_alone(Session &s, uint32_t tid, uint32_t fid, uint32_t want, std::vector<uint8_t> *head)
{
    head->resize(want);
    int32_t n = vnb_do_read(s, tid, fid, 0, head->data(), static_cast<int32_t>(want));
    head->resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (n >= 0)
        s.chain_refused.read = true;
}

}  // namespace

uint32_t head_read_size(const Session &s)
{
    if (s.read_ahead <= 0)
        return 0;
    uint32_t room = vnb_client_max_buffer(s);
    if (room <= kChainReplySlack)
        return 0;
    return std::min(read_chunk_size(s), room - kChainReplySlack);
}

int32_t vnb_create_file_reading(Session &s, uint32_t tid, const char *path, uint32_t *fid, uint64_t *size,
                                int64_t *mtime_ms, const char *label, uint32_t want, std::vector<uint8_t> *head)
{
    head->clear();
    if (want == 0 || s.chain_refused.read)
        return vnb_create_file(s, tid, path, 0, fid, size, mtime_ms, label);

    ByteBuffer words{};
    ByteBuffer bytes{};
    ByteBuffer read{};
    int32_t rc = create_request(s, path, 0, label, &words, &bytes);
    read_words(kChainedFid, 0, want, &read);
    if (rc == 0 && read.failed)
        rc = vnb_fail(-11, "out of memory");
    const size_t first_end = smb::kHeaderLen + 1 + words.len + 2 + bytes.len;
    if (rc == 0 && !chain_fits(s, (first_end + 3) / 4 * 4 + 1 + read.len + 2)) {
        vnb_buf_free(&words);
        vnb_buf_free(&bytes);
        vnb_buf_free(&read);
        return vnb_create_file(s, tid, path, 0, fid, size, mtime_ms, label);
    }
    SmbRequest req;
    if (rc == 0)
        rc = chain_exchange(s, {smb::NT_CREATE_ANDX, buf_span(words), buf_span(bytes)},
                            {smb::READ_ANDX, buf_span(read), {}}, tid, true, req);
    vnb_buf_free(&words);
    vnb_buf_free(&bytes);
    vnb_buf_free(&read);
    if (rc != 0) {
        remember_status(s, &req.header);
        return rc;
    }

    AndxLink links[kMaxAndxLinks];
    int32_t n = andx_links(req.message(), links);
    if (n < 0)
        return n;
    const ParsedHeader &h = req.header;
    if (n == 1 && h.status != 0)
        return fail_status(s, h, label);  // the open itself failed
    if (n >= 2 && links[1].command != smb::READ_ANDX)
        return vnb_fail(-2, "chained reply: command %02x answers READ", links[1].command);
    uint32_t opened = 0;
    if ((rc = create_reply_read(req.message(), &opened, size, mtime_ms)) != 0)
        return rc;
    if (fid)
        *fid = opened;

    if (n >= 2 && h.status == 0) {
        std::span<const uint8_t> data;
        if ((rc = read_reply_data(req.message(), want, data, links[1].at)) != 0) {
            // The file is open: its handle goes back before the failure.
            vnb_post_close(s, tid, opened);
            return rc;
        }
        head->assign(data.begin(), data.end());
        remember_status(s, nullptr);
        return 0;
    }
    if (n >= 2 && hdr_status_means(h, STATUS_END_OF_FILE)) {
        remember_status(s, nullptr);
        return 0;  // an empty file
    }
    // The reply answered the open alone, or refused the read behind it.
    read_alone(s, tid, opened, want, head);
    remember_status(s, nullptr);
    return 0;
}
