// Reading the interface list: getifaddrs on POSIX systems, the Windows
// Sockets interface list (SIO_GET_INTERFACE_LIST) on Windows.
#include "net/netif.h"

#include <cstdio>

#include "net/net_internal.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#endif

namespace {

// A /31 or /32 has no broadcast address to speak of.
constexpr uint32_t kLargestMask = 0xFFFFFFFEu;

bool usable(uint32_t address, uint32_t netmask)
{
    return address != 0 && netmask != 0 && netmask < kLargestMask;
}

Ipv4Net net_of(const char *name, uint32_t address, uint32_t netmask)
{
    Ipv4Net n;
    n.name = name;
    n.address = address;
    n.netmask = netmask;
    // The network's own broadcast address, whatever the system reports:
    // some report the limited broadcast 255.255.255.255 instead.
    n.broadcast = address | ~netmask;
    return n;
}

}  // namespace

#ifdef _WIN32

std::vector<Ipv4Net> vnb_host_broadcast_nets()
{
    std::vector<Ipv4Net> nets;
    if (!sock_startup())
        return nets;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return nets;
    INTERFACE_INFO list[64];
    DWORD got = 0;
    if (WSAIoctl(s, SIO_GET_INTERFACE_LIST, nullptr, 0, list, sizeof list, &got, nullptr, nullptr) == 0) {
        size_t count = got / sizeof(INTERFACE_INFO);
        for (size_t i = 0; i < count; i++) {
            const INTERFACE_INFO &it = list[i];
            if (!(it.iiFlags & IFF_UP) || !(it.iiFlags & IFF_BROADCAST) || (it.iiFlags & IFF_LOOPBACK) ||
                (it.iiFlags & IFF_POINTTOPOINT) || it.iiAddress.Address.sa_family != AF_INET)
                continue;
            uint32_t address = ntohl(it.iiAddress.AddressIn.sin_addr.s_addr);
            uint32_t netmask = ntohl(it.iiNetmask.AddressIn.sin_addr.s_addr);
            if (!usable(address, netmask))
                continue;
            char name[32];
            std::snprintf(name, sizeof name, "interface %zu", i + 1);
            nets.push_back(net_of(name, address, netmask));
        }
    }
    closesocket(s);
    return nets;
}

#else

std::vector<Ipv4Net> vnb_host_broadcast_nets()
{
    std::vector<Ipv4Net> nets;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return nets;
    for (const ifaddrs *it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_netmask == nullptr || it->ifa_addr->sa_family != AF_INET)
            continue;
        unsigned flags = it->ifa_flags;
        if (!(flags & IFF_UP) || !(flags & IFF_BROADCAST) || (flags & IFF_LOOPBACK) || (flags & IFF_POINTOPOINT))
            continue;
        uint32_t address = ntohl(reinterpret_cast<const sockaddr_in *>(it->ifa_addr)->sin_addr.s_addr);
        uint32_t netmask = ntohl(reinterpret_cast<const sockaddr_in *>(it->ifa_netmask)->sin_addr.s_addr);
        if (usable(address, netmask))
            nets.push_back(net_of(it->ifa_name != nullptr ? it->ifa_name : "?", address, netmask));
    }
    freeifaddrs(list);
    return nets;
}

#endif

std::string vnb_ipv4_text(uint32_t ip)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip >> 24, (ip >> 16) & 0xFF, (ip >> 8) & 0xFF, ip & 0xFF);
    return text;
}

bool vnb_ipv4_parse(const char *text, uint32_t *out)
{
    if (text == nullptr)
        return false;
    uint32_t ip = 0;
    const char *p = text;
    for (int part = 0; part < 4; part++) {
        if (part > 0 && *p++ != '.')
            return false;
        if (*p < '0' || *p > '9')
            return false;
        uint32_t v = 0;
        int digits = 0;
        for (; *p >= '0' && *p <= '9'; p++) {
            if (++digits > 3)
                return false;
            v = v * 10 + static_cast<uint32_t>(*p - '0');
        }
        if (v > 255 || (digits > 1 && p[-digits] == '0'))
            return false;
        ip = (ip << 8) | v;
    }
    if (*p != '\0')
        return false;
    *out = ip;
    return true;
}
