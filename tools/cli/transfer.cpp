// Reading files: cat to standard output, get to a local file (or a folder
// of them with -r) with progress.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"
#include "local_file.h"
#include "vnsmb1c.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChunk = 60 * 1024;
constexpr int kMaxDepth = 64;  // folder levels get -r descends
constexpr auto kRedraw = std::chrono::milliseconds(100);
// After a dropped connection: the first pause before trying again, and the
// longest, the pauses doubling in between.
constexpr auto kFirstPause = std::chrono::milliseconds(250);
constexpr auto kLongestPause = std::chrono::milliseconds(4000);
constexpr double kDefaultTimeoutS = 30;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Progress {
    bool bar = false;
    std::string name;  // the destination as shown
    int64_t total = 0;
    Clock::time_point start = Clock::now();
    Clock::time_point last_draw{};

    void draw(int64_t done, bool final)
    {
        if (!bar)
            return;
        auto now = Clock::now();
        if (!final && now - last_draw < kRedraw)
            return;
        last_draw = now;
        double elapsed = seconds_since(start);
        ProgressFigures f;
        f.name = name;
        f.done = done;
        f.total = total;
        f.rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
        f.seconds = final ? elapsed : f.rate > 0 ? static_cast<double>(total - done) / f.rate : -1;
        f.final = final;
        draw_progress_line(progress_text(f, terminal_width()), final);
    }
};

// What one copy needs besides the handle.
struct CopyJob {
    const Target *target = nullptr;  // for error reports
    const FakeFault *fault = nullptr;
    Progress progress;
    int64_t done = 0;
    double timeout_s = kDefaultTimeoutS;  // how long a lost connection is waited for
    bool quiet = false;
};

bool connection_lost(int rc)
{
    return rc == VNSMB1C_ENET || rc == VNSMB1C_ENOSESSION;
}

// The read at job.done failed with rc, a lost connection. The library
// connects again (and reopens the file) on the next call, so the read is
// tried again, with growing pauses, until the time-out has passed since the
// loss. The bytes so far stay where they are, and the copy goes on from
// there. The last result of the read.
int read_again(int handle, CopyJob &job, unsigned char *buf, int rc)
{
    const auto lost_at = Clock::now();
    const auto window = std::chrono::duration<double>(job.timeout_s);
    auto pause = std::chrono::duration_cast<Clock::duration>(kFirstPause);
    int attempts = 0;
    while (connection_lost(rc) && Clock::now() - lost_at < window) {
        if (!job.quiet) {
            end_progress_line();
            std::fprintf(stderr, "vnsmb1c: %s: connection lost after %" PRId64 " bytes (%s); trying again%s\n",
                         printable(job.target->path).c_str(), job.done, printable(vnsmb1c_last_error()).c_str(),
                         attempts == 0 ? (" for up to " + std::to_string(static_cast<int>(job.timeout_s)) + " s").c_str()
                                       : "");
        }
        auto left = std::chrono::duration_cast<Clock::duration>(window - (Clock::now() - lost_at));
        std::this_thread::sleep_for(std::min(pause, std::max(left, Clock::duration::zero())));
        pause = std::min(pause * 2, std::chrono::duration_cast<Clock::duration>(kLongestPause));
        attempts++;
        rc = vnsmb1c_read_at(handle, job.done, buf, kChunk);
    }
    if (rc >= 0 && attempts > 0 && !job.quiet) {
        end_progress_line();
        std::fprintf(stderr, "vnsmb1c: %s: connected again; going on from %" PRId64 " bytes\n",
                     printable(job.target->path).c_str(), job.done);
    }
    return rc;
}

// Opens the file at the share-qualified path; 0 or an exit code.
int open_remote(const Target &t, int &handle)
{
    auto slash = t.path.find_last_of('/');
    if (t.path.empty() || slash == std::string::npos) {
        std::fprintf(stderr, "vnsmb1c: the URL names no file inside a share\n");
        return kExitUsage;
    }
    std::string folder = t.path.substr(0, slash);
    std::string name = t.path.substr(slash + 1);
    int h = vnsmb1c_open(folder.c_str(), name.c_str());
    if (h < 0)
        return report_failure(h, t);
    handle = h;
    return 0;
}

