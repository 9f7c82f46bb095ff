// The name service behind each transport kind: the host's network for
// sockets, the fake server's own node for the fake server, none for the
// host relay (the host reaches the server and is given its name as it is).
#include "api/name_service.h"

#include "fake/fake_netbios.h"
#include "net/nbns_client.h"

namespace {

NameService fake_name_service()
{
    NameService ns;
    ns.literal_host = "fake";
    // The fake network has no DNS; nothing may reach the system's resolver.
    ns.dns = [](const char *, std::string *) { return -1; };
    std::optional<FakeNetbiosNode> node = vnb_fake_netbios();
    if (node) {
        Ipv4Net net;
        net.name = "fake";
        net.address = node->address;
        net.netmask = 0xFFFFFFFFu;
        net.broadcast = node->address;
        ns.nets.push_back(net);
    }
    ns.open_port = [node] { return vnb_fake_datagram_port(node); };
    return ns;
}

}  // namespace

std::function<NameService()> vnb_name_service_for(const TransportChoice &kind)
{
    switch (kind.mode) {
    case VNSMB1C_MODE_HOSTIO:
        return {};
    case VNSMB1C_MODE_FAKE:
        return fake_name_service;
    default:
        return vnb_host_name_service;
    }
}
