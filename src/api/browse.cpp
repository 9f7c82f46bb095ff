// Browsing: share-qualified paths, the share listing, folder listings and
// the accessors over the listing the session holds.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "api/resilient.h"
#include "api/result_slot.h"
#include "api/session_handle.h"
#include "api/session_ops.h"
#include "sess/dir_list.h"
#include "sess/rap.h"
#include "sess/share_list.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/path.h"
#include "util/status.h"
#include "vnsmb1c.h"
#include "util/smb1_wire.h"

namespace {

constexpr int kMaxShareName = 80;

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

}  // namespace

int32_t vnb_require_session(const Session &s)
{
    if (!s.established)
        return vnb_fail(-5, "not connected");
    return 0;
}

int32_t vnb_split_located(const char *path, char (&share)[82], char (&rest)[1026])
{
    if (path == nullptr || path[0] == '\0')
        return vnb_fail(-6, "empty share name");
    return vnsmb1c_split_path(path, share, sizeof share, rest, sizeof rest);
}

extern "C" {

VNSMB1C_API int vnsmb1c_split_path(const char *path, char *share, int share_capacity, char *rest, int rest_capacity)
{
    if (share == nullptr || share_capacity <= 0 || path == nullptr || (rest == nullptr) != (rest_capacity == 0) ||
        rest_capacity < 0)
        return vnb_fail(-6, "bad argument");
    const char *start = path;
    while (is_separator(*start))
        start++;
    if (*start == '\0')
        return vnb_fail(-6, "the path does not name a share");
    const char *end = start;
    while (*end != '\0' && !is_separator(*end))
        end++;
    size_t len = static_cast<size_t>(end - start);
    if (len > kMaxShareName || len >= static_cast<size_t>(share_capacity))
        return vnb_fail(-6, "share name longer than %d bytes", kMaxShareName);
    std::memcpy(share, start, len);
    share[len] = '\0';
    if (rest == nullptr)
        return 0;
    return vnb_vpath(end, rest, rest_capacity);
}

}  // extern "C"

int32_t vnb_shares(Session &s)
{
    return vnb_resilient(s, [&s] {
        int32_t rc = vnb_require_session(s);
        if (rc == 0)
            rc = vnb_share_enum(s);
        return rc != 0 ? rc : s.share_count;
    });
}

const char *vnb_share_name(const Session &s, int index)
{
    if (index < 0 || index >= s.share_count)
        return "";
    return s.share_names[index];
}

namespace {

int32_t list_folder(Session &s, const char *path, const char *sub, bool with_hidden)
{
    int32_t rc = vnb_require_session(s);
    if (rc != 0)
        return rc;
    char share[82];
    char rest[1026];
    if ((rc = vnb_split_located(path, share, rest)) != 0)
        return rc;
    char joined[2052];
    const char *folder_in = rest;
    if (sub != nullptr && sub[0] != '\0') {
        std::snprintf(joined, sizeof joined, "%s/%s", rest, sub);
        folder_in = joined;
    }
    char folder[1026];
    if ((rc = vnb_vpath(folder_in, folder, sizeof folder)) != 0)
        return rc;

    uint32_t tid = 0;
    if ((rc = vnb_tree_find_or_connect(s, share, &tid)) != 0)
        return rc;
    if ((rc = vnb_query_directory_all(s, folder, tid, with_hidden)) != 0) {
        if (s.last_status_nt != 0 && s.last_status == STATUS_NOT_A_DIRECTORY)
            return vnb_fail(rc, "OPEN DIR: %s/%s is a file, not a folder: NOT_A_DIRECTORY", share, folder);
        return rc;
    }
    s.listing.share = share;
    return static_cast<int>(s.listing.items.size());
}

}  // namespace

int32_t vnb_list(Session &s, const char *path, const char *sub, bool with_hidden)
{
    return vnb_resilient(s, [&] { return list_folder(s, path, sub, with_hidden); });
}

