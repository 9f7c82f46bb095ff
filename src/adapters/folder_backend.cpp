// The host's folder-access backend "smb1": an instance, reached through the
// table's context, that holds a session from open to close (taken from the
// host tables' pool and put back at close), fetches each folder once and
// pages it out of the entries it keeps.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "adapters/folder_backend.h"
#include "adapters/locator.h"
#include "api/connect.h"
#include "api/session_ops.h"
#include "api/session_pool.h"
#include "crypto/crypto.h"
#include "util/json.h"
#include "vnsmb1c.h"

namespace {

using Document = rapidjson::Document;
constexpr unsigned kParseFlags = rapidjson::kParseValidateEncodingFlag;

struct AdapterState {
    // One call at a time on the instance; other sessions never wait for it.
    std::mutex busy;
    SessionLease lease;
    char share[82];
    char cached_path[1026];
    bool cached;
    std::vector<DirEntry> cached_items;
    char cursor_text[32];
    char *stat_name;
    char *stat_path;
    char *stat_locator;
};

vnsmb1c_FolderBackend g_backend;

AdapterState &state_of(void *context)
{
    return *static_cast<AdapterState *>(context);
}

constexpr int kStatus[12] = {10, 5, 5, 6, 9, 9, 2, 3, 4, 5, 5, 0};  // ResultCode -11..0

int to_status(int64_t rc)
{
    if (rc == -12)
        return VNSMB1C_FFA_CANCELLED;
    return rc >= -11 && rc <= 0 ? kStatus[rc + 11] : 5;
}

bool is_top(const char *path)
{
    return path == nullptr || path[0] == '\0' || std::strcmp(path, "/") == 0;
}

void drop_listing(AdapterState &f)
{
    f.cached = false;
    f.cached_items.clear();
    f.cached_path[0] = '\0';
}

void release_stat_copies(AdapterState &f)
{
    std::free(f.stat_name);
    std::free(f.stat_path);
    std::free(f.stat_locator);
    f.stat_name = f.stat_path = f.stat_locator = nullptr;
}

// Ends whatever open started; shared by open and close.
void reset_backend(AdapterState &f)
{
    drop_listing(f);
    release_stat_copies(f);
    f.lease.release();
    f.share[0] = '\0';
}

void copy_cut(char *dst, size_t capacity, const char *src)
{
    std::snprintf(dst, capacity, "%s", src);
}

// "smb1://" host [":" port] "/" share "/" location, cut to fit: the file
// as the server was asked for it, so a path given relative to the selected
// share still names that share. An IPv6 host goes in brackets.
void compose_locator(AdapterState &f, const char *location, char (&out)[2112])
{
    while (*location == '/' || *location == '\\')
        location++;
    const Session &s = f.lease.s();
    std::string tail = std::string(f.share) + "/" + location;
    vnb_smb1_locator(out, sizeof out, s.host, s.port, tail);
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
int location_in_share(AdapterState &f, const char *path, char (&location)[1026])
{
    const char *slash = std::strchr(path, '/');
    size_t share_len = std::strlen(f.share);
    if (slash != nullptr && static_cast<size_t>(slash - path) == share_len &&
        std::strncmp(path, f.share, share_len) == 0) {
        char share[82];
        if (vnsmb1c_split_path(path, share, sizeof share, location, sizeof location) != 0)
            return VNSMB1C_FFA_NOTFOUND;
        return VNSMB1C_FFA_OK;
    }
    copy_cut(location, sizeof location, path);
    return VNSMB1C_FFA_OK;
}

int fill_folder_entry(AdapterState &f, vnsmb1c_FolderEntry *entry)
{
    if (f.stat_name == nullptr || f.stat_path == nullptr)
        return VNSMB1C_FFA_NOMEM;
    entry->name = f.stat_name;
    entry->path = f.stat_path;
    entry->is_folder = 1;
    entry->flags = 0;
    entry->size = -1;
    entry->mtime_ms = -1;
    return VNSMB1C_FFA_OK;
}

int stat_folder(AdapterState &f, const char *name, const char *path, vnsmb1c_FolderEntry *entry)
{
    release_stat_copies(f);
    f.stat_name = dup_text(name);
    f.stat_path = dup_text(path);
    return fill_folder_entry(f, entry);
}

// Opens a file inside the selected share to learn its size. The handle's
// result (negative when the open failed) goes to *handle, the size (or a
// negative ResultCode) is returned.
int64_t file_size(AdapterState &f, const char *location, int *handle)
{
    int64_t size = -1;
    int32_t rc = f.lease.run([&f, location, handle, &size](Session &s) {
        *handle = vnb_open(s, f.share, location);
        if (*handle < 0)
            return *handle;
        size = vnb_size(s, *handle);
        vnb_close(s, *handle);
        return 0;
    });
    return rc < 0 ? rc : size;
}

// A folder entry for each share.
std::vector<DirEntry> share_entries(const Session &s, int count)
{
    std::vector<DirEntry> out;
    for (int i = 0; i < count; i++) {
        const char *name = vnb_share_name(s, i);
        out.push_back(DirEntry{name, name, true, -1, -1, false});
    }
    return out;
}

// Fetches the listing of path into the cache. 0, or a status.
int build_listing(AdapterState &f, const char *path)
{
    if (f.share[0] != '\0') {
        char folder[1026];
        if (std::strpbrk(path, "/\\") == nullptr) {
            copy_cut(folder, sizeof folder, path);
        } else {
            char share[82];
            if (vnsmb1c_split_path(path, share, sizeof share, folder, sizeof folder) != 0 ||
                std::strcmp(share, f.share) != 0)
                return VNSMB1C_FFA_NOTFOUND;
        }
        int rc = f.lease.run([&f, &folder](Session &s) { return vnb_list(s, f.share, folder); });
        if (rc < 0)
            return to_status(rc);
        f.cached_items = std::move(f.lease.s().listing.items);
        f.lease.s().listing = Listing{};
    } else {
        int rc = f.lease.run([](Session &s) { return vnb_shares(s); });
        if (rc < 0)
            return to_status(rc);
        f.cached_items = share_entries(f.lease.s(), rc);
    }
    f.cached = true;
    copy_cut(f.cached_path, sizeof f.cached_path, path);
    return VNSMB1C_FFA_OK;
}

void fill_list_entry(const DirEntry &item, vnsmb1c_FolderEntry *entry)
{
    entry->flags = 0;
    entry->name = item.name.c_str();
    entry->path = item.path.c_str();
    entry->is_folder = item.folder ? 1 : 0;
    entry->size = -1;
    entry->mtime_ms = -1;
    if (item.size >= 0) {
        entry->size = item.size;
        entry->flags |= VNSMB1C_FFA_SIZE_VALID;
    }
    if (item.mtime_ms >= 0) {
        entry->mtime_ms = item.mtime_ms;
        entry->flags |= VNSMB1C_FFA_MTIME_VALID;
    }
}

int f_open(void *context, const char *settings)
{
    if (context == nullptr)
        return VNSMB1C_FFA_INVALID;
    AdapterState &f = state_of(context);
    reset_backend(f);
    if (settings == nullptr)
        return VNSMB1C_FFA_BADSETTINGS;
    {
        Document doc;
        vnb_json_parse<kParseFlags>(doc, settings);
        if (!doc.HasParseError() && doc.IsObject()) {
            auto path = doc.FindMember("Path");
            if (path != doc.MemberEnd() && path->value.IsString() && path->value.GetStringLength() > 0 &&
                vnsmb1c_split_path(path->value.GetString(), f.share, sizeof f.share, nullptr, 0) != 0) {
                f.share[0] = '\0';
                return VNSMB1C_FFA_BADSETTINGS;
            }
        }
    }
    ConnectSettings c;
    int32_t rc = read_settings(settings, &c);
    if (rc == 0) {
        PoolKey key;
        key.kind = vnb_selected_transport();
        key.host = c.host;
        key.port = c.port;
        key.domain = c.domain;
        key.user = c.user;
        key.password = c.password;
        vnb_wipe(c.password, sizeof c.password);
        NameSettings names;
        vnb_apply_name_settings(c, &names);
        key.shape = vnb_pool_shape(names, c.timeout_ms != 0 ? c.timeout_ms : kDefaultTimeoutMs,
                                   c.legacy_given ? c.legacy_auth : LegacyAuth::none,
                                   c.code_page_given ? c.code_page : kDefaultCodePage,
                                   c.read_ahead >= 0 ? c.read_ahead : kDefaultReadAhead,
                                   c.read_ahead_budget >= 0 ? c.read_ahead_budget : kDefaultReadAheadBudget);
        const int32_t idle_ms = c.session_idle_ms >= 0 ? c.session_idle_ms : kDefaultSessionIdleMs;
        rc = f.lease.take(key, idle_ms, [c](Session &s, const PoolKey &k) {
            ConnectSettings with_password = c;
            std::snprintf(with_password.password, sizeof with_password.password, "%s", k.password.c_str());
            int32_t connected = vnb_connect_settings(s, k.kind, with_password);
            vnb_wipe(with_password.password, sizeof with_password.password);
            return connected;
        });
    }
    vnb_wipe(c.password, sizeof c.password);
    return rc == 0 ? VNSMB1C_FFA_OK : to_status(rc);
}

int f_list(void *context, const char *path_in, vnsmb1c_ListRequest *request)
{
    const char *path = is_top(path_in) ? "" : path_in;
    if (context == nullptr || !state_of(context).lease.held())
        return VNSMB1C_FFA_NOCONN;
    AdapterState &f = state_of(context);
    if (request == nullptr || (request->entries == nullptr && request->capacity != 0))
        return VNSMB1C_FFA_INVALID;
    if (f.share[0] == '\0' && path[0] != '\0') {
        if (vnsmb1c_split_path(path, f.share, sizeof f.share, nullptr, 0) != 0) {
            f.share[0] = '\0';
            return VNSMB1C_FFA_NOTFOUND;
        }
        drop_listing(f);
    }

    uint64_t start = 0;
    bool reuse = f.cached && std::strcmp(f.cached_path, path) == 0;
    const char *cursor = request->cursor;
    if (cursor != nullptr && cursor[0] != '\0') {
        char *end = nullptr;
        start = std::strtoul(cursor, &end, 10);
        reuse = reuse && *end == '\0';
    }
    if (!reuse)
        drop_listing(f);
    if (!f.cached) {
        int status = build_listing(f, path);
        if (status != VNSMB1C_FFA_OK)
            return status;
    }

    request->count = 0;
    request->has_more = 0;
    request->next_cursor = nullptr;
    const uint64_t count = f.cached_items.size();
    if (start >= count)
        return VNSMB1C_FFA_OK;
    uint64_t k = start;
    // capacity may be huge: stop at the end of the items first.
    uint64_t stop = request->capacity < count - start ? start + request->capacity : count;
    for (; k < stop; k++) {
        if (request->cancel != nullptr && *request->cancel != 0)
            return VNSMB1C_FFA_CANCELLED;
        fill_list_entry(f.cached_items[k], &request->entries[request->count]);
        request->count++;
    }
    if (k < count) {
        request->has_more = 1;
        std::snprintf(f.cursor_text, sizeof f.cursor_text, "%lu", static_cast<unsigned long>(k));
        request->next_cursor = f.cursor_text;
    }
    return VNSMB1C_FFA_OK;
}

int f_stat(void *context, const char *path, vnsmb1c_FolderEntry *entry)
{
    if (context == nullptr || !state_of(context).lease.held())
        return VNSMB1C_FFA_NOCONN;
    AdapterState &f = state_of(context);
    if (entry == nullptr)
        return VNSMB1C_FFA_INVALID;
    if (is_top(path))
        return stat_folder(f, "", "/", entry);
    if (f.share[0] == '\0') {
        char share[82];
        char rest[1026];
        if (vnsmb1c_split_path(path, share, sizeof share, rest, sizeof rest) != 0 || rest[0] != '\0')
            return VNSMB1C_FFA_NOTFOUND;
        return stat_folder(f, share, path, entry);
    }
    char location[1026];
    int status = location_in_share(f, path, location);
    if (status != VNSMB1C_FFA_OK)
        return status;
    if (location[0] == '\0')
        return stat_folder(f, f.share, path, entry);

    // One query about the path (the share's tree connected once).
    DirEntry e;
    std::string full = std::string(f.share) + "/" + location;
    int rc = f.lease.run([&full, &e](Session &s) { return vnb_stat(s, full.c_str(), &e); });
    if (rc < 0)
        return to_status(rc);
    if (e.folder) {
        int status = stat_folder(f, after_last_slash(location), path, entry);
        if (status == VNSMB1C_FFA_OK && e.mtime_ms >= 0) {
            entry->mtime_ms = e.mtime_ms;
            entry->flags |= VNSMB1C_FFA_MTIME_VALID;
        }
        return status;
    }
    release_stat_copies(f);
    char text[2112];
    compose_locator(f, location, text);
    f.stat_name = dup_text(after_last_slash(location));
    f.stat_path = dup_text(path);
    f.stat_locator = dup_text(text);
    if (f.stat_name == nullptr || f.stat_path == nullptr || f.stat_locator == nullptr)
        return VNSMB1C_FFA_NOMEM;
    entry->name = f.stat_name;
    entry->path = f.stat_path;
    entry->is_folder = 0;
    entry->locator = f.stat_locator;
    entry->flags = VNSMB1C_FFA_SIZE_VALID | VNSMB1C_FFA_LOCATOR_VALID;
    entry->size = e.size;
    entry->mtime_ms = -1;
    if (e.mtime_ms >= 0) {
        entry->mtime_ms = e.mtime_ms;
        entry->flags |= VNSMB1C_FFA_MTIME_VALID;
    }
    return VNSMB1C_FFA_OK;
}

int f_locator(void *context, const char *path, char *buffer, size_t capacity)
{
    if (context == nullptr || !state_of(context).lease.held())
        return VNSMB1C_FFA_NOCONN;
    AdapterState &f = state_of(context);
    if (capacity == 0 || buffer == nullptr || is_top(path))
        return VNSMB1C_FFA_INVALID;
    if (f.share[0] == '\0')
        return VNSMB1C_FFA_NOTFOUND;
    char location[1026];
    int status = location_in_share(f, path, location);
    if (status != VNSMB1C_FFA_OK)
        return status;
    if (location[0] == '\0')
        return VNSMB1C_FFA_NOTFOUND;
    int handle = 0;
    int64_t size = file_size(f, location, &handle);
    if (size < 0)
        return to_status(size);
    char text[2112];
    compose_locator(f, location, text);
    size_t len = std::strlen(text);
    if (capacity < len + 1)
        return VNSMB1C_FFA_INVALID;
    std::memcpy(buffer, text, len + 1);
    return VNSMB1C_FFA_OK;
}

void f_close(void *context)
{
    if (context != nullptr)
        reset_backend(state_of(context));
}

// A table entry that runs fn with the instance's lock held; a NULL context
// is fn's own business.
template <auto Fn>
struct OneAtATime;

template <typename R, typename... A, R (*Fn)(void *, A...)>
struct OneAtATime<Fn> {
    static R call(void *context, A... args)
    {
        if (context == nullptr)
            return Fn(context, args...);
        std::lock_guard<std::mutex> lock(state_of(context).busy);
        return Fn(context, args...);
    }
};

}  // namespace

Session *vnb_backend_session(void *context)
{
    if (context == nullptr || !state_of(context).lease.held())
        return nullptr;
    return &state_of(context).lease.s();
}

extern "C" VNSMB1C_API const vnsmb1c_FolderBackend *vnsmb1c_vnffa_backend(void)
{
    // One instance for the one table; never destroyed, since a host may
    // call in while the process exits.
    static AdapterState *instance = new AdapterState{};
    vnsmb1c_FolderBackend filled{};
    filled.size = sizeof filled;
    filled.name = "smb1";
    filled.version = 2;
    filled.context = instance;
    filled.open = OneAtATime<f_open>::call;
    filled.list = OneAtATime<f_list>::call;
    filled.stat = OneAtATime<f_stat>::call;
    filled.locator = OneAtATime<f_locator>::call;
    filled.close = OneAtATime<f_close>::call;
    // Filled at every call; written only where it differs, so that threads
    // calling through the table meanwhile read what they read before.
    static std::mutex filling;
    std::lock_guard<std::mutex> lock(filling);
    if (std::memcmp(&g_backend, &filled, sizeof filled) != 0)
        g_backend = filled;
    return &g_backend;
}
