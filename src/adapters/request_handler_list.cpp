// list: the server's shares at the top, one folder's items below it, each
// file with the locator that stream takes back.
#include <cstring>
#include <string>

#include "adapters/request_handler.h"
#include "api/session_ops.h"

namespace {

// An item whose own compact text would not fit this is answered empty.
constexpr size_t kItemTextCap = 2368;

bool is_top(const char *path)
{
    return path == nullptr || path[0] == '\0' || std::strcmp(path, "/") == 0;
}

bool write_shares(RchWriter &w, const Session &s, int n)
{
    bool ok = true;
    for (int i = 0; i < n && ok; i++) {
        const char *name = vnb_share_name(s, i);
        ok = w.StartObject() && w.Key("name") && w.String(name) && w.Key("path") && w.String(name) &&
             w.Key("folder") && w.Bool(true) && w.Key("size") && w.Int64(-1) && w.EndObject();
    }
    return ok;
}

// An entry that does not fit the host's item text is answered empty.
bool write_item(RchWriter &w, const RchScope &scope, const DirEntry *item, const std::string &share_slash)
{
    static const DirEntry kEmpty{"", "", false, 0, 0, false};
    const DirEntry &e = item != nullptr && vnb_item_json(*item).size() < kItemTextCap ? *item : kEmpty;
    bool ok = w.StartObject() && w.Key("name") && w.String(e.name.c_str()) && w.Key("path") &&
              w.String(e.path.c_str()) && w.Key("folder") && w.Bool(e.folder) && w.Key("size") && w.Int64(e.size) &&
              w.Key("mtime_ms") && w.Int64(e.mtime_ms);
    if (ok && !e.folder) {
        char locator[2112];
        rch_url(scope, locator, share_slash + e.path);
        ok = w.Key("locator") && w.String(locator);
    }
    return ok && w.EndObject();
}

bool write_folder(RchWriter &w, const RchScope &scope, int n, const char *share)
{
    const std::vector<DirEntry> &items = scope.s().listing.items;
    const std::string share_slash = std::string(share) + "/";
    bool ok = true;
    for (int i = 0; i < n && ok; i++) {
        auto index = static_cast<size_t>(i);
        ok = write_item(w, scope, index < items.size() ? &items[index] : nullptr, share_slash);
    }
    return ok;
}

}  // namespace

int h_list(const vnsmb1c_HostIo *io, const char *settings, const char *path, char *out, int32_t capacity)
{
    RchScope scope;
    int rc = h_setup(scope, io, settings, out, capacity);
    if (rc != 0)
        return rc;
    char share[82] = "";
    int n = 0;
    if (is_top(path)) {
        n = scope.run([](Session &s) { return vnb_shares(s); });
    } else {
        char rest[1026];
        if (vnsmb1c_split_path(path, share, sizeof share, rest, sizeof rest) != 0) {
            const std::string why = vnsmb1c_last_error();
            h_teardown(scope);
            return put_err(kRchNotFound, why.c_str(), out, capacity);
        }
        n = scope.run([&share, &rest](Session &s) { return vnb_list(s, share, rest); });
    }
    if (n < 0) {
        rc = put_err(rch_code(n), vnsmb1c_last_error(), out, capacity);
        h_teardown(scope);
        return rc;
    }

    rapidjson::StringBuffer sb;
    RchWriter w(sb);
    bool ok = w.StartObject() && w.Key("path") && w.String(path != nullptr ? path : "") && w.Key("items") &&
              w.StartArray();
    if (ok)
        ok = is_top(path) ? write_shares(w, scope.s(), n) : write_folder(w, scope, n, share);
    ok = ok && w.EndArray() && w.EndObject();
    h_teardown(scope);
    if (!ok)
        return kRchInternal;
    return rch_reply(sb, out, capacity);
}
