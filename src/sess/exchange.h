// The request/reply exchange every SMB1 command goes through: a record per
// request in flight, replies matched to their requests by MID in whatever
// order they arrive, and the status recording rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sess/session.h"
#include "sess/smb_header.h"
#include "util/bytebuf.h"

inline constexpr size_t kMaxRequestWords = 65532;
inline constexpr size_t kMaxRequestBytes = 65280;

// One request from the moment it is sent until its reply has been taken. The
// record stays where the caller put it; while it waits for its reply the
// session knows it by address, and it forgets itself when it goes away.
struct SmbRequest {
    SmbRequest() = default;
    SmbRequest(const SmbRequest &) = delete;
    SmbRequest &operator=(const SmbRequest &) = delete;
    ~SmbRequest();

    uint32_t mid = 0;
    uint32_t command = 0;
    bool signed_reply = false;  // the reply must carry a valid signature
    uint32_t reply_seq = 0;     // the sequence number it is signed with
    bool answered = false;
    int32_t error = 0;           // its reply arrived but failed its checks (then not answered)
    // The whole reply message, header included: the session's receive
    // buffer, traded for this one when the reply is filed, so no bytes are
    // copied and a reused record keeps its capacity.
    ByteBuffer reply{};
    ParsedHeader header{};       // of the reply
    Session *session = nullptr;  // set while the reply is outstanding

    std::span<const uint8_t> message() const { return {reply.data, static_cast<size_t>(reply.len)}; }
};

// How long the next wait of the session may take: its time-out, cut by a
// probe's bound and by the call's limit; *by_limit (may be NULL) tells
// whether the call's limit is what cuts it.
int sess_wait_ms(const Session &s, bool *by_limit = nullptr);

// Records the kind of a failure the transport met (a time-out cut by the
// call's limit counts as the limit, with its own text) and returns rc, or
// -12 "cancelled" for a cancel whatever rc was.
int32_t sess_note_failure(Session &s, int32_t rc, bool by_limit);

// -12 "cancelled" when a cancel has reached the call under way, -1 when the
// call's limit has passed (the connection is dropped either way, so that no
// reply of this call reaches a later one); 0 otherwise.
int32_t sess_check_stop(Session &s);

// The next MID: the low 16 bits of mid_counter, 0 skipped.
uint32_t sess_next_mid(Session &s);

// Sends one request: the header, words, ByteCount and bytes, signed when
// `sign` is set and the session signs, counted as a frame. On success the
// record waits for its reply. On a transport that does not pipeline, the
// replies still outstanding are taken first.
int32_t req_send(Session &s, uint32_t command, std::span<const uint8_t> words, std::span<const uint8_t> bytes,
                 uint32_t tid, bool sign, SmbRequest &req);

// Sends a request message built whole (header included, its MID filled in
// here), as req_send does: an AndX chain, say.
int32_t req_send_built(Session &s, ByteBuffer &msg, bool sign, SmbRequest &req);

// Checks one reply message against its request: an SMB1 header, the MID, the
// command, no interim PENDING, the size, and the signature when one is due.
int32_t req_check(Session &s, const SmbRequest &req, std::span<const uint8_t> reply, ParsedHeader *h);

// Takes replies until the one for req has arrived, filing the replies of
// other outstanding requests with them. A reply for no outstanding request,
// or one that fails its checks, fails with -2; a request whose own reply
// failed its checks stops waiting and fails again here.
int32_t req_await(Session &s, SmbRequest &req);

// Waits for one more message answering req (already answered): the
// secondary responses of a transaction carry the request's MID and, when
// signed, the same sequence number as the first. The new message replaces
// req.reply and req.header.
int32_t req_await_more(Session &s, SmbRequest &req);

// Takes one reply, whichever request it answers (the same failures).
int32_t req_take_one(Session &s);

// One step of req_await: takes one reply while req waits for its own (none
// once req is answered), with req_await's failures.
int32_t req_await_step(Session &s, SmbRequest &req);

// Requests that may be outstanding at once on the session: the server's
// MaxMpxCount less one kept free for other commands, at least one, and one
// on a transport that does not pipeline.
size_t sess_window(const Session &s);

// One exchange: send, then await. A non-zero status in the reply is not a
// failure here: callers look at req.header.status. `sign` is false for
// NEGOTIATE and SESSION_SETUP.
int32_t exchange(Session &s, uint32_t command, std::span<const uint8_t> words, std::span<const uint8_t> bytes,
                 uint32_t tid, bool sign, SmbRequest &req);

// Sends one signed request whose reply nobody waits for: its record stays
// with the session (Session::posted) until the reply has come with the
// replies of later calls, or the connection ends. At most kMaxPosted
// records wait at a time: beyond, the oldest reply is awaited first.
// 0, or the sending's ResultCode.
inline constexpr size_t kMaxPosted = 8;
int32_t req_post(Session &s, uint32_t command, std::span<const uint8_t> words, uint32_t tid);

// The bytes of a buffer, for the exchange.
inline std::span<const uint8_t> buf_span(const ByteBuffer &b)
{
    return {b.data, static_cast<size_t>(b.len)};
}

// Records the reply's status (last_status, last_status_nt, last_code) and
// returns the mapped ResultCode; NULL records "no failure" and returns 0.
int32_t remember_status(Session &s, const ParsedHeader *h);

// Records a failure status and words the failure "<what>: <status name>".
// Returns the mapped code, or -2 when the status maps to no failure class
// (the command failed all the same).
int32_t fail_status(Session &s, const ParsedHeader &h, const char *what);

// One signed exchange without data bytes whose reply carries only a status
// (LOGOFF, TREE_DISCONNECT, CLOSE). A non-zero status fails via fail_status.
int32_t cmd_ok(Session &s, uint32_t command, std::span<const uint8_t> words, uint32_t tid, const char *name);
