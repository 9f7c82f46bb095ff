// list: the server's shares at the top, one folder's items below it, each
// file with the locator that stream takes back.
#include <cstring>
#include <string>

#include "adapters/request_handler.h"

namespace {

// An item whose own compact text would not fit this is answered empty.
constexpr size_t kItemTextCap = 2368;

bool is_top(const char *path)
{
    return path == nullptr || path[0] == '\0' || std::strcmp(path, "/") == 0;
}

bool write_shares(RchWriter &w, int n)
{
    bool ok = true;
    for (int i = 0; i < n && ok; i++) {
        const char *name = vnsmb1c_share_name(i);
        ok = w.StartObject() && w.Key("name") && w.String(name) && w.Key("path") && w.String(name) &&
             w.Key("folder") && w.Bool(true) && w.Key("size") && w.Int64(-1) && w.EndObject();
    }
    return ok;
}

bool fits_item_text(const rapidjson::Value &item)
{
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    return item.Accept(w) && sb.GetSize() < kItemTextCap;
}

int64_t int_or_zero(const rapidjson::Value *v)
{
    return v != nullptr && v->IsInt64() ? v->GetInt64() : 0;
}

bool write_item(RchWriter &w, const rapidjson::Value *item, const std::string &share_slash)
{
    static const rapidjson::Value kEmpty(rapidjson::kObjectType);
    const rapidjson::Value &it = item != nullptr && item->IsObject() && fits_item_text(*item) ? *item : kEmpty;
    const rapidjson::Value *name = rch_string(it, "name");
    const rapidjson::Value *path = rch_string(it, "path");
    const rapidjson::Value *folder = rch_member(it, "folder");
    bool is_folder = folder != nullptr && folder->IsBool() && folder->GetBool();
    bool ok = w.StartObject() && w.Key("name") && w.String(name != nullptr ? name->GetString() : "") &&
              w.Key("path") && w.String(path != nullptr ? path->GetString() : "") && w.Key("folder") &&
              w.Bool(is_folder) && w.Key("size") && w.Int64(int_or_zero(rch_member(it, "size"))) &&
              w.Key("mtime_ms") && w.Int64(int_or_zero(rch_member(it, "mtime_ms")));
    if (ok && !is_folder) {
        std::string tail = share_slash;
        if (path != nullptr)
            tail.append(path->GetString(), path->GetStringLength());
        char locator[2112];
        rch_url(locator, tail);
        ok = w.Key("locator") && w.String(locator);
    }
    return ok && w.EndObject();
}

// Walks the held listing once; indexes it has no item for are answered empty.
bool write_folder(RchWriter &w, int n, const char *share)
{
    rapidjson::Document doc;
    vnb_json_parse<kRchParseFlags>(doc, vnsmb1c_list_json());
    const rapidjson::Value *items = doc.HasParseError() ? nullptr : rch_member(doc, "items");
    rapidjson::SizeType held = items != nullptr && items->IsArray() ? items->Size() : 0;
    const std::string share_slash = std::string(share) + "/";
    bool ok = true;
    for (int i = 0; i < n && ok; i++) {
        auto index = static_cast<rapidjson::SizeType>(i);
        ok = write_item(w, index < held ? &(*items)[index] : nullptr, share_slash);
    }
    return ok;
}

}  // namespace

int h_list(const vnsmb1c_HostIo *io, const char *settings, const char *path, char *out, int32_t capacity)
{
    int rc = h_setup(io, settings, out, capacity);
    if (rc != 0)
        return rc;
    char share[82] = "";
    int n = 0;
    if (is_top(path)) {
        n = vnsmb1c_shares();
    } else {
        char rest[1026];
        if (vnsmb1c_split_path(path, share, sizeof share, rest, sizeof rest) != 0) {
            const std::string why = vnsmb1c_last_error();
            h_teardown();
            return put_err(kRchNotFound, why.c_str(), out, capacity);
        }
        n = vnsmb1c_list(share, rest);
    }
    if (n < 0) {
        rc = put_err(rch_code(n), vnsmb1c_last_error(), out, capacity);
        h_teardown();
        return rc;
    }

    rapidjson::StringBuffer sb;
    RchWriter w(sb);
    bool ok = w.StartObject() && w.Key("path") && w.String(path != nullptr ? path : "") && w.Key("items") &&
              w.StartArray();
    if (ok)
        ok = is_top(path) ? write_shares(w, n) : write_folder(w, n, share);
    ok = ok && w.EndArray() && w.EndObject();
    h_teardown();
    if (!ok)
        return kRchInternal;
    return rch_reply(sb, out, capacity);
}
