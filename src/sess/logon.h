// The two logon steps of a session: NEGOTIATE and SESSION_SETUP_ANDX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "sess/session.h"
#include "sess/smb_header.h"
#include "util/bytebuf.h"

// Offers "NT LM 0.12" and records what the server announces.
int32_t do_negotiate(Session &s);
// Reads a NEGOTIATE reply message (status 0, header included) into the
// session: dialect, security mode, buffer sizes, capabilities and the bytes
// block (server GUID and security blob, or the challenge). 0, or a negative
// ResultCode with the error text set.
int32_t negotiate_reply_read(Session &s, std::span<const uint8_t> reply);

// Logs on: NTLMSSP in SPNEGO over as many legs as the server asks for (at
// most six requests), or one non-extended leg. NTLMv2 unless the session's
// LegacyAuth allows older responses; a server that offers no challenge gets
// the plaintext password only when that is allowed (-8 naming the setting
// otherwise); a share-level server gets the user name alone. Records the
// kind of logon in s.logon. -3 for every authentication failure.
int32_t do_session_setup(Session &s);

// What a SESSION_SETUP reply said; the blob points into the reply.
struct SetupReply {
    uint32_t status;         // MORE_PROCESSING_REQUIRED also for its DOS form
    bool status_is_nt;       // false: a DOS-form status
    int guest;
    const uint8_t *blob;
    size_t blob_len;
    bool signature;  // Flags2 bit 0x0004 or a non-zero SecuritySignature
};

// Reads a SESSION_SETUP_ANDX reply message with header h: the status, the
// guest bit, the security blob (when it lies inside the message) and the
// UID, which the session takes when it is not 0. A DOS-form status is kept
// as it is, but for ERRDOS/ERRmoredata, the interim leg of a server without
// NT statuses, which reads as MORE_PROCESSING_REQUIRED.
int32_t setup_reply_read(Session &s, const ParsedHeader &h, std::span<const uint8_t> reply, SetupReply *out);

// The type-3 answer to one interim reply's CHALLENGE (SPNEGO negTokenResp
// or bare NTLMSSP), wrapped as the next token; the session keeps the
// signing key. -2 for a token it cannot read, -3 when no answer can be built.
int32_t setup_answer_challenge(Session &s, const SetupReply &rep, int leg, ByteBuffer *token);

// Status 0: the session is established. A session that will sign checks the
// final reply's signature (sequence number 1) when the server put one on it.
int32_t setup_done(Session &s, std::span<const uint8_t> reply, const SetupReply &rep, int legs);

// Texts the client sends in SESSION_SETUP.
inline constexpr const char *kNativeOs = "VANTRELVIEWER";
inline constexpr const char *kNativeLanMan = "jCIFS";
