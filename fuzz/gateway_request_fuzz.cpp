// The gateway's readers of what a client sends: the request head (where it
// ends and what it says), the request path, the Range header and HTTP dates.
// The first input byte picks the file size a range is resolved against and
// the limits a head is held to; the rest is the text.
#include <cstdint>
#include <string>
#include <string_view>

#include "byte_range.h"
#include "conditional.h"
#include "fuzz_input.h"
#include "http_head.h"
#include "request_path.h"

namespace {

void check_head(std::string_view text, uint8_t choice)
{
    serve::HttpLimits limits;
    if ((choice & 0x80) != 0) {  // small limits, so that each refusal is reachable
        limits.max_request_line = 16 + (choice & 0x0F);
        limits.max_head = 64 + (choice & 0x3F);
        limits.max_fields = choice & 0x07;
    }
    serve::HeadScan scan = serve::scan_head(text, limits);
    if (scan.kind != serve::HeadScan::Kind::complete)
        return;
    FUZZ_CHECK(scan.end <= text.size() && scan.end <= limits.max_head);
    FUZZ_CHECK(text.substr(0, scan.end).ends_with("\r\n\r\n"));
    serve::HttpRequest request;
    serve::HeadFault fault = serve::parse_head(text.substr(0, scan.end), limits, request);
    if (fault.status != 0) {
        FUZZ_CHECK(fault.status == 400 || fault.status == 431 || fault.status == 505);
        return;
    }
    FUZZ_CHECK(!request.method.empty() && !request.target.empty());
    FUZZ_CHECK(request.version == 10 || request.version == 11);
    FUZZ_CHECK(request.fields.size() <= limits.max_fields);
    FUZZ_CHECK(request.count("Host") <= 1 && (request.version == 10 || request.count("Host") == 1));
    for (const auto &[name, value] : request.fields)
        FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos && !name.empty());
}

void check_path(std::string_view text)
{
    serve::RequestPath path = serve::parse_request_path(text);
    if (path.fault != serve::PathFault::none) {
        FUZZ_CHECK(path.segments.empty());
        return;
    }
    for (const std::string &s : path.segments) {
        FUZZ_CHECK(!s.empty() && s != "." && s != "..");
        FUZZ_CHECK(s.find_first_of(std::string_view("/\\\0:*?\"<>|", 10)) == std::string::npos);
    }
    // Encoding the names again and reading that back gives the same names.
    serve::RequestPath again = serve::parse_request_path(serve::encode_path(path.segments, path.folder));
    FUZZ_CHECK(again.fault == serve::PathFault::none && again.segments == path.segments);
}

void check_range(std::string_view text, uint8_t choice)
{
    const int64_t sizes[] = {0, 1, 21, 4096, int64_t{1} << 40, INT64_MAX};
    int64_t size = sizes[choice % 6];
    serve::RangeAnswer r = serve::resolve_range(text, size);
    if (r.kind == serve::RangeAnswer::Kind::partial) {
        FUZZ_CHECK(r.first >= 0 && r.length > 0 && r.first < size && r.length <= size - r.first);
        serve::content_range(r, size);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    uint8_t choice = data[0];
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    check_head(text, choice);
    check_path(text);
    check_range(text, choice);
    int64_t when = serve::parse_http_date(text);
    FUZZ_CHECK(when >= -1);
    serve::not_modified(text, text, "\"1-2\"", 1000);
    serve::range_still_applies(text, "\"1-2\"", 1000);
    return 0;
}
