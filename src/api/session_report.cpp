// vnsmb1c_session_json: what the server negotiated, straight from the
// session.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "api/result_slot.h"
#include "api/session_handle.h"
#include "api/session_ops.h"
#include "sess/trans.h"
#include "util/smb1_wire.h"
#include "vnsmb1c.h"

std::string vnb_session_report(const Session &s, uint64_t frames)
{
    char dialect_index[16];
    std::snprintf(dialect_index, sizeof dialect_index, "0x%04x", static_cast<unsigned>(s.dialect_index));
    char security_mode[8];
    std::snprintf(security_mode, sizeof security_mode, "0x%02x", s.security_mode & 0xFFu);
    char guid[2 * sizeof s.server_guid + 1];
    for (size_t i = 0; i < sizeof s.server_guid; i++)
        std::snprintf(guid + 2 * i, 3, "%02x", s.server_guid[i]);

    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> w(out);
    w.StartObject();
    w.Key("dialect");
    w.String(s.negotiated == 1 ? "NT LM 0.12" : "none");
    w.Key("dialect_index");
    w.String(dialect_index);
    w.Key("security_mode");
    w.String(security_mode);
    w.Key("signing");
    w.Bool(s.signing != 0);
    w.Key("guest");
    w.Bool(s.guest != 0);
    w.Key("server_guid");
    w.String(guid);
    w.Key("max_buffer");
    w.Uint(s.max_buffer);
    w.Key("max_raw");
    w.Uint(s.max_raw);
    w.Key("max_mpx");
    w.Uint(s.max_mpx);
    w.Key("local_port");
    w.Int(s.local_port);
    w.Key("shares");
    w.Int(s.share_count);
    // Old servers: the logon used (and, on a share-level server, how the
    // share password went), the string form, and what the settings allow.
    const bool up = s.established != 0;
    w.Key("logon");
    w.String(vnb_logon_kind_name(up ? s.logon : LogonKind::none));
    w.Key("share_password");
    w.String(vnb_logon_kind_name(up ? s.tree_logon : LogonKind::none));
    w.Key("unicode");
    w.Bool(up && vnb_sess_unicode(s) != 0);
    w.Key("dos_errors");
    w.Bool(up && (s.capabilities & smb::kCapStatus32) == 0);
    w.Key("code_page");
    w.String(vnb_code_page_name(s.code_page));
    w.Key("legacy_auth");
    w.String(vnb_legacy_auth_name(s.legacy_auth));
    w.Key("connection");
    w.String(s.transport && s.transport_open ? s.transport->connected_via() : "");
    w.Key("frames");
    w.Uint64(frames);
    if (!w.EndObject() || !w.IsComplete())
        return {};
    return std::string(out.GetString(), out.GetSize());
}

extern "C" {

VNSMB1C_API const char *vnsmb1c_s_session_json(vnsmb1c_session *session)
{
    SessionCall call(session);
    if (call.refused() != 0)
        return "";
    std::string text = vnb_session_report(call.s(), vnb_frames_sent());
    const uint64_t serial = call.handle().serial;
    if (text.empty())
        return vnb_result_store(nullptr, serial);
    auto *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return vnb_result_store(copy, serial);
}

VNSMB1C_API const char *vnsmb1c_session_json(void)
{
    return vnsmb1c_s_session_json(vnb_default_handle());
}

}  // extern "C"
