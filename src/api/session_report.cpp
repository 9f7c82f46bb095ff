// vnsmb1c_session_json: what the server negotiated, straight from g_s.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "api/result_slot.h"
#include "sess/session_state.h"
#include "vnsmb1c.h"

namespace {

char *heap_copy(const char *text, size_t len)
{
    auto *copy = static_cast<char *>(std::malloc(len + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, len + 1);
    return copy;
}

}  // namespace

extern "C" VNSMB1C_API const char *vnsmb1c_session_json(void)
{
    vnb_state_ensure_init();

    char dialect_index[16];
    std::snprintf(dialect_index, sizeof dialect_index, "0x%04x", static_cast<unsigned>(g_s.dialect_index));
    char security_mode[8];
    std::snprintf(security_mode, sizeof security_mode, "0x%02x", g_s.security_mode & 0xFFu);
    char guid[2 * sizeof g_s.server_guid + 1];
    for (size_t i = 0; i < sizeof g_s.server_guid; i++)
        std::snprintf(guid + 2 * i, 3, "%02x", g_s.server_guid[i]);

    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> w(out);
    w.StartObject();
    w.Key("dialect");
    w.String(g_s.negotiated == 1 ? "NT LM 0.12" : "none");
    w.Key("dialect_index");
    w.String(dialect_index);
    w.Key("security_mode");
    w.String(security_mode);
    w.Key("signing");
    w.Bool(g_s.signing != 0);
    w.Key("guest");
    w.Bool(g_s.guest != 0);
    w.Key("server_guid");
    w.String(guid);
    w.Key("max_buffer");
    w.Uint(g_s.max_buffer);
    w.Key("max_raw");
    w.Uint(g_s.max_raw);
    w.Key("max_mpx");
    w.Uint(g_s.max_mpx);
    w.Key("local_port");
    w.Int(g_s.local_port);
    w.Key("shares");
    w.Int(g_s.share_count);
    w.Key("frames");
    w.Uint64(g_s.frames_sent);
    if (!w.EndObject() || !w.IsComplete())
        return vnb_result_store(nullptr);
    return vnb_result_store(heap_copy(out.GetString(), out.GetSize()));
}
