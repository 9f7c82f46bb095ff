// vnsmb1c serve: the connected server's shares over HTTP.
#include <cstdio>
#include <string>

#include "cli.h"
#include "gateway.h"
#include "listen_address.h"

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
    if (!args.listen.empty() && !serve::parse_listen_address(args.listen, go.listen)) {
        std::fprintf(stderr, "vnsmb1c: --listen takes ADDRESS:PORT with a numeric address, e.g. 127.0.0.1:8080 "
                             "or [::1]:8080\n");
        return kExitUsage;
    }
    Target t;
    if (int rc = connect_to(opt, url, t); rc != 0)
        return rc;
    go.start_share = t.path.substr(0, t.path.find('/'));
    // The name shown on start: the host alone, never the credentials.
    std::string name = "smb://" + (t.host.find(':') != std::string::npos ? "[" + t.host + "]" : t.host);
    if (t.port > 0)
        name += ":" + std::to_string(t.port);
    return serve::run_gateway(go, name);
}
