// The fake server's model, connection state and the pieces its command handlers
// share. Nothing outside src/fake includes this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include <rapidjson/document.h>

#include "fake/fake.h"
#include "util/bytebuf.h"
#include "util/codepage.h"
#include "util/le_reader.h"
#include "util/smb1_wire.h"

struct FakeServerState;

// ---- model (tree.cpp) ----

enum : int32_t { kNodeFile = 1, kNodeFolder = 2 };

struct FakeNode {
    char *name;            // entry name as given (may be empty)
    int32_t kind;          // kNodeFile or kNodeFolder
    int64_t size;
    int64_t mtime;         // seconds since 1970
    int64_t id;
    uint8_t *content;      // the file's bytes when given as text, NUL-terminated
    int64_t content_len;
    FakeNode **children;   // entries in tree order (a FIND_FIRST2 sorts them)
    uint32_t child_count;
    uint32_t child_cap;
    FakeNode *parent;      // NULL for a share root
    int32_t deny;          // opening the node itself is refused with ACCESS_DENIED
};

struct FakeShare {
    char name[81];
    FakeNode *root;
};

struct FakeUser {
    char name[129];
    char pass[257];
};

struct FakeFaults {
    int32_t sign_required;
    int32_t refuse_nt1;
    int32_t garbage;
    int32_t logon_fail;
    int32_t no_ipc;
    int32_t no_extsec;
    int32_t no_unicode;  // NEGOTIATE leaves CAP_UNICODE out, as a DOS-era server
    int32_t page;
    // FIND replies: 1 the entry chain ends one entry early, 2 the first
    // NextEntryOffset runs off the data, 3 SearchCount one above the entries.
    int32_t find_chain;
    int32_t find_ignore_resume;  // FIND_NEXT2 starts again at the last entry it sent
    int32_t find_split;          // FIND replies carry at most this many data bytes a message
    // The second message of a split reply: 1 leaves a gap, 2 overlaps the
    // first, 3 grows TotalDataCount.
    int32_t split_fault;
    int32_t upper_shares;        // share names match only in upper case
    int32_t no_large_read;  // NEGOTIATE leaves CAP_LARGE_READX out
    int32_t max_mpx;        // MaxMpxCount announced and enforced (0: 10)
    int32_t reorder;        // outstanding replies are answered newest first
    int32_t read_cap;       // a file READ returns at most this many bytes (0: no cap)
    // The drop_at-th request from now is not answered: the connection closes
    // instead (then the switch is off again).
    int32_t drop_at;
    // The next request of a logged-on connection is answered
    // USER_SESSION_DELETED and the logon is forgotten, as after a server
    // restart behind an address that kept the connection (then off again).
    int32_t forget_session;

    // Old servers.
    int32_t dos_errors;   // every reply in DOS error form; NEGOTIATE leaves CAP_STATUS32 out
    int32_t plaintext;    // NEGOTIATE offers no challenge: passwords come in plain text
    int32_t share_level;  // share-level security: passwords come with TREE_CONNECT
    // NTLMv1: 0 refused (NTLMv2 only), 1 taken besides NTLMv2, 2 NTLMv2
    // refused (NTLMv1 and LM only), 3 only the LAN Manager response counts.
    int32_t ntlm_v1;
    int32_t ntlm_ess;     // the CHALLENGE settles extended session security when asked
    // NetBIOS session requests (TCP front): 1 a called name other than
    // *SMBSERVER is "not present"; 2 every called name is.
    int32_t nbss_refuse_name;
    int32_t nbss_required;  // a session message before the session request ends the connection

    // Servers without DCE/RPC or RAP.
    int32_t no_srvsvc;  // opening \srvsvc fails as on a server without DCE/RPC
    int32_t no_rap;     // \PIPE\LANMAN transactions are refused

    // Fewer round trips.
    int32_t no_path_info;  // QUERY_PATH_INFORMATION is refused with NOT_SUPPORTED
    int32_t silent_leave;  // CLOSE, TREE_DISCONNECT and LOGOFF are done but never answered
    // AndX chains: 1 the chained request is refused (an error status in its
    // place), 2 left unanswered (the reply ends after the first); chain_fault
    // bends the chained reply: 1 AndXOffset points back into the first
    // answer, 2 past the message, 3 overlaps the first answer's bytes, 4 the
    // message ends where the second answer should start, 5 the second
    // answer's ByteCount runs past the message.
    int32_t no_chain;
    int32_t chain_fault;
};

