// The host's folder-access backend "smb1": one process-wide instance that
// holds its connection from open to close, fetches each folder once and
// pages it out of a parsed copy.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "sess/session_state.h"
#include "util/json.h"
#include "vnsmb1c.h"

namespace {

using Document = rapidjson::Document;
constexpr unsigned kParseFlags = rapidjson::kParseValidateEncodingFlag;

struct AdapterState {
    int32_t connected;
    char share[82];
    char cached_path[1026];
    Document *cached_listing;
    uint64_t cached_count;
    char cursor_text[32];
    char *stat_name;
    char *stat_path;
    char *stat_locator;
};

AdapterState g_f;
vnsmb1c_FolderBackend g_backend;

constexpr int kStatus[12] = {10, 5, 5, 6, 9, 9, 2, 3, 4, 5, 5, 0};  // ResultCode -11..0

int to_status(int64_t rc)
{
    return rc >= -11 && rc <= 0 ? kStatus[rc + 11] : 5;
}

bool is_top(const char *path)
{
    return path == nullptr || path[0] == '\0' || std::strcmp(path, "/") == 0;
}

void drop_listing()
{
    delete g_f.cached_listing;
    g_f.cached_listing = nullptr;
    g_f.cached_path[0] = '\0';
    g_f.cached_count = 0;
}

void release_stat_copies()
{
    std::free(g_f.stat_name);
    std::free(g_f.stat_path);
    std::free(g_f.stat_locator);
    g_f.stat_name = g_f.stat_path = g_f.stat_locator = nullptr;
}

// Ends whatever open started; shared by open and close.
void reset_backend()
{
    drop_listing();
    release_stat_copies();
    if (g_f.connected != 0) {
        vnsmb1c_disconnect();
        g_f.connected = 0;
    }
    g_f.share[0] = '\0';
}

void copy_cut(char *dst, size_t capacity, const char *src)
{
    std::snprintf(dst, capacity, "%s", src);
}

// "smb1://" host [":" port] "/" share "/" location, cut to fit: the file
// as the server was asked for it, so a path given relative to the selected
// share still names that share.
void compose_locator(const char *location, char (&out)[2112])
{
    while (*location == '/' || *location == '\\')
        location++;
    if (g_s.port != 0)
        std::snprintf(out, sizeof out, "smb1://%s:%d/%s/%s", g_s.host, static_cast<int>(g_s.port), g_f.share,
                      location);
    else
        std::snprintf(out, sizeof out, "smb1://%s/%s/%s", g_s.host, g_f.share, location);
}

const char *after_last_slash(const char *location)
{
    const char *slash = std::strrchr(location, '/');
    return slash != nullptr ? slash + 1 : location;
}

char *dup_text(const char *text)
{
    size_t len = std::strlen(text);
    auto *copy = static_cast<char *>(std::malloc(len + 1));
    if (copy != nullptr)
        std::memcpy(copy, text, len + 1);
    return copy;
}

// The location inside the selected share for stat and locator: the rest of a
// path that begins with the share and a slash, otherwise the path itself.
// 0, or a status.
int location_in_share(const char *path, char (&location)[1026])
{
    const char *slash = std::strchr(path, '/');
    size_t share_len = std::strlen(g_f.share);
    if (slash != nullptr && static_cast<size_t>(slash - path) == share_len &&
        std::strncmp(path, g_f.share, share_len) == 0) {
        char share[82];
        if (vnsmb1c_split_path(path, share, sizeof share, location, sizeof location) != 0)
            return VNSMB1C_FFA_NOTFOUND;
        return VNSMB1C_FFA_OK;
    }
    copy_cut(location, sizeof location, path);
    return VNSMB1C_FFA_OK;
}

int fill_folder_entry(vnsmb1c_FolderEntry *entry)
{
    if (g_f.stat_name == nullptr || g_f.stat_path == nullptr)
        return VNSMB1C_FFA_NOMEM;
    entry->name = g_f.stat_name;
    entry->path = g_f.stat_path;
    entry->is_folder = 1;
    entry->flags = 0;
    entry->size = -1;
    entry->mtime_ms = -1;
    return VNSMB1C_FFA_OK;
}

int stat_folder(const char *name, const char *path, vnsmb1c_FolderEntry *entry)
{
    release_stat_copies();
    g_f.stat_name = dup_text(name);
    g_f.stat_path = dup_text(path);
    return fill_folder_entry(entry);
}

// Opens a file inside the selected share to learn its size. The handle's
// result (negative when the open failed) goes to *handle, the size (or a
// negative ResultCode) is returned.
int64_t file_size(const char *location, int *handle)
{
    *handle = vnsmb1c_open(g_f.share, location);
    if (*handle < 0)
        return *handle;
    int64_t size = vnsmb1c_size(*handle);
    vnsmb1c_close(*handle);
    return size;
}

uint64_t items_length(const Document &doc)
{
    if (!doc.IsObject())
        return 0;
    auto items = doc.FindMember("items");
    if (items == doc.MemberEnd() || !items->value.IsArray())
        return 0;
    return items->value.Size();
}

Document *parse_listing(const char *text)
{
    auto *doc = new (std::nothrow) Document;
    if (doc == nullptr)
        return nullptr;
    vnb_json_parse<kParseFlags>(*doc, text);
    if (doc->HasParseError()) {
        delete doc;
        return nullptr;
    }
    return doc;
}

// {"items":[{"name":share,"path":share,"folder":true,"size":-1},...]}
Document *share_listing(int count)
{
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> w(out);
    bool ok = w.StartObject() && w.Key("items") && w.StartArray();
    for (int i = 0; ok && i < count; i++) {
        const char *name = vnsmb1c_share_name(i);
        ok = w.StartObject() && w.Key("name") && w.String(name) && w.Key("path") && w.String(name) &&
             w.Key("folder") && w.Bool(true) && w.Key("size") && w.Int(-1) && w.EndObject();
    }
    ok = ok && w.EndArray() && w.EndObject();
    return ok ? parse_listing(out.GetString()) : nullptr;
}

// Fetches the listing of path into the cache. 0, or a status.
int build_listing(const char *path)
{
    Document *doc = nullptr;
    if (g_f.share[0] != '\0') {
        char folder[1026];
        if (std::strpbrk(path, "/\\") == nullptr) {
            copy_cut(folder, sizeof folder, path);
        } else {
            char share[82];
            if (vnsmb1c_split_path(path, share, sizeof share, folder, sizeof folder) != 0 ||
                std::strcmp(share, g_f.share) != 0)
                return VNSMB1C_FFA_NOTFOUND;
        }
        int rc = vnsmb1c_list(g_f.share, folder);
        if (rc < 0)
            return to_status(rc);
        doc = parse_listing(vnsmb1c_list_json());
    } else {
        int rc = vnsmb1c_shares();
        if (rc < 0)
            return to_status(rc);
        doc = share_listing(rc);
    }
    if (doc == nullptr)
        return VNSMB1C_FFA_NOMEM;
    g_f.cached_listing = doc;
    copy_cut(g_f.cached_path, sizeof g_f.cached_path, path);
    g_f.cached_count = items_length(*doc);
    return VNSMB1C_FFA_OK;
}

void fill_list_entry(const rapidjson::Value &item, vnsmb1c_FolderEntry *entry)
{
    entry->flags = 0;
    entry->name = nullptr;
    entry->path = nullptr;
    entry->is_folder = 0;
    entry->size = -1;
    entry->mtime_ms = -1;
    if (!item.IsObject())
        return;
    auto member = item.FindMember("name");
    if (member != item.MemberEnd() && member->value.IsString())
        entry->name = member->value.GetString();
    member = item.FindMember("path");
    if (member != item.MemberEnd() && member->value.IsString())
        entry->path = member->value.GetString();
    member = item.FindMember("folder");
    if (member != item.MemberEnd() && member->value.IsBool())
        entry->is_folder = member->value.GetBool() ? 1 : 0;
    member = item.FindMember("size");
    if (member != item.MemberEnd() && member->value.IsInt64() && member->value.GetInt64() >= 0) {
        entry->size = member->value.GetInt64();
        entry->flags |= VNSMB1C_FFA_SIZE_VALID;
    }
    member = item.FindMember("mtime_ms");
    if (member != item.MemberEnd() && member->value.IsInt64() && member->value.GetInt64() >= 0) {
        entry->mtime_ms = member->value.GetInt64();
        entry->flags |= VNSMB1C_FFA_MTIME_VALID;
    }
    member = item.FindMember("locator");
    if (member != item.MemberEnd() && member->value.IsString()) {
        entry->locator = member->value.GetString();
        entry->flags |= VNSMB1C_FFA_LOCATOR_VALID;
    }
}

int f_open(void *, const char *settings)
{
    reset_backend();
    if (settings == nullptr)
        return VNSMB1C_FFA_BADSETTINGS;
    {
        Document doc;
        vnb_json_parse<kParseFlags>(doc, settings);
        if (!doc.HasParseError() && doc.IsObject()) {
            auto path = doc.FindMember("Path");
            if (path != doc.MemberEnd() && path->value.IsString() && path->value.GetStringLength() > 0 &&
                vnsmb1c_split_path(path->value.GetString(), g_f.share, sizeof g_f.share, nullptr, 0) != 0) {
                g_f.share[0] = '\0';
                return VNSMB1C_FFA_BADSETTINGS;
            }
        }
    }
    int rc = vnsmb1c_connect_json(settings);
    if (rc != 0)
        return to_status(rc);
    g_f.connected = 1;
    return VNSMB1C_FFA_OK;
}

int f_list(void *, const char *path_in, vnsmb1c_ListRequest *request)
{
    const char *path = is_top(path_in) ? "" : path_in;
    if (g_f.connected == 0)
        return VNSMB1C_FFA_NOCONN;
    if (request == nullptr || (request->entries == nullptr && request->capacity != 0))
        return VNSMB1C_FFA_INVALID;
    if (g_f.share[0] == '\0' && path[0] != '\0') {
        if (vnsmb1c_split_path(path, g_f.share, sizeof g_f.share, nullptr, 0) != 0) {
            g_f.share[0] = '\0';
            return VNSMB1C_FFA_NOTFOUND;
        }
        drop_listing();
    }

    uint64_t start = 0;
    bool reuse = g_f.cached_listing != nullptr && std::strcmp(g_f.cached_path, path) == 0;
    const char *cursor = request->cursor;
    if (cursor != nullptr && cursor[0] != '\0') {
        char *end = nullptr;
        start = std::strtoul(cursor, &end, 10);
        reuse = reuse && *end == '\0';
    }
    if (!reuse)
        drop_listing();
    if (g_f.cached_listing == nullptr) {
        int status = build_listing(path);
        if (status != VNSMB1C_FFA_OK)
            return status;
    }

    request->count = 0;
    request->has_more = 0;
    request->next_cursor = nullptr;
    if (start >= g_f.cached_count)
        return VNSMB1C_FFA_OK;
    const rapidjson::Value &items = (*g_f.cached_listing)["items"];
    uint64_t k = start;
    // capacity may be huge: stop at the end of the items first.
    uint64_t stop = request->capacity < g_f.cached_count - start ? start + request->capacity : g_f.cached_count;
    for (; k < stop; k++) {
        if (request->cancel != nullptr && *request->cancel != 0)
            return VNSMB1C_FFA_CANCELLED;
        fill_list_entry(items[static_cast<rapidjson::SizeType>(k)], &request->entries[request->count]);
        request->count++;
    }
    if (k < g_f.cached_count) {
        request->has_more = 1;
        std::snprintf(g_f.cursor_text, sizeof g_f.cursor_text, "%lu", static_cast<unsigned long>(k));
        request->next_cursor = g_f.cursor_text;
    }
    return VNSMB1C_FFA_OK;
}

int f_stat(void *, const char *path, vnsmb1c_FolderEntry *entry)
{
    if (g_f.connected == 0)
        return VNSMB1C_FFA_NOCONN;
    if (entry == nullptr)
        return VNSMB1C_FFA_INVALID;
    if (is_top(path))
        return stat_folder("", "/", entry);
    if (g_f.share[0] == '\0') {
        char share[82];
        char rest[1026];
        if (vnsmb1c_split_path(path, share, sizeof share, rest, sizeof rest) != 0 || rest[0] != '\0')
            return VNSMB1C_FFA_NOTFOUND;
        return stat_folder(share, path, entry);
    }
    char location[1026];
    int status = location_in_share(path, location);
    if (status != VNSMB1C_FFA_OK)
        return status;
    if (location[0] == '\0')
        return stat_folder(g_f.share, path, entry);

    int handle = 0;
    int64_t size = file_size(location, &handle);
    if (handle > 0) {
        if (size < 0)
            return to_status(size);
        release_stat_copies();
        char text[2112];
        compose_locator(location, text);
        g_f.stat_name = dup_text(after_last_slash(location));
        g_f.stat_path = dup_text(path);
        g_f.stat_locator = dup_text(text);
        if (g_f.stat_name == nullptr || g_f.stat_path == nullptr || g_f.stat_locator == nullptr)
            return VNSMB1C_FFA_NOMEM;
        entry->name = g_f.stat_name;
        entry->path = g_f.stat_path;
        entry->is_folder = 0;
        entry->locator = g_f.stat_locator;
        entry->flags = VNSMB1C_FFA_SIZE_VALID | VNSMB1C_FFA_LOCATOR_VALID;
        entry->size = size;
        entry->mtime_ms = -1;
        return VNSMB1C_FFA_OK;
    }
    int rc = vnsmb1c_list(g_f.share, location);
    if (rc < 0)
        return to_status(rc);
    return stat_folder(after_last_slash(location), path, entry);
}

int f_locator(void *, const char *path, char *buffer, size_t capacity)
{
    if (g_f.connected == 0)
        return VNSMB1C_FFA_NOCONN;
    if (capacity == 0 || buffer == nullptr || is_top(path))
        return VNSMB1C_FFA_INVALID;
    if (g_f.share[0] == '\0')
        return VNSMB1C_FFA_NOTFOUND;
    char location[1026];
    int status = location_in_share(path, location);
    if (status != VNSMB1C_FFA_OK)
        return status;
    if (location[0] == '\0')
        return VNSMB1C_FFA_NOTFOUND;
    int handle = 0;
    int64_t size = file_size(location, &handle);
    if (size < 0)
        return to_status(size);
    char text[2112];
    compose_locator(location, text);
    size_t len = std::strlen(text);
    if (capacity < len + 1)
        return VNSMB1C_FFA_INVALID;
    std::memcpy(buffer, text, len + 1);
    return VNSMB1C_FFA_OK;
}

void f_close(void *)
{
    reset_backend();
}

}  // namespace

extern "C" VNSMB1C_API const vnsmb1c_FolderBackend *vnsmb1c_vnffa_backend(void)
{
    g_backend.size = sizeof g_backend;
    g_backend.name = "smb1";
    g_backend.version = 2;
    g_backend.context = &g_f;
    g_backend.open = f_open;
    g_backend.list = f_list;
    g_backend.stat = f_stat;
    g_backend.locator = f_locator;
    g_backend.close = f_close;
    return &g_backend;
}