// Copies the whole file to out; 0 or an exit code. Every byte the size
// promised must arrive.
int copy_file(int handle, OpenDestination &out, CopyJob &job)
{
    int64_t size = vnsmb1c_size(handle);
    if (size < 0)
        return report_failure(static_cast<int>(size), *job.target);
    job.progress.total = size;
    std::vector<unsigned char> buf(kChunk);
    job.done = 0;
    bool fault_thrown = false;
    while (job.done < size) {
        if (job.fault != nullptr && job.fault->at_bytes >= 0 && !fault_thrown && job.done >= job.fault->at_bytes) {
            vnsmb1c_fake_set_fault(job.fault->name.c_str(), job.fault->value);
            fault_thrown = true;
        }
        int n = vnsmb1c_read_at(handle, job.done, buf.data(), kChunk);
        if (connection_lost(n))
            n = read_again(handle, job, buf.data(), n);
        if (n < 0)
            return report_failure(n, *job.target);
        if (n == 0)
            break;
        if (int rc = out.write(buf.data(), static_cast<size_t>(n)); rc != 0)
            return rc;
        job.done += n;
        job.progress.draw(job.done, false);
    }
    if (job.done != size) {
        end_progress_line();
        std::fprintf(stderr, "vnsmb1c: %s: the file ended after %" PRId64 " of %" PRId64 " bytes\n",
                     printable(job.target->path).c_str(), job.done, size);
        return exit_code_for(VNSMB1C_EOF);
    }
    job.progress.draw(job.done, true);
    return 0;
}

// Copies the remote file t.path to d; 0 or an exit code.
int get_file(const GlobalOptions &opt, const Target &t, const Destination &d, bool force, CopyJob &job)
{
    int handle = 0;
    if (int rc = open_remote(t, handle); rc != 0)
        return rc;
    OpenDestination out;
    int rc = out.open(d, force);
    if (rc == 0) {
        job.target = &t;
        job.fault = &opt.fault;
        job.quiet = opt.quiet;
        if (opt.timeout_s > 0)
            job.timeout_s = opt.timeout_s;
        job.progress.name = d.path.empty() ? "(standard output)" : d.path;
        // No bar between the bytes themselves when both go to one terminal.
        bool bytes_on_terminal = d.kind == Destination::Kind::standard_output && isatty(STDOUT_FILENO) == 1;
        job.progress.bar = !opt.quiet && isatty(STDERR_FILENO) == 1 && !bytes_on_terminal;
        job.progress.start = Clock::now();
        rc = copy_file(handle, out, job);
    }
    vnsmb1c_close(handle);
    return rc == 0 ? out.commit() : rc;
}

void print_summary(const std::string &from, const std::string &to, int64_t bytes, double secs)
{
    double rate = secs > 0 ? static_cast<double>(bytes) / secs : 0;
    std::fprintf(stderr, "%s -> %s: %" PRId64 " bytes in %.2f s (%s/s)\n", printable(from).c_str(),
                 printable(to).c_str(), bytes, secs, human_size(static_cast<int64_t>(rate)).c_str());
}

struct TreeCopy {
    const GlobalOptions *opt = nullptr;
    const Target *top = nullptr;
    bool force = false;
    int files = 0;
    int64_t bytes = 0;
};

