// The texts the library hands out, one set per thread: each stays valid
// until the same thread's next text of its kind replaces it, or the thread
// ends.
#pragma once

#include <array>
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
    std::string servers_json;  // vnsmb1c_servers_json
};

// The calling thread's texts, made on first use; NULL when there is no
// memory for them.
ThreadTexts *vnb_thread_texts();

// Releases the calling thread's held text and keeps heap_text (malloc'ed,
// may be NULL) in its place. Returns the stored text, or "" when heap_text
// is NULL.
const char *vnb_result_store(char *heap_text);
// The calling thread's held text, or NULL when its slot is empty.
const char *vnb_result_held();
