// Opening and closing a session: by arguments, by settings JSON.
#include "api/connect.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <rapidjson/document.h>

#include "api/host_name.h"
#include "api/name_service.h"
#include "api/session_handle.h"
#include "api/session_ops.h"
#include "crypto/crypto.h"
#include "sess/lifecycle.h"
#include "util/error.h"
#include "util/json.h"
#include "util/text.h"
#include "vnsmb1c.h"

namespace {

constexpr int32_t kDefaultLocalPort = 8137;
constexpr size_t kMaxHost = 255;
constexpr size_t kMaxDomain = 128;
constexpr size_t kMaxUser = 128;
constexpr size_t kMaxPassword = 256;
constexpr size_t kMaxPath = 1025;
constexpr int32_t kMaxPort = 65535;

// Reads a signed decimal 32-bit integer between optional spaces. NULL or ""
// gives def. 0, or -1 for no digits, trailing junk or a value outside the
// range (INT32_MIN included).
int parse_int(const char *text, int32_t def, int32_t *out)
{
    if (text == nullptr || text[0] == '\0') {
        *out = def;
        return 0;
    }
    const char *p = text;
    while (*p == ' ')
        p++;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (*p < '0' || *p > '9')
        return -1;
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        v = v * 10 + (*p - '0');
        if (v > INT32_MAX)
            return -1;
    }
    while (*p == ' ')
        p++;
    if (*p != '\0')
        return -1;
    *out = static_cast<int32_t>(negative ? -v : v);
    return 0;
}

// Every key the settings are read from, and the JSON types it may have
// besides null (which counts as absent).
struct SettingsKey {
    const char *name;
    bool number_too;         // an integer number is taken as well as a string
    const char *wrong_type;  // the error text for any other type
    bool bool_too = false;   // true and false are taken as well as a string
};

constexpr SettingsKey kSettingsKeys[] = {
    {"FullUrl", false, "settings: FullUrl must be a string"},
    {"HostName", false, "settings: HostName must be a string"},
    {"ServerPort", true, "settings: ServerPort must be an integer or a string"},
    {"Port", true, "settings: Port must be an integer or a string"},
    {"DomainName", false, "settings: DomainName must be a string"},
    {"UserName", false, "settings: UserName must be a string"},
    {"Password", false, "settings: Password must be a string"},
    {"Path", false, "settings: Path must be a string"},
    {"LocalPort", true, "settings: LocalPort must be an integer or a string"},
    {"ReadAhead", true, "settings: ReadAhead must be an integer or a string"},
    {"ReadAheadBudget", true, "settings: ReadAheadBudget must be an integer or a string"},
    {"TimeoutMs", true, "settings: TimeoutMs must be an integer or a string"},
    {"LegacyAuth", false, "settings: LegacyAuth must be a string"},
    {"CodePage", false, "settings: CodePage must be a string"},
    {"NameResolve", false, "settings: NameResolve must be a string"},
    {"WinsServer", false, "settings: WinsServer must be a string"},
    {"NameBroadcast", false, "settings: NameBroadcast must be true, false or a string", true},
    {"SessionIdleMs", true, "settings: SessionIdleMs must be an integer or a string"},
};

// The value of key as text: a string as it is, an integer as its decimal
// text. nullptr for an absent key and for null (the other types are refused
// before). The first of duplicate keys counts.
const char *sval(const rapidjson::Value &obj, const char *key, char (&scratch)[512])
{
    auto it = obj.FindMember(key);
    if (it == obj.MemberEnd())
        return nullptr;
    const rapidjson::Value &v = it->value;
    if (v.IsString())
        return v.GetString();
    if (v.IsInt64()) {
        std::snprintf(scratch, sizeof scratch, "%lld", static_cast<long long>(v.GetInt64()));
        return scratch;
    }
    if (v.IsUint64()) {
        std::snprintf(scratch, sizeof scratch, "%llu", static_cast<unsigned long long>(v.GetUint64()));
        return scratch;
    }
    return nullptr;
}

// Copies the text of key into out when it has at most max bytes; -6
// "settings: <key> too long" otherwise. An absent or empty key leaves out
// as it is (empty, or what FullUrl gave).
int32_t read_text(const rapidjson::Value &obj, const char *key, char *out, size_t max)
{
    char scratch[512];
    const char *s = sval(obj, key, scratch);
    if (s == nullptr || s[0] == '\0')
        return 0;
    size_t len = strnlen(s, max + 1);
    if (len > max)
        return vnb_fail(-6, "settings: %s too long", key);
    std::memcpy(out, s, len);
    out[len] = '\0';
    return 0;
}

