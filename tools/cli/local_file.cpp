#include "local_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <sys/utime.h>
#include <windows.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "errors.h"
#include "exit_codes.h"
#include "output.h"
#include "terminal.h"

namespace {

// Room left for the file's own name inside the temporary name
// ".<name>.vnsmb1c-XXXXXX", so that it stays within one path component.
constexpr size_t kTempNameRoom = 200;

#ifdef _WIN32
constexpr const char *kSeparators = "/\\";
constexpr int kOpenFlags = O_BINARY;
// No links to follow, no permission bits beyond read-only, no forced flush
// other than the runtime's.
int lstat(const char *path, struct stat *st) { return ::stat(path, st); }
int flush_to_disk(int fd) { return _commit(fd); }

// MoveFileEx without MOVEFILE_REPLACE_EXISTING never replaces: the
// destination may have appeared since it was looked at.
int rename_file(const std::string &from, const std::string &to, bool replace)
{
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(from.c_str(), to.c_str(), flags))
        return 0;
    DWORD err = GetLastError();
    errno = err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS ? EEXIST
            : err == ERROR_ACCESS_DENIED                             ? EACCES
            : err == ERROR_PATH_NOT_FOUND || err == ERROR_FILE_NOT_FOUND ? ENOENT
                                                                     : EIO;
    return -1;
}
#else
constexpr const char *kSeparators = "/";
constexpr int kOpenFlags = O_NOCTTY | O_CLOEXEC;
int flush_to_disk(int fd) { return fsync(fd); }
#endif

