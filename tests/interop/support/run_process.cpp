#include "interop/support/run_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "interop/support/child_env.h"

namespace {

using Clock = std::chrono::steady_clock;

int ms_left(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the child within the deadline; kills its group when it is late.
int reap(pid_t pid, Clock::time_point deadline, bool *timed_out)
{
    int status = 0;
    for (;;) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return status;
        if (r < 0 && errno != EINTR)
            return -1;
        if (ms_left(deadline) == 0) {
            *timed_out = true;
            kill(-pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            return status;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace

std::string command_text(const std::vector<std::string> &argv)
{
    std::string text;
    for (const auto &a : argv) {
        if (!text.empty())
            text += ' ';
        text += a.find_first_of(" '\"") == std::string::npos ? a : "'" + a + "'";
    }
    return text;
}

ProcessResult run_process(const std::vector<std::string> &argv, std::string_view input, int timeout_ms,
                          const std::vector<std::string> &env)
{
    ProcessResult result;
    if (argv.empty())
        return result;
    ChildArgs args(argv, env);

    int in_pipe[2];
    int out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0)
        return result;
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        close(in_pipe[0]);
        close(in_pipe[1]);
        return result;
    }

    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        dup2(out_pipe[1], 2);
        close_inherited_fds();
        execvpe(args.argv()[0], args.argv(), args.envp());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    if (pid < 0) {
        close(in_pipe[1]);
        close(out_pipe[0]);
        return result;
    }
    setpgid(pid, pid);

    auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    int in_fd = in_pipe[1];
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
    size_t written = 0;
    if (input.empty()) {
        close(in_fd);
        in_fd = -1;
    }
    char buf[8192];
    for (;;) {
        pollfd p[2] = {{out_pipe[0], POLLIN, 0}, {in_fd, POLLOUT, 0}};
        int n = poll(p, in_fd >= 0 ? 2 : 1, ms_left(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // late: reap() below kills it
        if (in_fd >= 0 && (p[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t w = write(in_fd, input.data() + written, input.size() - written);
            if (w > 0)
                written += static_cast<size_t>(w);
            if (w < 0 || written == input.size()) {
                close(in_fd);
                in_fd = -1;
            }
        }
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ssize_t r = read(out_pipe[0], buf, sizeof buf);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;  // every writer closed its end
            result.output.append(buf, static_cast<size_t>(r));
        }
    }
    if (in_fd >= 0)
        close(in_fd);
    close(out_pipe[0]);

    int status = reap(pid, deadline, &result.timed_out);
    if (!result.timed_out && status >= 0 && WIFEXITED(status))
        result.exit_code = WEXITSTATUS(status);
    return result;
}
