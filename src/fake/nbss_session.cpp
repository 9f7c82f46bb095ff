// The NetBIOS session service of the fake server, as on port 139: the
// session request and its answer.
#include <cstring>

#include "fake/fake_internal.h"
#include "util/netbios_name.h"

namespace {

constexpr uint8_t kSessionRequest = 0x81;
constexpr uint8_t kPositive = 0x82;
constexpr uint8_t kNegative = 0x83;
constexpr uint8_t kKeepAlive = 0x85;
constexpr uint8_t kCalledNameNotPresent = 0x82;
constexpr uint8_t kUnspecified = 0x8F;

void negative(ByteBuffer *out, uint8_t error)
{
    const uint8_t frame[5] = {kNegative, 0, 0, 1, error};
    vnb_buf_put(out, frame, sizeof frame);
}

}  // namespace

bool vnb_fake_nbss_packet(FakeConnection *c, uint8_t type, const uint8_t *payload, size_t len, ByteBuffer *out)
{
    if (c == nullptr || out == nullptr)
        return false;
    if (type == kKeepAlive)
        return true;
    if (type != kSessionRequest) {
        negative(out, kUnspecified);
        return false;
    }
    char called[kNetbiosNameChars + 1];
    char calling[kNetbiosNameChars + 1];
    uint8_t called_type = 0;
    uint8_t calling_type = 0;
    int n = vnb_netbios_decode(payload, len, called, &called_type);
    if (n < 0 || vnb_netbios_decode(payload + n, len - static_cast<size_t>(n), calling, &calling_type) < 0) {
        negative(out, kUnspecified);
        return false;
    }
    fake_trace("[nbss] called=%s<%02x> calling=%s<%02x>\n", called, called_type, calling, calling_type);
    bool any = strcmp(called, kNetbiosAnyServer) == 0;
    if (called_type != kNetbiosServerType || F.faults.nbss_refuse_name == 2 ||
        (F.faults.nbss_refuse_name == 1 && !any)) {
        negative(out, kCalledNameNotPresent);
        return false;
    }
    c->nbss_granted = 1;
    const uint8_t frame[4] = {kPositive, 0, 0, 0};
    vnb_buf_put(out, frame, sizeof frame);
    return true;
}

bool vnb_fake_nbss_open(const FakeConnection *c)
{
    return c != nullptr && (c->nbss_granted || !F.faults.nbss_required);
}
