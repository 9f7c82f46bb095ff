// The "SMBCIFS" request-handler table, its settings reading and the scope
// that every request runs in.
#include "adapters/request_handler.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adapters/locator.h"
#include "api/connect.h"
#include "api/own_io.h"
#include "api/session_ops.h"
#include "crypto/crypto.h"
#include "net/net.h"

namespace {

constexpr vnsmb1c_RequestHandler g_handler = {
    // Each request has a session of its own: requests run side by side.
    "SMBCIFS", 0x23, h_validate, h_list, h_stream, h_download,
};

// Handler codes for the library's result codes -11 .. -1.
constexpr std::array<int, 11> kCodeOfResult = {-5, -8, -8, -6, -5, -8, -8, -2, -1, -5, -4};

constexpr size_t kMaxHost = 255;
constexpr int32_t kMaxPort = 65535;

struct Settings {
    char url_host[256] = "";
    const char *host = nullptr;
    int32_t port = 0;
    char domain[129] = "";
    char user[129] = "";
    char password[257] = "";
    int32_t idle_ms = kDefaultSessionIdleMs;
};

void cut_copy(char *dst, size_t cap, const char *src)
{
    size_t len = strnlen(src, cap - 1);
    std::memcpy(dst, src, len);
    dst[len] = '\0';
}

// 0 with the port taken from a port text, 1 when the text is empty, -1 when it
// is not a port.
int port_text(const char *text, int32_t *port)
{
    if (text[0] == '\0')
        return 1;
    errno = 0;
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || v < 1 || v > kMaxPort)
        return -1;
    *port = static_cast<int32_t>(v);
    return 0;
}

// The settings' host, port and identity; 0 or an error text.
const char *read_settings(const rapidjson::Value &root, Settings &s)
{
    if (const char *wrong = vnb_settings_type_error(root))
        return wrong;
    if (const rapidjson::Value *v = rch_string(root, "HostName"))
        s.host = v->GetString();
    bool from_url = false;
    int32_t url_port = 0;
    const rapidjson::Value *full = rch_string(root, "FullUrl");
    if (full != nullptr && full->GetStringLength() > 0) {
        char host[256], user[129], password[257], domain[129], path[1026];
        if (vnsmb1c_url_parse(full->GetString(), host, sizeof host, &url_port, user, sizeof user, password,
                              sizeof password, domain, sizeof domain, path, sizeof path) == 0) {
            from_url = true;
            cut_copy(s.url_host, sizeof s.url_host, host);
            s.host = s.url_host;
            cut_copy(s.user, sizeof s.user, user);
            cut_copy(s.password, sizeof s.password, password);
            cut_copy(s.domain, sizeof s.domain, domain);
        }
        vnb_wipe(password, sizeof password);
    }
    if (s.host == nullptr || s.host[0] == '\0')
        return "settings: HostName is required";

    // ServerPort, or Port without it: an integer or a decimal text, 1..65535.
    const rapidjson::Value *sp = rch_member(root, "ServerPort");
    if (sp == nullptr || sp->IsNull())
        sp = rch_member(root, "Port");
    int got = 1;
    if (sp != nullptr && (sp->IsInt64() || sp->IsUint64())) {
        if (!sp->IsInt64() || sp->GetInt64() < 1 || sp->GetInt64() > kMaxPort)
            return "settings: ServerPort out of range";
        s.port = static_cast<int32_t>(sp->GetInt64());
        got = 0;
    } else if (sp != nullptr && sp->IsString() && (got = port_text(sp->GetString(), &s.port)) < 0) {
        return "settings: ServerPort out of range";
    }
    if (got != 0)
        s.port = from_url ? url_port : 0;

    struct Identity {
        const char *key;
        char *field;
        size_t cap;
    };
    const Identity ids[] = {
        {"DomainName", s.domain, sizeof s.domain},
        {"UserName", s.user, sizeof s.user},
        {"Password", s.password, sizeof s.password},
    };
    for (const Identity &id : ids) {
        const rapidjson::Value *v = rch_string(root, id.key);
        if (v != nullptr && v->GetStringLength() > 0)
            cut_copy(id.field, id.cap, v->GetString());
    }
    if (std::strlen(s.host) > kMaxHost)
        return "settings: HostName too long";
    if (vnb_read_session_idle(root, &s.idle_ms) != 0)
        return "settings: SessionIdleMs out of range";
    return nullptr;
}

