#include "sess/trans.h"

#include <algorithm>
#include <cstring>

#include "util/error.h"
#include "util/le_reader.h"

namespace {

constexpr uint32_t kMaxSetupWords = 16;
constexpr uint32_t kReplyWordsFixed = 10;  // reply parameter words before the setup words
constexpr size_t kByteBlockStart = smb::kHeaderLen + 1 + 2;  // plus the words: header, WordCount, ByteCount
// Slack for a server that counts the 4-byte NBSS header against MaxBufferSize.
constexpr uint32_t kNbssSlack = 4;
constexpr uint32_t kMaxPad = 3;

// Reply word offsets (counted from the start of the message).
constexpr size_t kOffTotalParamCount = 33;
constexpr size_t kOffTotalDataCount = 35;
constexpr size_t kOffParamCount = 39;
constexpr size_t kOffParamOffset = 41;
constexpr size_t kOffParamDisplacement = 43;
constexpr size_t kOffDataCount = 45;
constexpr size_t kOffDataOffset = 47;
constexpr size_t kOffDataDisplacement = 49;

void pad_to_4(ByteBuffer *bytes, size_t block_start)
{
    while ((block_start + bytes->len) % 4 != 0 && !bytes->failed)
        vnb_buf_byte(bytes, 0);
}

// The Name field: UTF-16LE on a 16-bit boundary under the Unicode bit, else
// 8-bit; terminated either way. A NULL name is the empty name.
int32_t put_name(const Session &s, ByteBuffer *bytes, size_t block_start, const char *name)
{
    if (!name)
        name = "";
    if (!vnb_sess_unicode(s)) {
        vnb_buf_put(bytes, name, std::strlen(name) + 1);
        return 0;
    }
    if ((block_start + bytes->len) % 2 != 0)
        vnb_buf_byte(bytes, 0);
    for (const char *p = name; *p; p++) {
        // Transaction names are ASCII ("\PIPE\", "\MAILSLOT\...").
        if (static_cast<unsigned char>(*p) >= 0x80)
            return vnb_fail(-6, "transaction name is not ASCII");
        vnb_w16(bytes, static_cast<unsigned char>(*p));
    }
    vnb_w16(bytes, 0);
    return 0;
}

bool block_inside(uint32_t offset, uint32_t count, size_t msg_len)
{
    if (count == 0)
        return true;
    return offset != 0 && offset <= msg_len && count <= msg_len - offset;
}

}  // namespace

uint32_t vnb_client_max_buffer(const Session &s)
{
    return std::clamp(s.max_buffer, kClientMaxBuffer, kClientMaxBufferMost);
}

uint32_t vnb_trans_reply_room(const Session &s, uint32_t max_param_count)
{
    if (!s.transport || !s.transport->one_message_per_reply())
        return 0xFFFF;
    uint64_t overhead = smb::kHeaderLen + 1 + 2 * uint64_t{kReplyWordsFixed} + 2 + 2 * kMaxPad + kNbssSlack +
                        max_param_count;
    uint32_t buffer = vnb_client_max_buffer(s);
    if (overhead >= buffer)
        return 0;
    return std::min<uint32_t>(0xFFFF, static_cast<uint32_t>(buffer - overhead));
}

int vnb_sess_unicode(const Session &s)
{
    uint32_t flags2 = s.flags2 ? s.flags2 : kFlags2Default;
    return (flags2 & smb::kFlags2Unicode) != 0 ? 1 : 0;
}

int32_t vnb_trans_build(const Session &s, const TransRequest *req, ByteBuffer *words, ByteBuffer *bytes)
{
    if (!req || !words || !bytes || req->setup_count > kMaxSetupWords || (req->setup_count && !req->setup) ||
        (req->params_len && !req->params) || (req->data_len && !req->data) ||
        (req->command != smb::TRANSACTION && req->command != smb::TRANSACTION2))
        return vnb_fail(-6, "invalid transaction request");
    if (req->params_len > kMaxRequestBytes || req->data_len > kMaxRequestBytes)
        return vnb_fail(-7, "a request does not fit one SMB1 frame");

    // The byte block follows the header, WordCount, 14 + setup words and ByteCount.
    size_t block_start = kByteBlockStart + 2 * (14 + size_t{req->setup_count});
    int32_t rc = put_name(s, bytes, block_start, req->command == smb::TRANSACTION ? req->name : nullptr);
    if (rc != 0)
        return rc;
    pad_to_4(bytes, block_start);
    size_t param_offset = block_start + bytes->len;
    vnb_buf_put(bytes, req->params, req->params_len);
    size_t data_offset = 0;
    if (req->data_len) {
        pad_to_4(bytes, block_start);
        data_offset = block_start + bytes->len;
        vnb_buf_put(bytes, req->data, req->data_len);
    }
    if (bytes->len > kMaxRequestBytes)
        return vnb_fail(-7, "a request does not fit one SMB1 frame");

    uint32_t max_data = std::min(req->max_data_count, vnb_trans_reply_room(s, req->max_param_count));
    vnb_w16(words, static_cast<uint32_t>(req->params_len));  // TotalParameterCount
    vnb_w16(words, static_cast<uint32_t>(req->data_len));    // TotalDataCount
    vnb_w16(words, std::min<uint32_t>(req->max_param_count, 0xFFFF));
    vnb_w16(words, max_data);
    vnb_buf_byte(words, 0);  // MaxSetupCount
    vnb_buf_byte(words, 0);  // Reserved1
    vnb_w16(words, 0);       // Flags
    vnb_w32(words, static_cast<uint32_t>(s.timeout_ms));
    vnb_w16(words, 0);       // Reserved2
    vnb_w16(words, static_cast<uint32_t>(req->params_len));
    vnb_w16(words, static_cast<uint32_t>(param_offset));
    vnb_w16(words, static_cast<uint32_t>(req->data_len));
    vnb_w16(words, static_cast<uint32_t>(data_offset));
    vnb_buf_byte(words, static_cast<int>(req->setup_count));
    vnb_buf_byte(words, 0);  // Reserved3
    for (uint32_t i = 0; i < req->setup_count; i++)
        vnb_w16(words, req->setup[i]);
    if (words->failed || bytes->failed)
        return vnb_fail(-11, "out of memory");
    return 0;
}

