// Helpers shared by the files of the NTLM unit: a self-wiping holder for
// secrets and the NTProofStr.
#pragma once

#include <cstddef>
#include <cstdint>

#include <span>

#include "crypto/crypto.h"
#include "util/bytebuf.h"

// A fuzzing build fixes the client challenge and the time an NTLMv2 blob
// carries, so that a harness can derive the session key of a logon and sign
// the replies it makes up. Never in a release build.
#if defined(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
#if defined(NDEBUG)
#error "a fixed NTLM client challenge is for fuzzing builds only"
#endif
inline constexpr uint8_t kFuzzClientChallenge[8] = {0xC1, 0x1E, 0x47, 0xC1, 0x1E, 0x47, 0xC1, 0x1E};
inline constexpr uint64_t kFuzzUnixTime = 1500000000;
#endif

// The Unix time an NTLMv2 blob carries.
inline uint64_t ntlm_blob_time(uint64_t unix_time)
{
#if defined(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION)
    (void)unix_time;
    return kFuzzUnixTime;
#else
    return unix_time;
#endif
}

// A local secret (hash, key, keyed MAC state) that is wiped when its scope
// ends, whichever return path ends it.
template <typename T>
struct NtlmSecret {
    T v{};
    NtlmSecret() = default;
    NtlmSecret(const NtlmSecret &) = delete;
    NtlmSecret &operator=(const NtlmSecret &) = delete;
    ~NtlmSecret() { vnb_wipe(&v, sizeof v); }
};

// Appends an AUTHENTICATE message with the given responses (an empty LM
// response gets offset 0), the domain, user and this client's workstation
// name in UTF-16LE, and the flags. 0, or -1 for a user name that does not
// convert or a growth failure.
int ntlm_put_type3(ByteBuffer *b, std::span<const uint8_t> lm, std::span<const uint8_t> nt, const char *domain,
                   const char *user, uint32_t flags);

// The flags of an AUTHENTICATE message that carries a password's responses
// (extended session security among them; ntlm.cpp).
extern const uint32_t kNtlmType3Flags;

// HMAC-MD5 keyed with the NTLMv2 hash over the server challenge followed by
// `data`: the NTProofStr over a blob, or the LMv2 proof over a client challenge.
void ntlm_proof(const uint8_t v2_hash[16], const uint8_t server_challenge[8], const uint8_t *data,
                size_t len, uint8_t out[16]);
