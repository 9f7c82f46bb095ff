// A scripted server for logon tests: answers NEGOTIATE (extended or basic
// security), SESSION_SETUP (checking the client's NTLM answers with the
// server-side checker or an independent NTLMv2 computation) and, once logged
// on, any other command with status 0, signing when signing is on.
#pragma once

#include <string>
#include <vector>

#include "sess/support/script_peer.h"

namespace sp {

struct LogonServer {
    // Configuration.
    bool extended = true;
    bool unicode = true;          // non-extended NEGOTIATE announces CAP_UNICODE
    uint8_t security_mode = 0x03;
    uint8_t challenge[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    std::string user;             // expected user ("" accepts any)
    std::string password;
    uint16_t uid = 0x4001;
    bool raw_challenge = false;   // send the CHALLENGE bare, not in SPNEGO
    int interims = 1;             // MORE_PROCESSING_REQUIRED replies before checking (per NEGOTIATE)
    uint32_t refuse_with = 0;     // answer the final SESSION_SETUP with this status
    bool guest_action = false;    // report a guest logon
    bool sign_final = true;       // sign the final SESSION_SETUP reply of a signing session
    int bad_final_signature = 0;  // 1: sign the final reply with a wrong number
    bool final_flag = true;       // set Flags2 bit 0x0004 on the signed final reply
    bool final_placeholder = false;  // unsigned final reply: "BSRSPYL " in the signature field

    // What happened.
    int setups = 0;
    int interims_sent = 0;
    int verify_result = -9;       // of the last AUTHENTICATE or NTLMv2 check
    Bytes session_key;            // from the last successful check
    Bytes mac_key;                // set when the server signs
    uint32_t seq = 0;             // next request sequence number while signing
    std::vector<std::string> request_signature_errors;
    std::string client_domain;    // non-extended: as read from the request
    std::string client_user;
    std::string client_os;
    std::string client_lanman;

    std::vector<Bytes> operator()(const Bytes &req);

private:
    Bytes negotiate(const Bytes &req);
    Bytes setup_extended(const Bytes &req);
    Bytes setup_basic(const Bytes &req);
    Bytes finish_success(const Bytes &req, Bytes reply, bool guest, const Bytes &mac_key);
    Bytes other(const Bytes &req);
};

// SESSION_SETUP request fields.
struct SetupRequest {
    uint8_t word_count = 0;
    uint16_t blob_len = 0;      // extended
    uint16_t lm_len = 0;        // non-extended
    uint16_t nt_len = 0;
    uint32_t capabilities = 0;
    uint16_t byte_count = 0;
    size_t data_offset = 0;
    Bytes data;                 // ByteCount bytes
};
// Reads one NUL-terminated text of a request's data bytes at *pos (an index
// into data): 8-bit, or UTF-16LE after a pad byte to an even message offset.
// *pos moves past the terminator.
std::string take_text(const SetupRequest &s, size_t *pos, bool unicode);
SetupRequest parse_setup(const Bytes &req);

}  // namespace sp