int32_t vnb_trans_exchange(Session &s, const TransRequest *req, SmbRequest &reply)
{
    ByteBuffer words{};
    ByteBuffer bytes{};
    int32_t rc = vnb_trans_build(s, req, &words, &bytes);
    if (rc == 0)
        rc = exchange(s, req->command, buf_span(words), buf_span(bytes), req->tid, true, reply);
    vnb_buf_free(&words);
    vnb_buf_free(&bytes);
    return rc;
}

namespace {

// Reads one message of a reply: its counts, displacements and blocks, each
// block inside the message. Pointers into the message.
TransFault read_part(std::span<const uint8_t> msg, TransReply *out)
{
    LeReader r(msg.data(), msg.size());
    out->word_count = r.u8_at(smb::kHeaderLen);
    if (r.failed || out->word_count < kReplyWordsFixed)
        return TransFault::word_count;
    // The words and ByteCount must be there before any of them is believed.
    if (!r.at(smb::kHeaderLen + 1, 2 * size_t{out->word_count} + 2))
        return TransFault::words_outside;

    out->total_param_count = r.u16_at(kOffTotalParamCount);
    out->total_data_count = r.u16_at(kOffTotalDataCount);
    out->param_count = r.u16_at(kOffParamCount);
    out->param_offset = r.u16_at(kOffParamOffset);
    out->param_disp = r.u16_at(kOffParamDisplacement);
    out->data_count = r.u16_at(kOffDataCount);
    out->data_offset = r.u16_at(kOffDataOffset);
    out->data_disp = r.u16_at(kOffDataDisplacement);
    out->params = nullptr;
    out->data = nullptr;
    if (!block_inside(out->param_offset, out->param_count, msg.size()))
        return TransFault::params_outside;
    out->params = out->param_count ? msg.data() + out->param_offset : nullptr;
    if (!block_inside(out->data_offset, out->data_count, msg.size()))
        return TransFault::data_outside;
    out->data = out->data_count ? msg.data() + out->data_offset : nullptr;
    return TransFault::none;
}

// One message that carries everything from the start (a total below what
// it carries is taken as the count).
bool whole(const TransReply &r)
{
    return r.param_disp == 0 && r.data_disp == 0 && r.total_param_count <= r.param_count &&
           r.total_data_count <= r.data_count;
}

// Appends a part's block where the parts before it ended. An empty block's
// displacement means nothing (Samba sends 0 there).
bool join(std::vector<uint8_t> &joined, uint32_t total, uint32_t disp, const uint8_t *block, uint32_t count)
{
    if (count == 0)
        return true;
    if (disp != joined.size() || count > total - joined.size())
        return false;
    // resize and copy rather than a range insert, whose unoptimised form
    // would export a standard-library symbol from the shared library
    size_t at = joined.size();
    joined.resize(at + count);
    std::memcpy(joined.data() + at, block, count);
    return true;
}

// The blocks as joined so far, counted as the reply's.
void point_at_joined(TransReply *out)
{
    out->param_count = static_cast<uint32_t>(out->joined_params.size());
    out->data_count = static_cast<uint32_t>(out->joined_data.size());
    out->params = out->joined_params.empty() ? nullptr : out->joined_params.data();
    out->data = out->joined_data.empty() ? nullptr : out->joined_data.data();
}

}  // namespace

