#include "interop/support/samba_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "interop/support/daemon.h"
#include "interop/support/run_process.h"

namespace fs = std::filesystem;
using testing::AssertionFailure;
using testing::AssertionResult;
using testing::AssertionSuccess;

namespace interop {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStopGraceMs = 5000;
constexpr int kPortAttempts = 5;
constexpr const char kUserPrefix[] = "vnsmbt";
// samba-dcerpcd serves srvsvc (share listings) from rpcd_classic, which needs
// rpcd_winreg and rpcd_lsad. The endpoint mapper (rpcd_epmapper) is left out:
// it would listen on the fixed port 135, which two servers cannot share.
constexpr const char *kRpcHelpers[] = {"rpcd_classic", "rpcd_lsad", "rpcd_winreg"};
constexpr const char *kLibexecDirs[] = {"/usr/libexec/samba", "/usr/lib/samba", "/usr/local/libexec/samba",
                                        "/usr/local/samba/libexec"};

// ---- machine look-ups ------------------------------------------------------

fs::path find_program(const std::string &name)
{
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin:/usr/local/sbin:/usr/bin:/bin";
    std::stringstream list(dirs);
    std::string dir;
    while (std::getline(list, dir, ':')) {
        if (dir.empty())
            continue;
        fs::path p = fs::path(dir) / name;
        if (access(p.c_str(), X_OK) == 0)
            return p;
    }
    return {};
}

fs::path find_libexec()
{
    for (const char *dir : kLibexecDirs) {
        bool complete = access((fs::path(dir) / "samba-dcerpcd").c_str(), X_OK) == 0;
        for (const char *helper : kRpcHelpers)
            complete = complete && access((fs::path(dir) / helper).c_str(), X_OK) == 0;
        if (complete)
            return dir;
    }
    return {};
}

int free_loopback_port()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

bool port_accepts(int port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

std::string tail_of(const fs::path &file, size_t max_bytes)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.size() > max_bytes ? "..." + text.substr(text.size() - max_bytes) : text;
}

struct Owner {
    uid_t uid = 0;
    gid_t gid = 0;
};

Owner owner_of(const std::string &account)
{
    if (account.empty())
        return {};
    passwd *pw = getpwnam(account.c_str());
    if (pw == nullptr)
        throw std::runtime_error("no Unix account " + account + " (add_user first)");
    return {pw->pw_uid, pw->pw_gid};
}

// useradd, tolerating a concurrent test process that creates the same account.
AssertionResult ensure_unix_user(const std::string &name)
{
    std::string last;
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (getpwnam(name.c_str()) != nullptr)
            return AssertionSuccess();
        auto r = run_process({find_program("useradd").string(), "-M", "-N", "-s", "/usr/sbin/nologin", name});
        if (r.exit_code == 0 || getpwnam(name.c_str()) != nullptr)
            return AssertionSuccess();
        last = r.output;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));  // /etc/passwd locked by another
    }
    return AssertionFailure() << "useradd " << name << " failed: " << last;
}

}  // namespace

// ---- public ------------------------------------------------------------------

SambaServer::SambaServer(SambaOptions options) : options_(std::move(options))
{
    if (options_.log_level < 0) {
        const char *level = std::getenv("VNSMB1C_SAMBA_LOG_LEVEL");
        options_.log_level = level != nullptr && *level != '\0' ? std::atoi(level) : 1;
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/vnsmbt.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    root_ = pattern;
    // smbd serves the trees as other users (nobody, the test accounts): every
    // folder above them must let others through.
    fs::permissions(root_, fs::perms(0755));
    for (fs::path p = root_.parent_path(); !p.empty() && p != p.root_path(); p = p.parent_path()) {
        struct stat st;
        if (stat(p.c_str(), &st) == 0 && !(st.st_mode & S_IXOTH))
            throw std::runtime_error(p.string() + " is not searchable by other users; set TMPDIR elsewhere");
    }
    for (const char *sub : {"private", "lock", "state", "cache", "pid", "ncalrpc", "binddns", "log", "shares"})
        fs::create_directories(root_ / sub);
    fs::permissions(root_ / "private", fs::perms(0700));
}

SambaServer::~SambaServer()
{
    stop();
    const char *keep = std::getenv("VNSMB1C_KEEP_SAMBA");
    if (keep != nullptr && *keep != '\0' && *keep != '0') {
        std::fprintf(stderr, "samba server files kept in %s\n", root_.c_str());
        return;
    }
    // A daemon that was killed may still be on its way out; give it a moment.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::error_code ec;
        fs::remove_all(root_, ec);
        if (!fs::exists(root_, ec))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "could not remove %s\n", root_.c_str());
}

