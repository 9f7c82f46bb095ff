// An isolated NetBIOS network for the name service tests: two network
// namespaces joined by a veth pair with documentation addresses (server
// 192.0.2.1/24, client 192.0.2.2/24, RFC 5737) and no other link, so that
// nothing sent inside leaves them. The server side runs Samba's nmbd (the
// local master browser of a workgroup, with WINS support) and smbd (SMB1,
// no DCE/RPC helpers: \srvsvc is refused, as on servers that only speak
// RAP); library calls run on a thread that has joined the client's
// namespace, and the tool runs there through `ip netns exec`.
//
// The daemons run in process groups of their own and are stopped by their
// ids, and the namespaces (with the veth pair) are deleted, when the lab
// goes away; namespaces a killed test process left behind are deleted by
// the next lab. Needs root, iproute2 and Samba; unavailable() says why not.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "interop/support/daemon.h"
#include "interop/support/run_process.h"

namespace interop {

inline constexpr char kLabWorkgroup[] = "VNSMBTWG";
inline constexpr char kLabServerName[] = "VNSMBTNAS";
inline constexpr char kLabWinsOnlyName[] = "VNSMBTWINS";  // only the WINS server knows it
inline constexpr char kLabComment[] = "vnsmb1c test NAS";
inline constexpr char kLabShare[] = "media";
inline constexpr char kLabFile[] = "film.txt";
inline constexpr char kLabServerAddress[] = "192.0.2.1";
inline constexpr char kLabClientAddress[] = "192.0.2.2";

class NetnsLab {
public:
    NetnsLab();
    ~NetnsLab();
    NetnsLab(const NetnsLab &) = delete;
    NetnsLab &operator=(const NetnsLab &) = delete;

    // Empty when this machine can build the lab, else why not.
    static std::string unavailable();

    // The namespaces, the link and the daemons; waits until nmbd answers.
    testing::AssertionResult start();

    // Runs f on a thread whose network namespace is the client's.
    void in_client(const std::function<void()> &f) const;
    // Runs the tool in the client's namespace.
    ProcessResult tool(const std::vector<std::string> &args, int timeout_ms = 60000) const;

    const std::string &client_interface() const { return client_if_; }
    std::string log_tail() const;

private:
    testing::AssertionResult ip(const std::vector<std::string> &args) const;
    void write_conf() const;

    std::string server_ns_;
    std::string client_ns_;
    std::string server_if_;
    std::string client_if_;
    std::filesystem::path root_;
    bool made_ = false;
    Daemon nmbd_;
    Daemon smbd_;
};

}  // namespace interop
