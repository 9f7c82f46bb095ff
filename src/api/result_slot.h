// The one heap text the library hands out from vnsmb1c_session_json and
// vnsmb1c_item_json; it stays valid until the next text replaces it.
#pragma once

// Releases the held text and keeps heap_text (malloc'ed, may be NULL) in its
// place. Returns the stored text, or "" when heap_text is NULL.
const char *vnb_result_store(char *heap_text);
// The held text, or NULL when the slot is empty.
const char *vnb_result_held();
