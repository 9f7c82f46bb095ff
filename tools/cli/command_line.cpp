#include "command_line.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "credentials.h"
#include "exit_codes.h"

namespace {

constexpr const char *kCommandFooter = "URL forms, credentials and exit codes: vnsmb1c --help";

// "NAME=VALUE" or "NAME=VALUE@BYTES" of --fake-fault.
bool parse_fault(const std::string &text, FakeFault &out)
{
    auto eq = text.find('=');
    if (eq == std::string::npos || eq == 0)
        return false;
    out.name = text.substr(0, eq);
    std::string rest = text.substr(eq + 1);
    auto at = rest.find('@');
    try {
        size_t used = 0;
        out.value = std::stoi(rest.substr(0, at), &used);
        if (used != rest.substr(0, at).size())
            return false;
        if (at != std::string::npos) {
            out.at_bytes = std::stoll(rest.substr(at + 1), &used);
            if (used != rest.size() - at - 1 || out.at_bytes < 0)
                return false;
        }
    } catch (const std::exception &) {
        return false;
    }
    return true;
}

}  // namespace

void add_connection_options(CLI::App *cmd, CommonOptions &common)
{
    GlobalOptions &opt = common.opt;
    IdentityOptions &ids = common.ids;
    const char *group = cmd->get_parent() != nullptr ? "Connection (also before the command)" : "Connection";
    ids.user.push_back(cmd->add_option("-U,--user", ids.user_text,
                                       "User: USER, DOMAIN\\USER or USER%PASSWORD (overrides the URL)")
                           ->type_name("USER")
                           ->group(group));
    ids.password.push_back(
        cmd->add_option("-P,--password", opt.password, "Password (overrides the URL); -A or VNSMB1C_PASSWORD keep it "
                                                       "off the command line")
            ->type_name("PASSWORD")
            ->group(group));
    cmd->add_option("-W,--domain", opt.domain, "Domain (overrides the URL)")->type_name("DOMAIN")->group(group);
    cmd->add_option("-A,--authentication-file", opt.auth_file,
                    "Credentials file: lines \"username = ...\", \"password = ...\", \"domain = ...\"")
        ->type_name("FILE")
        ->group(group);
    cmd->add_option("--timeout", opt.timeout_s, "Seconds to wait for each answer of the server (default 30)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.001, 3600.0))
        ->group(group);
}

CLI::App *add_command(CLI::App &parent, const char *name, const char *what)
{
    CLI::App *cmd = parent.add_subcommand(name, what);
    cmd->footer(kCommandFooter);
    return cmd;
}

void add_program_options(CLI::App &app, CommonOptions &common)
{
    GlobalOptions &opt = common.opt;
    app.add_option("--fake", opt.fake_tree, "Answer from the in-process fake server loaded from TREE.json")
        ->type_name("TREE.json");
    app.add_flag("--relay", opt.relay,
                 "Send the frames through the library's own HostIo relay (socket-backed, or the fake one with --fake)");
    add_connection_options(&app, common);
    app.add_flag("-q,--quiet", opt.quiet, "No progress bar, summary or request log");
    app.add_option("--read-ahead", opt.read_ahead, "Bytes each open file reads ahead of a sequential copy (0: off)")
        ->type_name("BYTES")
        ->check(CLI::Range(int64_t{0}, int64_t{1} << 30));
    app.add_option("--legacy-auth", opt.legacy_auth,
                   "Allow older logons for old servers: ntlmv1, lm, or plaintext (each allows the ones before it; "
                   "default none: NTLMv2 only)")
        ->type_name("LEVEL")
        ->check(CLI::IsMember({"none", "ntlmv1", "lm", "plaintext"}, CLI::ignore_case));
    app.add_option("--code-page", opt.code_page,
                   "Code page of names on a server without Unicode: CP850 (default), CP437, CP858, CP1252, "
                   "ISO-8859-1 or ISO-8859-15")
        ->type_name("NAME");
    app.add_option("--name-resolve", opt.name_resolve,
                   "How server names are found: netbios,dns (the default), dns,netbios, netbios or dns")
        ->type_name("ORDER");
    app.add_option("--wins", opt.wins, "The WINS server to ask for NetBIOS names")->type_name("ADDRESS");
    app.add_flag("--no-broadcast", opt.no_broadcast, "Never broadcast (name look-ups and servers)");
    app.add_option("--fake-fault", common.fault,
                   "With --fake: set a fault switch of the fake server, before connecting or once a transfer has "
                   "copied BYTES")
        ->type_name("NAME=VALUE[@BYTES]");
}

int settle_options(CommonOptions &common)
{
    GlobalOptions &opt = common.opt;
    for (CLI::Option *p : common.ids.password)
        opt.password_given = opt.password_given || p->count() > 0;
    if (!common.ids.user_text.empty())
        split_user_option(common.ids.user_text, opt);
    std::string file = opt.auth_file;
    if (file.empty()) {
        const char *env = std::getenv("VNSMB1C_CREDENTIALS");
        file = env != nullptr ? env : "";
    }
    if (!file.empty())
        if (int rc = read_credentials_file(file, opt); rc != 0)
            return rc;
    if (!common.fault.empty() && (opt.fake_tree.empty() || !parse_fault(common.fault, opt.fault))) {
        std::fprintf(stderr, "vnsmb1c: --fake-fault takes NAME=VALUE[@BYTES] and needs --fake\n");
        return kExitUsage;
    }
    return 0;
}
