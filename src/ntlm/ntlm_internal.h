// Helpers shared by the files of the NTLM unit: a self-wiping holder for
// secrets and the NTProofStr.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/crypto.h"

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

// HMAC-MD5 keyed with the NTLMv2 hash over the server challenge followed by
// `data`: the NTProofStr over a blob, or the LMv2 proof over a client challenge.
void ntlm_proof(const uint8_t v2_hash[16], const uint8_t server_challenge[8], const uint8_t *data,
                size_t len, uint8_t out[16]);
