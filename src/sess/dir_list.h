// Folder listing: TRANSACTION2 FIND_FIRST2 / FIND_NEXT2 at the level
// SMB_FIND_FILE_BOTH_DIRECTORY_INFO, ended by the server at the end of the
// search or by FIND_CLOSE2, turned into entry records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sess/session.h"

inline constexpr uint32_t kMaxListedItems = 50000;
inline constexpr size_t kMaxEntryName = 1024;       // UTF-8 bytes of one name, NUL included
inline constexpr size_t kMaxResumeName = 1024;      // raw bytes of the name FIND_NEXT2 resumes after

// The listing while it runs.
struct ListingWork {
    char folder[1025]{};         // the folder path as given
    std::vector<DirEntry> items;
    uint32_t hidden = 0;         // hidden names counted
    bool keep_hidden = false;    // hidden names are listed as well as counted
    uint32_t sid = 0;
    int32_t unicode = 0;         // entry names are UTF-16LE (else 8-bit OEM)
    uint64_t entries_seen = 0;   // every entry decoded, "." and ".." included
    uint8_t last_name[kMaxResumeName]{};  // raw name of the last entry decoded
    size_t last_name_len = 0;
};

// Lists the folder (NULL or "" for the share root; "/"-separated) of the
// share on the connected tree tid into the session's listing; hidden names
// are counted, and listed too (marked hidden) with keep_hidden. The previous
// listing stays when this fails.
int32_t vnb_query_directory_all(Session &s, const char *folder, uint32_t tid, bool keep_hidden = false);

// Decodes one FIND data block: entries until one does not fit, has no name or
// its NextEntryOffset does not lead past it. Feeds each one to qd_feed and
// remembers the last name for FIND_NEXT2. Returns the entries decoded,
// "." and ".." included.
int find_parse(const uint8_t *data, size_t len, ListingWork *q);

// Skips "." and ".."; counts a hidden name and skips it unless q keeps
// them; drops entries past the item cap; otherwise appends one entry to
// q->items.
void qd_feed(const char *name, int64_t size, int64_t mtime_ms, int is_folder, ListingWork *q);
