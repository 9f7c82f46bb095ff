// Trees and files: TREE_CONNECT_ANDX with the session's cache of connected
// shares, NT_CREATE_ANDX (open an existing file or folder for reading),
// READ_ANDX and CLOSE.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sess/exchange.h"
#include "sess/session.h"
#include "sess/smb_header.h"
#include "util/codepage.h"

// Largest READ_ANDX chunk: what fits a server buffer below 64 KiB.
inline constexpr uint32_t kMaxReadChunk = 65280;
inline constexpr uint32_t kDefaultReadChunk = 4096;
// The chunk of a session with large reads (CAP_LARGE_READX): 124 KiB, so that
// the reply frame stays inside 0x1FFFF bytes, the 17-bit NBSS length that
// servers (Samba among them) hold SMB1 replies to whatever was asked.
inline constexpr uint32_t kLargeReadChunk = 124 * 1024;

// The TID of the share (compared ignoring case with the connected ones), or
// a TREE_CONNECT_ANDX when it is not connected yet. tid may be NULL.
// -6 empty name, -7 all 8 slots taken, -2 no TID, or the status failure.
int32_t vnb_tree_find_or_connect(Session &s, const char *share, uint32_t *tid);

// TREE_CONNECT_ANDX chained to the logon's last SESSION_SETUP leg, for the
// session's first_share. Whether the logon chains it: a share is named, the
// server has not refused the chain and a tree slot is free.
bool tree_chain_wanted(const Session &s);
// The words and bytes of that TREE_CONNECT.
int32_t tree_chain_build(Session &s, ByteBuffer *words, ByteBuffer *bytes);
// After a logon that chained it, with the reply and its count of links:
// a tree answered in the reply goes to the cache as a TREE_CONNECT of its
// own would; without an answer, or with a refusal, the TREE_CONNECT goes
// again on its own, and when that one succeeds the session chains no more
// trees. A failure of its own is left for the first call on the share.
void tree_chain_settle(Session &s, std::span<const uint8_t> reply, int links);

// Reads a TREE_CONNECT_ANDX reply message for share: its status (a failure
// is recorded and worded) and the TID its header assigns. 0, or a negative
// ResultCode.
int32_t tree_connect_reply(Session &s, std::span<const uint8_t> reply, const char *share, uint32_t *tid);

// The path in the session's string form (UTF-16LE, or the code page for a
// server without Unicode) with "/" turned into "\" (a separator either way
// on the caller's side, only "\" on the wire), without terminator; NULL or
// "" gives no bytes. -1 when it does not convert.
inline constexpr size_t kWireNameCap = 2052;
int vnb_wire_path(const char *path, bool unicode, CodePage cp, uint8_t (&name)[kWireNameCap], size_t *n);

// Opens an existing file (is_folder 0) or folder for reading. path is UTF-8
// relative to the share, "\" or "/" separated; NULL or "" is the share's
// root. Every out-pointer may be NULL. mtime is Unix milliseconds, -1 when
// the server does not know it. label names the operation in status failures.
int32_t vnb_create_file(Session &s, uint32_t tid, const char *path, int is_folder, uint32_t *fid, uint64_t *size,
                        int64_t *mtime_ms, const char *label);

// One READ_ANDX of at most one chunk (and at most capacity bytes) at offset.
// Returns the bytes copied to dest (which may be NULL), 0 at end of file, or
// a negative ResultCode.
int32_t vnb_do_read(Session &s, uint32_t tid, uint32_t fid, uint64_t offset, uint8_t *dest, int32_t capacity);

// Reads the words of an NT_CREATE_ANDX reply message (status 0): WordCount
// 34 or more, the words inside the message, then the FID, end of file and
// last-write time (Unix milliseconds, -1 when unknown). Every out-pointer
// may be NULL. 0, or -2 with the failure worded.
// A reply link elsewhere than right after the header has its WordCount at
// `at`.
int32_t create_reply_read(std::span<const uint8_t> reply, uint32_t *fid, uint64_t *size, int64_t *mtime_ms,
                          size_t at = smb::kHeaderLen);

// The words and bytes of an NT_CREATE_ANDX opening path (AndX block: none).
int32_t create_request(Session &s, const char *path, int is_folder, const char *label, ByteBuffer *words,
                       ByteBuffer *bytes);

// Opens a file as vnb_create_file does and reads up to `want` bytes at its
// start in the same message (READ_ANDX chained behind NT_CREATE_ANDX). A
// server that refuses the chain gets the READ on its own at once, and when
// that one goes through, the session chains no more reads. head receives
// the bytes read (empty when even the READ on its own failed: the first
// read of the caller then meets that failure itself).
int32_t vnb_create_file_reading(Session &s, uint32_t tid, const char *path, uint32_t *fid, uint64_t *size,
                                int64_t *mtime_ms, const char *label, uint32_t want, std::vector<uint8_t> *head);
// The first bytes worth reading with the open of a file: what one READ may
// carry in a reply beside the open's answer, 0 when the session reads no
// more than it is asked (read-ahead off).
uint32_t head_read_size(const Session &s);

// CLOSE of a file, folder or pipe handle.
int32_t vnb_do_close(Session &s, uint32_t tid, uint32_t fid);
// The same CLOSE without waiting for its reply (see req_post): for a handle
// whose closing nothing depends on. 0, or the sending's ResultCode.
int32_t vnb_post_close(Session &s, uint32_t tid, uint32_t fid);

// ---- READ_ANDX pieces shared with the pipe reader of the share listing ----

// The chunk one READ_ANDX asks for under the server's buffer size.
uint32_t read_chunk_size(const Session &s);

// Sends READ_ANDX for n bytes at offset (above 64 KiB only with large
// reads, the high part in MaxCountHigh); the reply is awaited by the caller.
int32_t read_post(Session &s, uint32_t tid, uint32_t fid, uint64_t offset, uint32_t n, SmbRequest &req);

// Exchanges READ_ANDX for n bytes at offset (Offset and OffsetHigh,
// WordCount 12). An exchange failure records the reply status as far as one
// was read. The reply status is left to the caller.
int32_t read_send(Session &s, uint32_t tid, uint32_t fid, uint64_t offset, uint32_t n, SmbRequest &req);

// Checks a READ_ANDX reply message against a request for `asked` bytes:
// WordCount, the words inside the message, DataLength not above `asked` and
// the data inside the message's byte block. On success `data` views the data
// inside the message (empty for none). -2 with the failure worded.
// A link elsewhere than right after the header has its WordCount at `at`.
int32_t read_reply_data(std::span<const uint8_t> msg, uint32_t asked, std::span<const uint8_t> &data,
                        size_t at = smb::kHeaderLen);

// The words of a READ_ANDX for n bytes at offset (AndX block: none).
void read_words(uint32_t fid, uint64_t offset, uint32_t n, ByteBuffer *words);
