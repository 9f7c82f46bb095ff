// One SMB1 session: everything a connection owns, from its settings to the
// requests in flight and the transport it talks through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/call_signal.h"
#include "net/msg_transport.h"
#include "net/name_resolve.h"
#include "ntlm/ntlm.h"
#include "sess/legacy_auth.h"
#include "util/codepage.h"

constexpr int kMaxTrees = 8;
constexpr int kMaxFiles = 64;
constexpr int kMaxShares = 256;
constexpr int kDefaultTimeoutMs = 30000;

struct TreeSlot {
    uint32_t tid;
    char name[81];   // share name as the caller gave it
    int32_t in_use;
    uint64_t last_used;  // when a call last asked for it, in the session's own count of asks
};

// What became of an open file when the session connected again.
enum class Reopened : int32_t {
    same = 0,     // reopened and unchanged: reads go on
    changed = 1,  // reopened, but its size or last-write time differs
    gone = 2,     // the server no longer opens it
};

// One open file. Its public handle names the slot and the generation the
// slot was handed out in (see api/open_files.cpp).
struct FileSlot {
    int32_t in_use;
    uint32_t fid;    // 16-bit value from the NT_CREATE reply
    uint32_t tid;
    uint64_t size;   // end of file from the NT_CREATE reply
    uint64_t mtime;  // last-write FILETIME from the NT_CREATE reply
    uint32_t opens;  // times the slot was handed out; kept when the session ends
    std::string share;  // where it was opened, to open it again after a reconnect
    std::string path;
    Reopened reopened = Reopened::same;
    // The file's first bytes, read with its open on connection
    // head_connection, for the first read after the open.
    std::vector<uint8_t> head;
    uint64_t head_connection = 0;
};

// One listed folder entry.
struct DirEntry {
    std::string name;
    std::string path;      // the folder's path, "/", the name ("" folder: the name)
    bool folder = false;
    int64_t size = -1;     // end of file; -1 for a folder
    int64_t mtime_ms = -1; // last write, Unix milliseconds; -1 when unknown
    bool hidden = false;   // a hidden name, listed only when asked for
};

// The last folder listing.
struct Listing {
    bool held = false;            // a listing succeeded since the session began
    std::vector<DirEntry> items;
    uint32_t hidden = 0;          // hidden names, left out unless asked for
    std::string text;             // its JSON form, once the C interface asked for it
    std::string share;            // the share listed, as the caller named it ("" when unknown)
    std::vector<std::string> qualified;  // share-qualified paths, made as records are asked for
};

struct SmbRequest;
class FileStream;

// Read-ahead per open file unless a host sets another figure.
constexpr int64_t kDefaultReadAhead = int64_t{8} << 20;
// Read-ahead all open files of a session hold together, unless a host sets
// another figure.
constexpr int64_t kDefaultReadAheadBudget = int64_t{32} << 20;

struct Session {
    Session();
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Settings.
    char host[256]{};
    int32_t port = 0;             // 0 stands for 445
    char domain[129]{};
    char user[129]{};
    char password[257]{};
    int32_t anonymous = 0;
    int32_t timeout_ms = kDefaultTimeoutMs;
    int32_t local_port = 0;
    int64_t read_ahead = kDefaultReadAhead;  // bytes per open file; 0 turns it off
    int64_t read_ahead_budget = kDefaultReadAheadBudget;  // bytes for all open files together

    // Finding the host by name: the settings, and the name service of the
    // transport (none: the host name goes to the transport as it is).
    NameSettings names;
    std::function<NameService()> name_service;
    ResolvedHost resolved;  // what the last connection's host name gave

    // What NEGOTIATE and SESSION_SETUP settled.
    int32_t negotiated = 0;
    int32_t established = 0;
    int32_t dialect_index = 0;
    uint32_t security_mode = 0;
    uint32_t max_buffer = 0;
    uint32_t max_raw = 0;
    uint32_t max_mpx = 0;
    uint32_t capabilities = 0;
    uint32_t read_cap = 0;  // the most a READ returned when it returned less than asked (0: none seen)
    uint8_t server_guid[16]{};
    uint8_t challenge[8]{};
    int32_t have_challenge = 0;
    uint8_t neg_blob[8192]{};
    uint32_t neg_blob_len = 0;
    int32_t ext_security = 0;
    uint8_t lm_response[512]{};
    uint32_t lm_response_len = 0;
    uint8_t nt_response[2048]{};
    uint32_t nt_response_len = 0;
    uint32_t flags2 = 0;
    NtlmChallenge type2{};
    uint32_t uid = 0;
    int32_t guest = 0;

