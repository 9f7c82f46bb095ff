// The one SMB1 session of the process and the tables embedded in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "ntlm/ntlm.h"
#include "vnsmb1c.h"

using Transport = vnsmb1c_Transport;

constexpr int kMaxTrees = 8;
constexpr int kMaxFiles = 64;
constexpr int kMaxShares = 256;
constexpr int kDefaultTimeoutMs = 30000;

struct TreeSlot {
    uint32_t tid;
    char name[81];   // share name as the caller gave it
    int32_t in_use;
};

// Public file handle n (1..64) is slot n-1.
struct FileSlot {
    int32_t in_use;
    uint32_t fid;    // 16-bit value from the NT_CREATE reply
    uint32_t tid;
    uint64_t size;   // end of file from the NT_CREATE reply
    uint64_t mtime;  // last-write FILETIME from the NT_CREATE reply
};

struct ListingRecord {
    char share[81];
    char *items;     // heap item JSON, owned here
    uint32_t count;
    uint32_t hidden;
};

struct SessionState {
    char host[256];
    int32_t port;                 // 0 stands for 445
    char domain[129];
    char user[129];
    char password[257];
    int32_t anonymous;
    int32_t timeout_ms;
    int32_t local_port;
    int32_t negotiated;
    int32_t established;
    int32_t dialect_index;
    uint32_t security_mode;
    uint32_t max_buffer;
    uint32_t max_raw;
    uint32_t max_mpx;
    uint32_t capabilities;
    uint8_t server_guid[16];
    uint8_t challenge[8];
    int32_t have_challenge;
    uint8_t neg_blob[8192];
    uint32_t neg_blob_len;
    int32_t ext_security;
    uint8_t lm_response[512];
    uint32_t lm_response_len;
    uint8_t nt_response[2048];
    uint32_t nt_response_len;
    uint32_t flags2;
    NtlmChallenge type2;
    char share_names[kMaxShares][81];
    int32_t share_count;
    uint32_t uid;
    int32_t guest;
    uint8_t signing_key[16];
    int32_t signing;
    uint32_t sign_seq;
    TreeSlot trees[kMaxTrees];
    FileSlot files[kMaxFiles];
    ListingRecord listing;
    int32_t last_code;
    uint32_t last_status;
    int32_t last_status_nt;
    uint64_t frames_sent;
    uint64_t mid_counter;
    uint32_t open_files;
    Transport transport;
};

// The record is plain data: zero-filling it is its initialisation.
static_assert(std::is_trivially_copyable_v<SessionState> && std::is_standard_layout_v<SessionState>);
static_assert(offsetof(SessionState, port) == 256);
static_assert(sizeof(FileSlot) == 32 && offsetof(FileSlot, size) == 16);
static_assert(sizeof(TreeSlot) == 92);

extern SessionState g_s;
extern int32_t g_init;

// Zero-fills g_s and sets the default time-out the first time it is called
// in the process; does nothing afterwards. Returns 1 when this call did the
// initialisation, else 0.
int vnb_state_ensure_init();
