// NTLMSSP messages (NEGOTIATE, CHALLENGE, AUTHENTICATE), NTLMv2 responses and
// the server-side check of an AUTHENTICATE message.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/bytebuf.h"
#include "util/codepage.h"

// The parsed CHALLENGE message.
struct NtlmChallenge {
    uint8_t server_challenge[8];
    uint8_t target_info[512];   // target-information block as received
    uint32_t target_info_len;   // 0..512
    uint32_t flags;             // NegotiateFlags
};

// "NTLMSSP" and its NUL, the first 8 bytes of every message.
inline constexpr uint8_t NTLMSSP_SIGNATURE[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};

inline constexpr uint32_t NTLMSSP_NEGOTIATE_UNICODE = 0x00000001;
inline constexpr uint32_t NTLMSSP_REQUEST_TARGET = 0x00000004;
inline constexpr uint32_t NTLMSSP_NEGOTIATE_SIGN = 0x00000010;
inline constexpr uint32_t NTLMSSP_NEGOTIATE_NTLM = 0x00000200;
inline constexpr uint32_t NTLMSSP_NEGOTIATE_ANONYMOUS = 0x00000800;
inline constexpr uint32_t NTLMSSP_NEGOTIATE_ALWAYS_SIGN = 0x00008000;
inline constexpr uint32_t NTLMSSP_NEGOTIATE_EXTENDED_SESSIONSECURITY = 0x00080000;
inline constexpr uint32_t NTLMSSP_NEGOTIATE_128 = 0x20000000;
inline constexpr uint32_t NTLMSSP_NEGOTIATE_KEY_EXCH = 0x40000000;
inline constexpr uint32_t NTLMSSP_NEGOTIATE_56 = 0x80000000;

// The fake server's challenge, which vnb_ntlm_verify_type3 checks against.
// Written by the fake server whenever it loads a tree.
extern uint8_t g_fake_challenge[8];

// NT hash = MD4(UTF-16LE password); NTLMv2 hash = HMAC-MD5(NT hash,
// UTF-16LE(upper-cased user) then UTF-16LE(domain)). NULL texts count as
// empty. A password that does not convert (more than 257 UTF-16 units, bad
// UTF-8) gives two all-zero hashes.
void vnb_ntlm_hashes_dom(const char *user, const char *domain, const char *password,
                         uint8_t nt_hash[16], uint8_t v2_hash[16]);
void vnb_ntlm_hashes(const char *user, const char *password, uint8_t nt_hash[16], uint8_t v2_hash[16]);

// Appends the 32-byte NEGOTIATE message; returns 0 (growth failures stay in b).
// ask_ess false leaves extended session security out, for a logon that
// sends the LAN Manager response (which extended session security replaces).
int vnb_ntlm_build_type1(ByteBuffer *b, bool ask_ess = true);

// Zeroes *out, then parses a CHALLENGE message into it: 0, or -1.
int vnb_ntlm_parse_type2(const uint8_t *msg, size_t len, NtlmChallenge *out);

// Appends the AUTHENTICATE message for the given identity and Unix time
// (domain may be NULL; an empty password gives the anonymous form) and writes
// the session key: 0, or -1 (NULL argument, user that does not convert, no
// random bytes for the client challenge, buffer growth failure).
int vnb_ntlm_build_type3(const NtlmChallenge *ch, const char *domain, const char *user,
                         const char *password, uint64_t unix_time, ByteBuffer *b,
                         uint8_t session_key[16]);

// The bare responses of a non-extended logon: LMv2 (24 bytes), the NTLMv2
// response appended to the empty buffer *ntv2 (NTProofStr then the blob) and
// the session key. 0; -1 on a NULL argument, a missing random source or a
// growth failure; -2 for an empty password.
int vnb_ntlm_v2_responses(const char *domain, const char *user, const char *password,
                          const uint8_t server_challenge[8], uint64_t unix_time, uint8_t lmv2[24],
                          ByteBuffer *ntv2, uint8_t session_key[16]);

// The same two builders with the blob's timestamp given as a Windows FILETIME
// and the client challenge given (NULL: drawn from the random source), so
// that results can be reproduced.
int vnb_ntlm_build_type3_at(const NtlmChallenge *ch, const char *domain, const char *user,
                            const char *password, uint64_t filetime, const uint8_t client_challenge[8],
                            ByteBuffer *b, uint8_t session_key[16]);
