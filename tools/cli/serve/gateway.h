// The HTTP gateway: every share of the connected session under /Share/...,
// read-only, served by a pool of worker threads.
#pragma once

#include <string>

#include "listen_address.h"

namespace serve {

struct GatewayOptions {
    ListenAddress listen;
    std::string start_share;  // where "/" leads; "" lists the shares there
    bool quiet = false;       // no line per request
};

// Binds the address, prints the start line and serves until the process
// ends. Returns an exit code when it cannot listen.
int run_gateway(const GatewayOptions &options, const std::string &server_name);

}  // namespace serve