// Copies the remote folder (share-qualified) into the local folder, which
// exists; 0 or an exit code. Listings are taken whole before descending,
// since the library holds one listing at a time.
int get_tree(TreeCopy &tc, const std::string &remote, const std::string &local, int depth)
{
    Target here = *tc.top;
    here.path = remote;
    if (depth > kMaxDepth) {
        end_progress_line();
        std::fprintf(stderr, "vnsmb1c: %s: more than %d folder levels\n", printable(remote).c_str(), kMaxDepth);
        return exit_code_for(VNSMB1C_ELIMIT);
    }
    std::vector<Item> items;
    int n = list_folder(remote, items);
    if (n < 0)
        return report_failure(n, here);
    sort_items(items, SortKey::name, false);
    for (const Item &it : items) {
        if (!safe_local_name(it.name)) {
            end_progress_line();
            std::fprintf(stderr, "vnsmb1c: %s: skipped a name that cannot be a local file name: %s\n",
                         printable(remote).c_str(), printable(it.name).c_str());
            continue;
        }
        Target child = here;
        child.path = remote + "/" + it.name;
        std::string local_child = local + "/" + it.name;
        if (it.folder) {
            if (int rc = make_local_folder(local_child); rc != 0)
                return rc;
            if (int rc = get_tree(tc, child.path, local_child, depth + 1); rc != 0)
                return rc;
            continue;
        }
        struct stat st {};
        if (::stat(local_child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return report_local(printable(local_child) + " is a folder");
        Destination d;
        if (int rc = choose_destination(local_child, it.name, tc.force, d); rc != 0)
            return rc;
        CopyJob job;
        if (int rc = get_file(*tc.opt, child, d, tc.force, job); rc != 0)
            return rc;
        tc.files++;
        tc.bytes += job.done;
    }
    return 0;
}

std::string last_name(const std::string &path)
{
    return path.substr(path.find_last_of('/') + 1);
}

// get -r of a folder: into dest/<name> when dest is a folder, else into a
// new folder named dest (or <name> in the working folder).
int get_folder(const GlobalOptions &opt, const Target &t, const std::string &dest_arg, bool force)
{
    std::string base = last_name(t.path);
    if (dest_arg == "-") {
        std::fprintf(stderr, "vnsmb1c: a folder cannot go to standard output\n");
        return kExitUsage;
    }
    std::string local = dest_arg.empty() ? base : dest_arg;
    struct stat st {};
    if (!dest_arg.empty() && ::stat(local.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        local += (local.back() == '/' ? "" : "/") + base;
    while (local.size() > 1 && local.back() == '/')
        local.pop_back();
    if (int rc = make_local_folder(local); rc != 0)
        return rc;
    TreeCopy tc;
    tc.opt = &opt;
    tc.top = &t;
    tc.force = force;
    auto start = Clock::now();
    int rc = get_tree(tc, t.path, local, 1);
    if (rc == 0 && !opt.quiet) {
        double secs = seconds_since(start);
        std::fprintf(stderr, "%s -> %s: %d file%s, %" PRId64 " bytes in %.2f s\n", printable(t.path).c_str(),
                     printable(local).c_str(), tc.files, tc.files == 1 ? "" : "s", tc.bytes, secs);
    }
    return rc;
}

// Whether the share-qualified path names a folder; a failure to tell is
// left to the open that follows.
bool is_remote_folder(const std::string &path)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return true;  // the share itself
    std::vector<Item> items;
    if (list_folder(path.substr(0, slash), items, true) < 0)
        return false;
    std::string name = path.substr(slash + 1);
    for (const Item &it : items)
        if (it.name == name)
            return it.folder;
    return false;
}

}  // namespace

int cmd_cat(const GlobalOptions &opt, const std::string &url)
{
    Target t;
    if (int rc = connect_to(opt, url, t); rc != 0)
        return rc;
    Destination d;
    d.kind = Destination::Kind::standard_output;
    GlobalOptions quiet = opt;
    quiet.quiet = true;
    CopyJob job;
    int rc = get_file(quiet, t, d, false, job);
    vnsmb1c_disconnect();
    return rc;
}

int cmd_get(const GlobalOptions &opt, const std::string &url, const std::string &dest_arg, const GetOptions &go)
{
    Target t;
    if (int rc = resolve_target(url, opt, t); rc != 0)
        return rc;
    if (t.path.empty() || (t.path.find('/') == std::string::npos && !go.recursive)) {
        std::fprintf(stderr, "vnsmb1c: the URL names no %s\n", go.recursive ? "share" : "file inside a share");
        return kExitUsage;
    }
    if (int rc = open_session(opt, t); rc != 0)
        return rc;
    if (go.recursive && !t.path.empty() && is_remote_folder(t.path)) {
        int rc = get_folder(opt, t, dest_arg, go.force);
        vnsmb1c_disconnect();
        return rc;
    }
    Destination d;
    if (int rc = choose_destination(dest_arg, last_name(t.path), go.force, d); rc != 0) {
        vnsmb1c_disconnect();
        return rc;
    }
    CopyJob job;
    int rc = get_file(opt, t, d, go.force, job);
    if (rc == kExitUsage && !go.recursive && is_remote_folder(t.path))
        std::fprintf(stderr, "vnsmb1c: get -r copies a folder\n");
    vnsmb1c_disconnect();
    if (rc == 0 && !job.progress.bar && !opt.quiet)
        print_summary(t.path, d.path.empty() ? "(standard output)" : d.path, job.done,
                      seconds_since(job.progress.start));
    return rc;
}
