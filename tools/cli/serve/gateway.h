// The HTTP gateway: every share of the connected session under /Share/...,
// read-only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "basic_auth.h"
#include "http_message.h"
#include "listen_address.h"
#include "session_pool.h"

namespace serve {

struct GatewayOptions {
    ListenAddress listen;
    std::string start_share;  // the share of the URL, named on start; "/" lists the shares
    bool quiet = false;       // no line per request
    std::vector<std::string> allowed_hosts;  // names served besides localhost and the address itself
    HttpLimits limits;
    PoolOptions pool;
    std::optional<BasicAuth> auth;  // when set, every request must carry it
};

// Binds the address, prints the start line and serves until the process
// ends. Returns an exit code when it cannot listen.
// Every request works on a session of the pool, which connect makes.
int run_gateway(const GatewayOptions &options, const std::string &server_name, SessionPool::Connect connect);

}  // namespace serve
