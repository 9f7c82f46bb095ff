// The head of an HTTP/1.x request: where it ends in the bytes received, and
// what it says, checked strictly before any of it is used.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "http_message.h"

namespace serve {

struct HeadScan {
    enum class Kind {
        incomplete,  // more bytes may complete it
        complete,    // end is just past the blank line
        line_too_long,
        head_too_large,
    };
    Kind kind = Kind::incomplete;
    size_t end = 0;
};

// Looks for the end of the head at the start of data. Empty lines before
// the request line are skipped, as a server should after a body.
HeadScan scan_head(std::string_view data, const HttpLimits &limits);

struct HeadFault {
    int status = 0;  // 0: the head is sound; else 400, 431 or 505
    std::string text;
};

// Parses a complete head (as scan_head found it) into out. Refused: a bad
// request line or field, folded or bare-CR lines, a Host missing from an
// HTTP/1.1 request or given twice, conflicting body lengths, more fields
// than the limit, any version but 1.0 and 1.1.
HeadFault parse_head(std::string_view head, const HttpLimits &limits, HttpRequest &out);

}  // namespace serve
