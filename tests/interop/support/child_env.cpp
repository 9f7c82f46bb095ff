#include "interop/support/child_env.h"

#include <sys/syscall.h>
#include <unistd.h>

extern char **environ;

ChildArgs::ChildArgs(const std::vector<std::string> &argv, const std::vector<std::string> &env) : argv_(argv)
{
    auto name_of = [](const std::string &entry) { return entry.substr(0, entry.find('=')); };
    for (char **e = environ; e != nullptr && *e != nullptr; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const auto &over : env)
            replaced = replaced || name_of(over) == name_of(entry);
        if (!replaced)
            env_.push_back(entry);
    }
    env_.insert(env_.end(), env.begin(), env.end());
    for (auto &a : argv_)
        argv_ptrs_.push_back(a.data());
    argv_ptrs_.push_back(nullptr);
    for (auto &e : env_)
        env_ptrs_.push_back(e.data());
    env_ptrs_.push_back(nullptr);
}

void close_inherited_fds()
{
    if (syscall(SYS_close_range, 3U, ~0U, 0U) == 0)
        return;
    for (int fd = 3; fd < 4096; ++fd)
        close(fd);
}