std::string folder_of(const std::string &path)
{
    auto slash = path.find_last_of(kSeparators);
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string name_of(const std::string &path)
{
    auto slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ends_in_separator(const std::string &path)
{
    return !path.empty() && std::string_view(kSeparators).find(path.back()) != std::string_view::npos;
}

mode_t new_file_mode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// The file a symbolic link finally names, so that replacing it keeps the link.
std::string through_links(const std::string &path)
{
#ifdef _WIN32
    return path;
#else
    struct stat lst {};
    if (lstat(path.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr)
        return path;
    return resolved;
#endif
}

int refuse_existing(const std::string &path)
{
    end_progress_line();
    std::fprintf(stderr, "vnsmb1c: %s exists; use --force to overwrite it\n", printable(path).c_str());
    return kExitExists;
}

// Renames without replacing: the destination may have appeared since it
// was looked at. Falls back to a look and a plain rename where the file
// system cannot do it in one step.
int rename_new(const std::string &from, const std::string &to)
{
#ifdef _WIN32
    return rename_file(from, to, false);
#else
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
#endif
}

int rename_over(const std::string &from, const std::string &to)
{
#ifdef _WIN32
    return rename_file(from, to, true);  // rename() refuses an existing file there
#else
    return ::rename(from.c_str(), to.c_str());
#endif
}

}  // namespace

int choose_destination(const std::string &dest_arg, const std::string &base, bool force, Destination &out,
                       bool keep_existing)
{
    if (dest_arg == "-") {
        out.kind = Destination::Kind::standard_output;
        out.path.clear();
        return 0;
    }
    std::string dest = dest_arg.empty() ? base : dest_arg;
    if (dest.empty()) {
        std::fprintf(stderr, "vnsmb1c: no destination file name\n");
        return kExitUsage;
    }
    struct stat st {};
    bool exists = ::stat(dest.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return report_errno("cannot create", dest, errno);
    if (exists && S_ISDIR(st.st_mode)) {
        dest += (ends_in_separator(dest) ? "" : "/") + base;
        exists = ::stat(dest.c_str(), &st) == 0;
        if (!exists && errno != ENOENT)
            return report_errno("cannot create", dest, errno);
        if (exists && S_ISDIR(st.st_mode))
            return report_local(printable(dest) + " is a folder");
    } else if (!exists && ends_in_separator(dest)) {
        return report_errno("cannot create", dest, ENOENT);
    }

    out.path = dest;
    out.mode = new_file_mode();
    if (!exists) {
        out.kind = Destination::Kind::new_file;
        return 0;
    }
    if (S_ISREG(st.st_mode)) {
        if (!force && !keep_existing)
            return refuse_existing(dest);
        out.kind = Destination::Kind::replace_file;
        out.path = through_links(dest);
#ifdef _WIN32
        out.mode = st.st_mode & 0777;
#else
        out.mode = st.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID);
#endif
        return 0;
    }
#ifdef S_ISBLK
    // A block device holds data of its own: only on request.
    if (S_ISBLK(st.st_mode) && !force)
        return refuse_existing(dest);
#endif
    out.kind = Destination::Kind::in_place;
    return 0;
}

OpenDestination::~OpenDestination()
{
    discard();
}

void OpenDestination::discard()
{
    if (fd_ >= 0 && dest_.kind != Destination::Kind::standard_output)
        ::close(fd_);
    fd_ = -1;
    if (!temp_.empty()) {
        HeldSignals held;
        ::unlink(temp_.c_str());
        temp_.clear();
        set_interrupt_cleanup("");
    }
}

int OpenDestination::open(const Destination &d, bool force)
{
    dest_ = d;
    force_ = force;
    switch (d.kind) {
    case Destination::Kind::standard_output:
        fd_ = STDOUT_FILENO;
#ifdef _WIN32
        _setmode(fd_, O_BINARY);  // bytes as they are, no CR added before LF
#endif
        return 0;
    case Destination::Kind::in_place:
        // Never created, truncated or removed here: it is written as it is.
        fd_ = ::open(d.path.c_str(), O_WRONLY | kOpenFlags);
        return fd_ >= 0 ? 0 : report_errno("cannot open", d.path, errno);
    case Destination::Kind::append_file:
        fd_ = ::open(d.path.c_str(), O_WRONLY | O_APPEND | kOpenFlags);
        return fd_ >= 0 ? 0 : report_errno("cannot open", d.path, errno);
    case Destination::Kind::new_file:
    case Destination::Kind::replace_file:
        break;
    }
    std::string name = name_of(d.path).substr(0, kTempNameRoom);
    std::string temp = folder_of(d.path) + "/." + name + ".vnsmb1c-XXXXXX";
    if (temp.size() >= PATH_MAX)
        return report_errno("cannot create", d.path, ENAMETOOLONG);
    {
        // The file and the name the interrupt handler removes appear together.
        HeldSignals held;
#ifdef _WIN32
        int fd = mkstemp(temp.data());  // binary mode
#else
        int fd = mkostemp(temp.data(), O_CLOEXEC);
#endif
        if (fd < 0)
            return report_errno("cannot create", d.path, errno);
        temp_ = temp;
        set_interrupt_cleanup(temp_);
        fd_ = fd;
    }
#ifndef _WIN32
    if (fchmod(fd_, d.mode) != 0) {
        int err = errno;
        discard();
        return report_errno("cannot create", d.path, err);
    }
#endif
    return 0;
}

int OpenDestination::write(const void *bytes, size_t length)
{
    auto *p = static_cast<const unsigned char *>(bytes);
    while (length > 0) {
        ssize_t n = ::write(fd_, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            int err = n < 0 ? errno : EIO;
            discard();
            return report_errno("write failed:", dest_.path.empty() ? "standard output" : dest_.path, err);
        }
        p += n;
        length -= static_cast<size_t>(n);
    }
    return 0;
}

int OpenDestination::commit()
{
    if (dest_.kind == Destination::Kind::standard_output) {
        fd_ = -1;
        return 0;
    }
    if (dest_.kind == Destination::Kind::append_file) {
        int err = flush_to_disk(fd_) != 0 ? errno : 0;
        if (::close(fd_) != 0 && err == 0)
            err = errno;
        fd_ = -1;
        return err == 0 ? 0 : report_errno("write failed:", dest_.path, err);
    }
    if (dest_.kind == Destination::Kind::in_place) {
        int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : report_errno("write failed:", dest_.path, errno);
    }
    if (flush_to_disk(fd_) != 0 || ::close(fd_) != 0) {
        int err = errno;
        fd_ = -1;
        discard();
        return report_errno("write failed:", dest_.path, err);
    }
    fd_ = -1;
    HeldSignals held;
    int rc = force_ ? rename_over(temp_, dest_.path) : rename_new(temp_, dest_.path);
    if (rc != 0) {
        int err = errno;
        discard();
        return err == EEXIST ? refuse_existing(dest_.path) : report_errno("cannot create", dest_.path, err);
    }
    temp_.clear();
    set_interrupt_cleanup("");
    return 0;
}

int make_local_folder(const std::string &path)
{
#ifdef _WIN32
    if (::mkdir(path.c_str()) == 0)
#else
    if (::mkdir(path.c_str(), 0777) == 0)
#endif
        return 0;
    int err = errno;
    struct stat st {};
    if (err == EEXIST && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return 0;
    if (err == EEXIST)
        return report_local(printable(path) + " exists and is not a folder");
    return report_errno("cannot create", path, err);
}

bool local_file_times(const std::string &path, int64_t &size, int64_t &mtime_ms)
{
#ifdef _WIN32
    // The 64-bit form: the plain one holds sizes below 2 GiB only.
    struct _stat64 st {};
    if (_stat64(path.c_str(), &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG)
        return false;
    mtime_ms = static_cast<int64_t>(st.st_mtime) * 1000;
#else
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    mtime_ms = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
#endif
    size = static_cast<int64_t>(st.st_size);
    return true;
}

bool set_local_mtime(const std::string &path, int64_t mtime_ms)
{
#ifdef _WIN32
    struct _utimbuf times {};
    times.actime = times.modtime = static_cast<time_t>(mtime_ms / 1000 - (mtime_ms % 1000 < 0 ? 1 : 0));
    return _utime(path.c_str(), &times) == 0;
#else
    int64_t seconds = mtime_ms / 1000;
    int64_t ms = mtime_ms % 1000;
    if (ms < 0) {
        seconds--;
        ms += 1000;
    }
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ms * 1000000);
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
#endif
}

bool safe_local_name(const std::string &name)
{
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
        return false;
#ifdef _WIN32
    // A second separator, a drive or stream colon, and the device names that
    // stand for a device in any folder (with any extension).
    if (name.find_first_of("\\:") != std::string::npos)
        return false;
    std::string stem = name.substr(0, name.find('.'));
    for (char &c : stem)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    static constexpr const char *kDevices[] = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4",
                                               "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2",
                                               "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    for (const char *device : kDevices)
        if (stem == device)
            return false;
#endif
    return true;
}
