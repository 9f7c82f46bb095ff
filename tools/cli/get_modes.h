// get's ways with files that exist already: -c goes on with a partial
// copy once its bytes match the server's, -u leaves a file of the same size
// and time alone, -n leaves any alone; and every file get writes keeps the
// server's modification time.
#pragma once

#include <cstdint>
#include <string>

#include "listing.h"
#include "options.h"
#include "transfer.h"
#include "local_file.h"

enum class ExistingPlan {
    copy,    // copy the whole file again (through a temporary file)
    resume,  // append what is missing
    skip,    // leave it as it is
    refuse,  // leave it, and count it as a failure (exit code 4)
};

struct ExistingDecision {
    ExistingPlan plan = ExistingPlan::copy;
    int64_t resume_at = 0;  // resume: the bytes already here
    std::string why;        // skip, refuse: what was found, in words
};

// Whether go asks about existing files at all (-c, -u or -n).
bool keeps_existing(const GetOptions &go);

// What get does about the regular file d.path, which exists, given the
// remote file open as handle (remote_size bytes) and its listed entry (NULL
// when unknown). -c reads the first and last bytes of the part here from
// both sides. 0 with the decision, or an exit code after a message.
int decide_existing(const GetOptions &go, const Target &t, const Destination &d, int handle, int64_t remote_size,
                    const Item *remote, ExistingDecision &out);

// Gives the file get wrote the server's modification time (nothing for
// standard output, devices and pipes, or when the time is not known). A
// failure is reported on standard error and otherwise ignored.
void keep_server_time(const Destination &d, const Item *remote);
