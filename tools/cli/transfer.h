// The commands that copy bytes: cat and get. Each returns the process exit
// code.
#pragma once

#include <string>
#include <vector>

#include "options.h"

struct GetOptions {
    bool force = false;
    bool recursive = false;
    bool resume = false;         // -c: append to a partial file that matches
    bool update = false;         // -u: copy only what is missing or differs
    bool skip_existing = false;  // -n: leave existing files alone
};

int cmd_cat(const GlobalOptions &opt, const std::vector<std::string> &urls);
// args: the URLs, then the destination unless the last one is a URL too.
int cmd_get(const GlobalOptions &opt, const std::vector<std::string> &args, const GetOptions &go);
