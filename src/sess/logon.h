// The two logon steps of a session: NEGOTIATE and SESSION_SETUP_ANDX.
#pragma once

#include <cstdint>

#include "sess/session.h"

// Offers "NT LM 0.12" and records what the server announces.
int32_t do_negotiate(Session &s);
// Logs on: NTLMSSP in SPNEGO over as many legs as the server asks for (at
// most six requests), or one non-extended NTLMv2 leg. -3 for every
// authentication failure.
int32_t do_session_setup(Session &s);

// Texts the client sends in SESSION_SETUP.
inline constexpr const char *kNativeOs = "VANTRELVIEWER";
inline constexpr const char *kNativeLanMan = "jCIFS";
