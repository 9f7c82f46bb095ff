// The request/reply exchange every SMB1 command goes through, the reply
// buffer, and the status recording rule.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sess/smb_header.h"
#include "util/bytebuf.h"

// The last accepted reply, header included.
extern uint8_t g_rep[kMaxReply];
extern size_t g_rep_n;

inline constexpr size_t kMaxRequestWords = 65532;
inline constexpr size_t kMaxRequestBytes = 65280;

// What the receive half checks a reply against: one record per request sent.
struct PendingRequest {
    uint32_t mid;
    uint32_t command;
    int32_t signed_reply;  // 1 when the reply must carry a valid signature
    uint32_t reply_seq;    // the sequence number it is signed with
};

// The next MID: the low 16 bits of mid_counter, 0 skipped.
uint32_t sess_next_mid();

// Send half: builds the request (header, words, ByteCount, bytes), signs it
// when `sign` is set and the session signs, counts it in frames_sent and hands
// it to the transport. Fills *pending for the receive half.
int32_t req_send(uint32_t command, const uint8_t *words, size_t words_len, const uint8_t *bytes, size_t bytes_len,
                 uint32_t tid, int sign, PendingRequest *pending);

// Checks one reply message against its request: an SMB1 header, the MID, the
// command, no interim PENDING, the size, and the signature when one is due.
// On success *h describes the reply (body pointing into it).
int32_t req_check(const PendingRequest *pending, const uint8_t *reply, size_t len, ParsedHeader *h);

// Receive half: takes the next reply from the transport into *reply (passed
// empty, released by the caller) and checks it with req_check.
int32_t req_recv(const PendingRequest *pending, ByteBuffer *reply, ParsedHeader *h);

// One exchange: send, receive, check, then copy the reply into g_rep (the
// header's body then points into g_rep). A failure leaves g_rep as it was.
// A non-zero status in the reply is not a failure here: callers look at
// h->status. `sign` is 0 for NEGOTIATE and SESSION_SETUP, else 1.
int32_t frame_inner(uint32_t command, const uint8_t *words, size_t words_len, const uint8_t *bytes,
                    size_t bytes_len, uint32_t tid, int sign, ParsedHeader *h);
int32_t vnb_frame(uint32_t command, const uint8_t *words, size_t words_len, const uint8_t *bytes, size_t bytes_len,
                  uint32_t tid, int sign, ParsedHeader *h);
int32_t vnb_frame_keep(uint32_t command, const uint8_t *words, size_t words_len, const uint8_t *bytes,
                       size_t bytes_len, uint32_t tid, int sign, ParsedHeader *h);

// Records the reply's status (last_status, last_status_nt, last_code) and
// returns the mapped ResultCode; NULL records "no failure" and returns 0.
int32_t remember_status(const ParsedHeader *h);

// Records a failure status and words the failure "<what>: <status name>".
// Returns the mapped code, or -2 when the status maps to no failure class
// (the command failed all the same).
int32_t fail_status(const ParsedHeader *h, const char *what);

// One signed exchange without data bytes whose reply carries only a status
// (LOGOFF, TREE_DISCONNECT, CLOSE). A non-zero status fails via fail_status.
int32_t cmd_ok(uint32_t command, const uint8_t *words, size_t words_len, uint32_t tid, const char *name);
