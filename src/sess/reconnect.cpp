// A broken connection and connecting again: what marks a session broken,
// and the reconnect that takes its open files up again.
#include <algorithm>
#include <cstring>

#include "net/clock.h"
#include "sess/lifecycle.h"
#include "sess/stream.h"
#include "sess/tree_file.h"
#include "util/error.h"
#include "util/status.h"

namespace {

constexpr int kProbeFloorMs = 500;
constexpr int kProbeCeilingMs = 2000;

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

void sess_mark_broken(Session &s, Failure why)
{
    if (!s.established && !s.broken)
        return;
    sess_close_connection(s);
    s.broken = true;
    s.broken_by = why;
    s.broken_at_ms = vnb_now_ms();
    if (why == Failure::timed_out) {
        // The next call probes at once: the server may answer again by then.
        s.retry_at_ms = s.broken_at_ms;
        s.backoff_ms = 0;
    }
}

bool sess_may_retry_in_call(const Session &s)
{
    return s.broken_by == Failure::closed || s.broken_by == Failure::broken;
}

int sess_probe_ms(const Session &s)
{
    return std::min(s.timeout_ms, std::clamp(s.timeout_ms / 10, kProbeFloorMs, kProbeCeilingMs));
}

namespace {

// Shortens every wait of the session while a probe runs.
class ProbeBound {
public:
    ProbeBound(Session &s, bool on) : s_(s), saved_(s.wait_cap_ms)
    {
        if (on)
            s.wait_cap_ms = sess_probe_ms(s);
    }
    ~ProbeBound() { s_.wait_cap_ms = saved_; }
    ProbeBound(const ProbeBound &) = delete;
    ProbeBound &operator=(const ProbeBound &) = delete;

private:
    Session &s_;
    int32_t saved_;
};

// Opens the files of a session that has just logged on again.
int32_t reopen_all(Session &s)
{
    for (FileSlot &file : s.files) {
        if (!file.in_use || file.reopened != Reopened::same)
            continue;
        if (int32_t rc = reopen(s, file); rc != 0)
            return rc;
        // Bytes read ahead on the old connection belong to no one now.
        stream_open(s, static_cast<int>(&file - s.files), file.tid, file.fid, file.size);
    }
    return 0;
}

}  // namespace

int32_t sess_reconnect(Session &s)
{
    if (!s.broken)
        return 0;
    const bool probe = s.broken_by == Failure::timed_out;
    if (probe && vnb_now_ms() < s.retry_at_ms)
        return vnb_fail(-1, "timed out: the server did not answer within %d ms; not tried again yet", s.timeout_ms);
    if (int32_t rc = sess_check_stop(s); rc != 0)
        return rc;
    sess_close_connection(s);
    s.failure = Failure::none;
    int32_t rc = 0;
    {
        ProbeBound bound(s, probe);
        rc = vnb_sess_ensure(s);
        if (rc == 0) {
            // Connected: from here a failure of the connection marks it anew.
            s.broken = false;
            rc = reopen_all(s);
        }
    }
    if (rc != 0) {
        if (s.established)
            sess_close_connection(s);
        s.broken = true;
        s.broken_by = s.failure != Failure::none ? s.failure : Failure::broken;
        s.broken_at_ms = vnb_now_ms();
        if (s.broken_by == Failure::timed_out) {
            // Still silent: pause before the next probe, longer each time.
            s.backoff_ms = s.backoff_ms == 0 ? 2 * sess_probe_ms(s) : std::min(2 * s.backoff_ms, s.timeout_ms);
            s.retry_at_ms = s.broken_at_ms + static_cast<uint64_t>(s.backoff_ms);
        }
        return rc;
    }
    s.broken = false;
    s.broken_by = Failure::none;
    s.backoff_ms = 0;
    return 0;
}
