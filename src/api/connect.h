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
    int64_t read_ahead;  // bytes per open file; -1 when the settings leave it as it is
};

// The largest ReadAhead the settings accept (1 GiB).
inline constexpr int64_t kMaxReadAhead = int64_t{1} << 30;

// Fills out from the settings JSON text, checking every key in the order
// the connect applies them. 0, or -6 with the error text set.
int32_t read_settings(const char *json, ConnectSettings *out);
