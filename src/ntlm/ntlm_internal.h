// Helpers shared by the files of the NTLM unit: a self-wiping holder for
// secrets and bounds-checked readers for little-endian message fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/crypto.h"

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

// A cursor over a received message; reads never pass `len`.
struct NtlmReader {
    const uint8_t *msg;
    size_t len;
    size_t pos;
};

// One field descriptor resolved against the message: `data` is null when the
// block has offset 0 or does not lie inside the message.
struct NtlmField {
    const uint8_t *data;
    uint32_t len;
};

inline uint32_t ntlm_le16(const uint8_t *p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
inline uint32_t ntlm_le32(const uint8_t *p) { return ntlm_le16(p) | ntlm_le16(p + 2) << 16; }

// Reads 16/32 bits at the cursor and advances it; false when the message ends.
bool rd_u16(NtlmReader &r, uint32_t *v);
bool rd_u32(NtlmReader &r, uint32_t *v);
// Reads one 8-byte descriptor (length, maximum length, offset) at the cursor.
// A descriptor cut off by the end of the message yields {nullptr, 0}.
NtlmField field(NtlmReader &r);

// HMAC-MD5 keyed with the NTLMv2 hash over the server challenge followed by
// `data`: the NTProofStr over a blob, or the LMv2 proof over a client challenge.
void ntlm_proof(const uint8_t v2_hash[16], const uint8_t server_challenge[8], const uint8_t *data,
                size_t len, uint8_t out[16]);