std::string SambaServer::unavailable()
{
    if (geteuid() != 0)
        return "the Samba interop tests need root (smbd, useradd)";
    for (const char *tool : {"smbd", "smbpasswd", "useradd"})
        if (find_program(tool).empty())
            return std::string(tool) + " is not installed (Debian packages samba, passwd)";
    if (find_libexec().empty())
        return "samba-dcerpcd and its rpcd helpers are not installed (Debian package samba)";
    if (getpwnam("nobody") == nullptr)
        return "there is no Unix account nobody for the guest logon";
    return {};
}

AssertionResult SambaServer::add_user(const std::string &name, const std::string &password)
{
    if (name.rfind(kUserPrefix, 0) != 0)
        return AssertionFailure() << "test account names start with " << kUserPrefix << ": " << name;
    if (auto made = ensure_unix_user(name); !made)
        return made;
    write_conf();
    auto r = run_process({find_program("smbpasswd").string(), "-c", conf_path().string(), "-s", "-a", name},
                         password + "\n" + password + "\n");
    if (r.exit_code != 0)
        return AssertionFailure() << "smbpasswd -a " << name << " failed (" << r.exit_code << "): " << r.output;
    return AssertionSuccess();
}

fs::path SambaServer::add_share(const ShareConfig &config)
{
    if (running())
        throw std::runtime_error("add_share " + config.name + " while the server runs");
    if (config.name.empty() || config.name.find_first_of("[]/\\\n") != std::string::npos)
        throw std::runtime_error("bad share name: " + config.name);
    for (const auto &s : shares_)
        if (strcasecmp(s.config.name.c_str(), config.name.c_str()) == 0)
            throw std::runtime_error("share added twice: " + config.name);
    Owner o = owner_of(config.owner);
    Share s{config, root_ / "shares" / config.name, o.uid, o.gid};
    fs::create_directories(s.dir);
    shares_.push_back(s);
    fix_modes(shares_.back(), s.dir);
    write_conf();
    return s.dir;
}

void SambaServer::write_conf() const
{
    const fs::path &r = root_;
    std::ostringstream c;
    c << "[global]\n"
      << "  server role = standalone server\n"
      << "  workgroup = VNSMBTEST\n"
      << "  netbios name = VNSMBTSERVER\n"
      << "  server string = vnsmb1c interop\n"
      << "  server min protocol = NT1\n"
      << "  server max protocol = NT1\n";
    if (port_ > 0)
        c << "  smb ports = " << port_ << "\n";
    c << "  interfaces = lo\n"
      << "  bind interfaces only = yes\n"
      << "  disable netbios = yes\n"
      << "  map to guest = Bad User\n"
      << "  guest account = nobody\n"
      << "  ntlm auth = ntlmv2-only\n"
      << "  restrict anonymous = 0\n"
      << "  server signing = " << options_.signing << "\n"
      << "  load printers = no\n"
      << "  printing = bsd\n"
      << "  printcap name = /dev/null\n"
      << "  disable spoolss = yes\n"
      << "  smb1 unix extensions = no\n"
      // samba-dcerpcd runs as our own child rather than being spawned (and
      // detached) by smbd; its TCP endpoints stay off the ephemeral ports that
      // the smb port is picked from.
      << "  rpc start on demand helpers = no\n"
      << "  rpc server dynamic port range = 20000-29999\n"
      << "  private dir = " << (r / "private").string() << "\n"
      << "  lock directory = " << (r / "lock").string() << "\n"
      << "  state directory = " << (r / "state").string() << "\n"
      << "  cache directory = " << (r / "cache").string() << "\n"
      << "  pid directory = " << (r / "pid").string() << "\n"
      << "  ncalrpc dir = " << (r / "ncalrpc").string() << "\n"
      << "  binddns dir = " << (r / "binddns").string() << "\n"
      << "  passdb backend = tdbsam:" << (r / "private" / "passdb.tdb").string() << "\n"
      << "  log file = " << (r / "log" / "log.%m").string() << "\n"
      << "  log level = " << options_.log_level << "\n";
    for (const auto &line : options_.global_params)
        c << "  " << line << "\n";
    for (const auto &s : shares_) {
        c << "\n[" << s.config.name << "]\n"
          << "  path = " << s.dir.string() << "\n"
          << "  read only = " << (s.config.writable ? "no" : "yes") << "\n"
          << "  guest ok = " << (s.config.guest_ok ? "yes" : "no") << "\n";
        if (!s.config.valid_users.empty()) {
            c << "  valid users =";
            for (const auto &u : s.config.valid_users)
                c << " " << u;
            c << "\n";
        }
        for (const auto &line : s.config.params)
            c << "  " << line << "\n";
    }
    std::ofstream out(conf_path(), std::ios::trunc);
    out << c.str();
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + conf_path().string());
}

