#include "net/nbss_session.h"

#include <algorithm>
#include <cstdio>

#include "net/net_internal.h"
#include "util/error.h"
#include "util/netbios_name.h"

namespace {

constexpr uint32_t kLongestAnswer = 6;  // a retarget: address and port
constexpr uint32_t kRequestLength = 2 * kNetbiosEncodedLen;

// The reader's own text, kept inside ours.
int32_t no_answer()
{
    char cause[160];
    std::snprintf(cause, sizeof cause, "%s", vnb_error());
    return vnb_fail(-1, "no answer to the NetBIOS session request (%s)", cause);
}

}  // namespace

NbssSessionAnswer nbss_parse_session_answer(uint8_t type, std::span<const uint8_t> payload)
{
    NbssSessionAnswer a;
    switch (type) {
    case kNbssPositiveResponse:
        if (payload.empty())
            a.kind = NbssAnswerKind::positive;
        break;
    case kNbssNegativeResponse:
        if (payload.size() == 1) {
            a.kind = NbssAnswerKind::negative;
            a.error = payload[0];
        }
        break;
    case kNbssRetargetResponse:
        if (payload.size() == 6) {
            a.kind = NbssAnswerKind::retarget;
            std::copy_n(payload.begin(), 4, a.address);
            a.port = static_cast<uint16_t>((payload[4] << 8) | payload[5]);
        }
        break;
    default:
        break;
    }
    return a;
}

const char *nbss_refusal_text(uint8_t error)
{
    switch (error) {
    case 0x80: return "not listening on the called name";
    case 0x81: return "not listening for the calling name";
    case kNbssCalledNameNotPresent: return "called name not present";
    case 0x83: return "called name present, but insufficient resources";
    case 0x8F: return "unspecified error";
    default: return "unknown error";
    }
}

int nbss_build_session_request(const char *called, const char *calling, ByteBuffer *out)
{
    uint8_t called_enc[kNetbiosEncodedLen];
    uint8_t calling_enc[kNetbiosEncodedLen];
    if (vnb_netbios_encode(called, kNetbiosServerType, called_enc) != 0 ||
        vnb_netbios_encode(calling, kNetbiosWorkstationType, calling_enc) != 0)
        return -1;
    const uint8_t header[4] = {kNbssSessionRequest, 0, 0, static_cast<uint8_t>(kRequestLength)};
    vnb_buf_put(out, header, sizeof header);
    vnb_buf_put(out, called_enc, sizeof called_enc);
    vnb_buf_put(out, calling_enc, sizeof calling_enc);
    return out->failed ? -1 : 0;
}

int32_t nbss_session_request(Transport *t, const char *called, const char *calling, int timeout_ms,
                             NbssSessionAnswer *out)
{
    *out = NbssSessionAnswer{};
    ByteBuffer request{};
    if (nbss_build_session_request(called, calling, &request) != 0) {
        vnb_buf_free(&request);
        return vnb_fail(-1, "cannot write the NetBIOS names %.20s and %.20s", called, calling);
    }
    int wrote = t->write(t->context, request.data, static_cast<size_t>(request.len));
    vnb_buf_free(&request);
    if (wrote != 0)
        return vnb_fail(-1, "the NetBIOS session request could not be sent");

    uint64_t deadline = vnb_now_ms() + static_cast<uint64_t>(std::max(timeout_ms, 0));
    for (;;) {
        uint8_t type = 0;
        uint32_t len = 0;
        if (nbss_read_typed_header(t, deadline, &type, &len) != 0)
            return no_answer();
        if (len > kLongestAnswer)
            return vnb_fail(-1, "the answer to the NetBIOS session request announces %u bytes", len);
        ByteBuffer payload{};
        int64_t left = static_cast<int64_t>(deadline) - static_cast<int64_t>(vnb_now_ms());
        int32_t rc = len == 0 ? 0
                              : read_exact_by(t, &payload, len, static_cast<int>(std::max<int64_t>(left, 0)),
                                              deadline);
        if (rc == 0 && type != kKeepAlive)
            *out = nbss_parse_session_answer(type, {payload.data, static_cast<size_t>(payload.len)});
        vnb_buf_free(&payload);
        if (rc != 0)
            return no_answer();
        if (type != kKeepAlive)
            return 0;
    }
}
