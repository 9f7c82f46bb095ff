#include "listen_address.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <cstring>

namespace serve {

namespace {

bool parse_port(std::string_view s, int &out)
{
    if (s.empty() || s.size() > 5)
        return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > 65535)
        return false;
    out = v;
    return true;
}

bool is_ipv4(const std::string &s)
{
    in_addr a{};
    return inet_pton(AF_INET, s.c_str(), &a) == 1;
}

bool is_ipv6(const std::string &s)
{
    in6_addr a{};
    return inet_pton(AF_INET6, s.c_str(), &a) == 1;
}

bool valid_dns_name(std::string_view s)
{
    if (s.empty() || s.size() > 253)
        return false;
    size_t label = 0;
    for (char c : s) {
        if (c == '.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok || ++label > 63)
            return false;
    }
    return label > 0;
}

bool equal_nocase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// The name of a Host value: without its port, an IPv6 address without brackets.
std::string_view host_name(std::string_view host)
{
    if (!host.empty() && host.front() == '[')
        return host.substr(1, host.find(']') - 1);
    return host.substr(0, host.find(':'));
}

}  // namespace

bool parse_listen_address(std::string_view text, ListenAddress &out)
{
    std::string host;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        auto close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = std::string(text.substr(1, close - 1));
        port = text.substr(close + 2);
        if (!is_ipv6(host))
            return false;
    } else {
        auto colon = text.rfind(':');
        if (colon == std::string_view::npos)
            return false;
        host = std::string(text.substr(0, colon));
        port = text.substr(colon + 1);
        if (host == "localhost")
            host = "127.0.0.1";
        if (!is_ipv4(host))
            return false;
    }
    int p = 0;
    if (!parse_port(port, p))
        return false;
    out.host = host;
    out.port = p;
    return true;
}

bool is_loopback(std::string_view numeric_host)
{
    std::string h(numeric_host);
    in_addr a4{};
    if (inet_pton(AF_INET, h.c_str(), &a4) == 1)
        return (ntohl(a4.s_addr) >> 24) == 127;
    in6_addr a6{};
    if (inet_pton(AF_INET6, h.c_str(), &a6) == 1)
        return std::memcmp(&a6, &in6addr_loopback, sizeof a6) == 0;
    return false;
}

std::string host_port(std::string_view host, int port)
{
    std::string h(host);
    if (h.find(':') != std::string::npos)
        h = "[" + h + "]";
    return h + ":" + std::to_string(port);
}

bool valid_host_header(std::string_view host)
{
    std::string_view name = host;
    std::string_view port;
    if (!host.empty() && host.front() == '[') {
        auto close = host.find(']');
        if (close == std::string_view::npos)
            return false;
        if (!is_ipv6(std::string(host.substr(1, close - 1))))
            return false;
        std::string_view rest = host.substr(close + 1);
        if (rest.empty())
            return true;
        if (rest.front() != ':')
            return false;
        int p = 0;
        return parse_port(rest.substr(1), p);
    }
    if (auto colon = host.find(':'); colon != std::string_view::npos) {
        name = host.substr(0, colon);
        port = host.substr(colon + 1);
        int p = 0;
        if (!parse_port(port, p))
            return false;
    }
    return valid_dns_name(name);
}

}  // namespace serve

namespace serve {

bool host_allowed(std::string_view host, const ListenAddress &listen, const std::vector<std::string> &allowed)
{
    if (!is_loopback(listen.host))
        return true;
    std::string_view name = host_name(host);
    if (equal_nocase(name, "localhost") || equal_nocase(name, listen.host))
        return true;
    for (const std::string &a : allowed)
        if (equal_nocase(name, a))
            return true;
    return false;
}

}  // namespace serve
