#include "pages.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "http_text.h"
#include "mime_types.h"
#include "name_order.h"
#include "request_path.h"

namespace serve {

namespace {

constexpr char kStyle[] =
    "body{font:15px/1.45 system-ui,sans-serif;margin:1.5em;color:#222}"
    "table{border-collapse:collapse}td,th{padding:.15em .9em .15em 0;text-align:left}"
    "td.s{text-align:right;font-variant-numeric:tabular-nums}th{border-bottom:1px solid #ccc}"
    "a{text-decoration:none}a:hover{text-decoration:underline}";

// The UTC fields of t; false when t has none.
bool utc_fields(std::time_t t, std::tm &out)
{
#ifdef _WIN32
    return gmtime_s(&out, &t) == 0;
#else
    return gmtime_r(&t, &out) != nullptr;
#endif
}

std::string page_head(const std::string &title, const std::string &heading)
{
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\"><title>" +
           title + "</title><style>" + kStyle + "</style></head><body>\n<h1>" + heading + "</h1>\n";
}

std::string page_head(const std::string &title)
{
    return page_head(title, title);
}

// "Shares / Media / Movies /": each step a link but the folder itself.
std::string breadcrumbs(const std::vector<std::string> &folder, Root root)
{
    const std::string top = root == Root::network ? "Network" : "Shares";
    std::string out = folder.empty() ? top : "<a href=\"/\">" + top + "</a>";
    for (size_t i = 0; i < folder.size(); i++) {
        out += " / ";
        if (i + 1 < folder.size()) {
            std::vector<std::string> up(folder.begin(), folder.begin() + static_cast<std::ptrdiff_t>(i + 1));
            out += "<a href=\"" + html_escape(encode_path(up, true)) + "\">" + html_escape(folder[i]) + "</a>";
        } else {
            out += html_escape(folder[i]);
        }
    }
    return out + " /";
}

std::string utc_minutes(int64_t mtime_ms)
{
    if (mtime_ms <= 0)
        return "";
    std::time_t t = static_cast<std::time_t>(mtime_ms / 1000);
    std::tm tm{};
    if (!utc_fields(t, tm))
        return "";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

// Control bytes as '?': a playlist line must stay one line.
std::string one_line(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return out;
}

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void json_string(JsonWriter &w, std::string_view s)
{
    w.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
}

}  // namespace

std::string html_escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void sort_entries(std::vector<Item> &entries)
{
    std::stable_sort(entries.begin(), entries.end(), [](const Item &a, const Item &b) {
        if (a.folder != b.folder)
            return a.folder;
        return name_order::compare(a.name, b.name) < 0;
    });
}

std::string folder_html(const std::vector<std::string> &folder, const std::vector<Item> &entries, Root root)
{
    std::string title = html_escape("/" + join_path(folder, folder.size()) + "/");
    std::string out = page_head(title, breadcrumbs(folder, root));
    out.reserve(out.size() + entries.size() * 160);
    std::vector<std::string> parent(folder.begin(), folder.end() - (folder.empty() ? 0 : 1));
    out += "<table>\n<tr><th>Name</th><th>Size</th><th>Modified (UTC)</th></tr>\n";
    out += "<tr><td><a href=\"" + html_escape(encode_path(parent, true)) + "\">../</a></td><td></td><td></td></tr>\n";
    std::vector<std::string> path = folder;
    path.emplace_back();
    for (const Item &e : entries) {
        path.back() = e.name;
        out += "<tr><td><a href=\"";
        out += html_escape(encode_path(path, e.folder));
        out += "\">";
        out += html_escape(e.name);
        out += e.folder ? "/" : "";
        out += "</a></td><td class=\"s\">";
        out += e.folder ? "" : size_text(e.size);
        out += "</td><td>";
        out += utc_minutes(e.mtime_ms);
        out += "</td></tr>\n";
    }
    out += "</table>\n<p><a href=\"?format=m3u\">Playlist</a> &middot; <a href=\"?format=json\">JSON</a></p>\n"
           "</body></html>\n";
    return out;
}

std::string folder_json(const std::vector<std::string> &folder, const std::vector<Item> &entries)
{
    rapidjson::StringBuffer buf;
    JsonWriter w(buf);
    w.StartObject();
    w.Key("path");
    json_string(w, "/" + join_path(folder, folder.size()) + "/");
    w.Key("items");
    w.StartArray();
    std::vector<std::string> path = folder;
    path.emplace_back();
    for (const Item &e : entries) {
        path.back() = e.name;
        w.StartObject();
        w.Key("name");
        json_string(w, e.name);
        w.Key("folder");
        w.Bool(e.folder);
        w.Key("size");
        w.Int64(e.folder ? -1 : e.size);  // as the library's item JSON
        w.Key("mtime_ms");
        w.Int64(e.mtime_ms);
        w.Key("url");
        json_string(w, encode_path(path, e.folder));
        if (!e.folder) {
            w.Key("type");
            json_string(w, mime_type_for(e.name).type);
        }
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return std::string(buf.GetString(), buf.GetSize()) + "\n";
}

std::string folder_m3u(std::string_view origin, const std::vector<std::string> &folder,
                       const std::vector<Item> &entries)
{
    std::string out = "#EXTM3U\n";
    std::vector<std::string> path = folder;
    path.emplace_back();
    for (const Item &e : entries) {
        if (e.folder || !is_playable(mime_type_for(e.name).kind))
            continue;
        path.back() = e.name;
        out += "#EXTINF:-1," + one_line(e.name) + "\n";
        out += std::string(origin) + encode_path(path, false) + "\n";
    }
    return out;
}

std::string shares_html(const std::vector<std::string> &shares, const std::vector<std::string> &server)
{
    std::string out = server.empty() ? page_head("Shares")
                                     : page_head(html_escape(join_path(server, server.size())),
                                                 breadcrumbs(server, Root::network));
    out += "<ul>\n";
    std::vector<std::string> path = server;
    path.emplace_back();
    for (const std::string &s : shares) {
        path.back() = s;
        out += "<li><a href=\"" + html_escape(encode_path(path, true)) + "\">" + html_escape(s) + "/</a></li>\n";
    }
    out += "</ul>\n</body></html>\n";
    return out;
}

std::string shares_json(const std::vector<std::string> &shares, const std::vector<std::string> &server)
{
    rapidjson::StringBuffer buf;
    JsonWriter w(buf);
    w.StartObject();
    w.Key("shares");
    w.StartArray();
    std::vector<std::string> path = server;
    path.emplace_back();
    for (const std::string &s : shares) {
        path.back() = s;
        w.StartObject();
        w.Key("name");
        json_string(w, s);
        w.Key("url");
        json_string(w, encode_path(path, true));
        w.EndObject();
    }
    w.EndArray();
    w.EndObject();
    return std::string(buf.GetString(), buf.GetSize()) + "\n";
}

std::string servers_html(const NetServers &found)
{
    std::string out = page_head("Network");
    out += "<table>\n<tr><th>Server</th><th>Workgroup</th><th>Comment</th></tr>\n";
    for (const NetServer &s : found.servers) {
        out += "<tr><td><a href=\"" + html_escape(encode_path({s.name}, true)) + "\">" + html_escape(s.name) +
               "/</a></td><td>" + html_escape(s.workgroup) + "</td><td>" + html_escape(s.comment) + "</td></tr>\n";
    }
    out += "</table>\n";
    if (found.servers.empty())
        out += "<p>No SMB server was found.</p>\n";
    for (const std::string &note : found.notes)
        out += "<p>" + html_escape(note) + "</p>\n";
    out += "</body></html>\n";
    return out;
}

std::string servers_json(const NetServers &found)
{
    rapidjson::StringBuffer buf;
    JsonWriter w(buf);
    w.StartObject();
    w.Key("servers");
    w.StartArray();
    for (const NetServer &s : found.servers) {
        w.StartObject();
        w.Key("name");
        json_string(w, s.name);
        w.Key("workgroup");
        json_string(w, s.workgroup);
        w.Key("comment");
        json_string(w, s.comment);
        w.Key("url");
        json_string(w, encode_path({s.name}, true));
        w.EndObject();
    }
    w.EndArray();
    w.Key("notes");
    w.StartArray();
    for (const std::string &note : found.notes)
        json_string(w, note);
    w.EndArray();
    w.EndObject();
    return std::string(buf.GetString(), buf.GetSize()) + "\n";
}

std::string http_date(int64_t mtime_ms)
{
    static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    std::time_t t = static_cast<std::time_t>(mtime_ms / 1000);
    std::tm tm{};
    if (!utc_fields(t, tm))
        return "";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7], tm.tm_mday,
                  kHttpMonths[tm.tm_mon % 12].data(), tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string entity_tag(int64_t size, int64_t mtime_ms)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "\"%" PRIx64 "-%" PRIx64 "\"", static_cast<uint64_t>(size),
                  static_cast<uint64_t>(mtime_ms));
    return buf;
}

std::string size_text(int64_t bytes)
{
    static constexpr const char *kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024)
        return std::to_string(bytes < 0 ? 0 : bytes) + " B";
    double v = static_cast<double>(bytes);
    size_t unit = 0;
    while (v >= 1024 && unit + 1 < std::size(kUnits)) {
        v /= 1024;
        unit++;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, v < 10 ? "%.1f %s" : "%.0f %s", v, kUnits[unit]);
    return buf;
}

}  // namespace serve
