// The NetBIOS session service's opening exchange (RFC 1002, 4.3.2): the
// session request that must come first on port 139, and the server's answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "net/net.h"
#include "util/bytebuf.h"

inline constexpr uint8_t kNbssSessionRequest = 0x81;
inline constexpr uint8_t kNbssPositiveResponse = 0x82;
inline constexpr uint8_t kNbssNegativeResponse = 0x83;
inline constexpr uint8_t kNbssRetargetResponse = 0x84;
// Error codes of a negative response.
inline constexpr uint8_t kNbssCalledNameNotPresent = 0x82;

enum class NbssAnswerKind { positive, negative, retarget, malformed };

struct NbssSessionAnswer {
    NbssAnswerKind kind = NbssAnswerKind::malformed;
    uint8_t error = 0;      // of a negative response
    uint8_t address[4]{};   // of a retarget response
    uint16_t port = 0;
};

// Reads an answer from its type byte and payload: positive (no payload),
// negative (one error byte), retarget (IPv4 address and port); anything
// else is malformed.
NbssSessionAnswer nbss_parse_session_answer(uint8_t type, std::span<const uint8_t> payload);

// Words a negative response's error code ("called name not present").
const char *nbss_refusal_text(uint8_t error);

// Appends the whole request frame: header and the called (type 0x20) and
// calling (type 0x00) names. 0, or -1 for a name that cannot be encoded.
int nbss_build_session_request(const char *called, const char *calling, ByteBuffer *out);

// Sends a session request on a connected byte stream and reads the answer,
// passing keep-alives over, within timeout_ms. 0 with the answer; -1 with
// the error text when the request cannot be sent or no answer arrives.
int32_t nbss_session_request(Transport *t, const char *called, const char *calling, int timeout_ms,
                             NbssSessionAnswer *out);
