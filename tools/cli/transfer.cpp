// Reading files: cat to standard output, get to local files (or folders of
// them with -r) with progress.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "connect.h"
#include "errors.h"
#include "exit_codes.h"
#include "listing.h"
#include "options.h"
#include "output.h"
#include "terminal.h"
#include "transfer.h"
#include "get_modes.h"
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
    int64_t first = 0;  // bytes there before this run (get -c)
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
        f.rate = elapsed > 0 ? static_cast<double>(done - first) / elapsed : 0;
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
    int64_t start = 0;  // where the copy begins (get -c)
    int64_t done = 0;   // where it got to
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

// What a run of get did, for its summary and exit code.
struct Tally {
    int files = 0;
    int skipped = 0;
    int failed = 0;
    int64_t bytes = 0;
    Outcome result;

    void fail(int rc)
    {
        failed++;
        result.add(rc);
    }
};

std::string last_name(const std::string &path)
{
    return path.substr(path.find_last_of('/') + 1);
}

// Opens the file at the share-qualified path; 0 or an exit code.
int open_remote(const Target &t, int &handle)
{
    auto slash = t.path.find_last_of('/');
    if (t.path.empty() || slash == std::string::npos) {
        std::fprintf(stderr, "vnsmb1c: the URL names no file inside a share\n");
        return kExitUsage;
    }
    int h = vnsmb1c_open(t.path.c_str(), nullptr);
    if (h < 0)
        return report_failure(h, t);
    handle = h;
    return 0;
}

