#include "interop/support/netns_lab.h"

#include <fcntl.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "net/clock.h"
#include "net/netif.h"
#include "net/nbns_client.h"
#include "net/name_resolve.h"

namespace fs = std::filesystem;
using testing::AssertionFailure;
using testing::AssertionResult;
using testing::AssertionSuccess;

namespace interop {

namespace {

constexpr char kPrefix[] = "vnsmbt-lab-";
constexpr int kStopGraceMs = 3000;
constexpr int kNmbdUpMs = 30000;

fs::path program(const std::string &name)
{
    for (const char *dir : {"/usr/sbin", "/sbin", "/usr/bin", "/bin", "/usr/local/sbin", "/usr/local/bin"}) {
        fs::path p = fs::path(dir) / name;
        if (access(p.c_str(), X_OK) == 0)
            return p;
    }
    return {};
}

std::string text_of(const fs::path &file, size_t max_bytes)
{
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return text.size() > max_bytes ? "..." + text.substr(text.size() - max_bytes) : text;
}

// Namespaces of labs whose test process is gone.
void remove_stale_namespaces()
{
    ProcessResult list = run_process({program("ip").string(), "netns", "list"});
    std::istringstream lines(list.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::string name = line.substr(0, line.find(' '));
        if (name.rfind(kPrefix, 0) != 0)
            continue;
        long pid = std::atol(name.c_str() + sizeof kPrefix - 1);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            run_process({program("ip").string(), "netns", "del", name});
    }
}

std::atomic<int> g_labs{0};

}  // namespace

NetnsLab::NetnsLab()
{
    std::string id = std::to_string(getpid()) + "-" + std::to_string(g_labs++);
    server_ns_ = kPrefix + id + "-srv";
    client_ns_ = kPrefix + id + "-cli";
    // Interface names hold 15 bytes.
    std::string short_id = std::to_string(getpid() % 1000000) + std::to_string(g_labs.load() % 10);
    server_if_ = "vns" + short_id + "s";
    client_if_ = "vns" + short_id + "c";
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/vnsmbt-lab.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    root_ = pattern;
    fs::permissions(root_, fs::perms(0755));
    for (const char *sub : {"private", "lock", "state", "cache", "pid", "ncalrpc", "binddns", "log", "share"})
        fs::create_directories(root_ / sub);
    fs::permissions(root_ / "private", fs::perms(0700));
}

NetnsLab::~NetnsLab()
{
    stop_daemon(smbd_, kStopGraceMs);
    stop_daemon(nmbd_, kStopGraceMs);
    if (made_) {
        // Deleting a namespace takes its end of the veth pair, and the pair with it.
        run_process({program("ip").string(), "netns", "del", server_ns_});
        run_process({program("ip").string(), "netns", "del", client_ns_});
    }
    const char *keep = std::getenv("VNSMB1C_KEEP_SAMBA");
    if (keep != nullptr && *keep != '\0' && *keep != '0') {
        std::fprintf(stderr, "lab files kept in %s\n", root_.c_str());
        return;
    }
    std::error_code ec;
    fs::remove_all(root_, ec);
}

std::string NetnsLab::unavailable()
{
    if (geteuid() != 0)
        return "the NetBIOS lab needs root (network namespaces, Samba)";
    for (const char *tool : {"ip", "nmbd", "smbd"})
        if (program(tool).empty())
            return std::string(tool) + " is not installed (Debian packages iproute2, samba)";
    if (getpwnam("nobody") == nullptr)
        return "there is no Unix account nobody for the guest logon";
    std::string probe = std::string(kPrefix) + std::to_string(getpid()) + "-probe";
    ProcessResult add = run_process({program("ip").string(), "netns", "add", probe});
    if (add.exit_code != 0)
        return "network namespaces cannot be made here (ip netns add: " + add.output + ")";
    run_process({program("ip").string(), "netns", "del", probe});
    return {};
}

AssertionResult NetnsLab::ip(const std::vector<std::string> &args) const
{
    std::vector<std::string> argv = {program("ip").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessResult r = run_process(argv);
    if (r.exit_code != 0)
        return AssertionFailure() << command_text(argv) << " failed: " << r.output;
    return AssertionSuccess();
}

void NetnsLab::write_conf() const
{
    const fs::path &r = root_;
    std::ofstream c(r / "smb.conf", std::ios::trunc);
    c << "[global]\n"
      << "  server role = standalone server\n"
      << "  workgroup = " << kLabWorkgroup << "\n"
      << "  netbios name = " << kLabServerName << "\n"
      << "  server string = " << kLabComment << "\n"
      << "  server min protocol = NT1\n"
      << "  server max protocol = NT1\n"
      << "  interfaces = " << server_if_ << "\n"
      << "  bind interfaces only = yes\n"
      << "  wins support = yes\n"
      << "  local master = yes\n"
      << "  preferred master = yes\n"
      << "  os level = 65\n"
      << "  domain master = no\n"
      << "  map to guest = Bad User\n"
      << "  guest account = nobody\n"
      << "  restrict anonymous = 0\n"
      << "  load printers = no\n"
      << "  printing = bsd\n"
      << "  printcap name = /dev/null\n"
      << "  disable spoolss = yes\n"
      // No samba-dcerpcd: \srvsvc cannot be opened, the shares are listed over RAP.
      << "  rpc start on demand helpers = no\n"
      << "  private dir = " << (r / "private").string() << "\n"
      << "  lock directory = " << (r / "lock").string() << "\n"
      << "  state directory = " << (r / "state").string() << "\n"
      << "  cache directory = " << (r / "cache").string() << "\n"
      << "  pid directory = " << (r / "pid").string() << "\n"
      << "  ncalrpc dir = " << (r / "ncalrpc").string() << "\n"
      << "  binddns dir = " << (r / "binddns").string() << "\n"
      << "  passdb backend = tdbsam:" << (r / "private" / "passdb.tdb").string() << "\n"
      << "  log file = " << (r / "log" / "log.%m").string() << "\n"
      << "  log level = 1\n"
      << "\n[" << kLabShare << "]\n"
      << "  path = " << (r / "share").string() << "\n"
      << "  read only = yes\n"
      << "  guest ok = yes\n";
}

AssertionResult NetnsLab::start()
{
    remove_stale_namespaces();
    if (auto ok = ip({"netns", "add", server_ns_}); !ok)
        return ok;
    made_ = true;
    if (auto ok = ip({"netns", "add", client_ns_}); !ok)
        return ok;
    const std::vector<std::vector<std::string>> steps = {
        {"link", "add", server_if_, "netns", server_ns_, "type", "veth", "peer", "name", client_if_, "netns",
         client_ns_},
        {"-n", server_ns_, "addr", "add", std::string(kLabServerAddress) + "/24", "brd", "+", "dev", server_if_},
        {"-n", client_ns_, "addr", "add", std::string(kLabClientAddress) + "/24", "brd", "+", "dev", client_if_},
        {"-n", server_ns_, "link", "set", "lo", "up"},
        {"-n", client_ns_, "link", "set", "lo", "up"},
        {"-n", server_ns_, "link", "set", server_if_, "up"},
        {"-n", client_ns_, "link", "set", client_if_, "up"},
    };
    for (const auto &step : steps)
        if (auto ok = ip(step); !ok)
            return ok;

    {
        std::ofstream film(root_ / "share" / kLabFile);
        film << "a film\n";
    }
    fs::permissions(root_ / "share", fs::perms(0755));
    // A name only the WINS server knows, registered for good (time to live 0).
    {
        std::ofstream wins(root_ / "state" / "wins.dat");
        wins << "VERSION 1 0\n\"" << kLabWinsOnlyName << "#20\" 0 " << kLabServerAddress << " 66R\n";
    }
    write_conf();

    std::string error;
    std::string conf = (root_ / "smb.conf").string();
    for (auto [daemon, name] : {std::pair{&nmbd_, "nmbd"}, std::pair{&smbd_, "smbd"}}) {
        std::vector<std::string> argv = {program("ip").string(), "netns", "exec", server_ns_, program(name).string(),
                                         "-F", "--no-process-group", "--debug-stdout", "-d", "1", "-s", conf};
        if (!spawn_daemon(*daemon, argv, (root_ / "log" / (std::string(name) + ".out")).string(), &error))
            return AssertionFailure() << "cannot start " << name << ": " << error;
    }

    // Up once nmbd answers a broadcast name query for the server: it
    // answers node status at once, but name queries only once it has
    // registered its names (some seconds).
    bool up = false;
    in_client([&] {
        NameService ns = vnb_host_name_service();
        NameSettings broadcast_only;
        vnb_name_order_parse("netbios", &broadcast_only);
        uint64_t until = vnb_now_ms() + kNmbdUpMs;
        while (!up && vnb_now_ms() < until) {
            ResolvedHost found;
            std::string tried;
            up = vnb_netbios_lookup(kLabServerName, broadcast_only, ns, vnb_now_ms() + 2000, &found, &tried) == 0;
            if (!up)
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
    });
    if (!up)
        return AssertionFailure() << "nmbd did not answer within " << kNmbdUpMs << " ms:\n" << log_tail();
    return AssertionSuccess();
}

void NetnsLab::in_client(const std::function<void()> &f) const
{
    std::thread t([&] {
        std::string path = "/var/run/netns/" + client_ns_;
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
            ADD_FAILURE() << "cannot join " << client_ns_ << ": " << std::strerror(errno);
            if (fd >= 0)
                close(fd);
            return;
        }
        close(fd);
        f();
    });
    t.join();
}

ProcessResult NetnsLab::tool(const std::vector<std::string> &args, int timeout_ms) const
{
#ifdef VNSMB1C_CLI_PATH
    std::vector<std::string> argv = {program("ip").string(), "netns", "exec", client_ns_, VNSMB1C_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv, {}, timeout_ms);
#else
    (void)args;
    (void)timeout_ms;
    ProcessResult none;
    none.output = "the tool is not built";
    return none;
#endif
}

std::string NetnsLab::log_tail() const
{
    return "--- nmbd:\n" + text_of(root_ / "log" / "nmbd.out", 3000) + "\n--- smbd:\n" +
           text_of(root_ / "log" / "smbd.out", 3000);
}

}  // namespace interop
