#include "net/clock.h"

#include <chrono>

uint64_t vnb_now_ms()
{
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

int64_t vnb_unix_now()
{
    auto since = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(since).count());
}
