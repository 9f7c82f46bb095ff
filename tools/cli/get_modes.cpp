#include "get_modes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "errors.h"
#include "output.h"
#include "terminal.h"
#include "vnsmb1c.h"

namespace {

// The parts of a partial file compared with the server's before going on:
// its first bytes, and the last ones (where an interrupted copy or another
// version of the file shows).
constexpr int64_t kHeadCompared = int64_t{64} << 10;
constexpr int64_t kTailCompared = int64_t{1} << 20;
constexpr int kCompareChunk = 64 << 10;
// Modification times this close count as the same (file systems keep them
// to different precisions).
constexpr int64_t kSameTimeMs = 1000;
constexpr const char *kCopyAgain = " (-f or -u copies it again)";

#ifdef _WIN32
constexpr int kReadFlags = O_RDONLY | O_BINARY;
int64_t seek_to(int fd, int64_t offset) { return _lseeki64(fd, offset, SEEK_SET); }
#else
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC;
int64_t seek_to(int fd, int64_t offset) { return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET); }
#endif

// Whether length bytes at offset are the same in the local file and the
// remote one; 0, or an exit code after a message.
int same_bytes(int fd, int handle, const Target &t, const std::string &local, int64_t offset, int64_t length,
               bool &same)
{
    std::vector<unsigned char> mine(kCompareChunk);
    std::vector<unsigned char> theirs(kCompareChunk);
    same = true;
    while (length > 0 && same) {
        int want = static_cast<int>(length < kCompareChunk ? length : kCompareChunk);
        if (seek_to(fd, offset) < 0)
            return report_errno("cannot read", local, errno);
        int got = 0;
        while (got < want) {
            auto n = ::read(fd, mine.data() + got, static_cast<size_t>(want - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return report_errno("cannot read", local, errno);
            if (n == 0)
                break;
            got += static_cast<int>(n);
        }
        int rc = vnsmb1c_read_at(handle, offset, theirs.data(), want);
        if (rc < 0)
            return report_failure(rc, t);
        same = got == want && rc == want && std::memcmp(mine.data(), theirs.data(), static_cast<size_t>(want)) == 0;
        offset += want;
        length -= want;
    }
    return 0;
}

// Whether the local file's first local_size bytes begin and end as the
// server's do; 0, or an exit code after a message.
int partial_matches(int handle, const Target &t, const std::string &local, int64_t local_size, bool &same)
{
    int fd = ::open(local.c_str(), kReadFlags);
    if (fd < 0)
        return report_errno("cannot read", local, errno);
    int64_t head = local_size < kHeadCompared ? local_size : kHeadCompared;
    int64_t tail_at = local_size > kTailCompared ? local_size - kTailCompared : head;
    int rc = same_bytes(fd, handle, t, local, 0, head, same);
    if (rc == 0 && same && tail_at < local_size)
        rc = same_bytes(fd, handle, t, local, tail_at, local_size - tail_at, same);
    ::close(fd);
    return rc;
}

std::string bytes_text(int64_t n)
{
    return std::to_string(n) + " bytes";
}

}  // namespace

bool keeps_existing(const GetOptions &go)
{
    return go.resume || go.update || go.skip_existing;
}

int decide_existing(const GetOptions &go, const Target &t, const Destination &d, int handle, int64_t remote_size,
                    const Item *remote, ExistingDecision &out)
{
    out = ExistingDecision{};
    int64_t local_size = 0;
    int64_t local_ms = 0;
    if (!local_file_times(d.path, local_size, local_ms))
        return report_errno("cannot look at", d.path, errno);
    const bool copy_again = go.force || go.update;
    if (go.skip_existing) {
        out.plan = ExistingPlan::skip;
        out.why = "exists; left as it is";
        return 0;
    }
    if (go.resume) {
        if (local_size > remote_size) {
            out.plan = copy_again ? ExistingPlan::copy : ExistingPlan::refuse;
            out.why = "larger than the server's file (" + bytes_text(local_size) + ", the server's " +
                      bytes_text(remote_size) + "): not a partial copy of it" + kCopyAgain;
            return 0;
        }
        bool same = false;
        if (int rc = partial_matches(handle, t, d.path, local_size, same); rc != 0)
            return rc;
        if (!same) {
            out.plan = copy_again ? ExistingPlan::copy : ExistingPlan::refuse;
            out.why = std::string("its bytes differ from the server's file: not a partial copy of it") + kCopyAgain;
            return 0;
        }
        out.plan = local_size == remote_size ? ExistingPlan::skip : ExistingPlan::resume;
        out.resume_at = local_size;
        out.why = "complete (its bytes match the server's); left as it is";
        return 0;
    }
    if (go.update) {
        bool same_time = remote != nullptr && remote->mtime_ms != -1 &&
                         (local_ms > remote->mtime_ms ? local_ms - remote->mtime_ms : remote->mtime_ms - local_ms) <
                             kSameTimeMs;
        out.plan = local_size == remote_size && same_time ? ExistingPlan::skip : ExistingPlan::copy;
        out.why = "the same size and time as the server's file; left as it is";
        return 0;
    }
    out.plan = go.force ? ExistingPlan::copy : ExistingPlan::refuse;
    out.why = "exists; use --force to overwrite it";
    return 0;
}

void keep_server_time(const Destination &d, const Item *remote)
{
    if (remote == nullptr || remote->mtime_ms == -1)
        return;
    if (d.kind != Destination::Kind::new_file && d.kind != Destination::Kind::replace_file &&
        d.kind != Destination::Kind::append_file)
        return;
    if (!set_local_mtime(d.path, remote->mtime_ms)) {
        int err = errno;
        end_progress_line();
        std::fprintf(stderr, "vnsmb1c: cannot set the modification time of %s: %s\n", printable(d.path).c_str(),
                     std::strerror(err));
    }
}
