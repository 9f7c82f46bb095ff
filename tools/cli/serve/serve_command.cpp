// vnsmb1c serve: the connected server's shares, or the network's servers,
// over HTTP.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "connect.h"
#include "errors.h"
#include "exit_codes.h"
#include "gateway.h"
#include "listen_address.h"
#include "options.h"
#include "output.h"
#include "serve_command.h"
#include "servers.h"
#include "vnsmb1c.h"

namespace {

// The library's reason for rc.
std::string failure_text(int rc)
{
    std::string why = vnsmb1c_last_error();
    return why.empty() ? vnsmb1c_strerror(rc) : why;
}

// A new session with the command's settings (transport, time-out, logon
// level, names), not connected; 0 or a negative ResultCode.
int configure_session(vnsmb1c_session *s, const GlobalOptions &opt)
{
    int rc = 0;
    if (!opt.fake_tree.empty()) {
        // The fake tree the tool loaded for its first session.
        rc = vnsmb1c_s_use_fake(s, nullptr);
        if (rc == 0 && opt.relay)
            rc = vnsmb1c_s_use_io(s, vnsmb1c_io_fake());
    } else if (opt.relay) {
        rc = vnsmb1c_s_use_io(s, vnsmb1c_io_socket());
    }
    if (rc == 0 && opt.read_ahead >= 0)
        rc = vnsmb1c_s_set_read_ahead(s, opt.read_ahead);
    if (rc == 0 && opt.timeout_s > 0)
        rc = vnsmb1c_s_set_timeout(s, static_cast<int>(opt.timeout_s * 1000 + 0.5));
    if (rc == 0 && !opt.legacy_auth.empty())
        rc = vnsmb1c_s_set_legacy_auth(s, opt.legacy_auth.c_str());
    if (rc == 0 && !opt.code_page.empty())
        rc = vnsmb1c_s_set_code_page(s, opt.code_page.c_str());
    if (rc == 0 && (!opt.name_resolve.empty() || !opt.wins.empty() || opt.no_broadcast))
        rc = vnsmb1c_s_set_name_resolve(s, opt.name_resolve.empty() ? nullptr : opt.name_resolve.c_str(),
                                        opt.wins.empty() ? nullptr : opt.wins.c_str(), opt.no_broadcast ? 0 : -1);
    return rc;
}

// A new session to t's server with the command's settings, as the tool's
// own session was made; null with the library's reason.
vnsmb1c_session *new_session(const GlobalOptions &opt, const Target &t, std::string &why)
{
    vnsmb1c_session *s = vnsmb1c_session_new();
    if (s == nullptr) {
        why = "out of memory";
        return nullptr;
    }
    int rc = configure_session(s, opt);
    if (rc == 0)
        rc = vnsmb1c_s_connect(s, t.host.c_str(), t.port, t.domain.c_str(), t.user.c_str(), t.password.c_str());
    if (rc != 0) {
        why = failure_text(rc);
        vnsmb1c_session_free(s);
        return nullptr;
    }
    return s;
}

// The network's servers: discovery on a session of its own (one discovery
// at a time runs on it), and sessions to each server it lists, reached at
// the address discovery found (by the listed name when it found none).
int network_upstream(const GlobalOptions &opt, const ServeArgs &args, serve::Upstream &out)
{
    if (int rc = select_transport(opt); rc != 0)
        return rc;
    if (int rc = apply_name_options(opt); rc != 0)
        return rc;
    // Every server is asked with the options' identity; no URL gives one.
    GlobalOptions who = opt;
    if (!who.password_given && !who.user.empty())
        who.password_given = password_from_elsewhere(who.user, "the network's servers", who.password);
    Target t;
    t.user = who.user;
    t.domain = who.domain;
    t.password = who.password;
    t.password_given = who.password_given;
    ServersOptions so;
    so.within_s = args.within_s;
    const std::string settings = discovery_settings(who, so);

    std::shared_ptr<vnsmb1c_session> finder(vnsmb1c_session_new(), vnsmb1c_session_free);
    if (!finder)
        return report_failure(VNSMB1C_ENOMEM);
    if (int rc = configure_session(finder.get(), opt); rc != 0)
        return report_failure(rc);
    out.discover = [finder, settings](NetServers &found, std::string &why) {
        int n = vnsmb1c_s_servers(finder.get(), settings.c_str());
        if (n < 0) {
            why = failure_text(n);
            return false;
        }
        found = read_servers(vnsmb1c_s_servers_json(finder.get()));
        return true;
    };
    out.connect_to = [opt, t](const NetServer &server) -> serve::SessionPool::Connect {
        Target at = t;
        at.host = server.address.empty() ? server.name : server.address;
        return [opt, at](std::string &why) { return new_session(opt, at, why); };
    };
    return 0;
}

}  // namespace

