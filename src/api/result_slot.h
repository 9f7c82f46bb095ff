// The texts the library hands out, one set per thread and session: each
// stays valid until the same thread's next text of its kind on the same
// session replaces it, the thread ends or the session is freed. Sessions are
// named by their serial (0: the default session).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "sess/session.h"

struct ThreadTexts {
    ThreadTexts() = default;
    ThreadTexts(const ThreadTexts &) = delete;
    ThreadTexts &operator=(const ThreadTexts &) = delete;
    ~ThreadTexts();

    char *held = nullptr;  // malloc'ed: vnsmb1c_session_json, vnsmb1c_item_json
    std::array<std::string, kMaxShares> share_names;
    std::string listing_json;

    // The default session's set holds the thread's sets of other sessions,
    // and the count of freed sessions it has seen.
    std::map<uint64_t, std::unique_ptr<ThreadTexts>> others;
    uint64_t frees_seen = 0;
    std::string servers_json;  // vnsmb1c_servers_json
    // The name and path of the record vnsmb1c_stat filled last.
    std::string stat_name;
    std::string stat_path;
};

// The calling thread's texts of a session, made on first use; NULL when
// there is no memory for them.
ThreadTexts *vnb_thread_texts(uint64_t serial = 0);

// Releases the calling thread's held text of the session and keeps heap_text
// (malloc'ed, may be NULL) in its place. Returns the stored text, or "" when
// heap_text is NULL.
const char *vnb_result_store(char *heap_text, uint64_t serial = 0);
// The calling thread's held text of the session, or NULL when its slot is
// empty.
const char *vnb_result_held(uint64_t serial = 0);

// A session that texts may be kept for, and one that was freed: every
// thread drops its texts of it at its next lookup.
void vnb_texts_register(uint64_t serial);
void vnb_texts_forget(uint64_t serial);