int parse_and_take(RchScope &scope, const TransportChoice &kind, const char *settings, char *out, int32_t capacity)
{
    if (settings == nullptr)
        return put_err(kRchBadRequest, "settings: NULL", out, capacity);
    rapidjson::Document doc;
    vnb_json_parse<kRchParseFlags>(doc, settings);
    if (doc.HasParseError())
        return put_err(kRchBadRequest, "settings: not JSON", out, capacity);
    if (!doc.IsObject())
        return put_err(kRchBadRequest, "settings: not an object", out, capacity);
    Settings s;
    NameSettings names;
    const char *failure = read_settings(doc, s);
    // NameResolve, WinsServer and NameBroadcast, as vnsmb1c_connect_json takes them.
    if (failure == nullptr && vnb_read_name_keys(doc, &names) != 0)
        failure = vnb_error();
    // The host may point into the document: copied before it goes.
    if (failure == nullptr) {
        cut_copy(scope.host, sizeof scope.host, s.host);
        scope.port = s.port;
    }
    doc.SetNull();
    doc.GetAllocator().Clear();
    if (failure != nullptr) {
        vnb_wipe(s.password, sizeof s.password);
        return put_err(kRchBadRequest, failure, out, capacity);
    }

    PoolKey key;
    key.kind = kind;
    key.host = scope.host;
    key.port = scope.port;
    key.domain = s.domain;
    key.user = s.user;
    key.password = s.password;
    vnb_wipe(s.password, sizeof s.password);
    // The other settings as a new session has them.
    key.shape = vnb_pool_shape(names, kDefaultTimeoutMs, LegacyAuth::none, kDefaultCodePage, kDefaultReadAhead,
                               kDefaultReadAheadBudget);
    int rc = scope.lease.take(key, s.idle_ms, [names](Session &session, const PoolKey &k) {
        session.names = names;
        return vnb_connect(session, k.kind, k.host.c_str(), k.port, k.domain.c_str(), k.user.c_str(),
                           k.password.c_str());
    });
    if (rc != 0)
        return put_err(rch_code(rc), vnsmb1c_last_error(), out, capacity);
    return kRchOk;
}

}  // namespace

int rch_code(int result)
{
    if (result == 0)
        return kRchOk;
    if (result >= -11 && result <= -1)
        return kCodeOfResult[static_cast<size_t>(result + 11)];
    if (result == -12)
        return kRchNetwork;  // a cancelled exchange
    return kRchBadRequest;
}

bool rch_copy(std::string_view text, char *out, int32_t capacity)
{
    if (out == nullptr || capacity <= 0 || static_cast<uint64_t>(capacity) < text.size() + 1)
        return false;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return true;
}

int put_err(int code, const char *text, char *out, int32_t capacity)
{
    rapidjson::StringBuffer sb;
    RchWriter w(sb);
    w.StartObject();
    w.Key("error");
    bool ok = w.String(text != nullptr ? text : "error");
    ok = w.EndObject() && ok;
    if (ok)
        rch_copy(std::string_view(sb.GetString(), sb.GetSize()), out, capacity);
    return code;
}

void h_teardown(RchScope &scope)
{
    scope.lease.release();
}

int h_setup(RchScope &scope, const vnsmb1c_HostIo *io, const char *settings, char *out, int32_t capacity)
{
    // Only the library's own fake-backed object is taken up; a host's object
    // is left alone and the request uses the selected transport.
    TransportChoice kind = vnb_selected_transport();
    if (io != nullptr && kind.mode == VNSMB1C_MODE_SOCKET && vnb_io_own_face(io) == 2)
        kind = TransportChoice{VNSMB1C_MODE_HOSTIO, io};
    return parse_and_take(scope, kind, settings, out, capacity);
}

void rch_url(const RchScope &scope, char (&url)[2112], std::string_view tail)
{
    vnb_smb1_locator(url, sizeof url, scope.host, scope.port, tail.substr(0, sizeof url));
}

const rapidjson::Value *rch_member(const rapidjson::Value &obj, const char *key)
{
    if (!obj.IsObject())
        return nullptr;
    auto it = obj.FindMember(key);
    return it != obj.MemberEnd() ? &it->value : nullptr;
}

const rapidjson::Value *rch_string(const rapidjson::Value &obj, const char *key)
{
    const rapidjson::Value *v = rch_member(obj, key);
    return v != nullptr && v->IsString() ? v : nullptr;
}

extern "C" {

VNSMB1C_API const vnsmb1c_RequestHandler *vnrch_get(void)
{
    return &g_handler;
}

VNSMB1C_API const vnsmb1c_RequestHandler *vnsmb1c_vnrch_handler(void)
{
    return &g_handler;
}

}  // extern "C"