// A port key: absent, null or "" keeps *port; anything else must be a
// decimal integer from 1 to 65535.
int32_t read_port(const rapidjson::Value &obj, const char *key, int32_t *port)
{
    char scratch[512];
    const char *text = sval(obj, key, scratch);
    if (text == nullptr || text[0] == '\0')
        return 0;
    int32_t v = 0;
    if (parse_int(text, 0, &v) != 0 || v < 1 || v > kMaxPort)
        return vnb_fail(-6, "settings: %s out of range", key);
    *port = v;
    return 0;
}

// HostName without its leading and trailing spaces.
int32_t read_host_name(const rapidjson::Value &obj, char *out)
{
    char scratch[512];
    const char *s = sval(obj, "HostName", scratch);
    if (s == nullptr)
        s = "";
    while (*s == ' ')
        s++;
    size_t len = strnlen(s, kMaxHost + 1);
    if (len > kMaxHost)
        return vnb_fail(-6, "settings: HostName too long");
    while (len > 0 && s[len - 1] == ' ')
        len--;
    if (len > 0) {
        if (int32_t rc = vnb_check_host(std::string_view(s, len), "settings: "); rc != 0)
            return rc;
    }
    std::memcpy(out, s, len);
    out[len] = '\0';
    return 0;
}

// Host, port and identity of FullUrl. The identity is taken as written (no
// %XX decoding); the UserName, Password and DomainName keys replace it.
int32_t read_full_url(const char *url, ConnectSettings *out)
{
    char path[1026];
    int32_t port = 0;
    int32_t rc = vnsmb1c_url_parse(url, out->host, sizeof out->host, &port, out->user, sizeof out->user,
                                   out->password, sizeof out->password, out->domain, sizeof out->domain, path,
                                   sizeof path);
    if (rc != 0) {
        vnb_wipe(out->password, sizeof out->password);
        return vnb_fail(-6, "settings: %s", vnb_error());
    }
    if (port != 0)
        out->port = port;
    std::memcpy(out->path, path, sizeof path);  // the "Path" key replaces it
    return 0;
}

// ReadAhead and ReadAheadBudget: whole bytes, 0 (off) to kMaxReadAhead;
// absent or empty leaves it as it is.
int32_t read_read_ahead(const rapidjson::Value &obj, int64_t *out, const char *key = "ReadAhead")
{
    char scratch[512];
    const char *text = sval(obj, key, scratch);
    *out = -1;
    if (text == nullptr || text[0] == '\0')
        return 0;
    int64_t v = 0;
    const char *p = text;
    while (*p == ' ')
        p++;
    if (*p < '0' || *p > '9')
        return vnb_fail(-6, "settings: %s out of range", key);
    for (; *p >= '0' && *p <= '9'; p++) {
        v = v * 10 + (*p - '0');
        if (v > kMaxReadAhead)
            return vnb_fail(-6, "settings: %s out of range", key);
    }
    while (*p == ' ')
        p++;
    if (*p != '\0')
        return vnb_fail(-6, "settings: %s out of range", key);
    *out = v;
    return 0;
}

// ---- old servers ----

// LegacyAuth ("none", "ntlmv1", "lm", "plaintext") and CodePage ("CP850",
// ...): absent, null or "" leaves each as it is.
int32_t read_old_server_keys(const rapidjson::Value &obj, ConnectSettings *out)
{
    char scratch[512];
    const char *legacy = sval(obj, "LegacyAuth", scratch);
    if (legacy != nullptr && legacy[0] != '\0') {
        if (!vnb_legacy_auth_by_name(legacy, &out->legacy_auth))
            return vnb_fail(-6, "settings: LegacyAuth must be none, ntlmv1, lm or plaintext");
        out->legacy_given = true;
    }
    const char *page = sval(obj, "CodePage", scratch);
    if (page != nullptr && page[0] != '\0') {
        if (!vnb_code_page_by_name(page, &out->code_page))
            return vnb_fail(-6, "settings: CodePage must be CP850, CP437, CP858, CP1252, ISO-8859-1 or ISO-8859-15");
        out->code_page_given = true;
    }
    return 0;
}

