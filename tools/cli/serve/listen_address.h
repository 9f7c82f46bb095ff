// Where the gateway listens, and the Host header its pages may trust.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace serve {

struct ListenAddress {
    std::string host = "127.0.0.1";  // a numeric IPv4 or IPv6 address
    int port = 8080;                 // 0: any free port
};

// "ADDR:PORT" or "[IPV6]:PORT" with a numeric address ("localhost" is
// 127.0.0.1); false for anything else.
bool parse_listen_address(std::string_view text, ListenAddress &out);
// 127.0.0.0/8 and ::1.
bool is_loopback(std::string_view numeric_host);
// "host:port" for a URL: IPv6 addresses in brackets.
std::string host_port(std::string_view host, int port);
// A Host header fit to build absolute URLs from: a DNS name or IPv4
// address, or an IPv6 address in brackets, each with an optional port.
bool valid_host_header(std::string_view host);
// Whether a gateway listening on listen serves a request with this (valid)
// Host. On a loopback address only "localhost", the address itself and the
// allowed names are served, so that a web page whose name was rebound to
// the loopback address cannot read through the gateway. Elsewhere any.
bool host_allowed(std::string_view host, const ListenAddress &listen, const std::vector<std::string> &allowed);

}  // namespace serve
