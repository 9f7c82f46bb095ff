// SPNEGO (RFC 4178) envelopes around the NTLM messages: the fixed shapes this
// library writes, the reader for a server's negTokenResp, and the fake
// server's test for a client negTokenInit that offers NTLM.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/bytebuf.h"

// Writers: append the token around the n message bytes and return 0; a growth
// failure (or contents too long for a two-byte DER length) leaves b->failed set.
// Client negTokenInit around a NEGOTIATE message.
int vnb_spnego_wrap_type1(const uint8_t *msg, size_t len, ByteBuffer *b);
// Client negTokenResp around an AUTHENTICATE message (responseToken only).
int vnb_spnego_wrap_type3(const uint8_t *msg, size_t len, ByteBuffer *b);
// Fake server's negTokenResp: accept-incomplete, NTLMSSP, the CHALLENGE.
int vnb_spnego_resp_fake(const uint8_t *msg, size_t len, ByteBuffer *b);

// Locates the NTLM token inside a server's negTokenResp (raw = 0), or takes a
// bare NTLMSSP message as it is (raw = 1). 0, or -1; the outputs start as
// NULL, 0 and 0. The token points into blob.
int vnb_spnego_unwrap_resp(const uint8_t *blob, size_t len, const uint8_t **token, size_t *token_len, int *raw);

// 1 if the blob looks like a negTokenInit that names NTLMSSP, else 0.
int vnb_negtokeninit_ntlm(const uint8_t *blob, size_t len);
