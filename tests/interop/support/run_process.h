// Runs a helper program (smbclient, smbpasswd, useradd) to completion with a
// bounded wait, capturing what it prints.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct ProcessResult {
    int exit_code = -1;      // the program's exit status; -1 when it did not exit normally
    bool timed_out = false;  // killed because it ran past its time
    std::string output;      // standard output and standard error, interleaved
};

// Starts argv[0] (looked up on PATH) with `input` on its standard input and
// `env` ("NAME=value") added to the environment. The program runs in a process
// group of its own, which is killed when it runs past timeout_ms.
ProcessResult run_process(const std::vector<std::string> &argv, std::string_view input = {},
                          int timeout_ms = 20000, const std::vector<std::string> &env = {});

// The command line as one text, for failure messages.
std::string command_text(const std::vector<std::string> &argv);
