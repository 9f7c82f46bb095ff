// Reading the settings JSON of vnsmb1c_connect_json.
#pragma once

#include <cstdint>

#include <rapidjson/document.h>

#include "api/session_ops.h"
#include "sess/legacy_auth.h"
#include "util/codepage.h"
#include "net/name_resolve.h"

struct ConnectSettings {
    char host[256];
    int32_t port;        // 0 stands for 445
    char domain[129];
    char user[129];
    char password[257];
    char path[1026];     // length-checked only
    int32_t local_port;  // only reported back by the session report
    int64_t read_ahead;  // bytes per open file; -1 when the settings leave it as it is
    int64_t read_ahead_budget;  // bytes for all open files; -1 when left as it is
    int32_t timeout_ms;  // 0 when not given

    // Old servers: "LegacyAuth" and "CodePage", each kept as it is when
    // absent (legacy_given / code_page_given false).
    bool legacy_given;
    LegacyAuth legacy_auth;
    bool code_page_given;
    CodePage code_page;

    // Name resolution; each part applies only when given.
    int32_t has_name_order;
    uint8_t name_order[2];  // NameMethod values
    uint8_t name_order_count;
    int32_t has_wins;
    uint32_t wins;          // 0: no WINS server
    int32_t broadcast;      // -1 when not given

    // How long the host tables keep the session logged on for the next
    // call: -1 when not given (the default), 0 for not at all.
    int32_t session_idle_ms;
};

// The largest ReadAhead the settings accept (1 GiB).
inline constexpr int64_t kMaxReadAhead = int64_t{1} << 30;

// Fills out from the settings JSON text: first the JSON type of every key,
// then each key in the order the connect applies them. Ports are 1..65535;
// an absent, null or empty one keeps its default. 0, or -6 with the error
// text set.
int32_t read_settings(const char *json, ConnectSettings *out);

// The error text for the first settings key whose value has a JSON type it
// cannot have (texts want a string, ports an integer or a string; null
// always counts as absent), or NULL when every key present is well typed.
const char *vnb_settings_type_error(const rapidjson::Value &settings);

// The parts of the settings that say how names are resolved, applied to a
// session's (or discovery's) name settings.
void vnb_apply_name_settings(const ConnectSettings &c, NameSettings *names);
// The name keys of a settings object (NameResolve, WinsServer,
// NameBroadcast; their JSON types checked before), applied to names: 0, or
// -6 with the error text and names untouched.
int32_t vnb_read_name_keys(const rapidjson::Value &obj, NameSettings *names);
// "true", "on", "yes", "1" (1); "false", "off", "no", "0" (0); -1 otherwise.
int vnb_switch_parse(const char *text);
// A WINS server's address: an IPv4 unicast address, or "" for none (0).
// 0, or -1.
int vnb_name_server_parse(const char *text, uint32_t *out);

// SessionIdleMs of a settings object (its JSON type checked before): absent,
// null or "" leaves *ms as it is; else a decimal integer from 0 to
// kMaxTimeoutMs. 0, or -6 with the error text set.
int32_t vnb_read_session_idle(const rapidjson::Value &obj, int32_t *ms);

// vnb_connect_json with settings read already.
int32_t vnb_connect_settings(Session &s, const TransportChoice &kind, const ConnectSettings &c);

// The longest time-out a session takes: one hour.
inline constexpr int32_t kMaxTimeoutMs = 3600000;