AssertionResult SambaServer::spawn(Daemon &d, const std::vector<std::string> &argv, const char *log_name)
{
    std::string error;
    if (!spawn_daemon(d, argv, (root_ / "log" / log_name).string(), &error))
        return AssertionFailure() << "cannot start " << argv[0] << ": " << error;
    return AssertionSuccess();
}

AssertionResult SambaServer::start_dcerpcd()
{
    fs::path libexec = find_libexec();
    std::vector<std::string> argv = {(libexec / "samba-dcerpcd").string(), "-F", "--no-process-group",
                                     "--debug-stdout", "-d", std::to_string(options_.log_level),
                                     "-s", conf_path().string()};
    for (const char *helper : kRpcHelpers)
        argv.push_back((libexec / helper).string());
    if (auto ok = spawn(dcerpcd_, argv, "samba-dcerpcd.out"); !ok)
        return ok;
    // Ready once its srvsvc pipe socket exists.
    fs::path srvsvc = root_ / "ncalrpc" / "np" / "srvsvc";
    auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!fs::exists(srvsvc)) {
        if (daemon_exited(dcerpcd_)) {
            stop_daemon(dcerpcd_, 0);
            return AssertionFailure() << "samba-dcerpcd exited at start:\n" << log_tail();
        }
        if (Clock::now() >= deadline) {
            stop_daemon(dcerpcd_, kStopGraceMs);
            return AssertionFailure() << "samba-dcerpcd did not offer srvsvc within " << kWaitMs << " ms:\n"
                                      << log_tail();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return AssertionSuccess();
}

AssertionResult SambaServer::wait_for_port(int timeout_ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (daemon_exited(smbd_))
            return AssertionFailure() << "smbd exited";
        if (port_accepts(port_))
            return AssertionSuccess();
        if (Clock::now() >= deadline)
            return AssertionFailure() << "smbd did not accept connections on port " << port_ << " within "
                                      << timeout_ms << " ms";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

AssertionResult SambaServer::start()
{
    if (running() || dcerpcd_.pid > 0)
        return AssertionFailure() << "the server is already running";
    if (auto why = unavailable(); !why.empty())
        return AssertionFailure() << why;
    for (const auto &s : shares_)
        fix_tree(s);
    port_ = options_.port > 0 ? options_.port : free_loopback_port();
    if (port_ == 0)
        return AssertionFailure() << "no free loopback port";
    write_conf();
    if (auto ok = start_dcerpcd(); !ok)
        return ok;

    AssertionResult last = AssertionFailure();
    for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
        bool exited = false;
        last = launch_smbd(&exited);
        if (last || !exited || options_.port > 0)
            break;
        // smbd gave up at once: most likely another process took the port
        // between our probe and its bind. Try another.
        port_ = free_loopback_port();
        write_conf();
    }
    if (!last)
        stop();
    return last;
}

AssertionResult SambaServer::start_smbd()
{
    bool exited = false;
    return launch_smbd(&exited);
}

AssertionResult SambaServer::launch_smbd(bool *exited)
{
    if (running())
        return AssertionFailure() << "smbd is already running";
    fs::path smbd = find_program("smbd");
    std::string level = std::to_string(options_.log_level);
    if (!options_.debug_classes.empty())
        level += " " + options_.debug_classes;
    std::vector<std::string> argv = {smbd.string(), "-F", "--no-process-group", "--debug-stdout", "-d", level,
                                     "-s", conf_path().string()};
    if (auto ok = spawn(smbd_, argv, "smbd.out"); !ok)
        return ok;
    AssertionResult up = wait_for_port(kWaitMs);
    if (!up) {
        *exited = daemon_exited(smbd_);
        stop_daemon(smbd_, kStopGraceMs);
        return up << ":\n" << log_tail();
    }
    return AssertionSuccess();
}

void SambaServer::stop_smbd()
{
    stop_daemon(smbd_, kStopGraceMs);
}

void SambaServer::kill_smbd()
{
    stop_daemon(smbd_, 0);
}

AssertionResult SambaServer::restart()
{
    stop_smbd();
    return start_smbd();
}

void SambaServer::stop()
{
    stop_daemon(smbd_, kStopGraceMs);
    stop_daemon(dcerpcd_, kStopGraceMs);
}

std::string SambaServer::log_tail(size_t max_bytes) const
{
    return "--- smbd:\n" + tail_of(root_ / "log" / "smbd.out", max_bytes) + "\n--- samba-dcerpcd:\n" +
           tail_of(root_ / "log" / "samba-dcerpcd.out", max_bytes);
}

}  // namespace interop
