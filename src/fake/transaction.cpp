// The transaction framing that TRANSACTION and TRANSACTION2 share, and the
// TRANSACTION2 subcommand dispatch.
#include <algorithm>
#include <span>
#include <vector>

#include "fake/fake_internal.h"
#include "util/smb1_wire.h"
#include "util/status.h"

using namespace smb;

namespace {

constexpr size_t kTransWords = 14;
constexpr size_t kOffSetupCount = 59;
constexpr size_t kOffSetup = 61;
constexpr size_t kReplyBytes = 55;  // header, WordCount 10, ByteCount

size_t align4(size_t n)
{
    return (n + 3) & ~size_t{3};
}

// A block of count bytes at off that must lie inside the request's byte block.
bool block(const FakeRequest &rq, size_t off, size_t count, std::span<const uint8_t> *out)
{
    *out = {};
    if (count == 0)
        return true;
    size_t lo = rq.bytes_off;
    size_t hi = rq.bytes_off + rq.bytes_len;
    if (off < lo || off > hi || count > hi - off)
        return false;
    *out = rq.block(off, count);
    return true;
}

bool write_subcommand(uint16_t sub)
{
    return sub == TRANS2_SET_FS_INFORMATION || sub == TRANS2_SET_PATH_INFORMATION ||
           sub == TRANS2_SET_FILE_INFORMATION || sub == TRANS2_CREATE_DIRECTORY;
}

}  // namespace

int fake_trans_parse(const FakeRequest &rq, FakeTrans *out)
{
    *out = FakeTrans{};
    if (rq.wc < kTransWords || !rq.words_ok || !rq.bytes_ok)
        return -1;
    LeReader r = rq.reader();
    r.seek(kOffWords);
    out->total_params = r.u16();
    out->total_data = r.u16();
    out->max_params = r.u16();
    out->max_data = r.u16();
    size_t param_count = r.u16_at(51);
    size_t param_off = r.u16_at(53);
    size_t data_count = r.u16_at(55);
    size_t data_off = r.u16_at(57);
    out->setup_count = r.u8_at(kOffSetupCount);
    if (r.failed || kTransWords + out->setup_count > rq.wc)
        return -1;
    out->setup = rq.block(kOffSetup, 2 * size_t{out->setup_count});
    // One request carries the whole transaction; secondaries are not taken.
    if (param_count != out->total_params || data_count != out->total_data)
        return -1;
    if (!block(rq, param_off, param_count, &out->params) || !block(rq, data_off, data_count, &out->data))
        return -1;
    out->param_off = param_off;
    return 0;
}

size_t fake_trans_data_room(const FakeServerState &st, const FakeTrans &tr, size_t param_len)
{
    size_t data_at = align4(kReplyBytes + 1 + param_len);
    size_t limit = fake_reply_limit(st);
    size_t room = limit > data_at ? limit - data_at : 0;
    return std::min<size_t>(room, tr.max_data);
}

namespace {

struct TransPart {
    uint32_t total_params, total_data;
    std::span<const uint8_t> params;
    size_t param_disp;
    std::span<const uint8_t> data;
    size_t data_disp;
};

// One reply message of a transaction after the header already in rp.msg.
void put_trans_part(FakeReply &rp, const TransPart &p)
{
    size_t param_at = align4(kReplyBytes);
    size_t data_at = align4(param_at + p.params.size());
    ByteBuffer *b = &rp.msg;
    rp_words(rp, 10);
    vnb_w16(b, p.total_params);
    vnb_w16(b, p.total_data);
    vnb_w16(b, 0);
    vnb_w16(b, static_cast<uint32_t>(p.params.size()));
    vnb_w16(b, static_cast<uint32_t>(p.params.empty() ? 0 : param_at));
    vnb_w16(b, static_cast<uint32_t>(p.param_disp));
    vnb_w16(b, static_cast<uint32_t>(p.data.size()));
    vnb_w16(b, static_cast<uint32_t>(p.data.empty() ? 0 : data_at));
    vnb_w16(b, static_cast<uint32_t>(p.data_disp));
    vnb_buf_byte(b, 0);                             // SetupCount
    vnb_buf_byte(b, 0);
    size_t bc = rp_bytes_begin(rp);
    rp_align(rp, 4);
    vnb_buf_put(b, p.params.data(), p.params.size());
    rp_align(rp, 4);
    vnb_buf_put(b, p.data.data(), p.data.size());
    rp_bytes_end(rp, bc);
}

}  // namespace

