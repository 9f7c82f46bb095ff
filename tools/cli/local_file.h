// The local side of get: where the bytes go and how they get there
// without harming anything already on disk.
#pragma once

#include <sys/types.h>

#include <string>

// Where one file's bytes go.
struct Destination {
    enum class Kind {
        standard_output,  // "-"
        new_file,         // through a temporary file renamed into place
        replace_file,     // the same, over an existing regular file (--force)
        in_place,         // a device or pipe: written as it is, never removed
        append_file,      // an existing regular file that get -c goes on with
    };
    Kind kind = Kind::new_file;
    std::string path;  // the file finally written ("" for standard output)
    mode_t mode = 0;   // permissions of the finished file
};

// Decides where a file named base goes for the destination argument dest
// (a file, a folder, "-" or empty for base in the working folder). 0, or an
// exit code after a message: an existing file without force is refused,
// unless keep_existing asks for it as a replace_file for the caller to
// decide on (a block device still needs force).
int choose_destination(const std::string &dest, const std::string &base, bool force, Destination &out,
                       bool keep_existing = false);

// Size and modification time (Unix milliseconds) of a local file; false
// when it cannot be looked at.
bool local_file_times(const std::string &path, int64_t &size, int64_t &mtime_ms);
// Sets a local file's modification (and access) time; false on failure.
bool set_local_mtime(const std::string &path, int64_t mtime_ms);

// An open destination. For a file, the bytes go to a temporary file beside
// it; commit() renames it into place, and until then the destructor
// removes it (as does an interrupt).
class OpenDestination {
public:
    OpenDestination() = default;
    ~OpenDestination();
    OpenDestination(const OpenDestination &) = delete;
    OpenDestination &operator=(const OpenDestination &) = delete;

    // 0, or an exit code after a message. An append_file is opened for
    // appending and never removed: what was there stays whatever happens.
    int open(const Destination &d, bool force);
    // 0, or an exit code after a message.
    int write(const void *bytes, size_t length);
    // Finishes the file: flush, close and rename into place. 0, or an exit
    // code after a message (the temporary file is gone either way).
    int commit();

private:
    void discard();

    Destination dest_;
    bool force_ = false;
    int fd_ = -1;
    std::string temp_;
};

// A folder for get -r: made unless it is already a folder (not a link to
// one). 0, or an exit code after a message.
int make_local_folder(const std::string &path);
// Whether a name from a server's listing is safe as one local path
// component (no separator, not "." or "..", no NUL).
bool safe_local_name(const std::string &name);
