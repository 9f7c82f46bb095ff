// The 32-byte SMB1 header: building it into a request, parsing it from a reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "util/bytebuf.h"
#include "util/smb1_wire.h"

inline constexpr size_t kMaxReply = 4194304;  // the reply buffer, 4 MiB

// Flags2 of every request before the session has its own: Unicode, NT status
// codes, extended security, long names.
inline constexpr uint32_t kFlags2Default =
    smb::kFlags2Unicode | smb::kFlags2NtStatus | smb::kFlags2ExtSecurity | smb::kFlags2LongNames;

struct ParsedHeader {
    uint32_t command;
    uint32_t status;
    int32_t status_is_nt;  // Flags2 bit 0x4000
    uint32_t flags;
    uint32_t flags2;
    uint32_t tid;
    uint32_t pid;
    uint32_t uid;
    uint32_t mid;
    uint8_t signature[8];
    int32_t is_signed;     // Flags2 bit 0x0004
};

// Whether the reply's status says what the NT status nt says, in NT form or
// in the DOS form of a server without NT statuses.
inline bool hdr_status_means(const ParsedHeader &h, uint32_t nt)
{
    return smb::status_means(h.status, h.status_is_nt != 0, nt);
}

// Whether the reply's status is a failure rather than a success or a
// warning (BUFFER_OVERFLOW, NO_MORE_FILES, ERRmoredata and the like).
bool hdr_status_fails(const ParsedHeader &h);

// Appends the header and the WordCount byte (low 8 bits of word_count).
// Flags2 is the session's flags2, or 0xC801 while that is 0.
void vnb_hdr_build(ByteBuffer *b, uint32_t flags2, uint32_t command, uint32_t tid, uint32_t uid, uint32_t mid,
                   uint32_t word_count);

// 0, or -1 for a NULL record, fewer than 32 bytes or no 0xFF 'S' 'M' 'B'.
// The record is zeroed first.
int vnb_hdr_parse(std::span<const uint8_t> msg, ParsedHeader *out);

// Name of a command for error texts ("READ", "TREE_CONNECT"); NULL for a
// command the engine does not send.
const char *smb_command_name(uint32_t command);
