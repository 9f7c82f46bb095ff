// The commands that look at the server: shares, ls, stat, and the
// library's self-test. Each returns the process exit code.
#pragma once

#include <string>
#include <vector>

#include "listing.h"
#include "options.h"

struct ListOptions {
    bool all = false;  // hidden names too
    bool json = false;
    bool recursive = false;
    SortKey sort = SortKey::name;
    bool reverse = false;
};

int cmd_shares(const GlobalOptions &opt, const std::vector<std::string> &urls, bool json);
int cmd_ls(const GlobalOptions &opt, const std::vector<std::string> &urls, const ListOptions &lo);
int cmd_stat(const GlobalOptions &opt, const std::vector<std::string> &urls, bool json);
int cmd_selftest();
