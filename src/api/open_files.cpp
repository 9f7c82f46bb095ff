// Opening files by share-qualified path, and reading them by handle.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "api/connect.h"
#include "api/resilient.h"
#include "api/session_handle.h"
#include "api/session_ops.h"
#include "sess/stream.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/path.h"
#include "util/status.h"
#include "vnsmb1c.h"

namespace {

// A public handle is slot + 1 + 64 * generation, where the generation counts
// how often the slot was handed out before (modulo 2^24). The counts outlive
// the session, so a closed or dropped handle's number comes back only after
// 2^24 further opens of its slot, and handles stay within 1..2^30.
constexpr uint32_t kGenerations = uint32_t{1} << 24;

uint32_t generation_of(const FileSlot &slot)
{
    return (slot.opens - 1) % kGenerations;
}

int handle_of(int index, const FileSlot &slot)
{
    return index + 1 + kMaxFiles * static_cast<int>(generation_of(slot));
}

// The slot a public handle names, or NULL when the handle is out of range,
// its slot is free or the slot has been handed out again since.
FileSlot *slot_of(Session &s, int handle)
{
    if (handle < 1)
        return nullptr;
    FileSlot *slot = &s.files[(handle - 1) % kMaxFiles];
    auto generation = static_cast<uint32_t>((handle - 1) / kMaxFiles);
    return slot->in_use && generation_of(*slot) == generation ? slot : nullptr;
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
    // Without file, path names the file itself (as a listing's sub may be left out).
    char joined[2052];
    std::snprintf(joined, sizeof joined, "%s/%s", rest, file != nullptr ? file : "");
    char full[1026];
    if ((rc = vnb_vpath(joined, full, sizeof full)) != 0)
        return rc;
    if (full[0] == '\0')
        return vnb_fail(-6, "the path names the share %s, not a file in it", share);

    uint32_t tid = 0;
    if ((rc = vnb_tree_find_or_connect(s, share, &tid)) != 0)
        return rc;
    uint32_t fid = 0;
    uint64_t size = 0;
    int64_t mtime_ms = 0;
    // A file is opened to be read: its first bytes come with the open.
    std::vector<uint8_t> head;
    if ((rc = vnb_create_file_reading(s, tid, full, &fid, &size, &mtime_ms, "OPEN FILE", head_read_size(s),
                                      &head)) != 0) {
        if (s.last_status_nt != 0 && s.last_status == STATUS_FILE_IS_A_DIRECTORY)
            return vnb_fail(rc, "OPEN FILE: %s/%s is a folder, not a file: FILE_IS_A_DIRECTORY", share, full);
        return rc;
    }

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
    FileSlot &slot = s.files[index];
    slot.in_use = 1;
    slot.fid = fid;
    slot.tid = tid;
    slot.size = size;
    slot.mtime = static_cast<uint64_t>(mtime_ms);
    slot.opens++;
    slot.share = share;
    slot.path = full;
    slot.reopened = Reopened::same;
    slot.head = std::move(head);
    slot.head_connection = s.connection;
    s.open_files++;
    stream_open(s, index, tid, fid, size);
    return handle_of(index, slot);
}

// The first read after the open is served by the bytes that came with the
// open, as far as they cover it; they go with that read, and with the
// connection they came on.
int32_t read_head(Session &s, FileSlot &slot, int64_t offset, void *buffer, int length)
{
    std::vector<uint8_t> head = std::move(slot.head);
    slot.head = {};
    const auto at = static_cast<uint64_t>(offset);
    if (slot.head_connection != s.connection || at >= head.size())
        return 0;
    const size_t n = std::min<size_t>(static_cast<size_t>(length), head.size() - at);
    std::memcpy(buffer, head.data() + at, n);
    return static_cast<int32_t>(n);
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
    if (static_cast<uint64_t>(offset) >= slot->size)
        return 0;
    // The bytes read with the open serve what they cover; the stream the rest.
    const int32_t early = read_head(s, s.files[slot - s.files], offset, buffer, length);
    if (early == length || static_cast<uint64_t>(offset) + static_cast<uint64_t>(early) >= slot->size)
        return early;
    FileStream *stream = s.streams[static_cast<size_t>(slot - s.files)].get();
    if (stream == nullptr)
        return vnb_fail(-11, "out of memory");
    int32_t rc = stream->read(s, static_cast<uint64_t>(offset) + static_cast<uint64_t>(early),
                              {static_cast<uint8_t *>(buffer) + early, static_cast<size_t>(length - early)});
    if (rc >= 0)
        rc += early;
    // The file read last keeps its read-ahead; the others make room for it.
    stream_keep_budget(s, static_cast<int>(slot - s.files));
    // The handle is open here, so a server that does not know it has
    // forgotten it (restarted, say): connect again and reopen.
    if (rc < 0 && s.established && s.last_code == rc && sess_status_forgets_handle(s.last_status))
        sess_mark_broken(s, Failure::broken);
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
    if (length == 0)
        return 0;  // nothing asked, nothing sent
    return vnb_resilient(s, [&] { return read_file(s, handle, offset, buffer, length); });
}

void vnb_close(Session &s, int handle)
{
    FileSlot *slot = slot_of(s, handle);
    if (slot == nullptr)
        return;
    FileSlot closed = std::move(*slot);
    *slot = FileSlot{};
    slot->opens = closed.opens;
    s.open_files--;
    stream_close(s, static_cast<int>(slot - s.files));
    // A broken session's server holds nothing of ours to close; nor does one
    // that could not open the file again.
    if (s.established && !s.broken && closed.reopened != Reopened::gone)
        vnb_post_close(s, closed.tid, closed.fid);
}

extern "C" {

VNSMB1C_API int vnsmb1c_s_open(vnsmb1c_session *session, const char *path, const char *file)
{
    return vnb_on_session(session, [&](SessionCall &call) { return vnb_open(call.s(), path, file); });
}

VNSMB1C_API int64_t vnsmb1c_s_size(vnsmb1c_session *session, int handle)
{
    return vnb_on_session(session, [handle](SessionCall &call) { return vnb_size(call.s(), handle); });
}

VNSMB1C_API int vnsmb1c_s_read_at(vnsmb1c_session *session, int handle, int64_t offset, void *buffer, int length)
{
    return vnb_on_session(session,
                          [&](SessionCall &call) { return vnb_read_at(call.s(), handle, offset, buffer, length); });
}

VNSMB1C_API int vnsmb1c_s_set_read_ahead(vnsmb1c_session *session, int64_t bytes)
{
    return vnb_on_session(session, [bytes](SessionCall &call) {
        if (bytes < 0)
            return vnb_fail(-6, "read-ahead must not be negative");
        call.s().read_ahead = bytes;
        return 0;
    });
}

VNSMB1C_API int vnsmb1c_s_set_read_ahead_budget(vnsmb1c_session *session, int64_t bytes)
{
    return vnb_on_session(session, [bytes](SessionCall &call) {
        if (bytes < 0 || bytes > kMaxReadAhead)
            return vnb_fail(-6, "read-ahead budget out of range (0 to %lld)", static_cast<long long>(kMaxReadAhead));
        call.s().read_ahead_budget = bytes;
        stream_keep_budget(call.s(), -1);
        return 0;
    });
}

VNSMB1C_API void vnsmb1c_s_close(vnsmb1c_session *session, int handle)
{
    vnb_on_session(session, [handle](SessionCall &call) {
        vnb_close(call.s(), handle);
        return 0;
    });
}

VNSMB1C_API int vnsmb1c_open(const char *path, const char *file)
{
    return vnsmb1c_s_open(vnb_default_handle(), path, file);
}

VNSMB1C_API int64_t vnsmb1c_size(int handle)
{
    return vnsmb1c_s_size(vnb_default_handle(), handle);
}

VNSMB1C_API int vnsmb1c_read_at(int handle, int64_t offset, void *buffer, int length)
{
    return vnsmb1c_s_read_at(vnb_default_handle(), handle, offset, buffer, length);
}

VNSMB1C_API int vnsmb1c_set_read_ahead(int64_t bytes)
{
    return vnsmb1c_s_set_read_ahead(vnb_default_handle(), bytes);
}

VNSMB1C_API int vnsmb1c_set_read_ahead_budget(int64_t bytes)
{
    return vnsmb1c_s_set_read_ahead_budget(vnb_default_handle(), bytes);
}

VNSMB1C_API void vnsmb1c_close(int handle)
{
    vnsmb1c_s_close(vnb_default_handle(), handle);
}

}  // extern "C"
