// Shared pieces of the vnsmb1c command-line client.
#pragma once

#include <signal.h>

#ifdef _WIN32
#include <mutex>
#endif

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "listing.h"

// Exit codes: 0 success, 2 usage (also a folder where a file is wanted and
// the other way round), 3 local file, 4 destination exists, 10 +
// |ResultCode| for a library failure (11 network ... 21 out of memory), 22
// another failure a host table reported, 128 + the signal number when
// interrupted.
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLocal = 3;
inline constexpr int kExitExists = 4;
inline constexpr int kExitLibraryBase = 10;
inline constexpr int kExitSignalBase = 128;

// A fault switch of the fake server, thrown once a transfer has copied
// at_bytes (or before connecting when at_bytes is negative).
struct FakeFault {
    std::string name;
    int value = 0;
    int64_t at_bytes = -1;
};

struct GlobalOptions {
    std::string fake_tree;  // path of a fake tree JSON, empty for the network
    bool relay = false;
    double timeout_s = 0;   // 0: the library's default
    // The identity of -U, -P, -W and the credentials file; empty fields
    // leave the URL's.
    std::string user;
    std::string password;
    bool password_given = false;  // -P, -U USER%PASSWORD or the file, even when empty
    std::string domain;
    std::string auth_file;        // -A
    bool quiet = false;
    FakeFault fault;
    int64_t read_ahead = -1;  // bytes per open file; -1 leaves the library's default
    // Old servers: --legacy-auth and --code-page, empty when not given.
    std::string legacy_auth;
    std::string code_page;
    // How server names are found (vnsmb1c_set_name_resolve); empty: as they are.
    std::string name_resolve;
    std::string wins;
    bool no_broadcast = false;
};

// A parsed smb:// URL with the credentials options and environment supply.
struct Target {
    std::string url;  // as given on the command line
    std::string host;
    int port = 0;
    std::string domain;
    std::string user;
    std::string password;
    bool password_given = false;  // from -P, the URL, the environment or the prompt
    std::string path;             // share-qualified, "" for the server itself
};

// Prints "vnsmb1c: " and the library's error text; returns the exit code for rc.
int report_failure(int rc);
// The same for a failure while working on t: statuses people meet are put
// in plain words about t's path, share or user, the server's status name
// kept in parentheses.
int report_failure(int rc, const Target &t);
int report_local(const std::string &text);
// smb://host[:port] of t, the host in brackets when it is an IPv6 address;
// never the identity.
std::string server_url(const Target &t);
// "cannot create DEST: <reason>" from errno.
int report_errno(const std::string &what, const std::string &path, int err);
int exit_code_for(int rc);

// Turns \\host\share\path into smb://host/share/path; other text
// unchanged. A UNC host part holds no "@" (no user, no port): such a text
// gives "", after a message.
std::string url_from_unc(const std::string &text);
// -U's value: [DOMAIN\ or DOMAIN/]USER[%PASSWORD], as smbclient takes it.
void split_user_option(const std::string &value, GlobalOptions &opt);
// Fills the identity fields -U, -P and -W left empty from a credentials
// file in smbclient's form ("username = ...", "password = ...",
// "domain = ..."). 0, or an exit code after a message.
int read_credentials_file(const std::string &path, GlobalOptions &opt);
// Wipes the passwords from the process's own arguments (what ps shows):
// the values of -P and of -U's "%...", the password of a URL, a settings
// JSON's "Password".
void hide_passwords(int argc, char **argv);
// Parses the URL and fills in credentials; 0 or an exit code.
int resolve_target(const std::string &url, const GlobalOptions &opt, Target &out);
// A password for user at host from VNSMB1C_PASSWORD, or asked for on the
// terminal (once per user and host); false when there is none.
bool password_from_elsewhere(const std::string &user, const std::string &host, std::string &password);
// Selects the transport the options ask for, without connecting; 0 or an exit code.
int select_transport(const GlobalOptions &opt);
// Selects the transport and logs on; 0 or an exit code. A session with the
// same server and identity that is still open is used again.
int open_session(const GlobalOptions &opt, const Target &t);
// Both of the above.
int connect_to(const GlobalOptions &opt, const std::string &url, Target &t);
// Logs off the session open_session opened, if any.
void close_session();
bool read_text_file(const std::string &path, std::string &out);

