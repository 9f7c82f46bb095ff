// A real Samba smbd that speaks only SMB1 (NT1), listening on a free loopback
// port and sandboxed in a temporary folder (configuration, share trees, its
// databases, sockets and logs), for the interop tests.
//
// Needs root (smbd, useradd) and the Debian packages samba and smbclient;
// SambaServer::unavailable() names what is missing. Share listings need
// samba-dcerpcd, which the server runs next to smbd as its own child.
// Every daemon runs in a process group of its own that is stopped by its id
// (SIGTERM, then SIGKILL after a bounded wait) when the server object goes
// away, at exit, or, should the test process die, because the daemons see
// their standard input close and get SIGTERM as parent-death signal.
// Set VNSMB1C_KEEP_SAMBA=1 to keep the temporary folder for a look at the logs
// (log/smbd.out, log/samba-dcerpcd.out) and VNSMB1C_SAMBA_LOG_LEVEL=N for
// more of them.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "interop/support/daemon.h"

namespace interop {

struct ShareConfig {
    std::string name;
    bool guest_ok = false;
    bool writable = false;
    std::vector<std::string> valid_users;  // empty: every user
    // Unix account that owns the tree, which then is private to it (0700 and
    // 0600); add_user it before add_share. Empty: root owns it, world-readable,
    // or world-writable when the share is writable.
    std::string owner;
    std::vector<std::string> params;  // further "name = value" lines
};

// The three kinds of share the tests use.
ShareConfig read_only_share(const std::string &name, bool guest_ok = true);
// Only `user` may connect, and its Unix account owns the tree.
ShareConfig private_share(const std::string &name, const std::string &user);
// Anyone, guests included, may change it.
ShareConfig writable_share(const std::string &name);

struct SambaOptions {
    std::string signing = "default";  // "server signing": default, auto, mandatory or disabled
    std::vector<std::string> global_params;  // further "name = value" lines for [global]
    int log_level = -1;  // smbd's debug level; -1: VNSMB1C_SAMBA_LOG_LEVEL, or 1
    int port = 0;        // a fixed port (139 for the NetBIOS tests); 0 picks a free one
    std::string debug_classes;  // debug classes beyond the level, e.g. "auth_audit:3"
};

struct SparseMarker {
    uint64_t offset;
    std::string text;
};

// size bytes of a fixed pseudo-random sequence chosen by seed.
std::vector<uint8_t> pattern_bytes(uint64_t size, uint64_t seed);

class SambaServer {
public:
    static constexpr const char *kHost = "127.0.0.1";
    static constexpr int kWaitMs = 20000;  // longest wait for a daemon to come up

    // Creates the temporary folder; nothing runs yet.
    explicit SambaServer(SambaOptions options = {});
    ~SambaServer();
    SambaServer(const SambaServer &) = delete;
    SambaServer &operator=(const SambaServer &) = delete;

    // Empty when this machine can run the server, else why not.
    static std::string unavailable();

    // A Samba user with that password, created as a Unix account first when
    // missing (useradd -M -N). Names must start with "vnsmbt".
    testing::AssertionResult add_user(const std::string &name, const std::string &password);
    // Adds a share whose folder is <root>/shares/<name>; before start() only.
    std::filesystem::path add_share(const ShareConfig &config);

    // Content of a share: rel is a path below the share's folder (UTF-8, '/'
    // separated); missing parents are created. Ownership and modes follow the
    // share. These throw std::runtime_error or filesystem_error on failure.
    std::filesystem::path path(const std::string &share, const std::string &rel = "") const;
    void write_file(const std::string &share, const std::string &rel, std::string_view bytes);
    std::vector<uint8_t> write_random_file(const std::string &share, const std::string &rel, uint64_t size,
                                           uint64_t seed);
    // A file of `size` bytes that is one hole except for the marker texts.
    void write_sparse_file(const std::string &share, const std::string &rel, uint64_t size,
                           const std::vector<SparseMarker> &markers);
    void make_dir(const std::string &share, const std::string &rel);
    // count empty files named <prefix>NNNNN (five digits from 00000) in dir.
    void make_entries(const std::string &share, const std::string &dir, int count,
                      const std::string &prefix = "entry");
    void set_mtime(const std::string &share, const std::string &rel, int64_t unix_seconds);

    // Picks a port, starts samba-dcerpcd and smbd and waits until smbd accepts
    // connections. A port that turns out to be taken is replaced by another.
    testing::AssertionResult start();
    // Stops smbd and samba-dcerpcd; the temporary folder stays until destruction.
    void stop();
    // The server vanishing mid-session: SIGKILL to smbd and every process it forked.
    void kill_smbd();
    // smbd alone: stopped gracefully, or started again on the same port.
    void stop_smbd();
    testing::AssertionResult start_smbd();
    testing::AssertionResult restart();

    bool running() const { return smbd_.pid > 0; }
    int port() const { return port_; }
    pid_t smbd_pid() const { return smbd_.pid; }
    const std::filesystem::path &root() const { return root_; }
    std::filesystem::path conf_path() const { return root_ / "smb.conf"; }
    // The last lines smbd and samba-dcerpcd printed, for failure messages.
    std::string log_tail(size_t max_bytes = 4000) const;

private:
    struct Share {
        ShareConfig config;
        std::filesystem::path dir;
        uid_t uid = 0;  // of config.owner
        gid_t gid = 0;
    };

    const Share &share(const std::string &name) const;
    void write_conf() const;
    void fix_modes(const Share &s, const std::filesystem::path &p) const;
    void fix_tree(const Share &s) const;
    // The new path after creating its parents with the share's modes.
    std::filesystem::path prepare(const std::string &share, const std::string &rel) const;
    testing::AssertionResult spawn(Daemon &d, const std::vector<std::string> &argv, const char *log_name);
    testing::AssertionResult start_dcerpcd();
    testing::AssertionResult wait_for_port(int timeout_ms);
    testing::AssertionResult launch_smbd(bool *exited);

    SambaOptions options_;
    std::filesystem::path root_;
    std::vector<Share> shares_;
    int port_ = 0;
    Daemon smbd_;
    Daemon dcerpcd_;
};

}  // namespace interop
