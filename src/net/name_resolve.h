// Finding a server's address from the host part of a URL: an address is
// used as it is; a dotted name goes to the system's resolver first and then
// to NetBIOS; a single-label name is tried by both, the first good answer
// winning. NetBIOS asks the WINS server when one is set, then broadcasts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/nbns_client.h"

enum class NameMethod : uint8_t { netbios, dns };

// How names are resolved; the same settings drive discovery's broadcasts.
struct NameSettings {
    std::array<NameMethod, 2> order{NameMethod::netbios, NameMethod::dns};
    uint8_t count = 2;     // methods in use, in order
    uint32_t wins = 0;     // the WINS server, host byte order; 0 for none
    bool broadcast = true; // false: never a broadcast

    bool uses(NameMethod m) const;
};

// The method list of text ("netbios,dns", "dns,netbios", "netbios", "dns";
// case and spaces around the names do not matter): 0, or -1 leaving out
// untouched.
int vnb_name_order_parse(std::string_view text, NameSettings *out);
// The order as text ("netbios,dns").
std::string vnb_name_order_text(const NameSettings &s);

// How long the first method of a single-label name has to itself before
// the second one starts as well.
inline constexpr int kNameHeadStartMs = 250;

struct ResolvedHost {
    std::string address;  // numeric, IPv4 or IPv6
    std::string method;   // "address", "dns", "WINS", "broadcast"
};

// Resolves host within timeout_ms: 0 with out filled, or -1 with the text
// "cannot resolve HOST: tried ..." naming each method tried and what it met.
int32_t vnb_resolve_host(const char *host, const NameSettings &settings, const NameService &ns, int timeout_ms,
                         ResolvedHost *out);

// The address to use from a positive name query answer: a unique entry on
// one of the service's networks first, then any unique entry one may send
// to (never 0.0.0.0, a network's broadcast address or a multicast address).
// False when the answer holds none.
bool vnb_nb_answer_address(const NameService &ns, const NbAnswer &a, uint32_t *out);

// A NetBIOS name query for name<0x20> by the methods the settings allow
// (WINS, then broadcast): 0 with the address in out, or -1 with `tried`
// describing each attempt. stop, when given, ends the attempt early.
int32_t vnb_netbios_lookup(const char *name, const NameSettings &settings, const NameService &ns,
                           uint64_t deadline_ms, ResolvedHost *out, std::string *tried,
                           const std::function<bool()> &stop = {});
