// Clean-up that must not change the outcome of the call it ends (closing a
// handle after a listing, say): the error text the call left, and with
// keep_status its recorded server status, are put back when the guard goes,
// whatever the clean-up met.
#pragma once

#include <cstdint>
#include <cstring>

#include "sess/session.h"
#include "util/error.h"

class KeepOutcome {
public:
    explicit KeepOutcome(Session &s, bool keep_status = true)
        : s_(s), keep_status_(keep_status), code_(s.last_code), status_(s.last_status), status_nt_(s.last_status_nt)
    {
        std::memcpy(text_, g_err, sizeof text_);
    }
    ~KeepOutcome()
    {
        std::memcpy(g_err, text_, sizeof text_);
        if (keep_status_) {
            s_.last_code = code_;
            s_.last_status = status_;
            s_.last_status_nt = status_nt_;
        }
    }
    KeepOutcome(const KeepOutcome &) = delete;
    KeepOutcome &operator=(const KeepOutcome &) = delete;

private:
    Session &s_;
    bool keep_status_;
    int32_t code_;
    uint32_t status_;
    int32_t status_nt_;
    char text_[sizeof g_err];
};
