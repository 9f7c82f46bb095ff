// Shared pieces of the vnsmb1c command-line client.
#pragma once

#include <cstdint>
#include <string>

// Exit codes: 0 success, 2 usage, 3 local file, 10 + |ResultCode| for a
// library failure (11 network ... 21 out of memory), 22 another failure a
// host table reported.
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLocal = 3;
inline constexpr int kExitLibraryBase = 10;

struct GlobalOptions {
    std::string fake_tree;  // path of a fake tree JSON, empty for the network
    bool relay = false;
    std::string user;
    std::string password;
    std::string domain;
    bool quiet = false;
};

// A parsed smb:// URL with the credentials options and environment supply.
struct Target {
    std::string host;
    int port = 0;
    std::string domain;
    std::string user;
    std::string password;
    std::string path;  // share-qualified, "" for the server itself
};

// Prints "vnsmb1c: " and the library's error text; returns the exit code for rc.
int report_failure(int rc);
int report_local(const std::string &text);
int exit_code_for(int rc);

// Parses the URL and fills in credentials; 0 or an exit code.
int resolve_target(const std::string &url, const GlobalOptions &opt, Target &out);
// Selects the transport the options ask for, without connecting; 0 or an exit code.
int select_transport(const GlobalOptions &opt);
// Selects the transport and logs on; 0 or an exit code.
int open_session(const GlobalOptions &opt, const Target &t);
// Resolves %XX escapes.
std::string percent_decode(const std::string &s);
bool read_text_file(const std::string &path, std::string &out);

// Commands; each returns the process exit code.
int cmd_shares(const GlobalOptions &opt, const std::string &url, bool json);
int cmd_ls(const GlobalOptions &opt, const std::string &url, bool json);
int cmd_stat(const GlobalOptions &opt, const std::string &url, bool json);
int cmd_cat(const GlobalOptions &opt, const std::string &url);
int cmd_get(const GlobalOptions &opt, const std::string &url, const std::string &dest);
int cmd_selftest();

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

// Output helpers.
std::string human_size(int64_t bytes);
std::string utc_time(int64_t mtime_ms);
std::string duration_text(double seconds);
std::string json_quote(const std::string &s);
