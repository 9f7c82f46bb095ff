// Listing the server's shares over \PIPE\srvsvc: the pipe transaction, the
// reads that fetch the rest of a fragmented answer, and the listing itself.
#include "sess/share_list.h"

#include <algorithm>
#include <cstring>

#include "sess/exchange.h"
#include "sess/keep_outcome.h"
#include "sess/trans.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/status.h"

namespace {

constexpr uint16_t kTransactNmPipe = 0x0026;
constexpr uint32_t kPipeMaxParams = 1024;
constexpr uint32_t kReadReplySlack = 64;  // READ_ANDX reply header, words and pad
constexpr const char *kNotEnum = "srvsvc reply is not a level-1 NetShareEnumAll";

// A message-mode pipe says STATUS_BUFFER_OVERFLOW (ERRDOS/ERRmoredata) when
// the message goes on beyond what this reply carries: data, not a failure.
bool status_ok_for_pipe(const ParsedHeader &h)
{
    return h.status == 0 || hdr_status_means(h, STATUS_BUFFER_OVERFLOW);
}

// Closes the pipe; whatever the close meets leaves the error text and the
// recorded status as the listing left them.
void close_quietly(Session &s, uint32_t tid, uint32_t fid)
{
    KeepOutcome keep(s);
    vnb_post_close(s, tid, fid);
}

// Reads the pipe until the answer ends with its last fragment, then joins
// the fragments into one PDU.
int32_t read_enum_answer(Session &s, uint32_t tid, uint32_t fid, ByteBuffer *answer, ByteBuffer *pdu)
{
    for (int reads = 0;; reads++) {
        int joined = srvsvc_join_fragments(answer->data, static_cast<size_t>(answer->len), kSrvsvcEnumCallId,
                                           nullptr);
        if (joined < 0)
            return vnb_fail(-2, "%s", kNotEnum);
        if (joined == 1)
            break;
        if (answer->len >= kMaxSrvsvcAnswer)
            return vnb_fail(-7, "the srvsvc reply exceeds %zu bytes", kMaxSrvsvcAnswer);
        if (reads >= kMaxSrvsvcReads)
            return vnb_fail(-7, "the srvsvc reply takes more than %d reads", kMaxSrvsvcReads);
        int32_t rc = pipe_read(s, tid, fid, answer);
        if (rc != 0)
            return rc;
    }
    if (srvsvc_join_fragments(answer->data, static_cast<size_t>(answer->len), kSrvsvcEnumCallId, pdu) != 1)
        return vnb_fail(-11, "out of memory");
    return 0;
}

int32_t list_over_pipe(Session &s, uint32_t tid, uint32_t fid)
{
    ByteBuffer bind{};
    ByteBuffer bind_ack{};
    srvsvc_build_bind(&bind, kSrvsvcBindCallId);
    int32_t rc = bind.failed ? vnb_fail(-11, "out of memory")
                             : trans_ipc_pipe(s, tid, fid, bind.data, static_cast<size_t>(bind.len), &bind_ack);
    vnb_buf_free(&bind);
    vnb_buf_free(&bind_ack);  // not interpreted: a refused bind shows in the call's answer
    if (rc != 0)
        return rc;

    ByteBuffer request{};
    ByteBuffer answer{};
    ByteBuffer pdu{};
    srvsvc_build_request(&request, kSrvsvcEnumCallId);
    rc = request.failed ? vnb_fail(-11, "out of memory")
                        : trans_ipc_pipe(s, tid, fid, request.data, static_cast<size_t>(request.len), &answer);
    if (rc == 0)
        rc = read_enum_answer(s, tid, fid, &answer, &pdu);
    if (rc == 0) {
        int parsed = srvsvc_parse_enum(s, pdu.data, static_cast<size_t>(pdu.len));
        rc = parsed == -7 ? -7 : parsed != 0 ? vnb_fail(-2, "%s", kNotEnum) : 0;
    }
    vnb_buf_free(&request);
    vnb_buf_free(&answer);
    vnb_buf_free(&pdu);
    return rc;
}

}  // namespace

int32_t trans_ipc_pipe(Session &s, uint32_t tid, uint32_t fid, const uint8_t *pdu, size_t n, ByteBuffer *out)
{
    const uint16_t setup[2] = {kTransactNmPipe, static_cast<uint16_t>(fid)};
    TransRequest req{};
    req.command = smb::TRANSACTION;
    req.tid = tid;
    req.setup = setup;
    req.setup_count = 2;
    req.name = "\\PIPE\\";
    req.data = pdu;
    req.data_len = n;
    req.max_param_count = kPipeMaxParams;
    req.max_data_count = 0xFFFF;

    SmbRequest answer;
    int32_t rc = vnb_trans_exchange(s, &req, answer);
    if (rc != 0)
        return rc;
    if (!status_ok_for_pipe(answer.header))
        return fail_status(s, answer.header, "TRANS \\PIPE\\");

    TransReply reply;
    TransFault fault = vnb_trans_reply_read(answer.message(), 0, &reply);
    if (fault == TransFault::data_outside)
        return vnb_fail(-2, "the pipe data lies outside the frame");
    if (fault == TransFault::split) {
        rc = vnb_trans_reply_take(s, answer, 0, "TRANS", &reply);
        if (rc != 0)
            return rc;
    } else if (fault != TransFault::none) {
        return vnb_trans_fail("TRANS", fault, &reply);
    }
    if (reply.data_count == 0)
        return vnb_fail(-2, "the pipe answered no data");
    vnb_buf_put(out, reply.data, reply.data_count);
    return out->failed ? vnb_fail(-11, "out of memory") : 0;
}

int32_t pipe_read(Session &s, uint32_t tid, uint32_t fid, ByteBuffer *out)
{
    // The reply must also fit the buffer size this client announced.
    uint32_t n = std::min(read_chunk_size(s), kClientMaxBuffer - kReadReplySlack);
    SmbRequest req;
    int32_t rc = read_send(s, tid, fid, 0, n, req);
    if (rc != 0)
        return rc;
    if (!status_ok_for_pipe(req.header))
        return fail_status(s, req.header, "READ \\PIPE\\");
    std::span<const uint8_t> data;
    rc = read_reply_data(req.message(), n, data);
    if (rc != 0)
        return rc;
    if (data.empty())
        return vnb_fail(-2, "the pipe answered no data");
    vnb_buf_put(out, data.data(), data.size());
    return out->failed ? vnb_fail(-11, "out of memory") : 0;
}

int32_t vnb_srvsvc_share_enum(Session &s)
{
    s.share_count = 0;
    uint32_t tid = 0;
    int32_t rc = vnb_tree_find_or_connect(s, "IPC$", &tid);
    if (rc != 0)
        return rc;
    uint32_t fid = 0;
    rc = vnb_create_file(s, tid, "\\srvsvc", 0, &fid, nullptr, nullptr, "OPEN srvsvc");
    if (rc != 0)
        return rc;
    rc = list_over_pipe(s, tid, fid);
    close_quietly(s, tid, fid);
    return rc;
}
