// NetBIOS names (RFC 1001/1002): the 16-byte form (15 characters, blank
// padded, and a type byte) and its first-level encoding as the session and
// name services put it on the wire. Pure functions.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kNetbiosNameChars = 15;
// A length byte of 32, the 32 encoded half-bytes and the empty scope's 0.
inline constexpr size_t kNetbiosEncodedLen = 34;
inline constexpr uint8_t kNetbiosServerType = 0x20;       // file server service
inline constexpr uint8_t kNetbiosWorkstationType = 0x00;  // workstation service
// The name that any SMB server over NetBIOS answers to.
inline constexpr char kNetbiosAnyServer[] = "*SMBSERVER";

// Writes the first-level encoding of `name` (at most 15 bytes, upper-cased
// as ASCII, blank-padded) with its type byte: each of the 16 bytes as two
// letters 'A' + half-byte. 0, or -1 for an empty or longer name or a
// control character in it.
int vnb_netbios_encode(const char *name, uint8_t type, uint8_t (&out)[kNetbiosEncodedLen]);

// Reads an encoded name at the start of `in`: the name without its padding
// blanks (NUL-terminated) and its type. The number of bytes read, or -1
// when it is not a 32-letter first-level label followed by the empty scope.
int vnb_netbios_decode(const uint8_t *in, size_t len, char (&name)[kNetbiosNameChars + 1], uint8_t *type);

// The name to call a server by from the host part of its address: the first
// label of a host name, upper-cased and cut to 15 characters; "*SMBSERVER"
// for an IP address (or a host that gives no usable name).
void vnb_netbios_called_name(const char *host, char (&name)[kNetbiosNameChars + 1]);