    // Old servers. Settings: how far a logon may go below NTLMv2 and the
    // code page of names on a server without Unicode. Then what the last
    // logon used, and how a share-level server's TREE_CONNECT got the share
    // password, for the session report.
    LegacyAuth legacy_auth = LegacyAuth::none;
    CodePage code_page = kDefaultCodePage;
    LogonKind logon = LogonKind::none;
    LogonKind tree_logon = LogonKind::none;
    // The server refused QUERY_PATH_INFORMATION: paths are looked up with a
    // search for their name instead.
    bool path_info_refused = false;
    // AndX chains: the share the logon connects in its last message (a
    // setting: "" for none), and the chains the server refused, which go
    // unchained from then on.
    std::string first_share;
    struct ChainRefusals {
        bool tree = false;  // TREE_CONNECT behind SESSION_SETUP
        bool read = false;  // READ behind NT_CREATE
    } chain_refused;

    // Signing.
    uint8_t signing_key[16]{};
    int32_t signing = 0;
    uint32_t sign_seq = 0;

    // Trees, files and listings.
    char share_names[kMaxShares][81]{};
    int32_t share_count = 0;
    TreeSlot trees[kMaxTrees]{};
    FileSlot files[kMaxFiles]{};
    Listing listing;
    uint32_t open_files = 0;
    // The reads in flight and the read-ahead of each open file (slot n).
    std::unique_ptr<FileStream> streams[kMaxFiles];

    // The last status a server sent.
    int32_t last_code = 0;
    uint32_t last_status = 0;
    int32_t last_status_nt = 0;

    // Requests.
    uint64_t mid_counter = 0;
    std::vector<SmbRequest *> in_flight;  // sent, reply not yet taken
    // Requests sent without waiting for their replies (a CLOSE, say): the
    // session keeps their records, so that a late reply is filed with its
    // own request and dropped, never taken for another's.
    std::vector<std::unique_ptr<SmbRequest>> posted;
    std::unique_ptr<MsgTransport> transport;
    bool transport_open = false;
    uint64_t connection = 0;  // counts connections ended, so stale state tells itself apart
    ByteBuffer rx{};          // the last reply received, reused

    // A connection that failed under a logged-on session (the peer closed
    // it, it timed out, a cancel or the call's limit dropped it, or the server
    // forgot the session, a tree or a file): the next call connects again
    // with the stored settings and reopens the open files. After a time-out
    // that reconnect is a probe with a short bound of its own; while probes
    // time out, calls fail at once until retry_at_ms, and the pause doubles
    // up to one time-out.
    bool broken = false;
    Failure broken_by = Failure::none;
    uint64_t broken_at_ms = 0;
    uint64_t retry_at_ms = 0;
    int32_t backoff_ms = 0;

    // The call under way: the signal a cancel raises, the call's own limit
    // (absolute, vnb_now_ms time; 0 for none) and a shorter bound for each
    // wait while a probe runs (0 for none).
    CallSignal signal;
    uint64_t call_deadline_ms = 0;
    int32_t call_limit_ms = 0;
    int32_t wait_cap_ms = 0;
    // The kind of the last failure the transport met.
    Failure failure = Failure::none;
    // Counts reads, so that the open files know which was read last.
    uint64_t read_clock = 0;

    // Forgets every request in flight: their replies, should they still
    // come, belong to no one. Read-ahead kept beside the requests goes here
    // too. Called whenever the connection ends or breaks.
    void discard_in_flight();

    // Wipes the password, the keys and the logon responses.
    void wipe_secrets();
};

// Request frames handed to a transport by any session since the process
// started.
uint64_t vnb_frames_sent();
void vnb_count_frame();
