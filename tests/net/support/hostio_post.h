// One post through a HostIo, with the texts it handed out taken back through
// the object's own `free`.
#pragma once

#include <optional>
#include <string>

#include "vnsmb1c.h"

constexpr long kUntouchedStatus = 777;

struct PostResult {
    int rc = 0;
    long status = kUntouchedStatus;
    std::optional<std::string> body;
    std::optional<std::string> error;
};

PostResult post(const vnsmb1c_HostIo *io, const char *url, const char *body, bool want_error = true);
// The GET refusal that both of the library's own objects give.
void expect_get_refused(const vnsmb1c_HostIo *io);
