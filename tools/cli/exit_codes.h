// The tool's exit codes, and how several URLs settle on one.
#pragma once

// Exit codes: 0 success, 2 usage (also a folder where a file is wanted and
// the other way round), 3 local file, 4 destination exists, 10 +
// |ResultCode| for a library failure (11 network ... 21 out of memory), 22
// another failure a host table reported, 128 + the signal number when
// interrupted.
inline constexpr int kExitUsage = 2;
inline constexpr int kExitLocal = 3;
inline constexpr int kExitExists = 4;
inline constexpr int kExitLibraryBase = 10;
inline constexpr int kExitSignalBase = 128;

// Several URLs: the exit code of the first failure, the work going on past it.
struct Outcome {
    int code = 0;
    void add(int rc)
    {
        if (code == 0)
            code = rc;
    }
};
