// The two logon steps of a session: NEGOTIATE and SESSION_SETUP_ANDX.
#pragma once

#include <cstdint>

// Offers "NT LM 0.12" and records what the server announces.
int32_t do_negotiate();
// Logs on: NTLMSSP in SPNEGO over as many legs as the server asks for (at
// most six requests), or one non-extended NTLMv2 leg. -3 for every
// authentication failure.
int32_t do_session_setup();

// The same two steps, reachable for tests.
int32_t vnb_dbg_negotiate();
int32_t vnb_dbg_session_setup();

// Texts the client sends in SESSION_SETUP.
inline constexpr const char *kNativeOs = "VANTRELVIEWER";
inline constexpr const char *kNativeLanMan = "jCIFS";