// NameResolve, WinsServer and NameBroadcast; each one only when given.
int32_t read_name_settings(const rapidjson::Value &obj, ConnectSettings *out)
{
    char scratch[512];
    NameSettings names;
    if (const char *order = sval(obj, "NameResolve", scratch); order != nullptr && order[0] != '\0') {
        if (vnb_name_order_parse(order, &names) != 0)
            return vnb_fail(-6, "settings: NameResolve takes netbios and dns in the order wanted (e.g. \"netbios,dns\")");
        out->has_name_order = 1;
        out->name_order_count = names.count;
        out->name_order[0] = static_cast<uint8_t>(names.order[0]);
        out->name_order[1] = static_cast<uint8_t>(names.order[1]);
    }
    if (const char *wins = sval(obj, "WinsServer", scratch); wins != nullptr) {
        if (vnb_name_server_parse(wins, &out->wins) != 0)
            return vnb_fail(-6, "settings: WinsServer must be an IPv4 address");
        out->has_wins = 1;
    }
    auto it = obj.FindMember("NameBroadcast");
    if (it != obj.MemberEnd() && !it->value.IsNull()) {
        int on = it->value.IsBool() ? (it->value.GetBool() ? 1 : 0) : vnb_switch_parse(it->value.GetString());
        if (on < 0)
            return vnb_fail(-6, "settings: NameBroadcast must be true or false");
        out->broadcast = on;
    }
    return 0;
}

int32_t read_object(const rapidjson::Value &obj, ConnectSettings *out)
{
    if (const char *wrong = vnb_settings_type_error(obj))
        return vnb_fail(-6, "%s", wrong);
    char scratch[512];
    const char *url = sval(obj, "FullUrl", scratch);
    int32_t rc = url != nullptr && url[0] != '\0' ? read_full_url(url, out) : read_host_name(obj, out->host);
    if (rc != 0)
        return rc;
    if ((rc = read_port(obj, "ServerPort", &out->port)) != 0 || (rc = read_port(obj, "Port", &out->port)) != 0)
        return rc;
    if ((rc = read_text(obj, "DomainName", out->domain, kMaxDomain)) != 0 ||
        (rc = read_text(obj, "UserName", out->user, kMaxUser)) != 0 ||
        (rc = read_text(obj, "Password", out->password, kMaxPassword)) != 0 ||
        (rc = read_text(obj, "Path", out->path, kMaxPath)) != 0)
        return rc;
    if ((rc = read_port(obj, "LocalPort", &out->local_port)) != 0)
        return rc;
    if (sval(obj, "TimeoutMs", scratch) != nullptr &&
        (parse_int(sval(obj, "TimeoutMs", scratch), 0, &out->timeout_ms) != 0 || out->timeout_ms < 1 ||
         out->timeout_ms > kMaxTimeoutMs))
        return vnb_fail(-6, "settings: TimeoutMs out of range (1 to %d)", kMaxTimeoutMs);
    if (int32_t budget = read_read_ahead(obj, &out->read_ahead_budget, "ReadAheadBudget"); budget != 0)
        return budget;
    if ((rc = read_old_server_keys(obj, out)) != 0)
        return rc;
    if ((rc = read_read_ahead(obj, &out->read_ahead)) != 0)
        return rc;
    if ((rc = vnb_read_session_idle(obj, &out->session_idle_ms)) != 0)
        return rc;
    return read_name_settings(obj, out);
}

}  // namespace

const char *vnb_settings_type_error(const rapidjson::Value &obj)
{
    for (const SettingsKey &key : kSettingsKeys) {
        auto it = obj.FindMember(key.name);
        if (it == obj.MemberEnd())
            continue;
        const rapidjson::Value &v = it->value;
        if (!v.IsNull() && !v.IsString() && !(key.number_too && (v.IsInt64() || v.IsUint64())) &&
            !(key.bool_too && v.IsBool()))
            return key.wrong_type;
    }
    return nullptr;
}

int32_t vnb_read_name_keys(const rapidjson::Value &obj, NameSettings *names)
{
    ConnectSettings c;
    std::memset(&c, 0, sizeof c);
    c.broadcast = -1;
    int32_t rc = read_name_settings(obj, &c);
    if (rc == 0)
        vnb_apply_name_settings(c, names);
    return rc;
}

int32_t vnb_read_session_idle(const rapidjson::Value &obj, int32_t *ms)
{
    char scratch[512];
    const char *text = sval(obj, "SessionIdleMs", scratch);
    if (text == nullptr || text[0] == '\0')
        return 0;
    int32_t v = 0;
    if (parse_int(text, 0, &v) != 0 || v < 0 || v > kMaxTimeoutMs)
        return vnb_fail(-6, "settings: SessionIdleMs out of range (0 to %d)", kMaxTimeoutMs);
    *ms = v;
    return 0;
}

