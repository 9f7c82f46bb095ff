// Logons older than NTLMv2: how far a session may go (the "LegacyAuth"
// setting) and what a logon used.
#pragma once

#include <cstdint>

// What a session may send besides NTLMv2, each level allowing what the ones
// before it allow. Servers that offer no challenge get the plaintext
// password only at the last level.
enum class LegacyAuth : int32_t {
    none = 0,       // NTLMv2 only (and the anonymous logon)
    ntlmv1 = 1,     // NTLMv1 responses instead of NTLMv2
    lm = 2,         // NTLMv1 and the LAN Manager response
    plaintext = 3,  // all of the above, and the password in clear text to a server without a challenge
};

// How a logon or a share-level TREE_CONNECT proved the password.
enum class LogonKind : int32_t {
    none = 0,    // not logged on, or (TREE_CONNECT) no share password sent
    anonymous,   // no user, no password
    ntlmv2,      // NTLMv2 (NTLMSSP) or LMv2 and NTLMv2 (without extended security)
    ntlmv1,      // NTLMv1 response
    ntlmv1_ess,  // NTLMv1 with extended session security (NTLMSSP only)
    lm,          // LAN Manager response together with NTLMv1
    plaintext,   // the password itself
    share,       // a share-level server: the user name only, passwords go with TREE_CONNECT
};

// "none", "ntlmv1", "lm", "plaintext"; also "ntlmv2" and "" for none,
// ignoring case. false for any other name.
bool vnb_legacy_auth_by_name(const char *name, LegacyAuth *out);
const char *vnb_legacy_auth_name(LegacyAuth level);
// Refuses a logon that the settings do not allow yet: -8, worded "the
// server asks for <asked>; allow it with the setting "LegacyAuth": "<level>"
// (vnsmb1c --legacy-auth <level>)".
int32_t vnb_legacy_refusal(const char *asked, LegacyAuth needed);

// "none", "anonymous", "ntlmv2", "ntlmv1", "ntlmv1-ess", "lm", "plaintext", "share-level".
const char *vnb_logon_kind_name(LogonKind kind);
