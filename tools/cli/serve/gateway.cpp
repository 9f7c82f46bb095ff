#include "gateway.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "byte_range.h"
#include "conditional.h"
#include "http_server.h"
#include "http_status.h"
#include "listing.h"
#include "listen_address.h"
#include "mime_types.h"
#include "output.h"
#include "pages.h"
#include "request_path.h"
#include "server_list.h"
#include "vnsmb1c.h"

namespace serve {

namespace {

using Clock = std::chrono::steady_clock;

// Worker threads: they run the handler and read file bodies. A slow or
// idle client holds none of them.
// Each session of the pool may hold one, and a few more stay free for
// pages and quick answers.
constexpr int kSpareWorkers = 4;
// Sessions logged on at start.
constexpr int kWarmSessions = 2;
// File answers look their entry up in a listing of its folder, kept this
// long so that a player's many range requests cost one listing.
constexpr auto kListingLife = std::chrono::seconds(5);
constexpr size_t kListingsKept = 64;
// A recursive playlist lists at most this deep and this many folders, and
// names at most this many files; a cut playlist says so.
constexpr size_t kPlaylistDepth = 8;
constexpr size_t kPlaylistFolders = 1000;
constexpr size_t kPlaylistFiles = 20000;
constexpr int kShareCapacity = 82;
constexpr int kRestCapacity = 1026;
constexpr int kExitCannotListen = 3;
// On the network: the servers discovery found are listed again after this
// long, and at most this many of them get sessions.
constexpr auto kServerListLife = std::chrono::seconds(30);
constexpr size_t kServersServed = 64;

struct Failure {
    int status = 0;
    std::string text;
};

// An open file, read in order from its first byte to be sent. The file
// stays open on its session for the stream's life; each read takes that
// session for the read alone. When the server lets the stream go, a file
// that read without fault stays open there for the player's next range.
class FileSource : public BodySource {
public:
    FileSource(SessionPool &pool, size_t slot_id, const KeptFile &file, int64_t first)
        : pool_(pool), slot_id_(slot_id), file_(file), at_(first)
    {
    }
    ~FileSource() override { pool_.let_go(slot_id_, file_, !failed_); }
    FileSource(const FileSource &) = delete;
    FileSource &operator=(const FileSource &) = delete;

    int read(char *buffer, int max) override
    {
        std::string why;
        Lease lease = pool_.read_lease(slot_id_, why);
        if (!lease) {
            failed_ = true;
            return -1;
        }
        int n = vnsmb1c_s_read_at(lease.session(), file_.handle, at_, buffer, max);
        if (n > 0)
            at_ += n;
        else if (n < 0)
            failed_ = true;
        return n;
    }

private:
    SessionPool &pool_;
    size_t slot_id_;
    KeptFile file_;
    int64_t at_;
    bool failed_ = false;
};

struct CachedListing {
    Clock::time_point at;
    std::vector<Item> entries;
};

// One server the gateway reaches: its sessions and the listings lately read
// from it.
struct Place {
    Place(const PoolOptions &options, SessionPool::Connect connect, SessionPool::Note note,
          std::vector<std::string> server)
        : pool(options, std::move(connect), std::move(note)), above(std::move(server))
    {
    }
    SessionPool pool;
    // The URL's segments before the share: none for the one server served,
    // the server's name on the network.
    std::vector<std::string> above;
    // Guards the cache alone, never held across a call to the server.
    std::mutex listing_mutex;
    std::map<std::string, CachedListing> listings;
};

// What a request names on a server: the server and the share-qualified path.
struct Where {
    Place *place = nullptr;
    std::vector<std::string> segments;  // the share first

    // The segments as the gateway's URLs name them.
    std::vector<std::string> page_path() const
    {
        std::vector<std::string> out = place->above;
        out.insert(out.end(), segments.begin(), segments.end());
        return out;
    }
};

class Gateway {
public:
    Gateway(const GatewayOptions &options, Upstream upstream)
        : options_(options), upstream_(std::move(upstream)),
          servers_([this](NetServers &found, std::string &why) { return discover(found, why); },
                   std::chrono::duration_cast<std::chrono::milliseconds>(kServerListLife))
    {
        if (!network())
            one_ = std::make_unique<Place>(options_.pool, upstream_.connect,
                                           [this](const std::string &line) { note(line); },
                                           std::vector<std::string>{});
    }

