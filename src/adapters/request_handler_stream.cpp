// stream: a file entry of a listing becomes its smb1:// URL and size;
// download is refused.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "adapters/request_handler.h"
#include "api/session_ops.h"

namespace {

constexpr std::string_view kScheme = "smb1://";
constexpr size_t kMaxShareSegment = 81;
constexpr size_t kMaxLocatorFile = 1025;

struct Target {
    std::string share;
    std::string file;
    std::string url_tail;  // what follows host and port in the URL
};

// Share and file from a locator "smb1://host[:port]/share/file"; false when
// the locator is not of that form.
bool from_locator(const rapidjson::Value *locator, Target &t)
{
    if (locator == nullptr)
        return false;
    std::string_view text(locator->GetString(), strnlen(locator->GetString(), 2111));
    if (!text.starts_with(kScheme))
        return false;
    text.remove_prefix(kScheme.size());
    size_t first = text.find('/');
    if (first == std::string_view::npos)
        return false;
    size_t second = text.find('/', first + 1);
    if (second == std::string_view::npos)
        return false;
    std::string_view share = text.substr(first + 1, second - first - 1);
    if (share.empty() || share.size() > kMaxShareSegment)
        return false;
    std::string_view file = text.substr(second + 1);
    file = file.substr(0, std::min(file.size(), kMaxLocatorFile));
    t.share = share;
    t.file = file;
    t.url_tail = t.share + "/" + t.file;
    return true;
}

// Opens the target to prove it and learn its size, then answers its URL.
int serve(const vnsmb1c_HostIo *io, const char *settings, const Target &t, char *out, int32_t capacity)
{
    RchScope scope;
    int rc = h_setup(scope, io, settings, out, capacity);
    if (rc != 0)
        return rc;
    // Opened to prove it and learn its size, and closed again.
    bool opened = false;
    int64_t size = -1;
    rc = scope.run([&t, &opened, &size](Session &s) {
        int handle = vnb_open(s, t.share.c_str(), t.file.c_str());
        opened = handle >= 0;
        if (!opened)
            return handle;
        size = vnb_size(s, handle);
        vnb_close(s, handle);
        return 0;
    });
    if (!opened) {
        rc = put_err(rch_code(rc), vnsmb1c_last_error(), out, capacity);
        h_teardown(scope);
        return rc;
    }
    const std::string why = size < 0 ? vnsmb1c_last_error() : "";
    char url[2112];
    rch_url(scope, url, t.url_tail);
    h_teardown(scope);
    if (size < 0)
        return put_err(kRchNotFound, why.c_str(), out, capacity);

    rapidjson::StringBuffer sb;
    RchWriter w(sb);
    bool ok = w.StartObject() && w.Key("url") && w.String(url) && w.Key("size") && w.Int64(size) && w.EndObject();
    if (!ok)
        return kRchInternal;
    return rch_reply(sb, out, capacity);
}

}  // namespace

int h_stream(const vnsmb1c_HostIo *io, const char *settings, const char *entry, char *out, int32_t capacity)
{
    if (settings == nullptr || entry == nullptr)
        return put_err(kRchBadRequest, "no entry", out, capacity);
    rapidjson::Document doc;
    vnb_json_parse<kRchParseFlags>(doc, entry);
    const rapidjson::Value *path_value = doc.HasParseError() ? nullptr : rch_string(doc, "path");
    if (path_value == nullptr || path_value->GetStringLength() == 0 || path_value->GetString()[0] == '\0')
        return put_err(kRchBadRequest, "entry has no path", out, capacity);
    const std::string path(path_value->GetString(), strnlen(path_value->GetString(), 2055));

    Target t;
    if (path.find('/') == std::string::npos && from_locator(rch_string(doc, "locator"), t))
        return serve(io, settings, t, out, capacity);

    const rapidjson::Value *folder = rch_member(doc, "folder");
    if (folder != nullptr && folder->IsBool() && folder->GetBool())
        return put_err(kRchNotFound, "entry is a folder: a folder has no stream URL", out, capacity);
    char share[82];
    char rest[1026];
    if (vnsmb1c_split_path(path.c_str(), share, sizeof share, rest, sizeof rest) != 0)
        return put_err(kRchNotFound, vnsmb1c_last_error(), out, capacity);
    t.share = share;
    t.file = rest;
    t.url_tail = path;
    return serve(io, settings, t, out, capacity);
}

int h_download(const vnsmb1c_HostIo *, const char *, const char *, char *out, int32_t capacity)
{
    return put_err(kRchUnsupported, "SMBCIFS has no download capability (the legacy DownloadAsync returned null)",
                   out, capacity);
}
