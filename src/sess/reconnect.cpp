// A broken connection and connecting again: what marks a session broken,
// and the reconnect that takes its open files up again.
#include <cstring>
#include <string_view>

#include "net/clock.h"
#include "sess/lifecycle.h"
#include "sess/stream.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/status.h"

namespace {

// Statuses a server answers with once it has forgotten the session or the
// tree a request names: after its own restart, an idle logoff, or an
// administrator closing the session. The SMB_BAD_* values are the DOS-class
// errors (ERRSRV/ERRbaduid, ERRSRV/ERRinvnid) as they read in the status
// field.
constexpr uint32_t kForgottenSession[] = {
    0xC0000203,  // USER_SESSION_DELETED
    0xC00000C9,  // NETWORK_NAME_DELETED
    0xC000035C,  // NETWORK_SESSION_EXPIRED
    0x005B0002,  // SMB_BAD_UID
    0x00050002,  // SMB_BAD_TID
};

// The same for a file handle (ERRDOS/ERRbadfid the DOS form): it means the
// server forgot the file only when the client knows the handle is open.
constexpr uint32_t kForgottenHandle[] = {
    0xC0000008,  // INVALID_HANDLE
    0xC0000128,  // FILE_CLOSED
    0x00060001,  // SMB_BAD_FID
};

// Opens one file of a broken session again, under its old handle.
int32_t reopen(Session &s, FileSlot &file)
{
    uint32_t tid = 0;
    uint32_t fid = 0;
    uint64_t size = 0;
    int64_t mtime_ms = 0;
    int32_t rc = vnb_tree_find_or_connect(s, file.share.c_str(), &tid);
    if (rc == 0)
        rc = vnb_create_file(s, tid, file.path.c_str(), 0, &fid, &size, &mtime_ms, "REOPEN FILE");
    if (rc != 0) {
        if (s.broken || !s.established)
            return rc;  // the connection failed again
        file.reopened = Reopened::gone;
        return 0;
    }
    if (size > static_cast<uint64_t>(INT64_MAX))
        size = static_cast<uint64_t>(INT64_MAX);
    file.fid = fid;
    file.tid = tid;
    if (size != file.size || static_cast<uint64_t>(mtime_ms) != file.mtime)
        file.reopened = Reopened::changed;
    return 0;
}

}  // namespace

bool sess_status_forgets(uint32_t status)
{
    for (uint32_t forgotten : kForgottenSession)
        if (status == forgotten)
            return true;
    return false;
}

bool sess_status_forgets_handle(uint32_t status)
{
    for (uint32_t forgotten : kForgottenHandle)
        if (status == forgotten)
            return true;
    return false;
}

void sess_mark_broken(Session &s, bool timed_out)
{
    if (!s.established && !s.broken)
        return;
    sess_close_connection(s);
    s.broken = true;
    s.broken_by_timeout = timed_out;
    s.broken_at_ms = vnb_now_ms();
}

int32_t sess_reconnect(Session &s)
{
    if (!s.broken)
        return 0;
    if (s.broken_by_timeout && vnb_now_ms() - s.broken_at_ms < static_cast<uint64_t>(s.timeout_ms))
        return vnb_fail(-1, "timed out: the server did not answer within %d ms; not tried again yet", s.timeout_ms);
    sess_close_connection(s);
    int32_t rc = vnb_sess_ensure(s);
    if (rc == 0) {
        // Connected: from here a failure of the connection marks it anew.
        s.broken = false;
        for (FileSlot &file : s.files) {
            if (!file.in_use || file.reopened != Reopened::same)
                continue;
            if ((rc = reopen(s, file)) != 0)
                break;
            // Bytes read ahead on the old connection belong to no one now.
            stream_open(s, static_cast<int>(&file - s.files), file.tid, file.fid, file.size);
        }
    }
    if (rc != 0) {
        std::string_view text = vnb_error();
        if (s.established)
            sess_close_connection(s);
        s.broken = true;
        s.broken_by_timeout = text.starts_with("timed out");
        s.broken_at_ms = vnb_now_ms();
        return rc;
    }
    s.broken = false;
    s.broken_by_timeout = false;
    return 0;
}
