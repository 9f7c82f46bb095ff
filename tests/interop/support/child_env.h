// Argument and environment arrays built before fork(), so that the child
// only has to call async-signal-safe functions before exec.
#pragma once

#include <string>
#include <vector>

class ChildArgs {
public:
    // env entries ("NAME=value") replace variables of the same name.
    ChildArgs(const std::vector<std::string> &argv, const std::vector<std::string> &env);
    char *const *argv() { return argv_ptrs_.data(); }
    char *const *envp() { return env_ptrs_.data(); }

private:
    std::vector<std::string> argv_;
    std::vector<std::string> env_;
    std::vector<char *> argv_ptrs_;
    std::vector<char *> env_ptrs_;
};

// Closes every descriptor above 2 (in a freshly forked child).
void close_inherited_fds();
