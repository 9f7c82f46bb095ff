#include "http_head.h"

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>

#include <algorithm>

namespace serve {

namespace {

namespace http = boost::beast::http;

bool equal_nocase(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

size_t skip_empty_lines(std::string_view data)
{
    size_t at = 0;
    while (at + 1 < data.size() && data[at] == '\r' && data[at + 1] == '\n')
        at += 2;
    return at;
}

}  // namespace

std::string_view HttpRequest::header(std::string_view name) const
{
    for (const auto &[n, v] : fields)
        if (equal_nocase(n, name))
            return v;
    return {};
}

size_t HttpRequest::count(std::string_view name) const
{
    return static_cast<size_t>(
        std::count_if(fields.begin(), fields.end(), [&](const auto &f) { return equal_nocase(f.first, name); }));
}

HeadScan scan_head(std::string_view data, const HttpLimits &limits)
{
    size_t start = skip_empty_lines(data);
    std::string_view rest = data.substr(start);
    size_t line_end = rest.find("\r\n");
    if (line_end == std::string_view::npos) {
        if (rest.size() > limits.max_request_line)
            return {HeadScan::Kind::line_too_long};
        return {data.size() > limits.max_head ? HeadScan::Kind::head_too_large : HeadScan::Kind::incomplete};
    }
    if (line_end > limits.max_request_line)
        return {HeadScan::Kind::line_too_long};
    // The blank line that ends the head; the request line's own CRLF may be
    // its first half.
    size_t end = rest.find("\r\n\r\n", line_end);
    if (end == std::string_view::npos)
        return {data.size() > limits.max_head ? HeadScan::Kind::head_too_large : HeadScan::Kind::incomplete};
    if (start + end + 4 > limits.max_head)
        return {HeadScan::Kind::head_too_large};
    return {HeadScan::Kind::complete, start + end + 4};
}

HeadFault parse_head(std::string_view head, const HttpLimits &limits, HttpRequest &out)
{
    head.remove_prefix(skip_empty_lines(head));
    // Folded lines (obsolete in HTTP/1.1) are refused rather than joined,
    // so that no two readers of one head see different fields.
    for (size_t at = head.find("\r\n"); at != std::string_view::npos; at = head.find("\r\n", at + 2)) {
        if (at + 2 < head.size() && (head[at + 2] == ' ' || head[at + 2] == '\t'))
            return {400, "folded header line"};
    }

    http::request_parser<http::empty_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(std::max(limits.max_head, head.size())));
    parser.eager(false);
    boost::beast::error_code ec;
    size_t used = parser.put(boost::asio::buffer(head.data(), head.size()), ec);
    if (ec || !parser.is_header_done() || used != head.size()) {
        if (ec == http::error::bad_version)
            return {400, "malformed HTTP version"};
        if (ec == http::error::bad_line_ending)
            return {400, "a line ends in a bare CR"};
        if (ec == http::error::bad_content_length)
            return {400, "malformed or conflicting Content-Length"};
        if (ec == http::error::bad_transfer_encoding)
            return {400, "malformed Transfer-Encoding"};
        return {400, "malformed request head"};
    }
    const auto &msg = parser.get();
    size_t fields = static_cast<size_t>(std::distance(msg.begin(), msg.end()));
    if (fields > limits.max_fields)
        return {431, "more than " + std::to_string(limits.max_fields) + " header fields"};
    if (msg.version() != 10 && msg.version() != 11)
        return {505, "HTTP/1.0 and HTTP/1.1 only"};

    out = HttpRequest{};
    out.method = std::string(msg.method_string());
    out.target = std::string(msg.target());
    out.version = static_cast<int>(msg.version());
    out.fields.reserve(fields);
    for (const auto &f : msg)
        out.fields.emplace_back(std::string(f.name_string()), std::string(f.value()));
    size_t hosts = out.count("Host");
    if (hosts > 1)
        return {400, "more than one Host field"};
    if (hosts == 0 && out.version == 11)
        return {400, "an HTTP/1.1 request without Host"};
    if (out.count("Content-Length") > 0 && out.count("Transfer-Encoding") > 0)
        return {400, "both Content-Length and Transfer-Encoding"};
    out.keep_alive = parser.keep_alive();
    out.has_body = out.count("Transfer-Encoding") > 0 || (parser.content_length() && *parser.content_length() > 0);
    return {};
}

}  // namespace serve
