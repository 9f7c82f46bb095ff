// smb::TRANSACTION and smb::TRANSACTION2: building one request whose
// parameter and data blocks start 4-byte aligned, and reading its reply,
// which a server may send as several messages (a primary response and
// secondary ones) when it does not fit the client's buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sess/exchange.h"
#include "sess/session.h"
#include "sess/smb_header.h"

// MaxBufferSize the client announces in SESSION_SETUP at the least; it
// announces up to kClientMaxBufferMost where the server's own buffer is as
// large. No reply message is larger than what it announced.
inline constexpr uint32_t kClientMaxBuffer = 16644;
inline constexpr uint32_t kClientMaxBufferMost = 0xFFFF;

// The MaxBufferSize this client announces to the session's server.
uint32_t vnb_client_max_buffer(const Session &s);

// The largest MaxDataCount a request may ask for: 0xFFFF, or on a transport
// that carries one message per reply, what still fits one message of the
// announced buffer beside up to max_param_count parameter bytes (header,
// words, ByteCount and alignment padding taken off).
uint32_t vnb_trans_reply_room(const Session &s, uint32_t max_param_count);

// TRANSACTION2 subcommands.
enum : uint16_t {
    TRANS2_FIND_FIRST2 = 0x0001,
    TRANS2_FIND_NEXT2 = 0x0002,
};

struct TransRequest {
    uint32_t command;          // smb::TRANSACTION or smb::TRANSACTION2
    uint32_t tid;
    const uint16_t *setup;     // setup words (TRANS2: the subcommand)
    uint32_t setup_count;      // at most 16
    // TRANSACTION only: the Name field as UTF-8 ("\\PIPE\\"), sent UTF-16LE
    // (16-bit aligned) or 8-bit per the session's Unicode bit, terminated.
    // NULL for TRANSACTION2, whose Name is the empty name.
    const char *name;
    const uint8_t *params;
    size_t params_len;
    const uint8_t *data;
    size_t data_len;
    uint32_t max_param_count;
    // Capped to vnb_trans_reply_room; 0xFFFF asks for the most there is
    // room for. A server sends what does not fit one message in further ones.
    uint32_t max_data_count;
};

// 1 when the session's requests carry the Unicode Flags2 bit (strings on
// the wire are then UTF-16LE), else 0.
int vnb_sess_unicode(const Session &s);

// Appends the request's parameter words and byte block to words/bytes as
// they go on the wire (used by trans_exchange; exposed for tests). Returns 0,
// -6 for a malformed request, -7 when it does not fit one message, or -11.
int32_t vnb_trans_build(const Session &s, const TransRequest *req, ByteBuffer *words, ByteBuffer *bytes);

// Builds, signs (when the session signs) and exchanges the request. The
// reply status is not checked: the caller looks at reply.header.status and
// reads the reply with vnb_trans_reply_read. Returns the exchange's
// ResultCode.
int32_t vnb_trans_exchange(Session &s, const TransRequest *req, SmbRequest &reply);

// What is wrong with a reply, in the order the checks run.
enum class TransFault {
    none,
    word_count,      // WordCount below 10
    words_outside,   // the parameter words or ByteCount run past the message
    split,           // Total*Count above what this message carries, or a displacement

    few_params,      // ParameterCount below the caller's minimum
    params_outside,  // parameter block not inside the message
    data_outside,    // data block not inside the message
};

// The reply as read; the block pointers point into the message (or, for a
// reply of several messages, into the joined blocks below) and are NULL
// when their count is 0 or they were not found sound (the parameters are
// already set when only the data block fails).
struct TransReply {
    TransReply() = default;
    TransReply(const TransReply &) = delete;
    TransReply &operator=(const TransReply &) = delete;

    uint32_t word_count = 0;
    uint32_t total_param_count = 0;
    uint32_t total_data_count = 0;
    uint32_t param_count = 0;
    uint32_t param_offset = 0;
    uint32_t data_count = 0;
    uint32_t data_offset = 0;
    const uint8_t *params = nullptr;
    const uint8_t *data = nullptr;
    uint32_t param_disp = 0;
    uint32_t data_disp = 0;
    uint32_t parts = 0;                // messages taken
    bool rest_announced = false;       // the first message stated more than it carried
    std::vector<uint8_t> joined_params;
    std::vector<uint8_t> joined_data;
};

// Reads a TRANSACTION/TRANSACTION2 reply message with bounds checks. A block
// with a non-zero count needs a non-zero offset and must lie inside the
// message. Sets no error text; *out holds whatever was read. A message that
// is one part of a split reply fails with split.
TransFault vnb_trans_reply_read(std::span<const uint8_t> msg, size_t min_params, TransReply *out);

// Reads the reply to req, taking the further messages of a split reply
// (same MID, same signing sequence number, same status) and joining their
// blocks. Every part must continue each block exactly where the parts
// before it ended, within the totals the first part stated, which no part
// may change. 0; -2 with the text of vnb_trans_fail (prefixed by what);
// or the exchange's code when a further message does not arrive.
int32_t vnb_trans_reply_take(Session &s, SmbRequest &req, size_t min_params, const char *what, TransReply *out);

// Words a fault as a -2 failure, prefixed by what ("FIND_FIRST2"):
// "%s reply WordCount %u", "%s reply words lie outside the frame",
// "%s reply carries %u parameter bytes",
// "%s parameters lie outside the frame", "%s data lies outside the frame",
// "%s reply is split over several messages (...)". Returns -2.
int32_t vnb_trans_fail(const char *what, TransFault fault, const TransReply *r);

// TRANSACTION2 with one setup word (the subcommand) and no data block, as
// the directory listing sends it. The status is not checked (see above).
int32_t trans2(Session &s, uint32_t tid, uint32_t subcommand, std::span<const uint8_t> params,
               uint32_t max_data_count, SmbRequest &reply);
