// One file, folder or share by its path: vnsmb1c_stat.
#include <cstdint>
#include <cstdio>
#include <string>

#include "api/resilient.h"
#include "api/result_slot.h"
#include "api/session_handle.h"
#include "api/session_ops.h"
#include "sess/path_info.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/smb1_wire.h"
#include "vnsmb1c.h"

namespace {

int32_t stat_path(Session &s, const char *path, DirEntry *out)
{
    int32_t rc = vnb_require_session(s);
    if (rc != 0)
        return rc;
    char share[82];
    char rest[1026];
    if ((rc = vnb_split_located(path, share, rest)) != 0)
        return rc;
    uint32_t tid = 0;
    if ((rc = vnb_tree_find_or_connect(s, share, &tid)) != 0)
        return rc;
    if (rest[0] == '\0') {
        // A share is a folder; its tree is connected, so it exists.
        *out = DirEntry{share, share, true, -1, -1, smb::is_hidden_name(share)};
        return 0;
    }
    rc = vnb_path_entry(s, tid, rest, out);
    out->path = std::string(share) + "/" + rest;
    return rc;
}

}  // namespace

int32_t vnb_stat(Session &s, const char *path, DirEntry *out)
{
    return vnb_resilient(s, [&] { return stat_path(s, path, out); });
}

extern "C" {

VNSMB1C_API int vnsmb1c_s_stat(vnsmb1c_session *session, const char *path, vnsmb1c_Entry *out)
{
    if (out == nullptr)
        return vnb_fail(-6, "bad argument");
    return vnb_on_session(session, [&](SessionCall &call) -> int32_t {
        DirEntry e;
        int32_t rc = vnb_stat(call.s(), path, &e);
        if (rc != 0)
            return rc;
        ThreadTexts *texts = vnb_thread_texts(call.handle().serial);
        if (texts == nullptr)
            return vnb_fail(-11, "out of memory");
        texts->stat_name = std::move(e.name);
        texts->stat_path = std::move(e.path);
        out->size = e.folder ? -1 : e.size;
        out->mtime_ms = e.mtime_ms;
        out->name = texts->stat_name.c_str();
        out->path = texts->stat_path.c_str();
        out->folder = e.folder ? 1 : 0;
        out->hidden = e.hidden ? 1 : 0;
        return 0;
    });
}

VNSMB1C_API int vnsmb1c_stat(const char *path, vnsmb1c_Entry *out)
{
    return vnsmb1c_s_stat(vnb_default_handle(), path, out);
}

}  // extern "C"
