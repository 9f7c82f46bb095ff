#include "interop/support/smbclient.h"

#include <unistd.h>

namespace interop {

namespace {

constexpr int kClientTimeoutMs = 60000;

std::vector<std::string> base_args(const SambaServer &server, const SmbLogon &logon,
                                   const std::vector<std::string> &extra)
{
    // The machine's smb.conf plays no part: -s /dev/null.
    std::vector<std::string> argv = {"smbclient", "-s", "/dev/null", "-p", std::to_string(server.port()),
                                     "-m", "NT1", "--option=client min protocol=NT1"};
    if (logon.user.empty())
        argv.push_back("-N");
    else
        argv.insert(argv.end(), {"-U", logon.user + "%" + logon.password});
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
}

// UTF-8 names in smbclient's output whatever the caller's locale.
const std::vector<std::string> kClientEnv = {"LC_ALL=C.UTF-8"};

}  // namespace

std::string smbclient_unavailable()
{
    for (const char *dir : {"/usr/bin", "/usr/local/bin", "/bin"})
        if (access((std::string(dir) + "/smbclient").c_str(), X_OK) == 0)
            return {};
    return "smbclient is not installed (Debian package smbclient)";
}

ProcessResult smbclient(const SambaServer &server, const std::string &share, const SmbLogon &logon,
                        const std::string &commands, const std::vector<std::string> &extra)
{
    auto argv = base_args(server, logon, extra);
    argv.insert(argv.end(), {std::string("//") + SambaServer::kHost + "/" + share, "-c", commands});
    return run_process(argv, {}, kClientTimeoutMs, kClientEnv);
}

ProcessResult smbclient_shares(const SambaServer &server, const SmbLogon &logon,
                               const std::vector<std::string> &extra)
{
    auto argv = base_args(server, logon, extra);
    argv.insert(argv.end(), {"-L", SambaServer::kHost});
    return run_process(argv, {}, kClientTimeoutMs, kClientEnv);
}

}  // namespace interop
