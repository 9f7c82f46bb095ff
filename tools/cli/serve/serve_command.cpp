// vnsmb1c serve: the connected server's shares over HTTP.
#include <cstdio>
#include <string>

#include "cli.h"
#include "gateway.h"
#include "listen_address.h"

int cmd_serve(const GlobalOptions &opt, const std::string &url, const std::string &listen)
{
    serve::GatewayOptions go;
    go.quiet = opt.quiet;
    if (!listen.empty() && !serve::parse_listen_address(listen, go.listen)) {
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
