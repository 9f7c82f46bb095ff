// Hand-built SMB1 requests and a small fake tree for driving the fake kind
// and the library's own HostIo objects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// One share with one file.
extern const char kSmallFakeTree[];

constexpr uint8_t kNegotiate = 0x72;
constexpr size_t kNegotiateWords = 17;  // the NT LM 0.12 answer

// A NEGOTIATE request offering one dialect: 37 bytes plus the dialect name.
Bytes negotiate_request(uint16_t mid, const std::string &dialect = "NT LM 0.12");

uint16_t mid_of(const Bytes &msg);
// Checks a successful NEGOTIATE answer to the request with this MID: its
// header, its 17 parameter words and a length that its ByteCount accounts for.
void expect_negotiate_reply(const Bytes &reply, uint16_t mid);
// The message behind a 4-byte NBSS header built from its length.
Bytes with_nbss_header(const Bytes &msg);

std::string b64_text(const Bytes &bytes);
// The decoded bytes; a text that is not Base64 gives a failed test and {}.
Bytes b64_bytes(const char *text);
