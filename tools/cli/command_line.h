// The command line: the program's options, and a table of commands, each of
// which adds its own options to the parser and says how it runs.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

#include "options.h"

// The identity options, on the program and on every command that connects
// (so that each command's help names them); all write the same fields.
struct IdentityOptions {
    std::string user_text;  // -U as given
    std::vector<CLI::Option *> user;
    std::vector<CLI::Option *> password;
};

// What the parser fills for every command.
struct CommonOptions {
    GlobalOptions opt;
    IdentityOptions ids;
    std::string fault;  // --fake-fault as given
};

// A command on the parser: run once the parse reached it, with the options
// settled (identity merged, fault parsed). Returns the process exit code.
struct Command {
    CLI::App *app = nullptr;
    std::function<int(const GlobalOptions &)> run;
};

// The program's own options (before the command word).
void add_program_options(CLI::App &app, CommonOptions &common);
// -U, -P, -W, -A and --timeout on cmd.
void add_connection_options(CLI::App *cmd, CommonOptions &common);
// A subcommand with the short footer of commands.
CLI::App *add_command(CLI::App &parent, const char *name, const char *what);
// Every command of the tool, added to app in the order --help lists them.
std::vector<Command> add_commands(CLI::App &app, CommonOptions &common);

// The identity the options and the credentials file give, merged into the
// options, and --fake-fault read; 0 or an exit code after a message.
int settle_options(CommonOptions &common);