int32_t read_settings(const char *json, ConnectSettings *out)
{
    std::memset(out, 0, sizeof *out);
    out->local_port = kDefaultLocalPort;
    out->read_ahead = -1;
    out->read_ahead_budget = -1;
    out->broadcast = -1;
    out->session_idle_ms = -1;
    if (json == nullptr)
        return vnb_fail(-6, "settings: NULL");
    // Parsed in place in a padded copy of our own, so that the password text the
    // document holds can be wiped afterwards.
    size_t len = std::strlen(json);
    auto *copy = static_cast<char *>(std::calloc(len + kJsonInsituPad, 1));
    if (copy == nullptr)
        return vnb_fail(-11, "out of memory");
    std::memcpy(copy, json, len);
    int32_t rc = 0;
    {
        rapidjson::Document doc;
        // Iterative: a deeply nested text must not exhaust the stack.
        constexpr unsigned kFlags =
            rapidjson::kParseInsituFlag | rapidjson::kParseValidateEncodingFlag | rapidjson::kParseIterativeFlag;
        vnb_json_parse_insitu<kFlags>(doc, copy);
        if (doc.HasParseError())
            rc = vnb_fail(-6, "settings: not JSON");
        else if (!doc.IsObject())
            rc = vnb_fail(-6, "settings: not an object");
        else
            rc = read_object(doc, out);
    }
    vnb_wipe(copy, len + kJsonInsituPad);
    std::free(copy);
    if (rc != 0)
        return rc;
    if (out->host[0] == '\0')
        return vnb_fail(-6, "settings: HostName is required");
    return 0;
}

int vnb_switch_parse(const char *text)
{
    static constexpr const char *kOn[] = {"true", "on", "yes", "1"};
    static constexpr const char *kOff[] = {"false", "off", "no", "0"};
    for (const char *word : kOn)
        if (vnb_casecmp(text, word) == 0)
            return 1;
    for (const char *word : kOff)
        if (vnb_casecmp(text, word) == 0)
            return 0;
    return -1;
}

int vnb_name_server_parse(const char *text, uint32_t *out)
{
    if (text[0] == '\0') {
        *out = 0;
        return 0;
    }
    uint32_t ip = 0;
    if (!vnb_ipv4_parse(text, &ip) || ip == 0 || ip >= 0xE0000000u)
        return -1;
    *out = ip;
    return 0;
}

void vnb_apply_name_settings(const ConnectSettings &c, NameSettings *names)
{
    if (c.has_name_order) {
        names->count = c.name_order_count;
        names->order[0] = static_cast<NameMethod>(c.name_order[0]);
        names->order[1] = static_cast<NameMethod>(c.name_order[1]);
    }
    if (c.has_wins)
        names->wins = c.wins;
    if (c.broadcast >= 0)
        names->broadcast = c.broadcast != 0;
}

int32_t vnb_connect(Session &s, const TransportChoice &kind, const char *host, int port, const char *domain,
                    const char *user, const char *password)
{
    vnb_sess_drop(s);
    if (host == nullptr || host[0] == '\0')
        return vnb_fail(-6, "empty host name");
    size_t host_len = strnlen(host, sizeof s.host);
    if (host_len >= sizeof s.host)
        return vnb_fail(-6, "host name too long");
    // Nothing is resolved from a host text that is no plain name or address.
    if (int32_t rc = vnb_check_host(std::string_view(host, host_len), ""); rc != 0)
        return rc;
    if (port < 0 || port > kMaxPort)
        return vnb_fail(-6, "port out of range");

    auto store = [](char *field, const char *text, size_t max) {
        size_t len = text != nullptr ? strnlen(text, max) : 0;
        if (len > 0)
            std::memcpy(field, text, len);
        field[len] = '\0';
    };
    std::memcpy(s.host, host, host_len + 1);
    s.port = port;
    store(s.domain, domain, kMaxDomain);
    store(s.user, user, kMaxUser);
    store(s.password, password, kMaxPassword);
    s.anonymous = s.user[0] == '\0' && s.password[0] == '\0' ? 1 : 0;

    s.transport = vnb_make_transport(kind);
    if (!s.transport)
        return -11;
    s.transport->watch(&s.signal);
    s.name_service = vnb_name_service_for(kind);
    return vnb_sess_ensure(s);
}

int32_t vnb_connect_json(Session &s, const TransportChoice &kind, const char *settings_json)
{
    ConnectSettings c;
    int32_t rc = read_settings(settings_json, &c);
    if (rc == 0)
        rc = vnb_connect_settings(s, kind, c);
    vnb_wipe(c.password, sizeof c.password);
    return rc;
}

