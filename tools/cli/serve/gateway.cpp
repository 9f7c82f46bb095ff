#include "gateway.h"

#include <httplib.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "byte_range.h"
#include "cli.h"
#include "conditional.h"
#include "http_status.h"
#include "mime_types.h"
#include "pages.h"
#include "request_path.h"
#include "vnsmb1c.h"

namespace serve {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes asked of the library per read while a file streams; its per-file
// read-ahead keeps the server busy between two of them.
constexpr int kStreamChunk = 2048 * 1024;
constexpr size_t kWorkers = 16;
// File answers look their entry up in a listing of its folder, kept this
// long so that a player's many range requests cost one listing.
constexpr auto kListingLife = std::chrono::seconds(5);
constexpr size_t kListingsKept = 64;
constexpr int kShareCapacity = 82;
constexpr int kRestCapacity = 1026;
constexpr int kExitCannotListen = 3;
// Every path, line breaks included ('.' stops at them): the handler itself
// refuses what it must.
constexpr char kAnyPath[] = R"([\s\S]*)";

struct Failure {
    int status = 0;
    std::string text;
};

// An open file and the bytes being sent from it. While one chunk goes to
// the client the next is read on a thread of its own, so that the server and
// the client are both kept busy; two chunks are all the memory a stream holds.
class FileStream {
public:
    FileStream(int handle, int64_t first, int64_t length) : handle_(handle), first_(first), end_(first + length) {}
    ~FileStream() { close(); }
    FileStream(const FileStream &) = delete;
    FileStream &operator=(const FileStream &) = delete;

    // Sends up to one chunk from offset (counted from the first byte sent);
    // false when the read fails or the client has gone.
    bool send(size_t offset, httplib::DataSink &sink)
    {
        int64_t at = first_ + static_cast<int64_t>(offset);
        int n = 0;
        if (pending_.valid() && pending_at_ == at) {
            n = pending_.get();
            current_.swap(next_);
        } else {
            if (pending_.valid())
                pending_.wait();
            current_.resize(kStreamChunk);
            n = vnsmb1c_read_at(handle_, at, current_.data(), chunk_at(at));
        }
        if (n <= 0)
            return false;
        int64_t next_at = at + n;
        if (next_at < end_) {
            next_.resize(kStreamChunk);
            pending_at_ = next_at;
            pending_ = std::async(std::launch::async, [this, next_at, ask = chunk_at(next_at)] {
                return vnsmb1c_read_at(handle_, next_at, next_.data(), ask);
            });
        }
        return sink.write(current_.data(), static_cast<size_t>(n));
    }

    // Waits for a read under way, then closes the file and frees the chunks.
    void close()
    {
        if (pending_.valid())
            pending_.wait();
        pending_ = {};
        if (handle_ > 0)
            vnsmb1c_close(handle_);
        handle_ = 0;
        std::vector<char>().swap(current_);
        std::vector<char>().swap(next_);
    }

private:
    int chunk_at(int64_t at) const { return static_cast<int>(std::min<int64_t>(kStreamChunk, end_ - at)); }

    int handle_;
    int64_t first_;
    int64_t end_;
    std::vector<char> current_;
    std::vector<char> next_;
    std::future<int> pending_;
    int64_t pending_at_ = -1;
};

bool parse_listing(const char *json, std::vector<DirEntry> &out, bool with_hidden)
{
    rapidjson::Document doc;
    doc.Parse(json);
    if (doc.HasParseError() || !doc.IsObject())
        return false;
    auto items = doc.FindMember("items");
    if (items == doc.MemberEnd() || !items->value.IsArray())
        return false;
    out.clear();
    out.reserve(items->value.Size());
    for (const auto &v : items->value.GetArray()) {
        if (!v.IsObject())
            continue;
        auto name = v.FindMember("name");
        if (name == v.MemberEnd() || !name->value.IsString())
            continue;
        if (auto h = v.FindMember("hidden"); !with_hidden && h != v.MemberEnd() && h->value.IsBool() &&
                                             h->value.GetBool())
            continue;
        DirEntry e;
        e.name.assign(name->value.GetString(), name->value.GetStringLength());
        if (auto f = v.FindMember("folder"); f != v.MemberEnd() && f->value.IsBool())
            e.folder = f->value.GetBool();
        if (auto s = v.FindMember("size"); s != v.MemberEnd() && s->value.IsInt64())
            e.size = s->value.GetInt64();
        if (auto m = v.FindMember("mtime_ms"); m != v.MemberEnd() && m->value.IsInt64())
            e.mtime_ms = m->value.GetInt64();
        out.push_back(std::move(e));
    }
    return true;
}

class Gateway {
public:
    explicit Gateway(const GatewayOptions &options) : options_(options) {}