void fake_trans_reply(FakeReply &rp, const uint8_t *params, size_t param_len, const uint8_t *data, size_t data_len,
                      size_t part_data)
{
    std::span<const uint8_t> all_params(params, param_len);
    std::span<const uint8_t> all_data(data, data_len);
    if (part_data == 0 || data_len <= part_data) {
        put_trans_part(rp, {static_cast<uint32_t>(param_len), static_cast<uint32_t>(data_len), all_params, 0,
                            all_data, 0});
        return;
    }
    // The header as written so far starts every further message.
    const size_t header_len = static_cast<size_t>(rp.msg.len);
    std::vector<uint8_t> header(rp.msg.data, rp.msg.data + header_len);
    size_t at = 0;
    for (int part = 0; at < data_len; part++) {
        size_t n = std::min(part_data, data_len - at);
        if (part > 0 && rp.more_count == kMaxReplyParts)
            break;  // a reply that needs more parts goes short: the client must see it
        TransPart p{static_cast<uint32_t>(param_len), static_cast<uint32_t>(data_len),
                    part == 0 ? all_params : std::span<const uint8_t>{}, part == 0 ? 0 : param_len,
                    all_data.subspan(at, n), at};
        if (part == 1) {
            switch (F.faults.split_fault) {
            case 1: p.data_disp += 8; break;                  // a gap
            case 2: p.data_disp = at >= 8 ? at - 8 : 0; break;  // an overlap
            case 3: p.total_data += 100; break;               // the total grows
            default: break;
            }
        }
        if (part == 0) {
            put_trans_part(rp, p);
        } else {
            FakeReply more{};
            vnb_buf_put(&more.msg, header.data(), header.size());
            put_trans_part(more, p);
            rp.more[rp.more_count++] = more.msg;
        }
        at += n;
    }
}

void fake_cmd_transaction2(const FakeRequest &rq, FakeReply &rp)
{
    // Write-class subcommands are refused whatever else the request holds.
    if (rq.wc > kTransWords && rq.words_ok && rq.u8_at(kOffSetupCount) >= 1) {
        uint16_t sub = rq.u16_at(kOffSetup);
        if (write_subcommand(sub)) {
            F.writes++;
            rp_error(rp, STATUS_ACCESS_DENIED);
            return;
        }
    }
    if (!rq.st.session) {
        rp_error(rp, STATUS_USER_SESSION_DELETED);
        return;
    }
    FakeTrans tr;
    if (fake_trans_parse(rq, &tr) != 0) {
        fake_trace("[t2] wc=%u bad transaction words\n", rq.wc);
        rp_error(rp, STATUS_INVALID_PARAMETER);
        return;
    }
    uint16_t sub = tr.setup_count >= 1 ? LeReader(tr.setup).u16_at(0) : 0xFFFF;
    fake_trace("[t2] wc=%u sub=%u session=%d\n", rq.wc, sub, rq.st.session);
    switch (sub) {
    case TRANS2_FIND_FIRST2: fake_find_first2(rq, tr, rp); break;
    case TRANS2_FIND_NEXT2: fake_find_next2(rq, tr, rp); break;
    case TRANS2_QUERY_PATH_INFORMATION: fake_query_path_info(rq, tr, rp); break;
    default: rp_error(rp, STATUS_REQUEST_NOT_SUPPORTED); break;
    }
}
