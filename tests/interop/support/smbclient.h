// Samba's own smbclient, forced to SMB1 (NT1), as a reference client against
// the test server.
#pragma once

#include <string>
#include <vector>

#include "interop/support/run_process.h"
#include "interop/support/samba_server.h"

namespace interop {

struct SmbLogon {
    std::string user;  // empty: guest logon (-N)
    std::string password;
};

// Empty when smbclient can be run, else why not.
std::string smbclient_unavailable();

// smbclient //127.0.0.1/<share> -c <commands> with the logon; `extra` options
// come before the service name.
ProcessResult smbclient(const SambaServer &server, const std::string &share, const SmbLogon &logon,
                        const std::string &commands, const std::vector<std::string> &extra = {});
// smbclient -L: the share listing through srvsvc.
ProcessResult smbclient_shares(const SambaServer &server, const SmbLogon &logon,
                               const std::vector<std::string> &extra = {});

}  // namespace interop
