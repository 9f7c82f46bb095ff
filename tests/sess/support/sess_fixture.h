// Shared set-up of the engine tests: a clean session over a scripted peer,
// and the replies a server gives during logon.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sess/exchange.h"
#include "sess/lifecycle.h"
#include "sess/session.h"
#include "sess/support/script_peer.h"
#include "util/error.h"
#include "support/test_env.h"

namespace sp {

// NEGOTIATE reply words (WordCount 17) with the fields a test varies.
struct NegWords {
    uint16_t dialect = 0;
    uint8_t security_mode = 0x03;
    uint16_t max_mpx = 50;
    uint32_t max_buffer = 16644;
    uint32_t max_raw = 65536;
    uint32_t capabilities = 0x8000F3FD;
    uint8_t challenge_len = 0;
};

Bytes negotiate_words(const NegWords &w);
// An extended-security NEGOTIATE reply: GUID 16 x 0xAB, then the blob.
Bytes negotiate_ext(const Bytes &req, uint8_t security_mode = 0x03, const Bytes &blob = {});
// A non-extended NEGOTIATE reply carrying an 8-byte challenge and "FAKE\0\0".
// Capabilities as Samba announces them without extended security (Unicode
// included); a DOS-era server leaves out CAP_UNICODE (0x0004).
inline constexpr uint32_t kBasicCaps = 0x0000F3FD;
Bytes negotiate_basic(const Bytes &req, const Bytes &challenge, uint8_t security_mode = 0x03,
                      uint32_t capabilities = kBasicCaps);

// SESSION_SETUP reply: extended form (WordCount 4, with blob) or the
// non-extended form (WordCount 3).
Bytes setup_reply_ext(const Bytes &req, uint32_t status, uint16_t action, const Bytes &blob, uint16_t uid,
                      uint16_t flags2 = 0xC801);
Bytes setup_reply_basic(const Bytes &req, uint32_t status, uint16_t action, uint16_t uid);
// Sets the UID field of a reply.
void set_uid(Bytes &reply, uint16_t uid);

// The 80-byte CHALLENGE of the fake server layout, with the given challenge.
Bytes fake_challenge(const uint8_t challenge[8]);
// That CHALLENGE inside the fake server's negTokenResp.
Bytes fake_challenge_token(const uint8_t challenge[8]);
// negTokenResp accept-completed.
Bytes accept_completed();

// A transport to the in-process fake server (host "fake").
std::unique_ptr<MsgTransport> fake_transport();

// A clean session with no identity, the scripted peer as its transport,
// host "peer", a short time-out and trace off.
class SessTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Sets the identity as connect does (anonymous when user and password
    // are both empty).
    void identity(const char *domain, const char *user, const char *password);
    // Starts over with a new peer as the session's transport.
    void fresh_peer();
    ScriptPeer peer;
    Session s;
};

// Scoped VNSMB1C_TRACE.
struct TraceOn {
    TraceOn() { ::setenv("VNSMB1C_TRACE", "1", 1); }
    ~TraceOn() { ::unsetenv("VNSMB1C_TRACE"); }
};

}  // namespace sp
