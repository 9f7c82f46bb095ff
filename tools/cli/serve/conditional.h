// Conditional GET and HEAD: what a client's validators (If-None-Match,
// If-Modified-Since, If-Range) ask of a file with a given entity tag and
// modification time.
#pragma once

#include <cstdint>
#include <string_view>

namespace serve {

// Unix seconds of an HTTP date in any of the three forms a server must
// accept ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
// "Sun Nov  6 08:49:37 1994"); -1 when the text is none of them.
int64_t parse_http_date(std::string_view text);

// True when the client's copy is current and the answer is 304: If-None-Match
// lists the tag (weak comparison) or "*"; without If-None-Match, the file
// was not modified after If-Modified-Since. A header that cannot be read
// counts as absent. mtime_ms 0 means the time is unknown.
bool not_modified(std::string_view if_none_match, std::string_view if_modified_since, std::string_view etag,
                  int64_t mtime_ms);

// True when a Range may be honoured: no If-Range, or one that names the
// current file exactly (the same strong tag, or the same modification time).
// Otherwise the whole file is sent.
bool range_still_applies(std::string_view if_range, std::string_view etag, int64_t mtime_ms);

}  // namespace serve
