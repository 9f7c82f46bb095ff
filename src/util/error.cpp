#include "util/error.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

thread_local char g_err[512];

namespace {

// The text is formed in a scratch area first, so that an argument may be
// g_err itself ("settings: %s" with the current text).
void set_error_v(const char *fmt, va_list ap)
{
    char scratch[512];
    int n = std::vsnprintf(scratch, sizeof scratch, fmt, ap);
    if (n < 0)
        scratch[0] = '\0';
    std::memcpy(g_err, scratch, sizeof scratch);
    g_err[sizeof g_err - 1] = '\0';
}

}  // namespace

void vnb_set_error(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    set_error_v(fmt, ap);
    va_end(ap);
}

int32_t vnb_fail(int32_t code, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    set_error_v(fmt, ap);
    va_end(ap);
    return code;
}

const char *vnb_error()
{
    return g_err;
}
