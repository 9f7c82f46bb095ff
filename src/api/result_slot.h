// The heap text the library hands out from vnsmb1c_session_json and
// vnsmb1c_item_json: one per thread, valid until the same thread's next text
// replaces it (or the thread ends).
#pragma once

// Releases the calling thread's held text and keeps heap_text (malloc'ed,
// may be NULL) in its place. Returns the stored text, or "" when heap_text
// is NULL.
const char *vnb_result_store(char *heap_text);
// The calling thread's held text, or NULL when its slot is empty.
const char *vnb_result_held();
