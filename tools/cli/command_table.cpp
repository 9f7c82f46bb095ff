// Each command's options, and how it runs once they are parsed.
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "connect.h"
#include "exit_codes.h"
#include "host.h"
#include "output.h"
#include "servers.h"
#include "transfer.h"
#include "vnsmb1c.h"
#ifdef VNSMB1C_WITH_SERVE
#include "serve_command.h"
#endif

namespace {

// The URLs of a command, and its --json.
struct UrlArgs {
    std::vector<std::string> urls;
    bool json = false;
};

bool sort_key_of(const std::string &text, SortKey &out)
{
    static const std::map<std::string, SortKey> keys{
        {"name", SortKey::name}, {"size", SortKey::size}, {"time", SortKey::time}, {"none", SortKey::none}};
    auto it = keys.find(text);
    if (it == keys.end())
        return false;
    out = it->second;
    return true;
}

Command add_shares(CLI::App &app, CommonOptions &common)
{
    auto a = std::make_shared<UrlArgs>();
    CLI::App *cmd = add_command(app, "shares", "List the servers' shares (--json)");
    cmd->add_option("URL", a->urls, "smb://host")->required();
    cmd->add_flag("--json", a->json, "Print the share names as JSON, one line per server");
    add_connection_options(cmd, common);
    return {cmd, [a](const GlobalOptions &opt) { return cmd_shares(opt, a->urls, a->json); }};
}

Command add_ls(CLI::App &app, CommonOptions &common)
{
    struct Args {
        std::vector<std::string> urls;
        ListOptions lo;
        std::string sort = "name";
    };
    auto a = std::make_shared<Args>();
    CLI::App *cmd = add_command(app, "ls", "List shares or folders (-a, -R, --json, --sort, -r)");
    cmd->add_option("URL", a->urls, "smb://host/share[/folder], or a pattern of names in a folder")->required();
    cmd->add_flag("-a,--all", a->lo.all, "Show hidden names too (those beginning with '.', '$' or '@')");
    cmd->add_flag("-R,--recursive", a->lo.recursive, "List the subfolders too, each under its path");
    cmd->add_flag("--json", a->lo.json, "Print the listing as item JSON, one line per URL");
    cmd->add_option("--sort", a->sort,
                    "name (numbers by value: 9 before 10), size (largest first), time (newest first) or none "
                    "(the server's order)")
        ->type_name("KEY");
    cmd->add_flag("-r,--reverse", a->lo.reverse, "Reverse the order (folders stay first)");
    add_connection_options(cmd, common);
    return {cmd, [a](const GlobalOptions &opt) {
                if (!sort_key_of(a->sort, a->lo.sort)) {
                    std::fprintf(stderr, "vnsmb1c: --sort takes name, size, time or none, not \"%s\"\n",
                                 printable(a->sort).c_str());
                    return kExitUsage;
                }
                return cmd_ls(opt, a->urls, a->lo);
            }};
}

Command add_stat(CLI::App &app, CommonOptions &common)
{
    auto a = std::make_shared<UrlArgs>();
    CLI::App *cmd = add_command(app, "stat", "Show files or folders (--json)");
    cmd->add_option("URL", a->urls, "smb://host/share/path")->required();
    cmd->add_flag("--json", a->json, "Print the item JSON (path relative to the share, as ls --json)");
    add_connection_options(cmd, common);
    return {cmd, [a](const GlobalOptions &opt) { return cmd_stat(opt, a->urls, a->json); }};
}

Command add_cat(CLI::App &app, CommonOptions &common)
{
    auto a = std::make_shared<UrlArgs>();
    CLI::App *cmd = add_command(app, "cat", "Write files' bytes to standard output");
    cmd->add_option("URL", a->urls, "smb://host/share/path/file")->required();
    add_connection_options(cmd, common);
    return {cmd, [a](const GlobalOptions &opt) { return cmd_cat(opt, a->urls); }};
}

Command add_get(CLI::App &app, CommonOptions &common)
{
    struct Args {
        std::vector<std::string> args;
        GetOptions go;
    };
    auto a = std::make_shared<Args>();
    CLI::App *cmd = add_command(app, "get", "Copy files or folders (-r, -c, -u, -n, -f)");
    cmd->add_option("URL", a->args,
                    "smb://host/share/path/file (several, or a pattern), then the destination: a file, "
                    "a folder or - for standard output (default: the file's name here)")
        ->required();
    auto *force = cmd->add_flag("-f,--force", a->go.force, "Overwrite existing files");
    cmd->add_flag("-r,--recursive", a->go.recursive, "Copy folders and everything in them");
    auto *resume = cmd->add_flag("-c,--continue", a->go.resume,
                                 "Go on with a partial file: append what is missing once its last bytes match the "
                                 "server's (a complete one is left alone)");
    auto *update = cmd->add_flag("-u,--update", a->go.update,
                                 "Copy only files missing here or differing from the server's in size or "
                                 "modification time (a mirror)");
    auto *skip = cmd->add_flag("-n,--skip-existing", a->go.skip_existing, "Leave files that exist here alone");
    skip->excludes(force)->excludes(update)->excludes(resume);
    add_connection_options(cmd, common);
    return {cmd, [a](const GlobalOptions &opt) { return cmd_get(opt, a->args, a->go); }};
}

Command add_host(CLI::App &app, CommonOptions &common)
{
    auto rq = std::make_shared<HostRequest>();
    CLI::App *host = add_command(app, "host", "Drive the host tables: request handler and folder-access backend");
    host->require_subcommand(1);
    const char *kSettingsHelp =
        "Settings JSON text, @FILE, or an smb:// URL (gives FullUrl, and Path when it names a share); "
        "-U, -P, -W, -A and VNSMB1C_PASSWORD fill in UserName, Password and DomainName";
    auto host_command = [&](CLI::App *parent, const char *name, const char *what) {
        CLI::App *cmd = add_command(*parent, name, what);
        cmd->add_option("SETTINGS", rq->settings, kSettingsHelp)->required();
        add_connection_options(cmd, common);
        return cmd;
    };
    std::vector<CLI::App *> handler, backend;
    handler.push_back(host_command(host, "validate", "Request handler: validate the settings"));
    CLI::App *h_list = host_command(host, "list", "Request handler: list the shares or a folder");
    h_list->add_option("PATH", rq->path, "Share-qualified folder, empty for the shares");
    handler.push_back(h_list);
    CLI::App *h_stream = host_command(host, "stream", "Request handler: stream reply for an entry");
    h_stream->add_option("ENTRY", rq->path, "Entry JSON, e.g. {\"path\":\"Media/Movies/a.mkv\"}")->required();
    handler.push_back(h_stream);

    CLI::App *ffa = add_command(*host, "ffa", "Folder-access backend \"smb1\"");
    ffa->require_subcommand(1);
    CLI::App *f_list = host_command(ffa, "list", "List a folder page by page");
    f_list->add_option("PATH", rq->path, "Folder path")->required();
    f_list->add_option("--page", rq->page, "Entries per page")->default_val(50)->check(CLI::Range(1, 100000));
    f_list->add_flag("--all", rq->all_pages, "Follow the cursor to the last page");
    backend.push_back(f_list);
    CLI::App *f_stat = host_command(ffa, "stat", "Look up one entry");
    f_stat->add_option("PATH", rq->path, "Entry path")->required();
    backend.push_back(f_stat);
    CLI::App *f_locator = host_command(ffa, "locator", "Locator text of a file");
    f_locator->add_option("PATH", rq->path, "File path")->required();
    backend.push_back(f_locator);

    return {host, [rq, handler, backend](const GlobalOptions &opt) {
                for (CLI::App *sub : handler)
                    if (*sub)
                        rq->action = sub->get_name();
                for (CLI::App *sub : backend)
                    if (*sub) {
                        rq->action = sub->get_name();
                        rq->backend = true;
                    }
                return cmd_host(opt, *rq);
            }};
}

#ifdef VNSMB1C_WITH_SERVE
Command add_serve(CLI::App &app, CommonOptions &common)
{
    struct Args {
        std::string url;
        ServeArgs serve;
    };
    auto a = std::make_shared<Args>();
    ServeArgs &s = a->serve;
    CLI::App *cmd = add_command(app, "serve", "Serve the server's shares over HTTP (read-only) until stopped (--listen)");
    cmd->add_option("URL", a->url,
                    "smb://host[/share] (/ lists the shares; a share is named on start), or smb:// (/ lists the "
                    "network's servers)")
        ->required();
    cmd->add_option("--listen", s.listen, "Address and port to listen on (default 127.0.0.1:8080; port 0: any free one)")
        ->type_name("ADDR:PORT");
    cmd->add_option("--allow-host", s.allow_hosts,
                    "A host name the gateway answers to on a loopback address, besides localhost and the address "
                    "(repeatable)")
        ->type_name("NAME");
    auto positive = CLI::Range(1, 1000000);
    cmd->add_option("--max-connections", s.max_connections, "Open connections in all (default 256)")->check(positive);
    cmd->add_option("--max-per-client", s.max_per_client, "Open connections from one address (default 32)")
        ->check(positive);
    cmd->add_option("--head-timeout", s.head_timeout_s, "Seconds for a whole request head (default 10)")
        ->check(positive);
    cmd->add_option("--idle-timeout", s.idle_timeout_s,
                    "Seconds a kept-alive connection may wait for its next request (default 15)")
        ->check(positive);
    cmd->add_option("--send-timeout", s.send_timeout_s,
                    "Seconds a client may take no byte of an answer before it is dropped (default 30)")
        ->check(positive);
    cmd->add_option("--max-sessions", s.max_sessions,
                    "Sessions to the server at once, one per stream or page being answered (default 8)")
        ->check(CLI::Range(1, 64));
    cmd->add_option("--auth-file", s.auth_file,
                    "Ask every client for the user and password in FILE (smbclient's -A format, or USER:PASSWORD)")
        ->type_name("FILE");
    cmd->add_option("--session-idle", s.session_idle_s, "Seconds an unused session stays logged on (default 60)")
        ->check(positive);
    cmd->add_option("--within", s.within_s, "With smb://: seconds to look for the network's servers (default 4)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.1, 60.0));
    add_connection_options(cmd, common);
    return {cmd, [a](const GlobalOptions &opt) { return cmd_serve(opt, a->url, a->serve); }};
}
#endif

Command add_servers(CLI::App &app, CommonOptions &common)
{
    struct Args {
        std::string url;
        ServersOptions so;
    };
    auto a = std::make_shared<Args>();
    CLI::App *cmd = add_command(app, "servers", "List the SMB servers of the network (smb:// or smb://WORKGROUP/)");
    cmd->add_option("URL", a->url, "smb:// for every workgroup (the default), smb://WORKGROUP/ for one");
    cmd->add_flag("--json", a->so.json, "Print the servers as JSON");
    cmd->add_option("--within", a->so.within_s, "Seconds to look for servers (default 4)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.1, 60.0));
    add_connection_options(cmd, common);
    return {cmd, [a](const GlobalOptions &opt) {
                if (!a->url.empty() && !url_names_network(url_from_unc(a->url))) {
                    Target t;
                    if (int rc = resolve_target(a->url, opt, t); rc != 0)
                        return rc;
                    if (!t.path.empty() || t.port != 0) {
                        std::fprintf(stderr, "vnsmb1c: servers takes smb:// or smb://WORKGROUP/\n");
                        return kExitUsage;
                    }
                    a->so.workgroup = t.host;
                }
                return cmd_servers(opt, a->so);
            }};
}

Command add_version(CLI::App &app, CommonOptions &)
{
    return {add_command(app, "version", "Print the library version"), [](const GlobalOptions &) {
                std::printf("vnsmb1c %s\n", vnsmb1c_version());
                return 0;
            }};
}

Command add_selftest(CLI::App &app, CommonOptions &)
{
    return {add_command(app, "selftest", "Run the library's cryptographic self-test"),
            [](const GlobalOptions &) { return cmd_selftest(); }};
}

using AddFn = Command (*)(CLI::App &, CommonOptions &);
constexpr AddFn kCommandTable[] = {
    add_shares, add_ls, add_stat, add_cat, add_get, add_host,
#ifdef VNSMB1C_WITH_SERVE
    add_serve,
#endif
    add_servers, add_version, add_selftest,
};

}  // namespace

std::vector<Command> add_commands(CLI::App &app, CommonOptions &common)
{
    std::vector<Command> out;
    for (AddFn add : kCommandTable)
        out.push_back(add(app, common));
    return out;
}
