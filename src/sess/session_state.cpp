#include "sess/session_state.h"

#include <cstring>

SessionState g_s;
int32_t g_init;

int vnb_state_ensure_init()
{
    if (g_init)
        return 0;
    std::memset(&g_s, 0, sizeof g_s);
    g_init = 1;
    g_s.timeout_ms = kDefaultTimeoutMs;
    return 1;
}