    int run(const std::string &server_name);

private:
    void route(const httplib::Request &req, httplib::Response &res);
    void serve_root(const httplib::Request &req, httplib::Response &res, const std::string &format);
    void serve_folder(const httplib::Request &req, httplib::Response &res, const RequestPath &path,
                      const std::string &format);
    void serve_file(const httplib::Request &req, httplib::Response &res, const RequestPath &path);

    // Lists the folder (hidden names too); 0 or a failure.
    Failure list(const std::string &folder, std::vector<DirEntry> &out);
    // The entry name in folder, from a listing at most kListingLife old.
    Failure look_up(const std::string &folder, const std::string &name, DirEntry &out);
    std::string origin(const httplib::Request &req) const;

    static Failure library_failure(int rc);
    static void answer_text(httplib::Response &res, int status, const std::string &text);
    static void redirect(httplib::Response &res, const std::string &location);

    struct CachedListing {
        Clock::time_point at;
        std::vector<DirEntry> entries;
    };

    GatewayOptions options_;
    httplib::Server server_;
    // Listings live in the session until the next one replaces them, so
    // listing and reading back go together; the cache shares the lock.
    std::mutex listing_mutex_;
    std::map<std::string, CachedListing> listings_;
};

Failure Gateway::library_failure(int rc)
{
    std::string text = vnsmb1c_last_error();
    if (text.empty())
        text = vnsmb1c_strerror(rc);
    return {http_status_for(rc, text), printable(text)};
}

void Gateway::answer_text(httplib::Response &res, int status, const std::string &text)
{
    res.status = status;
    if (status == 503)
        res.set_header("Retry-After", "1");
    std::string body = std::to_string(status) + " " + std::string(reason_phrase(status));
    if (!text.empty())
        body += ": " + text;
    res.set_content(body + "\n", "text/plain; charset=utf-8");
}

void Gateway::redirect(httplib::Response &res, const std::string &location)
{
    res.status = 301;
    res.set_header("Location", location);
    res.set_content("301 Moved Permanently: " + location + "\n", "text/plain; charset=utf-8");
}

Failure Gateway::list(const std::string &folder, std::vector<DirEntry> &out)
{
    std::lock_guard<std::mutex> lock(listing_mutex_);
    int n = vnsmb1c_list_all(folder.c_str(), nullptr);
    if (n < 0)
        return library_failure(n);
    if (!parse_listing(vnsmb1c_list_json(), out, true))
        return {502, "the listing could not be read"};
    if (listings_.size() >= kListingsKept)
        listings_.clear();
    listings_[folder] = {Clock::now(), out};
    return {};
}

Failure Gateway::look_up(const std::string &folder, const std::string &name, DirEntry &out)
{
    std::vector<DirEntry> entries;
    {
        std::lock_guard<std::mutex> lock(listing_mutex_);
        auto it = listings_.find(folder);
        if (it != listings_.end() && Clock::now() - it->second.at < kListingLife)
            entries = it->second.entries;
    }
    if (entries.empty()) {
        if (Failure f = list(folder, entries); f.status != 0)
            return f;
    }
    for (DirEntry &e : entries) {
        if (e.name == name) {
            out = std::move(e);
            return {};
        }
    }
    return {404, "no such file or folder"};
}

std::string Gateway::origin(const httplib::Request &req) const
{
    std::string host = req.get_header_value("Host");
    if (valid_host_header(host))
        return "http://" + host;
    return "http://" + host_port(req.local_addr.empty() ? options_.listen.host : req.local_addr,
                                 req.local_port > 0 ? req.local_port : options_.listen.port);
}

void Gateway::route(const httplib::Request &req, httplib::Response &res)
{
    // Ranges are resolved here, against the file's size; the HTTP library
    // must not apply them a second time to what the handler sends.
    const_cast<httplib::Request &>(req).ranges.clear();
    res.set_header("X-Content-Type-Options", "nosniff");

    std::string_view target = req.target;
    std::string_view query;
    if (auto q = target.find('?'); q != std::string_view::npos) {
        query = target.substr(q + 1);
        target = target.substr(0, q);
    }
    RequestPath path = parse_request_path(target);
    if (path.fault != PathFault::none)
        return answer_text(res, 400, std::string(fault_text(path.fault)));
    if (!path.segments.empty()) {
        // The library's own limits on shares, names and depth.
        char share[kShareCapacity];
        char rest[kRestCapacity];
        std::string joined = join_path(path.segments, path.segments.size());
        if (vnsmb1c_split_path(joined.c_str(), share, sizeof share, rest, sizeof rest) != 0)
            return answer_text(res, 400, "the path is too long");
    }
    std::string format = query_value(query, "format");
    if (format.empty() && req.get_header_value("Accept").find("application/json") != std::string::npos)
        format = "json";
    if (!format.empty() && format != "html" && format != "json" && format != "m3u")
        return answer_text(res, 400, "format is html, json or m3u");

    if (path.segments.empty())
        return serve_root(req, res, format);
    if (path.folder)
        return serve_folder(req, res, path, format);
    if (path.segments.size() == 1)
        return redirect(res, encode_path(path.segments, true));
    serve_file(req, res, path);
}

void Gateway::serve_root(const httplib::Request &req, httplib::Response &res, const std::string &format)
{
    if (!options_.start_share.empty() && format.empty())
        return redirect(res, encode_path({options_.start_share}, true));
    std::vector<std::string> shares;
    {
        std::lock_guard<std::mutex> lock(listing_mutex_);
        int n = vnsmb1c_shares();
        if (n < 0) {
            Failure f = library_failure(n);
            return answer_text(res, f.status, f.text);
        }
        for (int i = 0; i < n; i++)
            shares.emplace_back(vnsmb1c_share_name(i));
    }
    (void)req;
    if (format == "json")
        res.set_content(shares_json(shares), "application/json");
    else if (format == "m3u")
        res.set_content("#EXTM3U\n", "audio/x-mpegurl");
    else
        res.set_content(shares_html(shares), "text/html; charset=utf-8");
}

void Gateway::serve_folder(const httplib::Request &req, httplib::Response &res, const RequestPath &path,
                           const std::string &format)
{
    std::vector<DirEntry> entries;
    if (Failure f = list(join_path(path.segments, path.segments.size()), entries); f.status != 0)
        return answer_text(res, f.status, f.text);
    std::erase_if(entries, [](const DirEntry &e) { return vnsmb1c_is_hidden_name(e.name.c_str()) != 0; });
    sort_entries(entries);
    if (format == "json")
        res.set_content(folder_json(path.segments, entries), "application/json");
    else if (format == "m3u")
        res.set_content(folder_m3u(origin(req), path.segments, entries), "audio/x-mpegurl");
    else
        res.set_content(folder_html(path.segments, entries), "text/html; charset=utf-8");
}

void Gateway::serve_file(const httplib::Request &req, httplib::Response &res, const RequestPath &path)
{
    std::string folder = join_path(path.segments, path.segments.size() - 1);
    const std::string &name = path.segments.back();
    DirEntry entry;
    if (Failure f = look_up(folder, name, entry); f.status != 0)
        return answer_text(res, f.status, f.text);
    if (entry.folder)
        return redirect(res, encode_path(path.segments, true));

    int handle = vnsmb1c_open(folder.c_str(), name.c_str());
    if (handle < 0) {
        Failure f = library_failure(handle);
        return answer_text(res, f.status, f.text);
    }
    int64_t size = vnsmb1c_size(handle);
    if (size < 0) {
        Failure f = library_failure(static_cast<int>(size));
        vnsmb1c_close(handle);
        return answer_text(res, f.status, f.text);
    }

    const std::string tag = entity_tag(size, entry.mtime_ms);
    res.set_header("Accept-Ranges", "bytes");
    res.set_header("ETag", tag);
    if (entry.mtime_ms > 0)
        res.set_header("Last-Modified", http_date(entry.mtime_ms));
    if (not_modified(req.get_header_value("If-None-Match"), req.get_header_value("If-Modified-Since"), tag,
                     entry.mtime_ms)) {
        vnsmb1c_close(handle);
        res.status = 304;
        return;
    }
    const std::string type(mime_type_for(name).type);

    RangeAnswer range = range_still_applies(req.get_header_value("If-Range"), tag, entry.mtime_ms)
                            ? resolve_range(req.get_header_value("Range"), size)
                            : resolve_range("", size);
    if (range.kind == RangeAnswer::Kind::unsatisfiable) {
        vnsmb1c_close(handle);
        res.set_header("Content-Range", content_range(range, size));
        return answer_text(res, 416, "the range lies outside the file of " + std::to_string(size) + " bytes");
    }
    int64_t first = 0;
    int64_t length = size;
    if (range.kind == RangeAnswer::Kind::partial) {
        res.status = 206;
        res.set_header("Content-Range", content_range(range, size));
        first = range.first;
        length = range.length;
    } else {
        res.status = 200;
    }
    if (length == 0 || req.method == "HEAD") {
        // The headers alone: HEAD sends no body, and an empty file has none.
        vnsmb1c_close(handle);
        if (length == 0)
            res.set_content("", type);
        else
            res.set_content_provider(static_cast<size_t>(length), type,
                                     [](size_t, size_t, httplib::DataSink &) { return false; });
        return;
    }
    // A failed read or a client that went away ends the answer; the handle
    // closes as soon as the HTTP library lets the stream go.
    auto stream = std::make_shared<FileStream>(handle, first, length);
    res.set_content_provider(
        static_cast<size_t>(length), type,
        [stream](size_t offset, size_t, httplib::DataSink &sink) {
            try {
                return stream->send(offset, sink);
            } catch (const std::exception &) {
                return false;  // no thread for the next read: end this answer, keep serving
            }
        },
        [stream](bool) { stream->close(); });
}

int Gateway::run(const std::string &server_name)
{
    server_.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server_.set_write_timeout(30, 0);
    server_.set_keep_alive_timeout(15);
    server_.set_keep_alive_max_count(100);  // players send many range requests on one connection
    server_.set_payload_max_length(64 * 1024);
    auto handler = [this](const httplib::Request &req, httplib::Response &res) { route(req, res); };
    server_.Get(kAnyPath, handler);
    auto refuse = [](const httplib::Request &, httplib::Response &res) {
        res.set_header("Allow", "GET, HEAD");
        answer_text(res, 405, "the gateway is read-only: GET and HEAD only");
    };
    server_.Post(kAnyPath, refuse);
    server_.Put(kAnyPath, refuse);
    server_.Delete(kAnyPath, refuse);
    server_.Patch(kAnyPath, refuse);
    server_.Options(kAnyPath, refuse);
    if (!options_.quiet) {
        server_.set_logger([](const httplib::Request &req, const httplib::Response &res) {
            std::fprintf(stderr, "vnsmb1c: %s %s %d\n", printable(req.method).c_str(),
                         printable(req.target).c_str(), res.status);
        });
    }

    const ListenAddress &l = options_.listen;
    int port = l.port == 0 ? server_.bind_to_any_port(l.host) : (server_.bind_to_port(l.host, l.port) ? l.port : -1);
    if (port <= 0) {
        std::fprintf(stderr, "vnsmb1c: cannot listen on %s\n", host_port(l.host, l.port).c_str());
        return kExitCannotListen;
    }
    if (!is_loopback(l.host))
        std::fprintf(stderr, "vnsmb1c: warning: listening on %s, which other machines can reach; anyone who "
                             "reaches it reads the shares as this user\n",
                     host_port(l.host, port).c_str());
    std::printf("vnsmb1c: serving %s on http://%s/\n", printable(server_name).c_str(),
                host_port(l.host, port).c_str());
    std::fflush(stdout);
    return server_.listen_after_bind() ? 0 : kExitCannotListen;
}

}  // namespace

int run_gateway(const GatewayOptions &options, const std::string &server_name)
{
    Gateway gateway(options);
    return gateway.run(server_name);
}

}  // namespace serve
