// Opening files by share-qualified path, and reading them by handle.
#include <cstdint>
#include <cstdio>
#include <utility>

#include "api/api_lock.h"
#include "api/resilient.h"
#include "api/session_ops.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/path.h"
#include "vnsmb1c.h"

namespace {

// The slot of a public handle (slot index + 1), or NULL when the handle is
// out of range or its slot is free.
FileSlot *slot_of(Session &s, int handle)
{
    if (handle < 1 || handle > kMaxFiles)
        return nullptr;
    FileSlot *slot = &s.files[handle - 1];
    return slot->in_use ? slot : nullptr;
}

int32_t open_file(Session &s, const char *path, const char *file)
{
    int32_t rc = vnb_require_session(s);
    if (rc != 0)
        return rc;
    char share[82];
    char rest[1026];
    if ((rc = vnb_split_located(path, share, rest)) != 0)
        return rc;
    if (file == nullptr || file[0] == '\0')
        return vnb_fail(-6, "empty file path");
    char joined[2052];
    std::snprintf(joined, sizeof joined, "%s/%s", rest, file);
    char full[1026];
    if ((rc = vnb_vpath(joined, full, sizeof full)) != 0)
        return rc;

    uint32_t tid = 0;
    if ((rc = vnb_tree_find_or_connect(s, share, &tid)) != 0)
        return rc;
    uint32_t fid = 0;
    uint64_t size = 0;
    int64_t mtime_ms = 0;
    if ((rc = vnb_create_file(s, tid, full, 0, &fid, &size, &mtime_ms, "OPEN FILE")) != 0)
        return rc;

    int index = 0;
    while (index < kMaxFiles && s.files[index].in_use)
        index++;
    if (index == kMaxFiles) {
        // The server has opened it already: give its handle back before failing.
        vnb_do_close(s, tid, fid);
        return vnb_fail(-7, "too many open files (%d)", kMaxFiles);
    }
    // A size that would read as a negative vnsmb1c_size is no real file's.
    if (size > static_cast<uint64_t>(INT64_MAX))
        size = static_cast<uint64_t>(INT64_MAX);
    s.files[index] = FileSlot{1, fid, tid, size, static_cast<uint64_t>(mtime_ms), share, full, Reopened::same};
    s.open_files++;
    return index + 1;
}

int32_t read_file(Session &s, int handle, int64_t offset, void *buffer, int length)
{
    const FileSlot *slot = slot_of(s, handle);
    if (slot == nullptr)
        return vnb_fail(-6, "bad handle");
    if (slot->reopened == Reopened::changed)
        return vnb_fail(-2, "the file changed on the server while the connection was down "
                            "(its size or last-write time differs): open it again");
    if (slot->reopened == Reopened::gone)
        return vnb_fail(-4, "the file could not be opened again after the connection was restored");
    auto at = static_cast<uint64_t>(offset);
    if (at >= slot->size)
        return 0;
    uint64_t left = slot->size - at;
    int count = left < static_cast<uint64_t>(length) ? static_cast<int>(left) : length;
    int32_t rc = vnb_do_read(s, slot->tid, slot->fid, at, static_cast<uint8_t *>(buffer), count);
    // The handle is open here, so a server that does not know it has
    // forgotten it (restarted, say): connect again and reopen.
    if (rc < 0 && s.established && s.last_code == rc && sess_status_forgets_handle(s.last_status))
        sess_mark_broken(s, false);
    return rc;
}

}  // namespace

int32_t vnb_open(Session &s, const char *path, const char *file)
{
    return vnb_resilient(s, [&] { return open_file(s, path, file); });
}

int64_t vnb_size(Session &s, int handle)
{
    const FileSlot *slot = slot_of(s, handle);
    if (slot == nullptr)
        return vnb_fail(-6, "bad handle");
    return static_cast<int64_t>(slot->size);
}

int32_t vnb_read_at(Session &s, int handle, int64_t offset, void *buffer, int length)
{
    const FileSlot *slot = slot_of(s, handle);
    if (slot == nullptr)
        return vnb_fail(-6, "bad handle");
    if (offset < 0 || length < 0 || (buffer == nullptr && length != 0))
        return vnb_fail(-6, "bad offset, length or buffer");
    return vnb_resilient(s, [&] { return read_file(s, handle, offset, buffer, length); });
}

void vnb_close(Session &s, int handle)
{
    FileSlot *slot = slot_of(s, handle);
    if (slot == nullptr)
        return;
    FileSlot closed = std::move(*slot);
    *slot = FileSlot{};
    s.open_files--;
    // A broken session's server holds nothing of ours to close; nor does one
    // that could not open the file again.
    if (s.established && !s.broken && closed.reopened != Reopened::gone)
        vnb_do_close(s, closed.tid, closed.fid);
}

extern "C" {

VNSMB1C_API int vnsmb1c_open(const char *path, const char *file)
{
    ApiLock lock;
    return vnb_open(vnb_default_session(), path, file);
}

VNSMB1C_API int64_t vnsmb1c_size(int handle)
{
    ApiLock lock;
    return vnb_size(vnb_default_session(), handle);
}

VNSMB1C_API int vnsmb1c_read_at(int handle, int64_t offset, void *buffer, int length)
{
    ApiLock lock;
    return vnb_read_at(vnb_default_session(), handle, offset, buffer, length);
}

VNSMB1C_API void vnsmb1c_close(int handle)
{
    ApiLock lock;
    vnb_close(vnb_default_session(), handle);
}

}  // extern "C"
