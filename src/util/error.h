// Text of the most recent failure, one per thread.
#pragma once

#include <cstdint>

#if defined(__MINGW32__)
// MinGW builds use its C99 printf family (%zu, %lld), not the old runtime's.
#define VNB_PRINTF(fmt_index, first_arg) __attribute__((format(gnu_printf, fmt_index, first_arg)))
#elif defined(__GNUC__)
#define VNB_PRINTF(fmt_index, first_arg) __attribute__((format(printf, fmt_index, first_arg)))
#else
#define VNB_PRINTF(fmt_index, first_arg)
#endif

// 512 bytes, NUL-terminated, at most 511 bytes of text. Never cleared.
extern thread_local char g_err[512];

// Formats into g_err (cut to 511 bytes). An argument may be g_err itself.
void vnb_set_error(const char *fmt, ...) VNB_PRINTF(1, 2);
// Same formatting; returns code unchanged so a failing path can return it.
int32_t vnb_fail(int32_t code, const char *fmt, ...) VNB_PRINTF(2, 3);
// The current text; never NULL, empty before the first failure.
const char *vnb_error();
