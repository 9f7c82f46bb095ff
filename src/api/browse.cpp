// Browsing: share-qualified paths, the share listing, folder listings and
// the accessors over the listing the session holds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "api/browse_internal.h"
#include "api/result_slot.h"
#include "sess/dir_list.h"
#include "sess/session_state.h"
#include "sess/share_list.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/json.h"
#include "util/path.h"
#include "vnsmb1c.h"

namespace {

constexpr int kMaxShareName = 80;

bool is_separator(char c)
{
    return c == '/' || c == '\\';
}

// A heap copy of element `index` of the held listing's "items" array,
// written compactly; NULL when there is no such element.
char *held_item_text(int index)
{
    const char *held = g_s.listing.items;
    if (held == nullptr || index < 0)
        return nullptr;
    rapidjson::Document doc;
    vnb_json_parse<rapidjson::kParseIterativeFlag>(doc, held);
    if (doc.HasParseError() || !doc.IsObject())
        return nullptr;
    auto member = doc.FindMember("items");
    if (member == doc.MemberEnd() || !member->value.IsArray())
        return nullptr;
    const rapidjson::Value &items = member->value;
    if (static_cast<rapidjson::SizeType>(index) >= items.Size())
        return nullptr;
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> writer(out);
    if (!items[static_cast<rapidjson::SizeType>(index)].Accept(writer))
        return nullptr;
    size_t len = out.GetSize();
    auto *text = static_cast<char *>(std::malloc(len + 1));
    if (text == nullptr)
        return nullptr;
    std::memcpy(text, out.GetString(), len);
    text[len] = '\0';
    return text;
}

}  // namespace

int32_t vnb_require_session()
{
    vnb_state_ensure_init();
    if (!g_s.established)
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

VNSMB1C_API int vnsmb1c_shares(void)
{
    int32_t rc = vnb_require_session();
    if (rc != 0)
        return rc;
    rc = vnb_srvsvc_share_enum();
    if (rc != 0)
        return rc;
    return g_s.share_count;
}

VNSMB1C_API const char *vnsmb1c_share_name(int index)
{
    vnb_state_ensure_init();
    if (index < 0 || index >= g_s.share_count)
        return "";
    return g_s.share_names[index];
}

VNSMB1C_API int vnsmb1c_list(const char *path, const char *sub)
{
    int32_t rc = vnb_require_session();
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

    std::snprintf(g_s.listing.share, sizeof g_s.listing.share, "%.80s", share);
    uint32_t tid = 0;
    if ((rc = vnb_tree_find_or_connect(share, &tid)) != 0)
        return rc;
    if ((rc = vnb_query_directory_all(share, folder, tid)) != 0)
        return rc;
    return static_cast<int>(g_s.listing.count);
}

VNSMB1C_API const char *vnsmb1c_list_json(void)
{
    vnb_state_ensure_init();
    return g_s.listing.items != nullptr ? g_s.listing.items : "[]";
}

VNSMB1C_API const char *vnsmb1c_item_json(int index)
{
    if (vnb_state_ensure_init())
        return "";
    char *text = held_item_text(index);
    if (text == nullptr)
        return "";  // the slot keeps the previous text
    return vnb_result_store(text);
}

VNSMB1C_API int vnsmb1c_list_hidden_count(void)
{
    vnb_state_ensure_init();
    return static_cast<int>(g_s.listing.hidden);
}

VNSMB1C_API int vnsmb1c_is_hidden_name(const char *name)
{
    if (name == nullptr)
        return 0;
    return name[0] == '$' || name[0] == '.' || name[0] == '@' ? 1 : 0;
}

}  // extern "C"
