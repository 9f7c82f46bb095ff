// `vnsmb1c host`: the library's host tables driven from the shell.
#pragma once

#include <string>

#include "options.h"

// One "host" request: the request handler (validate, list, stream) or the
// folder-access backend (list, stat, locator).
struct HostRequest {
    bool backend = false;
    std::string action;
    std::string settings;  // JSON text, @file or an smb:// URL
    std::string path;      // path, or the entry JSON for stream
    int page = 50;
    bool all_pages = false;
};
int cmd_host(const GlobalOptions &opt, const HostRequest &rq);
