// The C interface of name resolution and discovery.
#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "api/connect.h"
#include "api/discovery.h"
#include "api/result_slot.h"
#include "api/session_handle.h"
#include "api/session_ops.h"
#include "crypto/crypto.h"
#include "util/error.h"
#include "util/json.h"
#include "vnsmb1c.h"

namespace {

constexpr size_t kMaxDomain = 128;
constexpr size_t kMaxUser = 128;
constexpr size_t kMaxPassword = 256;

// The text of a key (absent, null: def); false when it is there but not a
// string or longer than max.
bool text_key(const rapidjson::Value &obj, const char *key, size_t max, std::string *out)
{
    auto it = obj.FindMember(key);
    if (it == obj.MemberEnd() || it->value.IsNull())
        return true;
    if (!it->value.IsString() || it->value.GetStringLength() > max)
        return false;
    *out = it->value.GetString();
    return true;
}

int32_t discovery_bound(const rapidjson::Value &obj, int *out)
{
    auto it = obj.FindMember("DiscoveryMs");
    if (it == obj.MemberEnd() || it->value.IsNull())
        return 0;
    const rapidjson::Value &v = it->value;
    long long ms = -1;
    if (v.IsInt64())
        ms = v.GetInt64();
    else if (v.IsString() && v.GetStringLength() > 0 && v.GetStringLength() < 8 &&
             std::strspn(v.GetString(), "0123456789") == v.GetStringLength())
        ms = std::atoll(v.GetString());
    if (ms < kMinDiscoveryMs || ms > kMaxDiscoveryMs)
        return vnb_fail(-6, "settings: DiscoveryMs out of range (%d to %d)", kMinDiscoveryMs, kMaxDiscoveryMs);
    *out = static_cast<int>(ms);
    return 0;
}

int32_t read_discovery_object(rapidjson::Document &doc, DiscoveryRequest *rq)
{
    if (doc.HasParseError())
        return vnb_fail(-6, "settings: not JSON");
    if (!doc.IsObject())
        return vnb_fail(-6, "settings: not an object");
    if (const char *wrong = vnb_settings_type_error(doc))
        return vnb_fail(-6, "%s", wrong);
    if (!text_key(doc, "Workgroup", 15, &rq->workgroup))
        return vnb_fail(-6, "settings: Workgroup must be a string of at most 15 bytes");
    if (!text_key(doc, "DomainName", kMaxDomain, &rq->domain) || !text_key(doc, "UserName", kMaxUser, &rq->user) ||
        !text_key(doc, "Password", kMaxPassword, &rq->password))
        return vnb_fail(-6, "settings: DomainName, UserName or Password too long");
    if (int32_t rc = discovery_bound(doc, &rq->bound_ms); rc != 0)
        return rc;
    return vnb_read_name_keys(doc, &rq->names);
}

// Parsed in place in a copy of our own, so that the password the document
// holds can be wiped afterwards.
int32_t read_discovery_settings(const char *json, DiscoveryRequest *rq)
{
    if (json == nullptr)
        return 0;
    size_t len = std::strlen(json);
    auto *copy = static_cast<char *>(std::calloc(len + kJsonInsituPad, 1));
    if (copy == nullptr)
        return vnb_fail(-11, "out of memory");
    std::memcpy(copy, json, len);
    int32_t rc = 0;
    {
        rapidjson::Document doc;
        constexpr unsigned kFlags =
            rapidjson::kParseInsituFlag | rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;
        vnb_json_parse_insitu<kFlags>(doc, copy);
        rc = read_discovery_object(doc, rq);
    }
    vnb_wipe(copy, len + kJsonInsituPad);
    std::free(copy);
    return rc;
}

void wipe(std::string &s)
{
    if (!s.empty())
        vnb_wipe(s.data(), s.size());
}

}  // namespace

extern "C" {

VNSMB1C_API int vnsmb1c_s_set_name_resolve(vnsmb1c_session *session, const char *order, const char *wins_server,
                                           int broadcast)
{
    return vnb_on_session(session, [&](SessionCall &call) {
        NameSettings names = call.s().names;
        if (order != nullptr && vnb_name_order_parse(order, &names) != 0)
            return vnb_fail(-6, "name resolve order takes netbios and dns in the order wanted (e.g. \"netbios,dns\")");
        if (wins_server != nullptr && vnb_name_server_parse(wins_server, &names.wins) != 0)
            return vnb_fail(-6, "the WINS server must be an IPv4 address");
        if (broadcast < -1 || broadcast > 1)
            return vnb_fail(-6, "broadcast is 1 (on), 0 (off) or -1 (as it is)");
        if (broadcast >= 0)
            names.broadcast = broadcast == 1;
        call.s().names = names;
        return 0;
    });
}

VNSMB1C_API int vnsmb1c_set_name_resolve(const char *order, const char *wins_server, int broadcast)
{
    return vnsmb1c_s_set_name_resolve(vnb_default_handle(), order, wins_server, broadcast);
}

// Discovery takes the session's name settings and transport; the session's
// connection is left alone.
VNSMB1C_API int vnsmb1c_s_servers(vnsmb1c_session *session, const char *settings_json)
{
    return vnb_on_session(session, [&](SessionCall &call) {
        DiscoveryRequest rq;
        rq.kind = call.handle().choice();
        rq.names = call.s().names;
        int32_t rc = read_discovery_settings(settings_json, &rq);
        if (rc == 0) {
            DiscoveryResult result;
            vnb_discover(rq, &result);
            ThreadTexts *texts = vnb_thread_texts(call.handle().serial);
            if (texts == nullptr)
                rc = vnb_fail(-11, "out of memory");
            else
                texts->servers_json = vnb_discovery_json(result);
            if (rc == 0)
                rc = static_cast<int32_t>(result.servers.size());
        }
        wipe(rq.password);
        return rc;
    });
}

VNSMB1C_API int vnsmb1c_servers(const char *settings_json)
{
    return vnsmb1c_s_servers(vnb_default_handle(), settings_json);
}

VNSMB1C_API const char *vnsmb1c_s_servers_json(vnsmb1c_session *session)
{
    SessionCall call(session);
    if (call.refused() != 0)
        return "{}";
    ThreadTexts *texts = vnb_thread_texts(call.handle().serial);
    if (texts == nullptr || texts->servers_json.empty())
        return "{}";
    return texts->servers_json.c_str();
}

VNSMB1C_API const char *vnsmb1c_servers_json(void)
{
    return vnsmb1c_s_servers_json(vnb_default_handle());
}

}  // extern "C"
