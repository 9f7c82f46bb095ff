// SMB1 message signatures (MS-CIFS 3.1.4.1): the first 8 bytes of
// MD5(MAC key || message), where the message's SecuritySignature field holds
// the sequence number (32-bit little-endian, then four zero bytes) while it is
// hashed. Used by the client engine and by the fake server.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t kSmbSignatureOffset = 14;
inline constexpr uint16_t kFlags2SecuritySignature = 0x0004;

// Signs a built SMB1 message in place: sets Flags2 bit 0x0004, then writes
// the signature for sequence number seq into bytes 14..21. Messages shorter
// than 32 bytes are left alone. The message is hashed in place (no copy).
void vnb_sign_frame(const uint8_t *mac_key, size_t key_len, uint32_t seq, uint8_t *msg, size_t len);

// 1 when bytes 14..21 of msg hold its signature for sequence number seq, 0
// when they do not (or the message is shorter than 32 bytes). The message is
// hashed in place, so the -1 that callers allow for (no memory) never comes.
int vnb_sign_verify(const uint8_t *mac_key, size_t key_len, uint32_t seq, const uint8_t *msg, size_t len);