struct FakeTree {
    int32_t loaded;
    FakeShare *shares;
    uint32_t share_count;
    FakeUser *users;
    uint32_t user_count;
    int32_t guest_allowed;  // loaded, never acted on
    uint64_t next_id;       // shared by node ids, FIDs and search ids
    FakeFaults faults;
    uint64_t calls[256];
    uint64_t writes;
    uint8_t challenge[8];
    uint64_t generation;    // counts loads; outlives the release of a tree
};

extern FakeTree F;

inline constexpr int64_t kDefaultMtime = 1700000000;
// The server's clock: it stands at the default modification time.
inline constexpr uint64_t kServerFiletime = smb::filetime_from_unix(kDefaultMtime);
inline constexpr int64_t kMaxGenerated = 200000;
inline constexpr uint32_t kIpcTid = 0xFF01;
// The 8-bit character set of names for a client without Unicode, as Samba's
// default "dos charset".
inline constexpr CodePage kFakeCodePage = CodePage::cp850;

// The tree's "netbios" object (absent: the server is no NetBIOS node): 0,
// or -1 for an object it cannot take. The release drops the node.
int fake_load_netbios(const rapidjson::Value &doc);
void fake_release_netbios();

// The byte at offset o of a file node.
uint8_t fake_content_byte(const FakeNode *node, uint64_t o);
// Releases the whole model and zeroes F (page back to its default); the
// load count goes on, so connections drop what pointed into this tree.
void fake_tree_release();
// Share for a TID (1 .. share_count), or NULL.
FakeShare *fake_share_by_tid(uint32_t tid);
// Draws the next FID or search id from the shared counter, skipping ids the
// connection still holds.
uint32_t fake_draw_fid(const FakeServerState &st);
uint32_t fake_draw_sid(const FakeServerState &st);
// Byte order of names, applied in place to a folder's entries.
void fake_sort_children(FakeNode *folder);

// ---- connection state ----

inline constexpr int kHandleSlots = 64;
inline constexpr int kSearchSlots = 64;

// Pipe output queued behind a TRANSACTION reply: whole DCE/RPC fragments, of
// which `pos` bytes were handed out; `msg_end` ends the fragment being read.
struct FakePipeQueue {
    ByteBuffer data;
    uint64_t pos;
    uint64_t msg_end;
};

struct FakeHandle {
    uint32_t fid;
    int32_t used;
    uint32_t tid;
    FakeNode *node;        // NULL for the pipe
    int32_t is_pipe;
    int32_t pipe_bound;    // a bind to srvsvc was accepted
    uint32_t pipe_frag;    // negotiated fragment size
    FakePipeQueue pipe_out;
};

struct FakeSearch {
    int32_t used;
    uint32_t sid;
    uint32_t tid;
    FakeNode *folder;
    FakeNode **list;       // ".", maybe "..", then the matching entries
    uint32_t count;
    uint32_t pos;          // next entry to hand out
    int32_t has_parent;    // list[1] is ".."
    int32_t has_self;      // list[0] is "."
    uint64_t last_use;
};

struct FakeServerState {
    // connection: reset by NEGOTIATE
    int32_t negotiated;
    int32_t ext_security;
    uint8_t basic_challenge[8];
    int32_t signing;            // NEGOTIATE announced required signing
    int32_t sign_active;        // a non-guest logon switched signing on
    uint8_t mac_key[16 + 1040];
    uint32_t mac_key_len;
    uint32_t seq;               // sequence number the next request carries
    uint32_t client_max_buffer; // MaxBufferSize of the last SESSION_SETUP
    int32_t dos_errors;         // the last SESSION_SETUP left CAP_STATUS32 out
    int32_t large_read;         // both sides settled CAP_LARGE_READX
    // session
    int32_t session;
    int32_t guest;
    uint32_t uid;
    int32_t leg;
    int32_t ess;                // the CHALLENGE settled extended session security
    uint8_t session_key[16];
    // request being handled
    uint32_t last_tid;
    int32_t unicode;
    uint64_t tick;
    FakeHandle handles[kHandleSlots];
    FakeSearch searches[kSearchSlots];
};

