#include "sess/rap.h"

#include <cstring>
#include <string>

#include "sess/exchange.h"
#include "sess/share_list.h"
#include "sess/trans.h"
#include "sess/tree_file.h"
#include "util/error.h"

namespace {

constexpr uint32_t kMaxReplyParams = 1024;

// The failure of a status a RAP reply carries.
int32_t rap_status_failure(uint16_t status, const char *what)
{
    if (status == kRapAccessDenied)
        return vnb_fail(-3, "%s: access denied", what);
    return vnb_fail(-2, "%s: the server answered status %u", what, status);
}

// Whether a failed \srvsvc listing leaves the connection usable for RAP:
// not after a network failure, a lost session, a failed allocation, a
// cancel, or a server with more shares than the library holds.
bool srvsvc_refused(int32_t rc)
{
    return rc != 0 && rc != -1 && rc != -5 && rc != -7 && rc != -11 && rc != -12;
}

}  // namespace

int32_t vnb_rap_call(Session &s, std::span<const uint8_t> request, ByteBuffer *params, ByteBuffer *data)
{
    uint32_t tid = 0;
    int32_t rc = vnb_tree_find_or_connect(s, "IPC$", &tid);
    if (rc != 0)
        return rc;
    TransRequest req{};
    req.command = smb::TRANSACTION;
    req.tid = tid;
    req.name = "\\PIPE\\LANMAN";
    req.params = request.data();
    req.params_len = request.size();
    req.max_param_count = kMaxReplyParams;
    req.max_data_count = kRapReceiveBuffer;

    SmbRequest answer;
    rc = vnb_trans_exchange(s, &req, answer);
    if (rc != 0)
        return rc;
    if (answer.header.status != 0)
        return fail_status(s, answer.header, "RAP \\PIPE\\LANMAN");
    TransReply reply;
    TransFault fault = vnb_trans_reply_read(answer.message(), 0, &reply);
    if (fault == TransFault::split)
        rc = vnb_trans_reply_take(s, answer, 0, "RAP", &reply);
    else if (fault != TransFault::none)
        rc = vnb_trans_fail("RAP", fault, &reply);
    if (rc != 0)
        return rc;
    vnb_buf_put(params, reply.params, reply.param_count);
    vnb_buf_put(data, reply.data, reply.data_count);
    return params->failed || data->failed ? vnb_fail(-11, "out of memory") : 0;
}

int32_t vnb_rap_share_enum(Session &s)
{
    s.share_count = 0;
    ByteBuffer request{};
    ByteBuffer params{};
    ByteBuffer data{};
    rap_build_share_enum(&request);
    int32_t rc = request.failed ? vnb_fail(-11, "out of memory") : vnb_rap_call(s, buf_span(request), &params, &data);
    std::vector<RapShare> shares;
    uint16_t status = 0;
    if (rc == 0 && rap_parse_shares(buf_span(params), buf_span(data), &status, &shares) != 0)
        rc = vnb_fail(-2, "RAP NetShareEnum reply breaks its layout");
    if (rc == 0 && status != 0 && status != kRapMoreData)
        rc = rap_status_failure(status, "RAP NetShareEnum");
    vnb_buf_free(&request);
    vnb_buf_free(&params);
    vnb_buf_free(&data);
    if (rc != 0)
        return rc;
    int32_t kept = 0;
    for (const RapShare &share : shares) {
        if (share.name.empty() || vnb_is_admin_share(share.name.c_str()))
            continue;
        if (kept >= kMaxShares) {
            s.share_count = 0;
            return vnb_fail(-7, "the server lists more than %d shares, the most the library holds", kMaxShares);
        }
        std::memcpy(s.share_names[kept], share.name.c_str(), share.name.size() + 1);
        kept++;
    }
    s.share_count = kept;
    return 0;
}

int32_t vnb_rap_server_enum(Session &s, uint32_t server_type, std::string_view domain, std::vector<RapServer> *out,
                            bool *more)
{
    *more = false;
    ByteBuffer request{};
    ByteBuffer params{};
    ByteBuffer data{};
    rap_build_server_enum(&request, server_type, domain);
    int32_t rc = request.failed ? vnb_fail(-11, "out of memory") : vnb_rap_call(s, buf_span(request), &params, &data);
    uint16_t status = 0;
    std::vector<RapServer> servers;
    if (rc == 0 && rap_parse_servers(buf_span(params), buf_span(data), &status, &servers) != 0)
        rc = vnb_fail(-2, "RAP NetServerEnum2 reply breaks its layout");
    if (rc == 0 && status != 0 && status != kRapMoreData)
        rc = rap_status_failure(status, "RAP NetServerEnum2");
    vnb_buf_free(&request);
    vnb_buf_free(&params);
    vnb_buf_free(&data);
    if (rc != 0)
        return rc;
    *more = status == kRapMoreData || servers.size() > kMaxRapServers;
    if (servers.size() > kMaxRapServers)
        servers.resize(kMaxRapServers);
    *out = std::move(servers);
    return 0;
}

int32_t vnb_share_enum(Session &s)
{
    // Both listings need IPC$: a server that refuses it refuses both.
    uint32_t tid = 0;
    s.share_count = 0;
    int32_t rc = vnb_tree_find_or_connect(s, "IPC$", &tid);
    if (rc != 0)
        return rc;
    rc = vnb_srvsvc_share_enum(s);
    if (!srvsvc_refused(rc))
        return rc;
    std::string srvsvc_failure = vnb_error();
    uint32_t status = s.last_status;
    int32_t status_nt = s.last_status_nt;
    int32_t code = s.last_code;
    if (vnb_rap_share_enum(s) == 0)
        return 0;
    // Both refused: the DCE/RPC failure stands, RAP's beside it.
    std::string rap_failure = vnb_error();
    s.last_status = status;
    s.last_status_nt = status_nt;
    s.last_code = code;
    return vnb_fail(rc, "%.250s (RAP NetShareEnum: %.200s)", srvsvc_failure.c_str(), rap_failure.c_str());
}