    int run(const std::string &server_name);

private:
    bool network() const { return !upstream_.connect; }
    Root root() const { return network() ? Root::network : Root::shares; }
    void route(const HttpRequest &req, HttpResponse &res);
    void serve_servers(HttpResponse &res, const std::string &format);
    void serve_shares(HttpResponse &res, const Where &where, const std::string &format);
    void serve_folder(const HttpRequest &req, HttpResponse &res, const Where &where, const std::string &format);
    void serve_file(const HttpRequest &req, HttpResponse &res, const Where &where);
    // The playlist of a folder and the folders below it, bounded.
    std::string recursive_m3u(const std::string &origin, const Where &top, std::vector<Item> entries);
    void log(const HttpRequest *req, const std::string &client, int status, int64_t bytes) const;
    void note(const std::string &line) const;
    // Runs the network's discovery, with a log line.
    bool discover(NetServers &found, std::string &why) const;
    // The server a request names on the network, from discovery's list
    // alone; null with the failure to answer.
    Place *place_on_network(const std::string &name, Failure &failure);
    // A session for a request; an empty lease with the failure to answer.
    static Lease session_for(Place &place, SessionPool::Use use, const std::string &path, Failure &failure);

    // Lists the folder (hidden names too); 0 or a failure.
    Failure list(Place &place, const std::string &folder, std::vector<Item> &out);
    // The entry name in folder, from a listing at most kListingLife old.
    Failure look_up(Place &place, const std::string &folder, const std::string &name, Item &out);
    std::string origin(const HttpRequest &req) const;

    // The library's failure in plain words about `what` ("folder",
    // "file", ...), its own text kept in parentheses.
    static Failure library_failure(int rc, const std::string &what);
    static void answer(HttpResponse &res, const Failure &f, const std::string &format);
    static void answer_json(HttpResponse &res, const Failure &f);
    static void answer_text(HttpResponse &res, int status, const std::string &text);
    static void redirect(HttpResponse &res, const std::string &location);

