// A bare SMB1 NEGOTIATE over a loopback socket, to see what the server
// announces without any client library in between.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct NegotiateInfo {
    bool answered = false;    // a whole SMB1 reply arrived
    uint32_t status = 0;
    uint8_t word_count = 0;
    uint16_t dialect = 0xFFFF;
    uint8_t security_mode = 0;
    uint16_t max_mpx = 0;
    uint32_t max_buffer = 0;
    uint32_t max_raw = 0;
    uint32_t capabilities = 0;
    uint8_t challenge_len = 0;
    uint16_t byte_count = 0;
    std::vector<uint8_t> reply;  // the SMB1 message, without its NBSS header
};

// A connected loopback socket, or -1. Every read and write on it gives up
// after timeout_ms.
int probe_connect(int port, int timeout_ms = 5000);
// Sends NEGOTIATE offering `dialects` with the given Flags2 on socket s and
// reads the reply.
NegotiateInfo probe_negotiate_on(int s, const std::vector<std::string> &dialects, uint16_t flags2);
struct SetupInfo {
    bool answered = false;
    uint32_t status = 0;
    uint16_t action = 0;  // bit 0: logged on as guest
    uint16_t uid = 0;
};

// SESSION_SETUP_ANDX in the form without extended security (WordCount 13,
// 8-bit texts), after a NEGOTIATE with Flags2 0x4001 on socket s. The
// responses are sent as given; no NTLM is computed here.
SetupInfo probe_session_setup_basic(int s, const std::string &user, const std::string &domain,
                                    const std::vector<uint8_t> &lm_response,
                                    const std::vector<uint8_t> &nt_response);
// Connects to the port, negotiates and closes.
NegotiateInfo probe_negotiate(int port, const std::vector<std::string> &dialects, uint16_t flags2);
// What a read on s gives once the peer is gone: 0 for an orderly close, -1
// with errno for a reset, or 1 if bytes still arrive; -2 when nothing
// happened within timeout_ms.
int probe_wait_closed(int s, int timeout_ms);
