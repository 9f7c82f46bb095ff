// The Range header of a file request, resolved against the file's size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace serve {

struct RangeAnswer {
    enum class Kind {
        whole,          // no range, or one the server may ignore: 200 with every byte
        partial,        // 206 with first .. first + length - 1
        unsatisfiable,  // 416
    };
    Kind kind = Kind::whole;
    int64_t first = 0;
    int64_t length = 0;
};

// Resolves "bytes=A-B", "bytes=A-" and "bytes=-N" against size. A header
// that is not a single well-formed byte range (other units, several ranges,
// B before A, stray text) asks for the whole file, as HTTP allows; a range
// that starts at or past the end, or a suffix of zero bytes, cannot be met.
RangeAnswer resolve_range(std::string_view header, int64_t size);

// "bytes A-B/SIZE" for a partial answer, "bytes */SIZE" for a refusal.
std::string content_range(const RangeAnswer &r, int64_t size);

}  // namespace serve
