// The two clocks of the library.
#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock.
uint64_t vnb_now_ms();
// Seconds since 1970-01-01 UTC.
int64_t vnb_unix_now();