// Copies the file from job.start to its end to out; 0 or an exit code.
// Every byte the size promised must arrive.
int copy_file(int handle, OpenDestination &out, CopyJob &job)
{
    int64_t size = vnsmb1c_size(handle);
    if (size < 0)
        return report_failure(static_cast<int>(size), *job.target);
    job.progress.total = size;
    job.progress.first = job.start;
    std::vector<unsigned char> buf(kChunk);
    job.done = job.start;
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

void start_job(CopyJob &job, const GlobalOptions &opt, const Target &t, const Destination &d)
{
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
}

// Copies the open remote file to d; 0 or an exit code.
int write_file(const GlobalOptions &opt, const Target &t, int handle, const Destination &d, bool force, CopyJob &job)
{
    OpenDestination out;
    int rc = out.open(d, force);
    if (rc == 0) {
        start_job(job, opt, t, d);
        rc = copy_file(handle, out, job);
    }
    return rc == 0 ? out.commit() : rc;
}

void print_summary(const std::string &from, const std::string &to, int64_t bytes, double secs)
{
    double rate = secs > 0 ? static_cast<double>(bytes) / secs : 0;
    std::fprintf(stderr, "%s -> %s: %" PRId64 " bytes in %.2f s (%s/s)\n", printable(from).c_str(),
                 printable(to).c_str(), bytes, secs, human_size(static_cast<int64_t>(rate)).c_str());
}

// Copies the remote file t.path to where dest_arg says (a file, a folder,
// "-" or "" for its name here), minding the files there as go says; its
// listed entry gives the time the copy keeps. 0 or an exit code; with
// summary, a line about it on standard error.
int get_file(const GlobalOptions &opt, const GetOptions &go, const Target &t, const Item *remote,
             const std::string &dest_arg, Tally &tally, bool summary)
{
    Destination d;
    if (int rc = choose_destination(dest_arg, last_name(t.path), go.force, d, keeps_existing(go)); rc != 0)
        return rc;
    int handle = 0;
    if (int rc = open_remote(t, handle); rc != 0)
        return rc;
    CopyJob job;
    int rc = 0;
    bool copied = true;
    if (d.kind == Destination::Kind::replace_file && keeps_existing(go)) {
        ExistingDecision plan;
        rc = decide_existing(go, t, d, handle, vnsmb1c_size(handle), remote, plan);
        if (rc == 0 && (plan.plan == ExistingPlan::skip || plan.plan == ExistingPlan::refuse)) {
            copied = false;
            if (plan.plan == ExistingPlan::refuse || (summary && !opt.quiet)) {
                end_progress_line();
                std::fprintf(stderr, "vnsmb1c: %s: %s\n", printable(d.path).c_str(), plan.why.c_str());
            }
            if (plan.plan == ExistingPlan::refuse)
                rc = kExitExists;
            else if (go.resume)
                keep_server_time(d, remote);  // a complete copy of a file with that time
        } else if (rc == 0 && plan.plan == ExistingPlan::resume) {
            d.kind = Destination::Kind::append_file;
            job.start = plan.resume_at;
        }
    }
    if (rc == 0 && copied)
        rc = write_file(opt, t, handle, d, true, job);
    vnsmb1c_close(handle);
    if (rc != 0)
        return rc;
    if (!copied) {
        tally.skipped++;
        return 0;
    }
    keep_server_time(d, remote);
    tally.files++;
    tally.bytes += job.done - job.start;
    if (summary && !job.progress.bar && !opt.quiet)
        print_summary(t.path, d.path.empty() ? "(standard output)" : d.path, job.done - job.start,
                      seconds_since(job.progress.start));
    return 0;
}

// A failure that every later file would meet too ends a walk.
bool ends_the_walk(int rc)
{
    return rc == exit_code_for(VNSMB1C_ENET) || rc == exit_code_for(VNSMB1C_ENOSESSION) ||
           rc == exit_code_for(VNSMB1C_ENOMEM);
}

struct TreeCopy {
    const GlobalOptions *opt = nullptr;
    const GetOptions *go = nullptr;
    const Target *top = nullptr;
    Tally tally;
    bool stopped = false;
};

// Copies the remote folder (share-qualified) into the local folder, which
// exists. A folder it may not read, and a file it cannot copy, are
// reported and left out, and the rest copied; the failure counts for the
// exit code. Listings are taken whole before descending, since the library
// holds one listing at a time.
void get_tree(TreeCopy &tc, const std::string &remote, const std::string &local, int depth)
{
    Target here = *tc.top;
    here.path = remote;
    if (depth > kMaxDepth) {
        end_progress_line();
        std::fprintf(stderr, "vnsmb1c: %s: more than %d folder levels; left out\n", printable(remote).c_str(),
                     kMaxDepth);
        tc.tally.fail(exit_code_for(VNSMB1C_ELIMIT));
        return;
    }
    std::vector<Item> items;
    int n = list_folder(remote, items);
    if (n < 0) {
        int rc = report_failure(n, here);
        end_progress_line();
        std::fprintf(stderr, "vnsmb1c: %s: left out\n", printable(remote).c_str());
        tc.tally.fail(rc);
        tc.stopped = ends_the_walk(rc);
        return;
    }
    sort_items(items, SortKey::name, false);
    for (const Item &it : items) {
        if (tc.stopped)
            return;
        if (!safe_local_name(it.name)) {
            end_progress_line();
            std::fprintf(stderr, "vnsmb1c: %s: skipped a name that cannot be a local file name: %s\n",
                         printable(remote).c_str(), printable(it.name).c_str());
            continue;
        }
        Target child = here;
        child.path = remote + "/" + it.name;
        std::string local_child = local + "/" + it.name;
        int rc = 0;
        if (it.folder) {
            rc = make_local_folder(local_child);
            if (rc == 0)
                get_tree(tc, child.path, local_child, depth + 1);
        } else {
            struct stat st {};
            if (::stat(local_child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                rc = report_local(printable(local_child) + " is a folder");
            else
                rc = get_file(*tc.opt, *tc.go, child, &it, local_child, tc.tally, false);
        }
        if (rc != 0) {
            tc.tally.fail(rc);
            tc.stopped = ends_the_walk(rc) || rc == kExitLocal;
        }
    }
}

// get -r of a folder: into dest/<name> when dest is a folder, else into a
// new folder named dest (or <name> in the working folder).
void get_folder(const GlobalOptions &opt, const GetOptions &go, const Target &t, const std::string &dest_arg,
                Tally &tally)
{
    std::string base = last_name(t.path);
    if (dest_arg == "-") {
        std::fprintf(stderr, "vnsmb1c: a folder cannot go to standard output\n");
        tally.fail(kExitUsage);
        return;
    }
    std::string local = dest_arg.empty() ? base : dest_arg;
    struct stat st {};
    if (!dest_arg.empty() && ::stat(local.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        local += (local.back() == '/' ? "" : "/") + base;
    while (local.size() > 1 && local.back() == '/')
        local.pop_back();
    if (int rc = make_local_folder(local); rc != 0) {
        tally.fail(rc);
        return;
    }
    TreeCopy tc;
    tc.opt = &opt;
    tc.go = &go;
    tc.top = &t;
    auto start = Clock::now();
    get_tree(tc, t.path, local, 1);
    if (!opt.quiet) {
        double secs = seconds_since(start);
        std::string extra;
        if (tc.tally.skipped > 0)
            extra += ", " + std::to_string(tc.tally.skipped) + " left as they were";
        if (tc.tally.failed > 0)
            extra += ", " + std::to_string(tc.tally.failed) + " failed";
        end_progress_line();
        std::fprintf(stderr, "%s -> %s: %d file%s, %" PRId64 " bytes in %.2f s%s\n", printable(t.path).c_str(),
                     printable(local).c_str(), tc.tally.files, tc.tally.files == 1 ? "" : "s", tc.tally.bytes, secs,
                     extra.c_str());
    }
    tally.files += tc.tally.files;
    tally.skipped += tc.tally.skipped;
    tally.failed += tc.tally.failed;
    tally.bytes += tc.tally.bytes;
    tally.result.add(tc.tally.result.code);
}

// The entry of the share-qualified path from a listing of its folder, to
// tell a folder from a file and to learn its time. false when the listing
// fails (the open that follows then decides) or has no such name.
bool look_up(const std::string &path, Item &out)
{
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        out = Item{};
        out.name = path;
        out.folder = true;  // the share itself
        out.mtime_ms = -1;
        return true;
    }
    std::vector<Item> items;
    if (list_folder(path.substr(0, slash), items, true) < 0)
        return false;
    std::string name = path.substr(slash + 1);
    for (Item &it : items)
        if (it.name == name) {
            out = std::move(it);
            return true;
        }
    return false;
}

// The argument is a URL rather than a local destination.
bool looks_like_url(const std::string &arg)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    bool smb = arg.size() >= 4 && lower(arg[0]) == 's' && lower(arg[1]) == 'm' && lower(arg[2]) == 'b' &&
               arg[3] == ':';
    return smb || arg.rfind("//", 0) == 0 || arg.rfind("\\\\", 0) == 0;
}

// One URL of get: its file, its folder (-r), or what its pattern matches.
void get_url(const GlobalOptions &opt, const GetOptions &go, const std::string &url, const std::string &dest,
             bool several, Tally &tally)
{
    Target t;
    if (int rc = resolve_target(url, opt, t); rc != 0)
        return tally.fail(rc);
    if (t.path.empty() || (t.path.find('/') == std::string::npos && !go.recursive)) {
        std::fprintf(stderr, "vnsmb1c: the URL names no %s\n", go.recursive ? "share" : "file inside a share");
        return tally.fail(kExitUsage);
    }
    if (int rc = open_session(opt, t); rc != 0)
        return tally.fail(rc);
    std::vector<RemotePath> paths;
    if (int rc = expand_target(t, paths); rc != 0)
        return tally.fail(rc);
    for (RemotePath &rp : paths) {
        Target one = t;
        one.path = rp.path;
        bool known = rp.listed || look_up(rp.path, rp.item);
        if (known && rp.item.folder) {
            if (!go.recursive) {
                std::fprintf(stderr, "vnsmb1c: %s: is a folder, not a file (get -r copies folders)\n",
                             printable(rp.path).c_str());
                tally.fail(kExitUsage);
                continue;
            }
            get_folder(opt, go, one, dest, tally);
            continue;
        }
        int rc = get_file(opt, go, one, known ? &rp.item : nullptr, dest, tally, true);
        if (rc != 0) {
            tally.fail(rc);
            if (several && ends_the_walk(rc))
                return;
        }
    }
}

}  // namespace

int cmd_cat(const GlobalOptions &opt, const std::vector<std::string> &urls)
{
    GlobalOptions quiet = opt;
    quiet.quiet = true;
    Outcome result;
    for (const std::string &url : urls) {
        Target t;
        if (int rc = connect_to(opt, url, t); rc != 0) {
            result.add(rc);
            continue;
        }
        std::vector<RemotePath> paths;
        if (int rc = expand_target(t, paths); rc != 0) {
            result.add(rc);
            continue;
        }
        for (const RemotePath &rp : paths) {
            Target one = t;
            one.path = rp.path;
            Destination d;
            d.kind = Destination::Kind::standard_output;
            int handle = 0;
            int rc = open_remote(one, handle);
            if (rc == 0) {
                CopyJob job;
                rc = write_file(quiet, one, handle, d, false, job);
                vnsmb1c_close(handle);
            }
            result.add(rc);
        }
    }
    close_session();
    return result.code;
}

int cmd_get(const GlobalOptions &opt, const std::vector<std::string> &args, const GetOptions &go)
{
    std::vector<std::string> urls = args;
    std::string dest;
    if (urls.size() >= 2 && !looks_like_url(urls.back())) {
        dest = urls.back();
        urls.pop_back();
    }
    bool several = urls.size() > 1;
    for (const std::string &u : urls)
        several = several || has_pattern(u);
    struct stat st {};
    if (several && !dest.empty() && dest != "-" && !(::stat(dest.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        std::fprintf(stderr, "vnsmb1c: %s is not a folder: several files go into a folder\n", printable(dest).c_str());
        return kExitUsage;
    }
    Tally tally;
    for (const std::string &url : urls)
        get_url(opt, go, url, dest, several, tally);
    close_session();
    return tally.result.code;
}