TransFault vnb_trans_reply_read(std::span<const uint8_t> msg, size_t min_params, TransReply *out)
{
    out->parts = 1;
    TransFault f = read_part(msg, out);
    if (f == TransFault::word_count || f == TransFault::words_outside)
        return f;
    // One message answers the request only when it carries everything from
    // the start; anything else is one part of a split reply.
    if (!whole(*out)) {
        out->params = out->data = nullptr;
        return TransFault::split;
    }
    if (out->param_count < min_params)
        return TransFault::few_params;
    return f;
}

int32_t vnb_trans_reply_take(Session &s, SmbRequest &req, size_t min_params, const char *what, TransReply *out)
{
    TransFault f = vnb_trans_reply_read(req.message(), min_params, out);
    if (f != TransFault::split)
        return f == TransFault::none ? 0 : vnb_trans_fail(what, f, out);

    // A split reply: the parts follow one another, each block continuing
    // exactly where it ended, until both blocks hold their totals.
    f = read_part(req.message(), out);
    if (f != TransFault::none)
        return vnb_trans_fail(what, f, out);
    const uint32_t total_params = out->total_param_count;
    const uint32_t total_data = out->total_data_count;
    const uint32_t status = req.header.status;
    out->rest_announced = out->param_count < total_params || out->data_count < total_data;
    std::vector<uint8_t> &params = out->joined_params;
    std::vector<uint8_t> &data = out->joined_data;
    params.reserve(total_params);
    data.reserve(total_data);
    int32_t rc = 0;
    for (;;) {
        const size_t have_params = params.size();
        const size_t have_data = data.size();
        bool nothing_new = out->parts > 1 && out->param_count == 0 && out->data_count == 0;
        if (nothing_new || !join(params, total_params, out->param_disp, out->params, out->param_count) ||
            !join(data, total_data, out->data_disp, out->data, out->data_count)) {
            rc = vnb_fail(-2,
                          "%s reply part %u does not continue where the parts before it ended (parameters %u+%u, "
                          "data %u+%u, after %zu of %u and %zu of %u bytes)",
                          what, out->parts, out->param_disp, out->param_count, out->data_disp, out->data_count,
                          have_params, total_params, have_data, total_data);
            break;
        }
        if (params.size() == total_params && data.size() == total_data)
            break;
        rc = req_await_more(s, req);
        if (rc != 0)
            break;
        out->parts++;
        f = read_part(req.message(), out);
        if (f != TransFault::none) {
            rc = vnb_trans_fail(what, f, out);
            break;
        }
        if (out->total_param_count != total_params || out->total_data_count != total_data) {
            rc = vnb_fail(-2, "%s reply part %u changes the totals from %u and %u to %u and %u bytes", what,
                          out->parts, total_params, total_data, out->total_param_count, out->total_data_count);
            break;
        }
        if (req.header.status != status) {
            rc = vnb_fail(-2, "%s reply part %u changes the status from %08x to %08x", what, out->parts, status,
                          req.header.status);
            break;
        }
    }
    out->total_param_count = total_params;
    out->total_data_count = total_data;
    point_at_joined(out);
    if (params.size() < std::max<size_t>(min_params, total_params))
        out->params = nullptr;  // not sound: nothing is read from them
    if (rc == 0 && out->param_count < min_params)
        rc = vnb_trans_fail(what, TransFault::few_params, out);
    return rc;
}

int32_t vnb_trans_fail(const char *what, TransFault fault, const TransReply *r)
{
    TransReply none{};
    if (!r)
        r = &none;
    switch (fault) {
    case TransFault::word_count:
        return vnb_fail(-2, "%s reply WordCount %u", what, r->word_count);
    case TransFault::words_outside:
        return vnb_fail(-2, "%s reply words lie outside the frame", what);
    case TransFault::split:
        return vnb_fail(-2,
                        "%s reply is split over several messages (%u of %u parameter bytes, %u of %u data bytes)",
                        what, r->param_count, r->total_param_count, r->data_count, r->total_data_count);
    case TransFault::few_params:
        return vnb_fail(-2, "%s reply carries %u parameter bytes", what, r->param_count);
    case TransFault::params_outside:
        return vnb_fail(-2, "%s parameters lie outside the frame", what);
    case TransFault::data_outside:
        return vnb_fail(-2, "%s data lies outside the frame", what);
    case TransFault::none:
        break;
    }
    return vnb_fail(-2, "%s reply is malformed", what);
}

int32_t trans2(Session &s, uint32_t tid, uint32_t subcommand, std::span<const uint8_t> params,
               uint32_t max_data_count, SmbRequest &reply)
{
    const uint16_t setup[1] = {static_cast<uint16_t>(subcommand)};
    TransRequest req{};
    req.command = smb::TRANSACTION2;
    req.tid = tid;
    req.setup = setup;
    req.setup_count = 1;
    req.params = params.data();
    req.params_len = params.size();
    req.max_param_count = 10;
    req.max_data_count = max_data_count;
    return vnb_trans_exchange(s, &req, reply);
}
