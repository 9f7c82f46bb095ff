// The gateway's parts on their own: ranges, request paths, content types,
// escaping, addresses, statuses, conditional requests and the network's
// server list.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "basic_auth.h"
#include "byte_range.h"
#include "conditional.h"
#include "http_head.h"
#include "http_status.h"
#include "listen_address.h"
#include "mime_types.h"
#include "pages.h"
#include "request_path.h"
#include "server_list.h"
#include "vnsmb1c.h"

namespace {

using serve::RangeAnswer;
using Kind = RangeAnswer::Kind;

TEST(ServeRange, ResolvesAgainstTheSize)
{
    struct Case {
        const char *header;
        int64_t size;
        Kind kind;
        int64_t first;
        int64_t length;
    };
    const Case cases[] = {
        {"", 100, Kind::whole, 0, 0},
        {"bytes=0-0", 100, Kind::partial, 0, 1},
        {"bytes=0-99", 100, Kind::partial, 0, 100},
        {"bytes=10-19", 100, Kind::partial, 10, 10},
        {"bytes=99-99", 100, Kind::partial, 99, 1},
        {"bytes=50-", 100, Kind::partial, 50, 50},
        {"bytes=50-1000", 100, Kind::partial, 50, 50},  // the end is clamped
        {"bytes=-10", 100, Kind::partial, 90, 10},
        {"bytes=-1000", 100, Kind::partial, 0, 100},    // a suffix longer than the file
        {"BYTES = 5-6", 100, Kind::whole, 0, 0},          // unit then '=' with no space only
        {"Bytes=5-6", 100, Kind::partial, 5, 2},
        {"bytes= 5 - 6 ", 100, Kind::partial, 5, 2},
        {"bytes=100-", 100, Kind::unsatisfiable, 0, 0},
        {"bytes=100-200", 100, Kind::unsatisfiable, 0, 0},
        {"bytes=99999999999999999999999-", 100, Kind::unsatisfiable, 0, 0},
        {"bytes=-0", 100, Kind::unsatisfiable, 0, 0},
        {"bytes=0-", 0, Kind::unsatisfiable, 0, 0},
        {"bytes=-5", 0, Kind::unsatisfiable, 0, 0},
        {"bytes=0-999999999999999999999999", 100, Kind::partial, 0, 100},
        {"bytes=9-3", 100, Kind::whole, 0, 0},        // invalid: ignored
        {"bytes=0-1,5-6", 100, Kind::whole, 0, 0},    // several ranges: the whole file
        {"items=0-1", 100, Kind::whole, 0, 0},
        {"bytes=a-b", 100, Kind::whole, 0, 0},
        {"bytes=1-2x", 100, Kind::whole, 0, 0},
        {"bytes=+1-2", 100, Kind::whole, 0, 0},
        {"bytes=-", 100, Kind::whole, 0, 0},
        {"bytes=5", 100, Kind::whole, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.header);
        RangeAnswer r = serve::resolve_range(c.header, c.size);
        EXPECT_EQ(r.kind, c.kind);
        if (c.kind == Kind::partial) {
            EXPECT_EQ(r.first, c.first);
            EXPECT_EQ(r.length, c.length);
        }
    }
}

TEST(ServeRange, ContentRangeText)
{
    EXPECT_EQ(serve::content_range({Kind::partial, 10, 5}, 100), "bytes 10-14/100");
    EXPECT_EQ(serve::content_range({Kind::partial, 0, 1}, 1), "bytes 0-0/1");
    EXPECT_EQ(serve::content_range({Kind::unsatisfiable}, 100), "bytes */100");
}

TEST(ServePath, DecodesOnceAndRefusesWhatCouldEscape)
{
    using serve::PathFault;
    struct Case {
        const char *raw;
        PathFault fault;
        std::vector<std::string> segments;
        bool folder;
    };
    const Case cases[] = {
        {"/", PathFault::none, {}, true},
        {"/Media", PathFault::none, {"Media"}, false},
        {"/Media/", PathFault::none, {"Media"}, true},
        {"/Media/Movies/a%20b.mkv", PathFault::none, {"Media", "Movies", "a b.mkv"}, false},
        {"/Media/%E2%82%AC+x", PathFault::none, {"Media", "\xE2\x82\xAC+x"}, false},
        {"/Media/100%25", PathFault::none, {"Media", "100%"}, false},
        // Decoded once: what an escape produces is never decoded again.
        {"/Media/%252e%252e", PathFault::none, {"Media", "%2e%2e"}, false},
        {"/Media/...", PathFault::none, {"Media", "..."}, false},
        {"/Media/..a", PathFault::none, {"Media", "..a"}, false},
        {"", PathFault::not_absolute, {}, false},
        {"Media/x", PathFault::not_absolute, {}, false},
        {"/Media/../private/x", PathFault::dot_segment, {}, false},
        {"/Media/..", PathFault::dot_segment, {}, false},
        {"/Media/%2e%2e/x", PathFault::dot_segment, {}, false},
        {"/Media/%2E./x", PathFault::dot_segment, {}, false},
        {"/Media/./x", PathFault::dot_segment, {}, false},
        {"/..", PathFault::dot_segment, {}, false},
        {"/Media/a%2Fb", PathFault::encoded_separator, {}, false},
        {"/Media/a%2fb", PathFault::encoded_separator, {}, false},
        {"/Media/a%5Cb", PathFault::encoded_separator, {}, false},
        {"/Media/..%5C..%5Cx", PathFault::encoded_separator, {}, false},
        {"/Media/a\\b", PathFault::encoded_separator, {}, false},
        {"/Media/a%00b", PathFault::control_character, {}, false},
        {"/Media/a%0Ab", PathFault::control_character, {}, false},
        {"/Media/a%7F", PathFault::control_character, {}, false},
        {"/Media/a%", PathFault::bad_escape, {}, false},
        {"/Media/a%4", PathFault::bad_escape, {}, false},
        {"/Media/a%zz", PathFault::bad_escape, {}, false},
        {"//Media", PathFault::empty_segment, {}, false},
        {"/Media//x", PathFault::empty_segment, {}, false},
        {"/Media/a.mkv%3Astream", PathFault::reserved_character, {}, false},
        {"/Media/%2A", PathFault::reserved_character, {}, false},
        {"/Media/a%3F", PathFault::reserved_character, {}, false},
        {"/Media/%3Cx%3E", PathFault::reserved_character, {}, false},
        {"/Media/a%7Cb", PathFault::reserved_character, {}, false},
        {"/Media/%22", PathFault::reserved_character, {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.raw);
        serve::RequestPath p = serve::parse_request_path(c.raw);
        EXPECT_EQ(p.fault, c.fault);
        EXPECT_EQ(p.segments, c.segments);
        if (c.fault == PathFault::none) {
            EXPECT_EQ(p.folder, c.folder);
            EXPECT_FALSE(serve::fault_text(p.fault).size());
        } else {
            EXPECT_FALSE(serve::fault_text(p.fault).empty());
        }
    }
}

TEST(ServePath, EncodedPathsDecodeToTheSameNames)
{
    const std::vector<std::vector<std::string>> paths = {
        {"Media"},
        {"Media", "Movies", "Sintel (2010).mkv"},
        {"A & B", "<script>alert(1)</script>", "it's \"quoted\""},
        {"sp ace", "per%cent", "plus+", "hash#", "q?mark", "colon:x", "back\\slash", "slash/inside"},
        {"Gr\xC3\xBC\xC3\x9F" "e", "\xE6\x97\xA5\xE6\x9C\xAC"},
    };
    for (const auto &segments : paths) {
        for (bool folder : {false, true}) {
            std::string url = serve::encode_path(segments, folder);
            SCOPED_TRACE(url);
            for (char c : url.substr(1))
                EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-._~%/", c) != nullptr) << c;
            // Names a server may hold but a request may not carry come back refused.
            serve::RequestPath back = serve::parse_request_path(url);
            bool refusable = false;
            for (const auto &s : segments)
                refusable |= s.find_first_of("\\/:?\"<>|*") != std::string::npos;
            if (refusable) {
                EXPECT_NE(back.fault, serve::PathFault::none);
                continue;
            }
            EXPECT_EQ(back.fault, serve::PathFault::none);
            EXPECT_EQ(back.segments, segments);
            EXPECT_EQ(back.folder, folder);
        }
    }
    EXPECT_EQ(serve::join_path({"Media", "Movies", "a.mkv"}, 2), "Media/Movies");
    EXPECT_EQ(serve::encode_path({}, true), "/");
}

TEST(ServePath, QueryValues)
{
    struct Case {
        const char *query;
        const char *key;
        const char *value;
    };
    const Case cases[] = {
        {"format=json", "format", "json"},
        {"a=1&format=m3u&b=2", "format", "m3u"},
        {"format=%6Aso%6E", "format", "json"},
        {"formats=json", "format", ""},
        {"format", "format", ""},
        {"format=%zz", "format", ""},
        {"", "format", ""},
        {"a=1&&format=html", "format", "html"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query);
        EXPECT_EQ(serve::query_value(c.query, c.key), c.value);
    }
}

TEST(ServeMime, TypesByExtension)
{
    using serve::MediaKind;
    struct Case {
        const char *name;
        const char *type;
        MediaKind kind;
    };
    const Case cases[] = {
        {"Sintel (2010).mkv", "video/x-matroska", MediaKind::video},
        {"clip.MP4", "video/mp4", MediaKind::video},
        {"a.b.c.Ts", "video/mp2t", MediaKind::video},
        {"song.mp3", "audio/mpeg", MediaKind::audio},
        {"song.FLAC", "audio/flac", MediaKind::audio},
        {"poster.jpg", "image/jpeg", MediaKind::image},
        {"poster.JPEG", "image/jpeg", MediaKind::image},
        {"Sintel (2010).srt", "application/x-subrip", MediaKind::subtitle},
        {"subs.vtt", "text/vtt", MediaKind::subtitle},
        {"list.m3u", "audio/x-mpegurl", MediaKind::playlist},
        {"live.m3u8", "application/vnd.apple.mpegurl", MediaKind::playlist},
        {"movie.nfo", "text/plain; charset=utf-8", MediaKind::text},
        // Markup a browser would run, and the unknown, go out as bytes.
        {"index.html", "application/octet-stream", MediaKind::other},
        {"image.svg", "application/octet-stream", MediaKind::other},
        {"README", "application/octet-stream", MediaKind::other},
        {"trailing.", "application/octet-stream", MediaKind::other},
        {".mkv", "application/octet-stream", MediaKind::other},
        {"a.verylongextension", "application/octet-stream", MediaKind::other},
        {"", "application/octet-stream", MediaKind::other},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const serve::MimeType &m = serve::mime_type_for(c.name);
        EXPECT_EQ(m.type, c.type);
        EXPECT_EQ(m.kind, c.kind);
    }
}

TEST(ServeMime, TableHasOneLowerCaseEntryPerExtension)
{
    for (size_t i = 0; i < std::size(serve::kMimeTypes); i++) {
        const auto &m = serve::kMimeTypes[i];
        SCOPED_TRACE(std::string(m.extension));
        EXPECT_FALSE(m.extension.empty());
        for (char c : m.extension)
            EXPECT_FALSE(c >= 'A' && c <= 'Z');
        for (size_t j = i + 1; j < std::size(serve::kMimeTypes); j++)
            EXPECT_NE(m.extension, serve::kMimeTypes[j].extension);
        EXPECT_EQ(&serve::mime_type_for("x." + std::string(m.extension)), &m);
    }
}

TEST(ServePages, HtmlEscape)
{
    struct Case {
        const char *in;
        const char *out;
    };
    const Case cases[] = {
        {"plain name.mkv", "plain name.mkv"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"A & B", "A &amp; B"},
        {"\"quoted\" 'single'", "&quot;quoted&quot; &#39;single&#39;"},
        {"&amp;", "&amp;amp;"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(serve::html_escape(c.in), c.out);
    }
}

TEST(ServePages, FolderPagesEscapeEveryName)
{
    const std::vector<std::string> folder = {"Me<d>ia", "a&b"};
    auto item = [](const char *name, bool folder, int64_t size, int64_t mtime_ms) {
        Item it;
        it.name = name;
        it.folder = folder;
        it.size = size;
        it.mtime_ms = mtime_ms;
        return it;
    };
    std::vector<Item> entries = {
        item("zeta.mkv", false, 1536, 1696160400000),
        item("<img src=x onerror=alert(1)>.mp3", false, 10, 0),
        item("Alpha \"dir\"", true, -1, 1696160400000),
        item("line\nbreak.mkv", false, 5, 0),
        item("notes.txt", false, 3, 0),
    };
    serve::sort_entries(entries);
    ASSERT_EQ(entries.front().name, "Alpha \"dir\"");  // folders first
    EXPECT_EQ(entries[1].name, "<img src=x onerror=alert(1)>.mp3");
    EXPECT_EQ(entries.back().name, "zeta.mkv");

    std::string html = serve::folder_html(folder, entries);
    EXPECT_EQ(html.find("<img"), std::string::npos);
    EXPECT_EQ(html.find("Me<d>ia"), std::string::npos);
    EXPECT_NE(html.find("&lt;img src=x onerror=alert(1)&gt;.mp3"), std::string::npos);
    EXPECT_NE(html.find("href=\"/Me%3Cd%3Eia/a%26b/Alpha%20%22dir%22/\""), std::string::npos);
    EXPECT_NE(html.find("<title>/Me&lt;d&gt;ia/a&amp;b/</title>"), std::string::npos);
    EXPECT_NE(html.find("1.5 KiB"), std::string::npos);
    EXPECT_NE(html.find("2023-10-01 11:40"), std::string::npos);
    EXPECT_NE(html.find("href=\"/Me%3Cd%3Eia/\">../"), std::string::npos);

    std::string m3u = serve::folder_m3u("http://127.0.0.1:8080", folder, entries);
    EXPECT_EQ(m3u,
              "#EXTM3U\n"
              "#EXTINF:-1,<img src=x onerror=alert(1)>.mp3\n"
              "http://127.0.0.1:8080/Me%3Cd%3Eia/a%26b/%3Cimg%20src%3Dx%20onerror%3Dalert%281%29%3E.mp3\n"
              "#EXTINF:-1,line?break.mkv\n"
              "http://127.0.0.1:8080/Me%3Cd%3Eia/a%26b/line%0Abreak.mkv\n"
              "#EXTINF:-1,zeta.mkv\n"
              "http://127.0.0.1:8080/Me%3Cd%3Eia/a%26b/zeta.mkv\n");

    std::string json = serve::folder_json(folder, entries);
    EXPECT_NE(json.find("\"name\":\"line\\nbreak.mkv\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"name\":\"Alpha \\\"dir\\\"\",\"folder\":true"), std::string::npos) << json;
    EXPECT_NE(json.find("\"type\":\"audio/mpeg\""), std::string::npos) << json;

    std::string shares = serve::shares_html({"<b>", "Media"});
    EXPECT_EQ(shares.find("<b>"), std::string::npos);
    EXPECT_NE(shares.find("<a href=\"/%3Cb%3E/\">&lt;b&gt;/</a>"), std::string::npos);
}

TEST(ServePages, HeaderValues)
{
    EXPECT_EQ(serve::http_date(784111777000), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(serve::http_date(1696246800000), "Mon, 02 Oct 2023 11:40:00 GMT");
    EXPECT_EQ(serve::entity_tag(314572800, 1696246800000), "\"12c00000-18af0301e80\"");
    EXPECT_NE(serve::entity_tag(1, 2), serve::entity_tag(2, 1));
    EXPECT_EQ(serve::size_text(0), "0 B");
    EXPECT_EQ(serve::size_text(1023), "1023 B");
    EXPECT_EQ(serve::size_text(1024), "1.0 KiB");
    EXPECT_EQ(serve::size_text(314572800), "300 MiB");
}

TEST(ServeAddress, ListenAddresses)
{
    struct Case {
        const char *text;
        bool ok;
        const char *host;
        int port;
        bool loopback;
    };
    const Case cases[] = {
        {"127.0.0.1:8080", true, "127.0.0.1", 8080, true},
        {"127.1.2.3:0", true, "127.1.2.3", 0, true},
        {"localhost:80", true, "127.0.0.1", 80, true},
        {"[::1]:8080", true, "::1", 8080, true},
        {"0.0.0.0:8080", true, "0.0.0.0", 8080, false},
        {"192.168.1.5:65535", true, "192.168.1.5", 65535, false},
        {"[::]:8080", true, "::", 8080, false},
        {"127.0.0.1:65536", false, "", 0, false},
        {"127.0.0.1:", false, "", 0, false},
        {"127.0.0.1", false, "", 0, false},
        {"8080", false, "", 0, false},
        {"nas.local:8080", false, "", 0, false},
        {"::1:8080", false, "", 0, false},
        {"[::1]8080", false, "", 0, false},
        {"[nope]:80", false, "", 0, false},
        {"127.0.0.1:80x", false, "", 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        serve::ListenAddress a;
        ASSERT_EQ(serve::parse_listen_address(c.text, a), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(a.host, c.host);
        EXPECT_EQ(a.port, c.port);
        EXPECT_EQ(serve::is_loopback(a.host), c.loopback);
    }
    EXPECT_EQ(serve::host_port("::1", 80), "[::1]:80");
    EXPECT_EQ(serve::host_port("127.0.0.1", 80), "127.0.0.1:80");
}

TEST(ServeAddress, HostHeaders)
{
    struct Case {
        const char *host;
        bool valid;
    };
    const Case cases[] = {
        {"127.0.0.1:8080", true},
        {"localhost", true},
        {"nas.example.org:80", true},
        {"[::1]:8080", true},
        {"[fe80::1]", true},
        {"", false},
        {"evil.org/x", false},
        {"a b:80", false},
        {"host:99999", false},
        {"host:", false},
        {"[::1", false},
        {"[zz]:80", false},
        {"user@host", false},
        {"host\r\nX: y", false},
        {"a..b", false},
        {".a", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(serve::valid_host_header(c.host), c.valid);
    }
}

// On a loopback address: localhost, the address and the allowed names only.
TEST(ServeAddress, HostsServedOnLoopback)
{
    const std::vector<std::string> allowed = {"media.home"};
    serve::ListenAddress v4{"127.0.0.1", 8080};
    serve::ListenAddress v6{"::1", 8080};
    serve::ListenAddress lan{"192.0.2.10", 8080};
    struct Case {
        const serve::ListenAddress &listen;
        const char *host;
        bool served;
    };
    const Case cases[] = {
        {v4, "localhost", true},
        {v4, "LocalHost:8080", true},
        {v4, "127.0.0.1:1", true},
        {v4, "media.home:8080", true},
        {v4, "MEDIA.HOME", true},
        {v4, "127.0.0.2:8080", false},
        {v4, "rebind.attacker.example:8080", false},
        {v4, "media.home.attacker.example", false},
        {v4, "localhost.attacker.example", false},
        {v4, "[::1]:8080", false},
        {v6, "[::1]:8080", true},
        {v6, "localhost", true},
        {v6, "127.0.0.1", false},
        {lan, "anything.example", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(serve::host_allowed(c.host, c.listen, allowed), c.served);
    }
}

// Where a head ends in the bytes received, and when it can no longer fit.
TEST(ServeHead, ScanFindsTheEndOrTheLimit)
{
    serve::HttpLimits limits;
    limits.max_request_line = 20;
    limits.max_head = 60;
    using Kind = serve::HeadScan::Kind;
    struct Case {
        std::string bytes;
        Kind kind;
        size_t end;
    };
    const Case cases[] = {
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\nGET", Kind::complete, 27},
        {"GET / HTTP/1.0\r\n\r\n", Kind::complete, 18},
        {"\r\n\r\nGET / HTTP/1.0\r\n\r\n", Kind::complete, 22},
        {"GET / HTTP/1.1\r\nHost: a\r\n", Kind::incomplete, 0},
        {"GET / HTT", Kind::incomplete, 0},
        {"GET /" + std::string(20, 'a'), Kind::line_too_long, 0},
        {"GET /" + std::string(20, 'a') + " HTTP/1.1\r\n\r\n", Kind::line_too_long, 0},
        {"GET / HTTP/1.1\r\nX: " + std::string(60, 'a'), Kind::head_too_large, 0},
        {"GET / HTTP/1.1\r\nX: " + std::string(40, 'a') + "\r\n\r\n", Kind::head_too_large, 0},
        {std::string(80, '\r'), Kind::line_too_long, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        serve::HeadScan scan = serve::scan_head(c.bytes, limits);
        EXPECT_EQ(scan.kind, c.kind);
        EXPECT_EQ(scan.end, c.end);
    }
}

TEST(ServeHead, ParseKeepsWhatTheHandlerNeeds)
{
    serve::HttpLimits limits;
    serve::HttpRequest r;
    serve::HeadFault f = serve::parse_head(
        "GET /a%20b?format=json HTTP/1.1\r\nhost: x:1\r\nRange:  bytes=0-1 \r\nConnection: close\r\n\r\n", limits, r);
    ASSERT_EQ(f.status, 0) << f.text;
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/a%20b?format=json");
    EXPECT_EQ(r.version, 11);
    EXPECT_EQ(r.header("Host"), "x:1");
    EXPECT_EQ(r.header("RANGE"), "bytes=0-1");
    EXPECT_FALSE(r.keep_alive);
    EXPECT_FALSE(r.has_body);
    f = serve::parse_head("POST / HTTP/1.0\r\nContent-Length: 5\r\n\r\n", limits, r);
    ASSERT_EQ(f.status, 0) << f.text;
    EXPECT_TRUE(r.has_body);
    EXPECT_FALSE(r.keep_alive);
    f = serve::parse_head("GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n",
                          limits, r);
    EXPECT_EQ(f.status, 400);
}

TEST(ServeStatus, LibraryFailures)
{
    struct Case {
        int rc;
        const char *text;
        int status;
    };
    const Case cases[] = {
        {VNSMB1C_ENOTFOUND, "open: OBJECT_NAME_NOT_FOUND", 404},
        {VNSMB1C_EAUTH, "open: ACCESS_DENIED", 403},
        {VNSMB1C_ENET, "connect: connection refused", 502},
        {VNSMB1C_ENET, "read: timed out after 30000 ms", 504},
        {VNSMB1C_ENOSESSION, "no session", 502},
        {VNSMB1C_EINVAL, "path too long", 400},
        {VNSMB1C_EPROTO, "bad reply", 500},
        {VNSMB1C_ELIMIT, "too many open files (64)", 503},
        {VNSMB1C_ENOMEM, "", 503},
        {-99, "", 500},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(serve::http_status_for(c.rc, c.text), c.status);
        EXPECT_NE(serve::reason_phrase(c.status), "");
    }
    EXPECT_EQ(serve::reason_phrase(416), "Range Not Satisfiable");
}

TEST(ServeConditional, HttpDatesInTheThreeForms)
{
    struct Case {
        const char *text;
        int64_t seconds;
    };
    const Case cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
        {"Sun Nov  6 08:49:37 1994", 784111777},
        {" Tue, 03 Oct 2023 11:41:00 GMT ", 1696333260},
        {"Thu, 29 Feb 2024 00:00:00 GMT", 1709164800},
        {"Thu, 01 Jan 1970 00:00:00 GMT", 0},
        {"Wed, 01-Jan-20 00:00:00 GMT", 1577836800},  // two-digit years below 70 are this century
        {"", -1},
        {"yesterday", -1},
        {"Sun, 06 Nov 1994 08:49:37 UTC", -1},
        {"Sun, 06 Foo 1994 08:49:37 GMT", -1},
        {"Sun, 32 Nov 1994 08:49:37 GMT", -1},
        {"Sun, 06 Nov 1994 24:00:00 GMT", -1},
        {"Sun, 06 Nov 1969 08:49:37 GMT", -1},
        {"Sun, 06 Nov 19945 08:49:37 GMT", -1},
        {"Sun, 06 Nov 1994 08:49:37 GMT; length=12", -1},
        {"Sun, 06 Nov 1994 08:49:37 GMT\r\nX: y", -1},
        {"0, 0 Nov 0 0:0:0 GMT", -1},
        {"1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20", -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(serve::parse_http_date(c.text), c.seconds);
    }
}

TEST(ServeConditional, ValidatorsOfAFile)
{
    const std::string tag = "\"2cc6a-18af6b2b3e0\"";
    const int64_t mtime_ms = 1696333260500;  // 11:41:00.5; Last-Modified says 11:41:00
    struct Case {
        const char *if_none_match;
        const char *if_modified_since;
        bool not_modified;
    };
    const Case cases[] = {
        {"", "", false},
        {"\"2cc6a-18af6b2b3e0\"", "", true},
        {"W/\"2cc6a-18af6b2b3e0\"", "", true},  // weak comparison
        {"\"other\", \"2cc6a-18af6b2b3e0\"", "", true},
        {"*", "", true},
        {"\"other\"", "", false},
        {"\"2cc6a-18af6b2b3e\"", "", false},
        {"\"other\"", "Tue, 03 Oct 2023 11:41:00 GMT", false},  // If-None-Match wins over the date
        {"", "Tue, 03 Oct 2023 11:41:00 GMT", true},
        {"", "Wed, 04 Oct 2023 00:00:00 GMT", true},
        {"", "Tue, 03 Oct 2023 11:40:59 GMT", false},
        {"", "not a date", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.if_none_match) + " | " + c.if_modified_since);
        EXPECT_EQ(serve::not_modified(c.if_none_match, c.if_modified_since, tag, mtime_ms), c.not_modified);
    }
    // Without a known time, a date validates nothing.
    EXPECT_FALSE(serve::not_modified("", "Tue, 03 Oct 2023 11:41:00 GMT", tag, 0));

    struct RangeCase {
        const char *if_range;
        bool applies;
    };
    const RangeCase ranges[] = {
        {"", true},
        {"\"2cc6a-18af6b2b3e0\"", true},
        {"W/\"2cc6a-18af6b2b3e0\"", false},
        {"\"other\"", false},
        {"Tue, 03 Oct 2023 11:41:00 GMT", true},
        {"Tue, 03 Oct 2023 11:40:00 GMT", false},
        {"garbage", false},
    };
    for (const RangeCase &c : ranges) {
        SCOPED_TRACE(c.if_range);
        EXPECT_EQ(serve::range_still_applies(c.if_range, tag, mtime_ms), c.applies);
    }
    EXPECT_FALSE(serve::range_still_applies("Tue, 03 Oct 2023 11:41:00 GMT", tag, 0));
}

}  // namespace

// The authentication file's two forms, and the Authorization header: only
// the exact pair is admitted.
TEST(ServeBasicAuth, FileAndHeader)
{
    struct FileCase {
        const char *text;
        bool ok;
        const char *user;
        const char *password;
    };
    const FileCase files[] = {
        {"username = alice\npassword = s3cret word\n", true, "alice", "s3cret word"},
        {"Username=alice\r\nPASSWORD=p=q:r\r\ndomain = HOME\n", true, "alice", "p=q:r"},
        {"alice:pa:ss\n", true, "alice", "pa:ss"},
        {"# a comment\n  bob:x  \n", true, "bob", "x"},
        {"username = alice\n", false, "", ""},
        {"password = x\n", false, "", ""},
        {"alice:\n", false, "", ""},
        {":x\n", false, "", ""},
        {"", false, "", ""},
    };
    for (const FileCase &c : files) {
        SCOPED_TRACE(c.text);
        serve::BasicAuth auth;
        EXPECT_EQ(serve::parse_auth_file(c.text, auth), c.ok);
        if (c.ok) {
            EXPECT_EQ(auth.user, c.user);
            EXPECT_EQ(auth.password, c.password);
        }
    }
    const serve::BasicAuth auth{"alice", "open sesame"};
    struct HeaderCase {
        const char *header;
        bool admitted;
    };
    const HeaderCase headers[] = {
        {"Basic YWxpY2U6b3BlbiBzZXNhbWU=", true},    // alice:open sesame
        {"basic   YWxpY2U6b3BlbiBzZXNhbWU=  ", true},
        {"Basic YWxpY2U6b3BlbiBzZXNhbWY=", false},   // alice:open sesamf
        {"Basic YWxpY2U6b3BlbiBzZXNhbWVz", false},   // alice:open sesames
        {"Basic YWxpY2U6", false},                   // alice:
        {"Basic YWxpY2U6b3BlbiBzZXNhbWU", false},    // unpadded
        {"Basic YWxpY2U6b3Blb!BzZXNhbWU=", false},   // not base64
        {"Bearer YWxpY2U6b3BlbiBzZXNhbWU=", false},
        {"", false},
        {"Basic ", false},
    };
    for (const HeaderCase &c : headers) {
        SCOPED_TRACE(c.header);
        EXPECT_EQ(serve::basic_auth_admits(c.header, auth), c.admitted);
    }
    std::string decoded;
    EXPECT_TRUE(serve::base64_decode("TWE=", decoded));
    EXPECT_EQ(decoded, "Ma");
    EXPECT_TRUE(serve::base64_decode("TQ==", decoded));
    EXPECT_EQ(decoded, "M");
    EXPECT_FALSE(serve::base64_decode("T===", decoded));
    EXPECT_FALSE(serve::base64_decode("TQ==TWE=", decoded));
}

// The network's pages: each server and share a link under the server's
// name, every name escaped.
TEST(ServePages, NetworkPagesLinkEachServer)
{
    NetServers found;
    found.servers = {{"MEDIABOX", "HOME", "127.0.0.1", "Media <library>", "browse"},
                     {"A&B", "W\"G", "", "it's", "broadcast"}};
    found.notes = {"no <answer> from WINS"};
    std::string html = serve::servers_html(found);
    EXPECT_NE(html.find("<a href=\"/MEDIABOX/\">MEDIABOX/</a></td><td>HOME</td><td>Media &lt;library&gt;</td>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("<a href=\"/A%26B/\">A&amp;B/</a></td><td>W&quot;G</td><td>it&#39;s</td>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("<p>no &lt;answer&gt; from WINS</p>"), std::string::npos);
    EXPECT_EQ(serve::servers_json(found),
              R"({"servers":[{"name":"MEDIABOX","workgroup":"HOME","comment":"Media <library>","url":"/MEDIABOX/"},)"
              R"({"name":"A&B","workgroup":"W\"G","comment":"it's","url":"/A%26B/"}],"notes":["no <answer> from WINS"]})"
              "\n");
    EXPECT_NE(serve::servers_html({}).find("No SMB server was found."), std::string::npos);

    EXPECT_EQ(serve::shares_json({"Media"}, {"A&B"}), R"({"shares":[{"name":"Media","url":"/A%26B/Media/"}]})"
                                                      "\n");
    std::string shares = serve::shares_html({"Media"}, {"A&B"});
    EXPECT_NE(shares.find("<title>A&amp;B</title>"), std::string::npos) << shares;
    EXPECT_NE(shares.find("<h1><a href=\"/\">Network</a> / A&amp;B /</h1>"), std::string::npos) << shares;
    EXPECT_NE(shares.find("<a href=\"/A%26B/Media/\">Media/</a>"), std::string::npos) << shares;
    std::string folder = serve::folder_html({"A&B", "Media"}, {}, serve::Root::network);
    EXPECT_NE(folder.find("<h1><a href=\"/\">Network</a> / <a href=\"/A%26B/\">A&amp;B</a> / Media /</h1>"),
              std::string::npos)
        << folder;
}

// Discovery's list: kept for its life, one discovery at a time, and the only
// names it gives back are those discovery listed.
TEST(ServeServerList, FindsOnlyListedNamesAndKeepsTheListForAWhile)
{
    int runs = 0;
    bool fail = false;
    auto discover = [&](NetServers &found, std::string &why) {
        runs++;
        if (fail) {
            why = "no network";
            return false;
        }
        found.servers = {{"MEDIABOX", "HOME", "192.0.2.10", "", "broadcast"}, {"OLDNAS", "HOME", "", "", "browse"}};
        return true;
    };
    serve::ServerList kept(discover, std::chrono::minutes(1));
    struct Case {
        const char *name;
        serve::ServerList::Found found;
        const char *address;
    };
    const Case cases[] = {
        {"MEDIABOX", serve::ServerList::Found::yes, "192.0.2.10"},
        {"mediabox", serve::ServerList::Found::yes, "192.0.2.10"},
        {"OldNas", serve::ServerList::Found::yes, ""},
        {"192.0.2.10", serve::ServerList::Found::not_listed, ""},
        {"MEDIABOX.", serve::ServerList::Found::not_listed, ""},
        {"MEDIABO", serve::ServerList::Found::not_listed, ""},
        {"", serve::ServerList::Found::not_listed, ""},
        {"localhost", serve::ServerList::Found::not_listed, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        NetServer s;
        std::string why;
        ASSERT_EQ(kept.find(c.name, s, why), c.found);
        if (c.found == serve::ServerList::Found::yes) {
            EXPECT_EQ(s.address, c.address);
        }
    }
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(kept.runs(), 1);

    // A list past its life is looked for again; a failed discovery says why
    // and is tried again by the next request.
    serve::ServerList brief(discover, std::chrono::milliseconds(0));
    runs = 0;
    NetServers found;
    std::string why;
    EXPECT_TRUE(brief.servers(found, why));
    EXPECT_TRUE(brief.servers(found, why));
    EXPECT_EQ(runs, 2);
    fail = true;
    NetServer s;
    EXPECT_EQ(brief.find("MEDIABOX", s, why), serve::ServerList::Found::failed);
    EXPECT_EQ(why, "no network");
    EXPECT_EQ(runs, 3);

    // Requests that come while a discovery runs take its list.
    fail = false;
    int slow_runs = 0;
    serve::ServerList shared(
        [&](NetServers &f, std::string &) {
            slow_runs++;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            f.servers = {{"MEDIABOX", "HOME", "192.0.2.10", "", "broadcast"}};
            return true;
        },
        std::chrono::minutes(1));
    std::vector<std::thread> requests;
    for (int i = 0; i < 4; i++)
        requests.emplace_back([&shared] {
            NetServers f;
            std::string w;
            EXPECT_TRUE(shared.servers(f, w));
            EXPECT_EQ(f.servers.size(), 1u);
        });
    for (std::thread &t : requests)
        t.join();
    EXPECT_EQ(slow_runs, 1);
}
