// The path of a request, decoded once and checked before it goes anywhere
// near the server, and the reverse: names turned back into URL paths.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace serve {

enum class PathFault {
    none,
    not_absolute,       // does not begin with '/'
    bad_escape,         // '%' not followed by two hex digits
    encoded_separator,  // %2F or %5C, or a backslash
    dot_segment,        // "." or ".."
    empty_segment,      // "//"
    control_character,  // NUL and the other C0 controls, DEL
    reserved_character, // : * ? " < > | (streams and wildcards on the server)
    not_utf8,           // the decoded bytes are not UTF-8 text
};

struct RequestPath {
    std::vector<std::string> segments;  // decoded; the share first
    bool folder = false;                // ends with '/' (or is "/")
    PathFault fault = PathFault::none;
};

// Splits the path part of a request target (without the query) at '/',
// then decodes each segment's %XX escapes exactly once and checks it.
RequestPath parse_request_path(std::string_view raw);

// False for IPC$, the share of named pipes: a tree of files is all the
// gateway serves.
bool is_folder_share(std::string_view share);

// Words for a fault, for the 400 answer.
std::string_view fault_text(PathFault fault);

// The value of key in a query string ("a=1&format=json"), decoded; "" when
// absent or malformed.
std::string query_value(std::string_view query, std::string_view key);

// Percent-encodes everything but unreserved characters (A-Z a-z 0-9 - . _ ~).
std::string encode_segment(std::string_view name);
// "/" + encoded segments joined by '/', with a trailing '/' for a folder.
std::string encode_path(const std::vector<std::string> &segments, bool folder);
// The segments joined by '/': the share-qualified path the library takes.
std::string join_path(const std::vector<std::string> &segments, size_t count);

}  // namespace serve