struct FakeConnection {
    FakeServerState st;
    // The load its handles and searches belong to: after another load they
    // are dropped before the next request is handled, so nothing points into
    // a released tree.
    uint64_t generation;
    // A NetBIOS session request was granted on it (see nbss_session.cpp).
    int32_t nbss_granted;
};

// The connection behind vnb_fake_handle_frame; vnb_fake_load resets it.
FakeConnection &fake_default_connection();

// Ends the connection's handles and searches.
void fake_close_all_handles(FakeServerState &st);
void fake_close_all_searches(FakeServerState &st);
// Ends the logged-on session (LOGOFF, or a new connection): handles and
// searches closed, UID, guest flag, logon leg and session key dropped.
void fake_end_session(FakeServerState &st);
// Zeroes the whole connection state, releasing what it holds.
void fake_state_reset(FakeServerState &st);
FakeHandle *fake_handle_new(FakeServerState &st, uint32_t tid);
FakeHandle *fake_handle_by_fid(FakeServerState &st, uint32_t fid);
const FakeHandle *fake_handle_by_fid(const FakeServerState &st, uint32_t fid);
void fake_handle_free(FakeHandle *h);
void fake_search_free(FakeSearch *s);

// ---- request and reply ----

struct FakeRequest {
    FakeServerState &st;   // the state of the connection it arrived on
    const uint8_t *msg = nullptr;
    size_t len = 0;
    uint8_t command = 0;
    uint16_t flags2 = 0;
    uint16_t tid = 0;
    uint16_t uid = 0;
    uint16_t mid = 0;
    uint8_t wc = 0;            // WordCount (0 when the frame ends before it)
    bool words_ok = false;     // all wc words lie in the frame
    size_t bytes_off = 0;      // first data byte (after ByteCount)
    size_t bytes_len = 0;      // ByteCount, clipped to the frame
    bool bytes_ok = false;     // ByteCount present and inside the frame
    bool unicode = false;

    // Reader over the whole message (absolute offsets), and single reads
    // through it: 0, or NULL, or an empty block outside the message.
    LeReader reader() const { return LeReader(msg, len); }
    uint8_t u8_at(size_t off) const { return reader().u8_at(off); }
    uint16_t u16_at(size_t off) const { return reader().u16_at(off); }
    uint32_t u32_at(size_t off) const { return reader().u32_at(off); }
    const uint8_t *peek(size_t off, size_t n) const { return reader().peek(off, n); }
    std::span<const uint8_t> block(size_t off, size_t n) const { return reader().block(off, n); }
};

inline constexpr int kMaxReplyParts = 64;

struct FakeReply {
    ByteBuffer msg;        // header and body
    // Further messages answering the same request (the secondary responses
    // of a transaction), each with its header; sent after msg, in order.
    ByteBuffer more[kMaxReplyParts];
    int more_count;
    uint32_t status;
    uint16_t tid;
    bool send;             // false: the request gets no answer
    bool sign_seq1;        // sign with sequence 1 (final SESSION_SETUP)
};

// One request message parsed, its reply header begun, and the handler of
// its command run (dispatch.cpp).
FakeRequest fake_parse_request(FakeServerState &st, const uint8_t *req, size_t len);
void fake_put_header(ByteBuffer *b, const FakeRequest &rq);
void fake_dispatch(const FakeRequest &rq, FakeReply &rp);
// The request chained behind the one just answered (chain.cpp), answered
// into the same reply, when the first went through.
void fake_answer_chain(const FakeRequest &rq, FakeReply &rp);