int32_t vnb_connect_settings(Session &s, const TransportChoice &kind, const ConnectSettings &c)
{
    if (c.timeout_ms != 0)
        s.timeout_ms = c.timeout_ms;
    if (c.legacy_given)
        s.legacy_auth = c.legacy_auth;
    if (c.code_page_given)
        s.code_page = c.code_page;
    vnb_apply_name_settings(c, &s.names);
    // A path names the share the caller will use first; settings without
    // one name none.
    char share[82] = "";
    if (c.path[0] != '\0' && vnsmb1c_split_path(c.path, share, sizeof share, nullptr, 0) != 0)
        share[0] = '\0';
    vnb_set_first_share(s, share);
    int32_t rc = vnb_connect(s, kind, c.host, c.port, c.domain, c.user, c.password);
    if (rc != 0)
        return rc;
    s.local_port = c.local_port;
    if (c.read_ahead >= 0)
        s.read_ahead = c.read_ahead;
    if (c.read_ahead_budget >= 0)
        s.read_ahead_budget = c.read_ahead_budget;
    return 0;
}

void vnb_disconnect(Session &s)
{
    vnb_sess_drop(s);
    vnb_wipe(s.password, sizeof s.password);
}

extern "C" {

VNSMB1C_API int vnsmb1c_s_connect(vnsmb1c_session *session, const char *host, int port, const char *domain,
                                  const char *user, const char *password)
{
    return vnb_on_session(session, [&](SessionCall &call) {
        return vnb_connect(call.s(), call.handle().choice(), host, port, domain, user, password);
    });
}

VNSMB1C_API int vnsmb1c_s_connect_json(vnsmb1c_session *session, const char *settings_json)
{
    return vnb_on_session(session, [&](SessionCall &call) {
        return vnb_connect_json(call.s(), call.handle().choice(), settings_json);
    });
}

VNSMB1C_API int vnsmb1c_s_set_timeout(vnsmb1c_session *session, int milliseconds)
{
    return vnb_on_session(session, [milliseconds](SessionCall &call) {
        if (milliseconds < 1 || milliseconds > kMaxTimeoutMs)
            return vnb_fail(-6, "time-out out of range (1 to %d ms)", kMaxTimeoutMs);
        call.s().timeout_ms = milliseconds;
        return 0;
    });
}

VNSMB1C_API int vnsmb1c_s_set_legacy_auth(vnsmb1c_session *session, const char *level)
{
    return vnb_on_session(session, [level](SessionCall &call) {
        LegacyAuth parsed = LegacyAuth::none;
        if (!vnb_legacy_auth_by_name(level, &parsed))
            return vnb_fail(-6, "legacy logons: none, ntlmv1, lm or plaintext");
        call.s().legacy_auth = parsed;
        return 0;
    });
}

VNSMB1C_API int vnsmb1c_s_set_code_page(vnsmb1c_session *session, const char *name)
{
    return vnb_on_session(session, [name](SessionCall &call) {
        CodePage parsed = kDefaultCodePage;
        if (!vnb_code_page_by_name(name, &parsed))
            return vnb_fail(-6, "code page: CP850, CP437, CP858, CP1252, ISO-8859-1 or ISO-8859-15");
        call.s().code_page = parsed;
        return 0;
    });
}

VNSMB1C_API void vnsmb1c_s_disconnect(vnsmb1c_session *session)
{
    vnb_on_session(session, [](SessionCall &call) {
        vnb_disconnect(call.s());
        return 0;
    });
}

VNSMB1C_API int vnsmb1c_connect(const char *host, int port, const char *domain, const char *user, const char *password)
{
    return vnsmb1c_s_connect(vnb_default_handle(), host, port, domain, user, password);
}

VNSMB1C_API int vnsmb1c_connect_json(const char *settings_json)
{
    return vnsmb1c_s_connect_json(vnb_default_handle(), settings_json);
}

VNSMB1C_API int vnsmb1c_set_timeout(int milliseconds)
{
    return vnsmb1c_s_set_timeout(vnb_default_handle(), milliseconds);
}

VNSMB1C_API int vnsmb1c_set_legacy_auth(const char *level)
{
    return vnsmb1c_s_set_legacy_auth(vnb_default_handle(), level);
}

VNSMB1C_API int vnsmb1c_set_code_page(const char *name)
{
    return vnsmb1c_s_set_code_page(vnb_default_handle(), name);
}

VNSMB1C_API void vnsmb1c_disconnect(void)
{
    vnsmb1c_s_disconnect(vnb_default_handle());
}

}  // extern "C"
