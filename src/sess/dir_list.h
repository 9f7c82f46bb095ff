// Folder listing: TRANSACTION2 FIND_FIRST2 / FIND_NEXT2 at the level
// SMB_FIND_FILE_BOTH_DIRECTORY_INFO, ended by the server at the end of the
// search or by FIND_CLOSE2, turned into entry records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "sess/session.h"
#include "sess/trans.h"

// The most a listing holds, far beyond any real folder (see
// ListingLimits); a folder with more fails the listing with -7.
inline constexpr uint32_t kMaxListedItems = 1000000;
// The most entries a listing reads, hidden ones and "." and ".." included:
// bounds the round trips a server can draw out of one listing with pages of
// names that are never listed.
inline constexpr uint64_t kMaxEntriesSeen = 4000000;
inline constexpr size_t kMaxEntryName = 1024;       // UTF-8 bytes of one name, NUL included
inline constexpr size_t kMaxResumeName = 1024;      // raw bytes of the name FIND_NEXT2 resumes after

// The 64-bit hash of a raw name a listing has seen, which is its own hash in
// the set. Hidden from the shared library's symbol table, and with them every
// part of the set they make (the library exports only its C interface).
struct __attribute__((visibility("hidden"))) SeenName {
    uint64_t hash;
    bool operator==(const SeenName &other) const { return hash == other.hash; }
};
struct __attribute__((visibility("hidden"))) SeenNameHash {
    size_t operator()(const SeenName &name) const { return static_cast<size_t>(name.hash); }
};

// How much one listing takes before it fails with -7 instead of handing
// out part of a folder as if it were all of it.
struct ListingLimits {
    uint32_t items = kMaxListedItems;
    uint64_t entries_seen = kMaxEntriesSeen;
};

// The listing while it runs.
struct ListingWork {
    char folder[1025]{};         // the folder path as given
    std::vector<DirEntry> items;
    uint32_t hidden = 0;         // hidden names counted
    bool keep_hidden = false;    // hidden names are listed as well as counted
    ListingLimits limits;
    bool over_limit = false;     // an entry came past limits.items
    uint32_t sid = 0;
    int32_t unicode = 0;         // entry names are UTF-16LE (else 8-bit OEM)
    CodePage code_page = kDefaultCodePage;  // of the 8-bit names
    uint64_t entries_seen = 0;   // every entry decoded, "." and ".." included
    uint8_t last_name[kMaxResumeName]{};  // raw name of the last entry decoded
    size_t last_name_len = 0;
    uint32_t last_file_index = 0;         // FileIndex of that entry: FIND_NEXT2's resume key
    // 64-bit hashes of the raw names decoded so far: a server that lists a
    // name twice did not continue where it was asked to. (Hashes keep a
    // million names in a few tens of megabytes; two names that share one,
    // about one chance in 37 million in a folder of a million, fail the
    // listing.)
    std::unordered_set<SeenName, SeenNameHash> seen;
};

// Lists the folder (NULL or "" for the share root; "/"-separated) of the
// share on the connected tree tid into the session's listing; hidden names
// are counted, and listed too (marked hidden) with keep_hidden. A folder
// beyond the limits fails with -7 (the search is closed). The previous
// listing stays when this fails.
int32_t vnb_query_directory_all(Session &s, const char *folder, uint32_t tid, bool keep_hidden = false,
                                const ListingLimits &limits = {});

// Decodes the search_count entries of one FIND data block, following the
// NextEntryOffset chain; feeds each one to qd_feed and remembers the last
// name for FIND_NEXT2. Returns search_count, or -2 (with the error text)
// when an entry does not fit the block or has no name, the chain ends or
// leaves the block before search_count entries, or a name comes again.
int find_parse(const uint8_t *data, size_t len, uint32_t search_count, ListingWork *q);

// How a search went, for the clean-up after it.
struct SearchState {
    bool open = false;         // the server holds the search (no end of search seen)
    bool link_ok = true;       // no exchange failed: further requests make sense
};

// Takes the SID (first: FIND_FIRST2) and EndOfSearch from the parameters of
// a FIND reply as the transaction reader left them, when they were found
// sound (at least min_params bytes); EndOfSearch is the byte at eos_at. Done
// even when the data block then fails, so that a search left open can be
// closed. Returns EndOfSearch.
bool find_take_params(const TransReply &r, size_t min_params, size_t eos_at, bool first, ListingWork *q,
                      SearchState *s);

// Decodes one page of a FIND reply: the SearchCount at count_at in its
// parameters, then that many entries of its data. 1 when the search goes
// on, 0 at its end, -2 for a page that does not hold what it says or an
// empty page before the end.
int find_take_page(const TransReply &r, size_t count_at, bool end, ListingWork *q, const char *what);

// Skips "." and ".."; counts a hidden name and skips it unless q keeps
// them; marks q over its limit instead of appending an entry past
// q->limits.items; otherwise appends one entry to q->items.
void qd_feed(const char *name, int64_t size, int64_t mtime_ms, int is_folder, ListingWork *q);

// The entry of one path (canonical, "/"-separated, relative to the share on
// tid, not empty) from a search for its name alone, for servers that do not
// answer a query about one path: out->name and out->path are set by the
// caller, the rest comes from the entry whose name is the path's last part
// (compared exactly, then ignoring case). 0, -4 when the folder has no such
// entry, or another ResultCode.
int32_t vnb_find_entry(Session &s, uint32_t tid, const char *path, DirEntry *out);
