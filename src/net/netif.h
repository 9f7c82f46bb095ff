// The host's IPv4 broadcast domains: where the name service may broadcast.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Ipv4Net {
    std::string name;        // the interface's name, for texts
    uint32_t address = 0;    // host byte order, as every address below
    uint32_t netmask = 0;
    uint32_t broadcast = 0;

    bool contains(uint32_t ip) const { return (ip & netmask) == (address & netmask); }
};

// Every interface that is up, can broadcast and is neither the loopback nor
// a point-to-point link, with an IPv4 address on a network of at least two
// hosts: its address, mask and the broadcast address of that network. Empty
// when there is none or the list cannot be read.
std::vector<Ipv4Net> vnb_host_broadcast_nets();

// Dotted-quad text of an address in host byte order.
std::string vnb_ipv4_text(uint32_t ip);
// Reads a dotted quad (four decimal parts, nothing else); false otherwise.
bool vnb_ipv4_parse(const char *text, uint32_t *out);
