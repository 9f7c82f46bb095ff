// One path's entry in one round trip: TRANSACTION2 QUERY_PATH_INFORMATION
// at the level SMB_QUERY_FILE_ALL_INFO, and a one-name search in its place
// for servers that refuse the query.
#pragma once

#include <cstdint>
#include <span>

#include "sess/session.h"

// What the query tells of a path.
struct PathInfo {
    bool folder = false;
    int64_t size = -1;      // end of file; -1 for a folder
    int64_t mtime_ms = -1;  // last write, Unix milliseconds; -1 when unknown
};

// Reads the data block of a SMB_QUERY_FILE_ALL_INFO answer: at least its
// times, attributes and sizes. 0, or -2 with the failure worded.
int32_t path_info_read(std::span<const uint8_t> data, PathInfo *out);

// QUERY_PATH_INFORMATION of path (UTF-8, "/" or "\" separated, relative to
// the share on tid; not empty). 0; -4 when the server has no such path; -8
// when it refuses the query itself (its level or the subcommand), which the
// session then remembers; another ResultCode for other failures. *search
// (may be NULL) tells whether a search may still find the name: the query
// was refused, or the attributes were denied to this user.
int32_t vnb_query_path_info(Session &s, uint32_t tid, const char *path, PathInfo *out, bool *search = nullptr);

// The entry of path (canonical, "/"-separated, relative to the share on
// tid, not empty): out->name is its last part, out->path the path as given.
// One QUERY_PATH_INFORMATION; a server that refuses it (now, or earlier in
// the session) is asked with a search for the one name instead. 0, -4 when
// there is no such file or folder, or another ResultCode.
int32_t vnb_path_entry(Session &s, uint32_t tid, const char *path, DirEntry *out);