int cmd_serve(const GlobalOptions &opt, const std::string &url, const ServeArgs &args)
{
    serve::GatewayOptions go;
    go.quiet = opt.quiet;
    for (const std::string &name : args.allow_hosts) {
        if (!serve::valid_host_header(name) || name.find(':') != std::string::npos) {
            std::fprintf(stderr, "vnsmb1c: --allow-host takes a host name without a port, e.g. media.home\n");
            return kExitUsage;
        }
    }
    go.allowed_hosts = args.allow_hosts;
    serve::HttpLimits &l = go.limits;
    auto set = [](int &limit, int given) {
        if (given > 0)
            limit = given;
    };
    set(l.max_connections, args.max_connections);
    set(l.max_per_client, args.max_per_client);
    set(l.head_timeout_s, args.head_timeout_s);
    set(l.idle_timeout_s, args.idle_timeout_s);
    set(l.send_timeout_s, args.send_timeout_s);
    set(go.pool.max_sessions, args.max_sessions);
    if (args.session_idle_s > 0)
        go.pool.idle_logoff = std::chrono::seconds(args.session_idle_s);
    // A request waits for a busy pool about as long as for an answer.
    if (opt.timeout_s > 0)
        go.pool.wait = std::chrono::milliseconds(static_cast<int64_t>(opt.timeout_s * 1000 + 0.5));
    if (!args.listen.empty() && !serve::parse_listen_address(args.listen, go.listen)) {
        std::fprintf(stderr, "vnsmb1c: --listen takes ADDRESS:PORT with a numeric address, e.g. 127.0.0.1:8080 "
                             "or [::1]:8080\n");
        return kExitUsage;
    }
    if (!args.auth_file.empty()) {
        std::string text;
        serve::BasicAuth auth;
        if (!read_text_file(args.auth_file, text))
            return report_local("cannot read the authentication file " + printable(args.auth_file));
        const bool ok = serve::parse_auth_file(text, auth);
        std::fill(text.begin(), text.end(), '\0');
        if (!ok) {
            std::fprintf(stderr, "vnsmb1c: the authentication file %s names no user and password (lines "
                                 "\"username = NAME\" and \"password = WORD\", or one line NAME:WORD)\n",
                         printable(args.auth_file).c_str());
            return kExitUsage;
        }
        go.auth = std::move(auth);
    }
    if (url_names_network(url_from_unc(url))) {
        serve::Upstream network;
        if (int rc = network_upstream(opt, args, network); rc != 0)
            return rc;
        return serve::run_gateway(go, "the servers of the network (smb://)", std::move(network));
    }
    Target t;
    if (int rc = connect_to(opt, url, t); rc != 0)
        return rc;
    go.start_share = t.path.substr(0, t.path.find('/'));
    // The name shown on start: the host alone, never the credentials.
    std::string name = "smb://" + (t.host.find(':') != std::string::npos ? "[" + t.host + "]" : t.host);
    if (t.port > 0)
        name += ":" + std::to_string(t.port);
    // The tool's session showed that the server takes this logon; the
    // gateway's requests run on sessions of their own.
    close_session();
    serve::Upstream one;
    one.connect = [opt, t](std::string &why) { return new_session(opt, t, why); };
    return serve::run_gateway(go, name, std::move(one));
}
