// A daemon run as a child of the test process, in a process group of its own
// so that it and everything it forks are signalled by one id. It is stopped
// by its id when asked, at exit, and (as parent-death signal and through its
// standard input reaching its end) when the test process dies.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace interop {

struct Daemon {
    pid_t pid = -1;     // also the id of its process group
    int stdin_fd = -1;  // write end of the daemon's standard input
};

// Starts argv[0] (a full path) with standard output and error appended to
// log_path. The parent-death signal follows the calling thread: start daemons
// from a thread that outlives them (the test's main thread). False with *error set when it could not be started.
bool spawn_daemon(Daemon &d, const std::vector<std::string> &argv, const std::string &log_path,
                  std::string *error);
// True once the daemon has ended (it stays unreaped until stop_daemon).
bool daemon_exited(const Daemon &d);
// SIGTERM to the daemon, SIGKILL to its group after grace_ms; with grace_ms 0
// the group gets SIGKILL at once (a crash). Then reaping. Nothing happens for a daemon not running.
void stop_daemon(Daemon &d, int grace_ms);

}  // namespace interop