    GatewayOptions options_;
    Upstream upstream_;
    int port_ = 0;
    // The one server served, or none on the network.
    std::unique_ptr<Place> one_;
    // On the network: the servers discovery lists, and those reached so
    // far by their upper-case names (each kept for the gateway's life:
    // leases and streams point at their pools).
    ServerList servers_;
    std::mutex places_mutex_;
    std::map<std::string, std::unique_ptr<Place>> places_;
};

Failure Gateway::library_failure(int rc, const std::string &what)
{
    std::string text = vnsmb1c_last_error();
    if (text.empty())
        text = vnsmb1c_strerror(rc);
    const int status = http_status_for(rc, text);
    std::string plain;
    if (rc == VNSMB1C_ELIMIT && what == "folder")
        plain = "This folder holds more entries than can be listed";
    else if (status == 403)
        plain = "You may not open this " + what;
    else if (status == 404)
        plain = "There is no such " + what;
    else if (status == 504)
        plain = "The server did not answer in time";
    else if (status == 502)
        plain = "The server cannot be reached";
    else if (status == 503)
        plain = "The server is busy; try again in a moment";
    else if (status == 400)
        plain = "The server does not take this name";
    else
        plain = "The server could not answer for this " + what;
    return {rc == VNSMB1C_ELIMIT && what == "folder" ? 507 : status, plain + " (" + printable(text) + ")"};
}

void Gateway::answer(HttpResponse &res, const Failure &f, const std::string &format)
{
    if (format == "json")
        return answer_json(res, f);
    answer_text(res, f.status, f.text);
}

void Gateway::answer_json(HttpResponse &res, const Failure &f)
{
    res.status = f.status;
    if (f.status == 503)
        res.set("Retry-After", "1");
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    w.StartObject();
    w.Key("status");
    w.Int(f.status);
    w.Key("error");
    w.String(f.text.c_str(), static_cast<rapidjson::SizeType>(f.text.size()));
    w.EndObject();
    res.set_body(std::string(buf.GetString(), buf.GetSize()) + "\n", "application/json");
}

void Gateway::answer_text(HttpResponse &res, int status, const std::string &text)
{
    res.status = status;
    if (status == 503)
        res.set("Retry-After", "1");
    std::string body = std::to_string(status) + " " + std::string(reason_phrase(status));
    if (!text.empty())
        body += ": " + text;
    res.set_body(body + "\n", "text/plain; charset=utf-8");
}

void Gateway::redirect(HttpResponse &res, const std::string &location)
{
    res.status = 301;
    res.set("Location", location);
    res.set_body("301 Moved Permanently: " + location + "\n", "text/plain; charset=utf-8");
}

bool Gateway::discover(NetServers &found, std::string &why) const
{
    if (!upstream_.discover(found, why)) {
        note("looking for the servers of the network failed: " + printable(why));
        return false;
    }
    note("the servers of the network looked for: " + std::to_string(found.servers.size()) + " found");
    return true;
}

Place *Gateway::place_on_network(const std::string &name, Failure &failure)
{
    NetServer server;
    std::string why;
    switch (servers_.find(name, server, why)) {
    case ServerList::Found::failed:
        failure = {502, "cannot look for the servers of the network: " + printable(why)};
        return nullptr;
    case ServerList::Found::not_listed:
        failure = {404, "no server \"" + printable(name) + "\" was found on the network"};
        return nullptr;
    case ServerList::Found::yes:
        break;
    }
    std::string key = server.name;
    for (char &c : key)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    std::lock_guard<std::mutex> lock(places_mutex_);
    auto it = places_.find(key);
    if (it != places_.end())
        return it->second.get();
    if (places_.size() >= kServersServed) {
        failure = {503, "the gateway serves " + std::to_string(kServersServed) + " servers at most"};
        return nullptr;
    }
    // The sessions reach the server as discovery found it, never by a name
    // the request gave.
    const std::string prefix = printable(server.name) + ": ";
    auto place = std::make_unique<Place>(
        options_.pool, upstream_.connect_to(server), [this, prefix](const std::string &line) { note(prefix + line); },
        std::vector<std::string>{server.name});
    return places_.emplace(key, std::move(place)).first->second.get();
}

Lease Gateway::session_for(Place &place, SessionPool::Use use, const std::string &path, Failure &failure)
{
    std::string why;
    bool retry = false;
    Lease lease = place.pool.acquire(use, path, why, retry);
    if (!lease)
        failure = retry ? Failure{503, why} : Failure{502, "cannot reach the server: " + printable(why)};
    return lease;
}

Failure Gateway::list(Place &place, const std::string &folder, std::vector<Item> &out)
{
    {
        Failure f;
        Lease lease = session_for(place, SessionPool::Use::page, "", f);
        if (!lease)
            return f;
        if (int n = list_folder(lease.session(), folder, out, true, false); n < 0)
            return library_failure(n, "folder");
    }
    std::lock_guard<std::mutex> lock(place.listing_mutex);
    if (place.listings.size() >= kListingsKept)
        place.listings.clear();
    place.listings[folder] = {Clock::now(), out};
    return {};
}

Failure Gateway::look_up(Place &place, const std::string &folder, const std::string &name, Item &out)
{
    std::vector<Item> entries;
    {
        std::lock_guard<std::mutex> lock(place.listing_mutex);
        auto it = place.listings.find(folder);
        if (it != place.listings.end() && Clock::now() - it->second.at < kListingLife)
            entries = it->second.entries;
    }
    if (entries.empty()) {
        if (Failure f = list(place, folder, entries); f.status != 0)
            return f;
    }
    for (Item &e : entries) {
        if (e.name == name) {
            out = std::move(e);
            return {};
        }
    }
    return {404, "no such file or folder"};
}

std::string Gateway::origin(const HttpRequest &req) const
{
    // The Host was checked before the request got here.
    std::string host(req.header("Host"));
    if (valid_host_header(host))
        return "http://" + host;
    return "http://" + host_port(options_.listen.host, port_);
}

void Gateway::route(const HttpRequest &req, HttpResponse &res)
{
    res.set("X-Content-Type-Options", "nosniff");
    if (req.method != "GET" && req.method != "HEAD") {
        res.set("Allow", "GET, HEAD");
        return answer_text(res, 405, "the gateway is read-only: GET and HEAD only");
    }
    if (req.count("Host") == 1) {
        std::string_view host = req.header("Host");
        if (!valid_host_header(host))
            return answer_text(res, 400, "malformed Host");
        if (!host_allowed(host, options_.listen, options_.allowed_hosts))
            return answer_text(res, 421, "this gateway does not serve the host " + printable(host) +
                                             " (add it with --allow-host)");
    }

    if (options_.auth && !basic_auth_admits(req.header("Authorization"), *options_.auth)) {
        res.set("WWW-Authenticate", "Basic realm=\"vnsmb1c\", charset=\"UTF-8\"");
        return answer_text(res, 401, "this gateway asks for a user name and password");
    }
    std::string_view target = req.target;
    std::string_view query;
    if (auto q = target.find('?'); q != std::string_view::npos) {
        query = target.substr(q + 1);
        target = target.substr(0, q);
    }
    RequestPath path = parse_request_path(target);
    if (path.fault != PathFault::none)
        return answer_text(res, 400, std::string(fault_text(path.fault)));
    // On the network the first segment names the server, the share follows.
    Where where;
    where.segments = path.segments;
    std::string server;
    if (network() && !where.segments.empty()) {
        server = where.segments.front();
        where.segments.erase(where.segments.begin());
    }
    if (!where.segments.empty()) {
        // The library's own rules for shares, names and depth.
        char share[kShareCapacity];
        char rest[kRestCapacity];
        std::string joined = join_path(where.segments, where.segments.size());
        if (vnsmb1c_split_path(joined.c_str(), share, sizeof share, rest, sizeof rest) != 0) {
            std::string why = vnsmb1c_last_error();
            return answer_text(res, 400, why.empty() ? "the path is not valid" : printable(why));
        }
        if (!is_folder_share(where.segments.front()))
            return answer_text(res, 404, "\"" + printable(where.segments.front()) + "\" is not a folder share");
    }
    std::string format = query_value(query, "format");
    if (format.empty() && req.header("Accept").find("application/json") != std::string::npos)
        format = "json";
    if (!format.empty() && format != "html" && format != "json" && format != "m3u")
        return answer_text(res, 400, "format is html, json or m3u");

    if (network() && path.segments.empty())
        return serve_servers(res, format);
    if (network()) {
        Failure f;
        where.place = place_on_network(server, f);
        if (where.place == nullptr)
            return answer(res, f, format);
        if (where.segments.empty() && !path.folder)
            return redirect(res, encode_path(where.place->above, true));
    } else {
        where.place = one_.get();
    }
    if (where.segments.empty())
        return serve_shares(res, where, format);
    if (path.folder)
        return serve_folder(req, res, where, format);
    if (where.segments.size() == 1)
        return redirect(res, encode_path(where.page_path(), true));
    serve_file(req, res, where);
}

void Gateway::serve_servers(HttpResponse &res, const std::string &format)
{
    NetServers found;
    std::string why;
    if (!servers_.servers(found, why))
        return answer(res, {502, "cannot look for the servers of the network: " + printable(why)}, format);
    if (format == "json")
        res.set_body(servers_json(found), "application/json");
    else if (format == "m3u")
        res.set_body("#EXTM3U\n", "audio/x-mpegurl");
    else
        res.set_body(servers_html(found), "text/html; charset=utf-8");
}

void Gateway::serve_shares(HttpResponse &res, const Where &where, const std::string &format)
{
    std::vector<std::string> shares;
    {
        Failure f;
        Lease lease = session_for(*where.place, SessionPool::Use::page, "", f);
        if (!lease)
            return answer_text(res, f.status, f.text);
        int n = vnsmb1c_s_shares(lease.session());
        if (n < 0) {
            f = library_failure(n, "list of shares");
            return answer_text(res, f.status, f.text);
        }
        for (int i = 0; i < n; i++)
            shares.emplace_back(vnsmb1c_s_share_name(lease.session(), i));
    }
    if (format == "json")
        res.set_body(shares_json(shares, where.place->above), "application/json");
    else if (format == "m3u")
        res.set_body("#EXTM3U\n", "audio/x-mpegurl");
    else
        res.set_body(shares_html(shares, where.place->above), "text/html; charset=utf-8");
}

void Gateway::serve_folder(const HttpRequest &req, HttpResponse &res, const Where &where,
                           const std::string &format)
{
    Place &place = *where.place;
    const std::vector<std::string> &segments = where.segments;
    std::vector<Item> entries;
    if (Failure f = list(place, join_path(segments, segments.size()), entries); f.status != 0) {
        // A file asked for as a folder is not found as one.
        Item entry;
        if (f.status != 404 && segments.size() > 1 &&
            look_up(place, join_path(segments, segments.size() - 1), segments.back(), entry).status == 0 &&
            !entry.folder)
            f = {404, "\"" + printable(segments.back()) + "\" is a file, not a folder"};
        return answer(res, f, format);
    }
    std::erase_if(entries, [](const Item &e) { return e.hidden; });
    sort_entries(entries);
    std::string_view target = req.target;
    const bool recursive = target.find('?') != std::string_view::npos &&
                           query_value(target.substr(target.find('?') + 1), "recursive") == "1";
    const std::vector<std::string> page = where.page_path();
    if (format == "json")
        res.set_body(folder_json(page, entries), "application/json");
    else if (format == "m3u" && recursive)
        res.set_body(recursive_m3u(origin(req), where, std::move(entries)), "audio/x-mpegurl");
    else if (format == "m3u")
        res.set_body(folder_m3u(origin(req), page, entries), "audio/x-mpegurl");
    else
        res.set_body(folder_html(page, entries, root()), "text/html; charset=utf-8");
}

void Gateway::serve_file(const HttpRequest &req, HttpResponse &res, const Where &where)
{
    Place &place = *where.place;
    std::string folder = join_path(where.segments, where.segments.size() - 1);
    const std::string &name = where.segments.back();
    Item entry;
    if (Failure f = look_up(place, folder, name, entry); f.status != 0)
        return answer_text(res, f.status, f.text);
    if (entry.folder)
        return redirect(res, encode_path(where.page_path(), true));

    // The player's previous range of this file may have left it open.
    const std::string key = folder + "/" + name;
    Failure failure;
    Lease lease = session_for(place, SessionPool::Use::stream, key, failure);
    if (!lease)
        return answer_text(res, failure.status, failure.text);
    KeptFile &file = lease.file();
    if (file.handle >= 0 && (file.size != entry.size || file.mtime_ms != entry.mtime_ms)) {
        // Changed since: opened afresh.
        vnsmb1c_s_close(lease.session(), file.handle);
        file = {};
    }
    if (file.handle < 0) {
        int handle = vnsmb1c_s_open(lease.session(), folder.c_str(), name.c_str());
        if (handle < 0) {
            Failure f = library_failure(handle, "file");
            return answer_text(res, f.status, f.text);
        }
        // Kept for the next range while the listing says the same size
        // and time.
        file = {key, handle, vnsmb1c_s_size(lease.session(), handle), entry.mtime_ms, {}};
        if (file.size < 0) {
            Failure f = library_failure(static_cast<int>(file.size), "file");
            return answer_text(res, f.status, f.text);
        }
    }
    const int64_t size = file.size;
    const std::string tag = entity_tag(size, entry.mtime_ms);
    res.set("Accept-Ranges", "bytes");
    res.set("ETag", tag);
    if (entry.mtime_ms > 0)
        res.set("Last-Modified", http_date(entry.mtime_ms));
    if (not_modified(req.header("If-None-Match"), req.header("If-Modified-Since"), tag, entry.mtime_ms)) {
        lease.keep(file);
        res.status = 304;
        return;
    }
    const std::string type(mime_type_for(name).type);

    RangeAnswer range = range_still_applies(req.header("If-Range"), tag, entry.mtime_ms)
                            ? resolve_range(req.header("Range"), size)
                            : resolve_range("", size);
    if (range.kind == RangeAnswer::Kind::unsatisfiable) {
        lease.keep(file);
        res.set("Content-Range", content_range(range, size));
        return answer_text(res, 416, "the range lies outside the file of " + std::to_string(size) + " bytes");
    }
    int64_t first = 0;
    int64_t length = size;
    if (range.kind == RangeAnswer::Kind::partial) {
        res.status = 206;
        res.set("Content-Range", content_range(range, size));
        first = range.first;
        length = range.length;
    } else {
        res.status = 200;
    }
    res.set("Content-Type", type);
    res.length = length;
    if (length == 0 || req.method == "HEAD") {
        // The headers alone: HEAD sends no body, and an empty file has none.
        lease.keep(file);
        return;
    }
    // A failed read or a client that went away ends the answer.
    const KeptFile streamed = file;
    place.pool.hold(lease);
    res.source = std::make_shared<FileSource>(place.pool, lease.slot_id(), streamed, first);
}

std::string Gateway::recursive_m3u(const std::string &origin, const Where &where, std::vector<Item> entries)
{
    const std::vector<std::string> &top = where.segments;
    const std::vector<std::string> &above = where.place->above;
    struct Folder {
        std::vector<std::string> segments;
        std::vector<Item> entries;  // sorted, hidden names left out
    };
    std::string out = "#EXTM3U\n";
    std::string cut;
    bool too_deep = false;
    size_t files = 0;
    size_t folders = 1;
    // Depth first, each folder's files before its subfolders, in page order.
    std::vector<Folder> stack;
    stack.push_back({top, std::move(entries)});
    while (!stack.empty() && cut.empty()) {
        Folder f = std::move(stack.back());
        stack.pop_back();
        std::vector<Item> here;
        for (const Item &e : f.entries)
            if (!e.folder) {
                if (files == kPlaylistFiles) {
                    cut = "more than " + std::to_string(kPlaylistFiles) + " files";
                    break;
                }
                here.push_back(e);
                files++;
            }
        std::vector<std::string> page = above;
        page.insert(page.end(), f.segments.begin(), f.segments.end());
        std::string part = folder_m3u(origin, page, here);
        out.append(part, part.find('\n') + 1, std::string::npos);
        if (!cut.empty())
            break;
        const size_t depth = f.segments.size() - top.size();
        for (auto e = f.entries.rbegin(); e != f.entries.rend(); ++e) {
            if (!e->folder)
                continue;
            if (depth + 1 > kPlaylistDepth) {
                too_deep = true;
                continue;
            }
            if (folders == kPlaylistFolders) {
                cut = "more than " + std::to_string(kPlaylistFolders) + " folders";
                break;
            }
            std::vector<std::string> below = f.segments;
            below.push_back(e->name);
            std::vector<Item> listed;
            folders++;
            // A folder that cannot be listed (access denied) is left out.
            if (list(*where.place, join_path(below, below.size()), listed).status != 0)
                continue;
            std::erase_if(listed, [](const Item &d) { return d.hidden; });
            sort_entries(listed);
            stack.push_back({std::move(below), std::move(listed)});
        }
    }
    if (too_deep)
        cut += (cut.empty() ? "" : "; ") + std::string("folders deeper than ") + std::to_string(kPlaylistDepth) +
               " levels left out";
    if (!cut.empty())
        out += "# the playlist was cut: " + cut + "\n";
    return out;
}

void Gateway::log(const HttpRequest *req, const std::string &client, int status, int64_t bytes) const
{
    // Bounded: the method and the target are cut, never the line's end.
    auto cut = [](std::string_view s, size_t max) {
        std::string p = printable(s.substr(0, max));
        return s.size() > max ? p + "..." : p;
    };
    std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::fprintf(stderr, "vnsmb1c: %s %s %s %s %d %lld\n", when, cut(client, 64).c_str(),
                 req ? cut(req->method, 16).c_str() : "-", req ? cut(req->target, 256).c_str() : "-", status,
                 static_cast<long long>(bytes));
}

void Gateway::note(const std::string &line) const
{
    if (!options_.quiet)
        std::fprintf(stderr, "vnsmb1c: %s\n", line.c_str());
}

int Gateway::run(const std::string &server_name)
{
    HttpServer server(
        options_.limits, options_.pool.max_sessions + kSpareWorkers, [this](const HttpRequest &req, HttpResponse &res) { route(req, res); },
        [this](const HttpRequest *req, const std::string &client, int status, int64_t bytes) {
            if (!options_.quiet)
                log(req, client, status, bytes);
        });

    const ListenAddress &l = options_.listen;
    std::string why;
    port_ = server.bind(l.host, l.port, why);
    if (port_ <= 0) {
        std::fprintf(stderr, "vnsmb1c: cannot listen on %s: %s\n", host_port(l.host, l.port).c_str(), why.c_str());
        return kExitCannotListen;
    }
    if (!is_loopback(l.host) && options_.auth)
        std::fprintf(stderr, "vnsmb1c: listening on %s, which other machines can reach; clients must give the "
                             "user name and password of the authentication file (sent in the clear over HTTP)\n",
                     host_port(l.host, port_).c_str());
    else if (!is_loopback(l.host))
        std::fprintf(stderr, "vnsmb1c: warning: listening on %s, which other machines can reach; anyone who "
                             "reaches it reads the shares as this user\n",
                     host_port(l.host, port_).c_str());
    // A page and a player's first ranges find their sessions logged on.
    if (one_)
        one_->pool.warm(kWarmSessions);
    std::printf("vnsmb1c: serving %s on http://%s/\n", printable(server_name).c_str(), host_port(l.host, port_).c_str());
    if (!options_.start_share.empty())
        std::printf("vnsmb1c: the share %s is at http://%s%s\n", printable(options_.start_share).c_str(),
                    host_port(l.host, port_).c_str(), encode_path({options_.start_share}, true).c_str());
    std::fflush(stdout);
    server.run();
    return 0;
}

}  // namespace

int run_gateway(const GatewayOptions &options, const std::string &server_name, Upstream upstream)
{
    Gateway gateway(options, std::move(upstream));
    return gateway.run(server_name);
}

}  // namespace serve
