#include "interop/support/daemon.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "interop/support/child_env.h"

namespace interop {

namespace {

using Clock = std::chrono::steady_clock;

// Daemons still running, stopped at exit whatever else happened. A plain
// array: it must outlive every static destructor.
constexpr int kMaxLive = 64;
pid_t g_live[kMaxLive];

void remember_live(pid_t pid)
{
    for (auto &slot : g_live) {
        if (slot == 0) {
            slot = pid;
            return;
        }
    }
}

void forget_live(pid_t pid)
{
    for (auto &slot : g_live)
        if (slot == pid)
            slot = 0;
}

bool has_exited(pid_t pid)
{
    siginfo_t info{};
    // WNOWAIT leaves the zombie in place, so the group id stays reserved.
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;
    return info.si_pid == pid;
}

void wait_exit(pid_t pid, int ms)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!has_exited(pid) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Reaps the group's processes that came to this process as their subreaper
// when their parent died.
void reap_group(pid_t pgid)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(2000);
    for (;;) {
        pid_t r = waitpid(-pgid, nullptr, WNOHANG);
        if (r < 0 && errno != EINTR)
            return;  // no child left in the group
        if (r == 0) {
            if (Clock::now() >= deadline)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

void stop_group(pid_t pid, int grace_ms)
{
    if (grace_ms > 0) {
        kill(pid, SIGTERM);
        wait_exit(pid, grace_ms);
    }
    kill(-pid, SIGKILL);  // whatever of the group is left
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    reap_group(pid);
    forget_live(pid);
}

void stop_live_at_exit()
{
    for (auto &slot : g_live)
        if (slot != 0)
            stop_group(slot, 2000);
}

void prepare_parent()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    std::atexit(stop_live_at_exit);
    // Processes orphaned when a daemon dies come to us, to be reaped.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

}  // namespace

bool spawn_daemon(Daemon &d, const std::vector<std::string> &argv, const std::string &log_path,
                  std::string *error)
{
    prepare_parent();
    ChildArgs args(argv, {});
    int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (log_fd < 0) {
        *error = "cannot open " + log_path + ": " + std::strerror(errno);
        return false;
    }
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        close(log_fd);
        return false;
    }
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD})
            signal(sig, SIG_DFL);
        // smbd and samba-dcerpcd in the foreground shut down when a pipe on
        // their standard input reaches its end.
        dup2(in[0], 0);
        dup2(log_fd, 1);
        dup2(log_fd, 2);
        close_inherited_fds();
        execv(args.argv()[0], args.argv());
        _exit(127);
    }
    int fork_errno = errno;
    close(in[0]);
    close(log_fd);
    if (pid < 0) {
        close(in[1]);
        *error = std::string("fork: ") + std::strerror(fork_errno);
        return false;
    }
    setpgid(pid, pid);
    d.pid = pid;
    d.stdin_fd = in[1];
    remember_live(pid);
    return true;
}

bool daemon_exited(const Daemon &d)
{
    return d.pid <= 0 || has_exited(d.pid);
}

void stop_daemon(Daemon &d, int grace_ms)
{
    if (d.pid <= 0)
        return;
    stop_group(d.pid, grace_ms);
    close(d.stdin_fd);
    d = Daemon{};
}

}  // namespace interop
