// The HTTP gateway: every share of the connected session under /Share/...,
// or every server of the network under /SERVER/Share/..., read-only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "basic_auth.h"
#include "http_message.h"
#include "listen_address.h"
#include "server_list.h"
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

// Where the sessions come from: one server's (connect), or, when connect is
// empty, the network's servers, which discovery lists ("/" then lists them
// and "/NAME/" is the server NAME's shares) and connect_to reaches.
struct Upstream {
    SessionPool::Connect connect;
    ServerList::Discover discover;
    std::function<SessionPool::Connect(const NetServer &server)> connect_to;
};

// Binds the address, prints the start line and serves until the process
// ends. Returns an exit code when it cannot listen.
// Every request works on a session of a server's pool.
int run_gateway(const GatewayOptions &options, const std::string &server_name, Upstream upstream);

}  // namespace serve