struct ListOptions {
    bool all = false;  // hidden names too
    bool json = false;
    bool recursive = false;
    SortKey sort = SortKey::name;
    bool reverse = false;
};

struct GetOptions {
    bool force = false;
    bool recursive = false;
    bool resume = false;         // -c: append to a partial file that matches
    bool update = false;         // -u: copy only what is missing or differs
    bool skip_existing = false;  // -n: leave existing files alone
};

// One share-qualified path a URL stands for, with its entry when a listing
// gave it.
struct RemotePath {
    std::string path;
    bool listed = false;
    Item item;
};
// The paths t.path stands for: itself, or the entries of its folder that its
// last part matches (in name order, hidden ones only for a pattern that
// starts like them). 0, or an exit code after a message (14: no match).
int expand_target(const Target &t, std::vector<RemotePath> &out);

// Several URLs: the exit code of the first failure, the work going on past it.
struct Outcome {
    int code = 0;
    void add(int rc)
    {
        if (code == 0)
            code = rc;
    }
};

// Commands; each returns the process exit code.
int cmd_shares(const GlobalOptions &opt, const std::vector<std::string> &urls, bool json);
int cmd_ls(const GlobalOptions &opt, const std::vector<std::string> &urls, const ListOptions &lo);
int cmd_stat(const GlobalOptions &opt, const std::vector<std::string> &urls, bool json);
int cmd_cat(const GlobalOptions &opt, const std::vector<std::string> &urls);
// args: the URLs, then the destination unless the last one is a URL too.
int cmd_get(const GlobalOptions &opt, const std::vector<std::string> &args, const GetOptions &go);
int cmd_selftest();
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
// The SMB servers of the network (of one workgroup when not empty), found
// within `within_s` seconds (0: the library's default).
struct ServersOptions {
    std::string workgroup;
    double within_s = 0;
    bool json = false;
};
int cmd_servers(const GlobalOptions &opt, const ServersOptions &so);
// A URL without a host ("smb://") names the whole network; "smb://NAME/"
// may name a workgroup. True when the URL has no host.
bool url_names_network(const std::string &url);
// ls of smb:// (no host) or smb://WORKGROUP/: the servers; with `tried`
// false when NAME turned out to be no workgroup (nothing printed).
int list_network(const GlobalOptions &opt, const std::string &workgroup, bool json, bool *tried);
// Applies --name-resolve, --wins and --no-broadcast; 0 or an exit code.
int apply_name_options(const GlobalOptions &opt);

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
// The text with control bytes shown as '?', safe to print on a terminal.
std::string printable(std::string_view s);

// The progress line on standard error. Any text written to standard error
// while the line is open must call end_progress_line() first.
struct ProgressFigures {
    std::string_view name;  // destination, shortened to fit
    int64_t done = 0;
    int64_t total = 0;
    double rate = 0;        // bytes per second
    double seconds = -1;    // time left, or the time taken when final
    bool final = false;
};
// The line for a terminal width columns wide: never longer than width - 1
// bytes, so the cursor never wraps.
std::string progress_text(const ProgressFigures &f, int width);
void draw_progress_line(const std::string &text, bool final);
void end_progress_line();
bool progress_line_open();
int terminal_width();

// Interrupts (SIGINT, SIGTERM): remove the named temporary file, end an
// open progress line and exit with 128 + the signal number.
void install_interrupt_handlers();
// The temporary file an interrupt removes; "" for none. Signals are held
// back while the name changes.
void set_interrupt_cleanup(const std::string &temp_path);
// Holds SIGINT and SIGTERM back for its lifetime, so that a file and the
// name the interrupt handler knows it by change together.
class HeldSignals {
public:
    HeldSignals();
    ~HeldSignals();
    HeldSignals(const HeldSignals &) = delete;
    HeldSignals &operator=(const HeldSignals &) = delete;

private:
#ifdef _WIN32
    // Console interrupts arrive on a thread of their own, which takes this too.
    std::unique_lock<std::recursive_mutex> held_;
#else
    sigset_t old_;
#endif
};
// Reads a password from the controlling terminal without echo; false when
// standard input is not a terminal.
bool prompt_password(const std::string &prompt, std::string &out);
