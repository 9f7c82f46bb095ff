// `vnsmb1c serve`: the gateway started from the command line.
#pragma once

#include <string>
#include <vector>

#include "options.h"

// What `serve` is told: where to listen (ADDRESS:PORT, "" for
// 127.0.0.1:8080), the host names it answers to besides its own, and the
// limits it holds clients to (0: the default).
struct ServeArgs {
    std::string listen;
    std::vector<std::string> allow_hosts;
    int max_connections = 0;
    int max_per_client = 0;
    int head_timeout_s = 0;
    int idle_timeout_s = 0;
    int send_timeout_s = 0;
    int max_sessions = 0;    // sessions to the server at once
    int session_idle_s = 0;  // seconds before an unused session logs off
    std::string auth_file;   // HTTP Basic authentication: the user and password asked of clients
    double within_s = 0;     // smb://: seconds to look for the network's servers (0: the library's default)
};
// Serves the server's shares over HTTP until the process is stopped; for
// smb:// (no host), the servers the network's discovery lists, each with
// its shares.
int cmd_serve(const GlobalOptions &opt, const std::string &url, const ServeArgs &args);
