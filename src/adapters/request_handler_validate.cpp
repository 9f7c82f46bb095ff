// validate: the settings reach a server that serves at least one share; a
// new source also gets an identifier.
#include <cstdio>
#include <ctime>

#include "adapters/request_handler.h"
#include "api/session_ops.h"

namespace {

uint64_t ctr = 0;

// A version-4 UUID text from the counter and the clock; not secret.
void new_id(char (&id)[37])
{
    uint64_t c = ctr++;
    uint64_t x = (c * 0x9E3779B97F4A7C15ULL) ^ static_cast<uint64_t>(static_cast<int64_t>(std::time(nullptr)));
    uint8_t b[16];
    for (int i = 0; i < 8; i++) {
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        b[i] = static_cast<uint8_t>((x * 0x2545F4914F6CDD1DULL) >> 56);
    }
    uint64_t y = (c + 1) * 0x2545F4914F6CDD1DULL;
    for (int i = 0; i < 8; i++)
        b[8 + i] = static_cast<uint8_t>(y >> (8 * i));
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    std::snprintf(id, sizeof id, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                  b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

bool has_id(const char *settings)
{
    rapidjson::Document doc;
    vnb_json_parse<kRchParseFlags>(doc, settings);
    const rapidjson::Value *id = doc.HasParseError() ? nullptr : rch_string(doc, "ID");
    return id != nullptr && id->GetStringLength() > 0;
}

}  // namespace

int h_validate(const vnsmb1c_HostIo *io, const char *settings, char *out, int32_t capacity)
{
    RchScope scope;
    int rc = h_setup(scope, io, settings, out, capacity);
    if (rc != 0)
        return rc;
    int n = scope.run([](Session &s) { return vnb_shares(s); });
    if (n < 0) {
        rc = put_err(rch_code(n), vnsmb1c_last_error(), out, capacity);
        h_teardown(scope);
        return rc;
    }
    if (n == 0) {
        h_teardown(scope);
        return put_err(kRchNotFound, "connected, but the server lists no shares", out, capacity);
    }
    rapidjson::StringBuffer sb;
    RchWriter w(sb);
    bool ok = w.StartObject() && w.Key("RuntimeType") && w.String("SMBCIFS");
    if (ok && !has_id(settings)) {
        char id[37];
        new_id(id);
        ok = w.Key("ID") && w.String(id);
    }
    ok = ok && w.EndObject();
    h_teardown(scope);
    if (!ok)
        return kRchInternal;
    return rch_reply(sb, out, capacity);
}
