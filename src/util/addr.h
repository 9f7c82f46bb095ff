// IPv4/IPv6 address and CIDR parsing, formatting and matching.
#pragma once

#include <cstddef>
#include <cstdint>

struct IpAddress {
    int32_t family;     // 4 or 6; 0 after a failed parse
    uint8_t bytes[16];  // network order; family 4 uses bytes[0..3]
};

struct CidrBlock {
    IpAddress addr;
    int32_t prefix;     // leading bits; address bytes past it are zero
};

// Dotted quad of exactly `len` characters -> 4 bytes. 0 or -1.
int parse_v4(const char *text, size_t len, uint8_t out[4]);
int vnb_ip_parse(const char *text, IpAddress *out);
void vnb_ip_format(const IpAddress *a, char *out, int32_t size);
int vnb_ip_equal(const IpAddress *a, const IpAddress *b);
int vnb_ip_is_loopback(const IpAddress *a);
int vnb_cidr_parse(const char *text, CidrBlock *out);
int vnb_cidr_match(const CidrBlock *block, const IpAddress *a);