int vnb_ntlm_v2_responses_at(const char *domain, const char *user, const char *password,
                             const uint8_t server_challenge[8], uint64_t filetime,
                             const uint8_t client_challenge[8], uint8_t lmv2[24], ByteBuffer *ntv2,
                             uint8_t session_key[16]);

// Seconds since 1970 -> 100 ns units since 1601.
uint64_t vnb_ntlm_filetime(uint64_t unix_time);

// 8 bytes from the operating system's random source: 0, or -1.
int vnb_ntlm_client_challenge(uint8_t out[8]);

// Server side: checks an AUTHENTICATE message against g_fake_challenge and the
// known password. expected_user NULL or empty accepts any user. Zeroes
// session_key first. 0 verified (session key written), 1 rejected, 2
// anonymous (empty NT response), -1 malformed.
int vnb_ntlm_verify_type3(const uint8_t *msg, size_t len, const char *expected_user,
                          const char *password, uint8_t session_key[16]);

// ---- NTLMv1 and LAN Manager (opt-in logons for old servers) ----

// LAN Manager hash: DES of "KGS!@#$%" under the password in upper case in
// the code page, NUL-padded to 14 bytes and cut into two 7-byte keys. 0, or
// -1 when the password has none (a character the page lacks, more than 14
// bytes).
int vnb_lm_hash(const char *password, CodePage cp, uint8_t out[16]);

// The 24-byte answer to an 8-byte challenge under a 16-byte hash: the hash,
// zero-padded to 21 bytes, as three DES keys.
void vnb_ntlm_desl(const uint8_t hash[16], const uint8_t challenge[8], uint8_t out[24]);

// The forms of an NTLMv1 logon.
enum class NtlmV1Form : int32_t {
    nt,         // NT response; the LM field repeats it
    nt_and_lm,  // NT response and the LAN Manager response
    ess,        // extended session security: the LM field carries the client challenge
};

struct NtlmV1Answer {
    uint8_t lm[24];
    uint8_t nt[24];
    uint8_t session_key[16];
    NtlmV1Form form;  // as asked, but nt when nt_and_lm finds no LM hash
};

// The NTLMv1 responses of a password to server_challenge in the given form,
// and the session key: MD4 of the NT hash, under ess HMAC-MD5 of that over
// the server and client challenges. client_challenge (ess only) NULL draws
// one. 0, or -1 (NULL argument, a password that does not convert, no
// random bytes).
int vnb_ntlm_v1_answer(const char *password, CodePage cp, const uint8_t server_challenge[8], NtlmV1Form form,
                       const uint8_t client_challenge[8], NtlmV1Answer *out);

// The AUTHENTICATE message of an NTLMv1 logon answering ch: extended session
// security when the CHALLENGE settled it, else the NT response with the LAN
// Manager response when with_lm (and the password has an LM hash). Writes
// the session key and the form used. 0, or -1 as vnb_ntlm_build_type3.
int vnb_ntlm_build_type3_v1(const NtlmChallenge *ch, const char *domain, const char *user, const char *password,
                            CodePage cp, bool with_lm, const uint8_t client_challenge[8], ByteBuffer *b,
                            uint8_t session_key[16], NtlmV1Form *used);

// Server side of an NTLMv1 logon: checks the responses (each NULL or of
// any length) against the password and the challenge. ess: the NT response
// answers MD5(challenge, lm[0..7]). Otherwise the NT response is tried
// first, then, with accept_lm, the LM response. 0 verified (session key
// and form written), 1 rejected.
int vnb_ntlm_verify_v1(const uint8_t *lm, size_t lm_len, const uint8_t *nt, size_t nt_len, const char *password,
                       CodePage cp, const uint8_t challenge[8], bool ess, bool accept_lm, uint8_t session_key[16],
                       NtlmV1Form *form);

// The fields of an AUTHENTICATE message as a server reads them: the two
// responses (pointing into msg), user and domain as UTF-8, the flags.
struct NtlmType3Fields {
    const uint8_t *lm;
    uint32_t lm_len;
    const uint8_t *nt;
    uint32_t nt_len;
    char user[129];
    char domain[129];
    uint32_t flags;
};
// 0, or -1 for a message that is not an AUTHENTICATE, a field outside it or
// a name that does not convert.
int vnb_ntlm_type3_fields(const uint8_t *msg, size_t len, NtlmType3Fields *out);
