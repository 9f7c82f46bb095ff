// Reading the settings JSON of vnsmb1c_connect_json.
#pragma once

#include <cstdint>

struct ConnectSettings {
    char host[256];
    int32_t port;        // 0 stands for 445
    char domain[129];
    char user[129];
    char password[257];
    char path[1026];     // length-checked only
    int32_t local_port;  // only reported back by the session report
    int32_t timeout_ms;  // 0 when not given
};

// Fills out from the settings JSON text, checking every key in the order
// the connect applies them. 0, or -6 with the error text set.
int32_t read_settings(const char *json, ConnectSettings *out);

// The longest time-out a session takes: one hour.
inline constexpr int32_t kMaxTimeoutMs = 3600000;