// Reply-building helpers (dispatch.cpp). Offsets are from the message start.
void rp_error(FakeReply &rp, uint32_t status);
void rp_words(FakeReply &rp, uint8_t wc);
size_t rp_bytes_begin(FakeReply &rp);
void rp_bytes_end(FakeReply &rp, size_t bc_at);
void rp_align(FakeReply &rp, size_t to);
void rp_put16_at(FakeReply &rp, size_t off, uint32_t v);
void rp_put32_at(FakeReply &rp, size_t off, uint32_t v);
// A string as the reply's Flags2 says: UTF-16LE (aligned to 2 from the message
// start) or 8-bit, with its terminator.
void rp_string(FakeReply &rp, const char *text, bool unicode, bool align);
// Largest reply the connection's client accepts.
size_t fake_reply_limit(const FakeServerState &st);
// The MaxMpxCount NEGOTIATE announces and the transport holds the client to.
uint32_t fake_max_mpx();

// Reads the string at off (UTF-16LE when unicode) up to its NUL or to end,
// into out as UTF-8: its length, or -1 (bad encoding, no room, half a code
// unit before end). *next receives the offset after the terminator.
int32_t fake_read_string(const FakeRequest &rq, size_t off, size_t end, bool unicode, char *out, int32_t cap,
                         size_t *next);

// Trace lines on standard error while VNSMB1C_TRACE (fake_trace) or
// VNSMB1C_DBG (fake_dbg) is set.
void fake_trace(const char *fmt, ...) VNB_PRINTF(1, 2);
void fake_dbg(const char *fmt, ...) VNB_PRINTF(1, 2);

// ---- command handlers: one file each ----

void fake_cmd_negotiate(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_session_setup(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_logoff(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_tree_connect(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_tree_disconnect(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_nt_create(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_read(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_close(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_transaction(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_transaction2(const FakeRequest &rq, FakeReply &rp);
void fake_cmd_find_close2(const FakeRequest &rq, FakeReply &rp);

// ---- transactions (transaction.cpp) ----

struct FakeTrans {
    uint16_t total_params;
    uint16_t total_data;
    uint16_t max_params;
    uint16_t max_data;
    size_t param_off;                // offset of the parameters in the message
    std::span<const uint8_t> params;
    std::span<const uint8_t> data;
    uint8_t setup_count;
    std::span<const uint8_t> setup;  // setup_count words
};

// Parses TRANSACTION / TRANSACTION2 words (WordCount 14 + SetupCount): 0, or
// -1 when a count or offset lies outside the frame.
int fake_trans_parse(const FakeRequest &rq, FakeTrans *out);
// Bytes of data a transaction reply with param_len parameter bytes may carry.
size_t fake_trans_data_room(const FakeServerState &st, const FakeTrans &tr, size_t param_len);
// Appends the transaction reply words, parameters and data (4-byte aligned).
// part_data > 0 sends the data block in pieces of at most that many bytes,
// one message each (the parameters with the first), as a server does with
// a reply larger than the client's buffer; split_fault bends the second.
void fake_trans_reply(FakeReply &rp, const uint8_t *params, size_t param_len, const uint8_t *data, size_t data_len,
                      size_t part_data = 0);

// FIND subcommands (find.cpp).
void fake_find_first2(const FakeRequest &rq, const FakeTrans &tr, FakeReply &rp);
void fake_find_next2(const FakeRequest &rq, const FakeTrans &tr, FakeReply &rp);
// QUERY_PATH_INFORMATION (path_info.cpp).
void fake_query_path_info(const FakeRequest &rq, const FakeTrans &tr, FakeReply &rp);

// Reading the srvsvc pipe (pipe_srvsvc.cpp): hands out the next part of the
// queued answer, at most max bytes, never across a fragment boundary. *more
// says whether the fragment goes on beyond what was handed out.
size_t fake_pipe_take(FakeHandle *h, size_t max, const uint8_t **bytes, bool *more);
bool fake_pipe_pending(const FakeHandle *h);

// \PIPE\LANMAN (pipe_lanman.cpp): whether the transaction names it, and the
// RAP answer to its parameters.
bool fake_is_lanman(const FakeRequest &rq, const FakeTrans &tr);
void fake_rap_answer(const FakeTrans &tr, FakeReply &rp);

// Path walking shared by NT_CREATE and FIND_FIRST2: the node named by the
// UTF-8 path below root, or NULL (missing component, "." or "..").
FakeNode *fake_walk(FakeNode *root, const char *path);

// Directory-entry attributes and allocation size.
uint32_t fake_attributes(const FakeNode *n);
uint64_t fake_allocation(const FakeNode *n);
