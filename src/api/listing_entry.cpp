// The items of the listing a session holds as records (vnsmb1c_Entry): the
// texts point into the listing itself, which keeps them until it is replaced.
#include <cstddef>
#include <string>

#include "api/session_handle.h"
#include "util/error.h"
#include "vnsmb1c.h"

namespace {

// The item's share-qualified path, made the first time a record of it is
// asked for and kept with the listing, so that it lives as long as the
// item's own texts.
const std::string &qualified_path(Listing &l, size_t index)
{
    const DirEntry &e = l.items[index];
    if (l.share.empty())
        return e.path;
    if (l.qualified.size() != l.items.size())
        l.qualified.assign(l.items.size(), std::string());
    std::string &path = l.qualified[index];
    if (path.empty())
        path = l.share + "/" + e.path;
    return path;
}

int32_t entry_at(Listing &l, int index, vnsmb1c_Entry *out)
{
    if (out == nullptr)
        return vnb_fail(-6, "bad argument: no record to fill");
    if (!l.held)
        return vnb_fail(-6, "no listing held");
    if (index < 0 || static_cast<size_t>(index) >= l.items.size())
        return vnb_fail(-6, "item %d is outside the listing of %zu items", index, l.items.size());
    const size_t at = static_cast<size_t>(index);
    const DirEntry &e = l.items[at];
    out->size = e.size;
    out->mtime_ms = e.mtime_ms;
    out->name = e.name.c_str();
    out->path = qualified_path(l, at).c_str();
    out->folder = e.folder ? 1 : 0;
    out->hidden = e.hidden ? 1 : 0;
    return 0;
}

}  // namespace

extern "C" {

VNSMB1C_API int vnsmb1c_s_entry(vnsmb1c_session *session, int index, vnsmb1c_Entry *out)
{
    return vnb_on_session(session, [&](SessionCall &call) { return entry_at(call.s().listing, index, out); });
}

VNSMB1C_API int vnsmb1c_entry(int index, vnsmb1c_Entry *out)
{
    return vnsmb1c_s_entry(vnb_default_handle(), index, out);
}

}  // extern "C"