extern "C" {

VNSMB1C_API int vnsmb1c_s_shares(vnsmb1c_session *session)
{
    return vnb_on_session(session, [](SessionCall &call) { return vnb_shares(call.s()); });
}

VNSMB1C_API const char *vnsmb1c_s_share_name(vnsmb1c_session *session, int index)
{
    SessionCall call(session);
    if (call.refused() != 0)
        return "";
    const char *name = vnb_share_name(call.s(), index);
    if (name[0] == '\0')
        return "";
    // The calling thread's own copy, replaced only when a later share listing
    // put another name at this index.
    ThreadTexts *texts = vnb_thread_texts(call.handle().serial);
    if (texts == nullptr)
        return "";
    std::string &copy = texts->share_names[static_cast<size_t>(index)];
    if (copy != name)
        copy = name;
    return copy.c_str();
}

VNSMB1C_API int vnsmb1c_s_list(vnsmb1c_session *session, const char *path, const char *sub)
{
    return vnb_on_session(session, [&](SessionCall &call) { return vnb_list(call.s(), path, sub); });
}

VNSMB1C_API int vnsmb1c_s_list_all(vnsmb1c_session *session, const char *path, const char *sub)
{
    return vnb_on_session(session, [&](SessionCall &call) { return vnb_list(call.s(), path, sub, true); });
}

VNSMB1C_API const char *vnsmb1c_s_list_json(vnsmb1c_session *session)
{
    SessionCall call(session);
    if (call.refused() != 0)
        return "[]";
    Listing &l = call.s().listing;
    if (!l.held)
        return "[]";
    if (l.text.empty())
        l.text = vnb_listing_json(l);
    // The calling thread's own copy, replaced only when the listing changed.
    ThreadTexts *texts = vnb_thread_texts(call.handle().serial);
    if (texts == nullptr)
        return "[]";
    if (texts->listing_json != l.text)
        texts->listing_json = l.text;
    return texts->listing_json.c_str();
}

VNSMB1C_API const char *vnsmb1c_s_item_json(vnsmb1c_session *session, int index)
{
    SessionCall call(session);
    if (call.refused() != 0)
        return "";
    const Listing &l = call.s().listing;
    if (index < 0 || static_cast<size_t>(index) >= l.items.size())
        return "";  // the slot keeps the previous text
    std::string item = vnb_item_json(l.items[static_cast<size_t>(index)]);
    auto *text = static_cast<char *>(std::malloc(item.size() + 1));
    if (text == nullptr)
        return "";
    std::memcpy(text, item.c_str(), item.size() + 1);
    return vnb_result_store(text, call.handle().serial);
}

VNSMB1C_API int vnsmb1c_s_list_hidden_count(vnsmb1c_session *session)
{
    return vnb_on_session(session,
                          [](SessionCall &call) { return static_cast<int>(call.s().listing.hidden); });
}

VNSMB1C_API int vnsmb1c_shares(void)
{
    return vnsmb1c_s_shares(vnb_default_handle());
}

VNSMB1C_API const char *vnsmb1c_share_name(int index)
{
    return vnsmb1c_s_share_name(vnb_default_handle(), index);
}

VNSMB1C_API int vnsmb1c_list(const char *path, const char *sub)
{
    return vnsmb1c_s_list(vnb_default_handle(), path, sub);
}

VNSMB1C_API int vnsmb1c_list_all(const char *path, const char *sub)
{
    return vnsmb1c_s_list_all(vnb_default_handle(), path, sub);
}

VNSMB1C_API const char *vnsmb1c_list_json(void)
{
    return vnsmb1c_s_list_json(vnb_default_handle());
}

VNSMB1C_API const char *vnsmb1c_item_json(int index)
{
    return vnsmb1c_s_item_json(vnb_default_handle(), index);
}

VNSMB1C_API int vnsmb1c_list_hidden_count(void)
{
    return vnsmb1c_s_list_hidden_count(vnb_default_handle());
}

VNSMB1C_API int vnsmb1c_is_hidden_name(const char *name)
{
    if (name == nullptr)
        return 0;
    return smb::is_hidden_name(name) ? 1 : 0;
}

}  // extern "C"
