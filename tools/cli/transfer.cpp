// Reading files: cat to standard output, get to a local file with progress.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "cli.h"
#include "vnsmb1c.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChunk = 60 * 1024;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Progress {
    bool bar = false;
    int64_t total = 0;
    Clock::time_point start = Clock::now();
    Clock::time_point last_draw{};

    void draw(int64_t done, bool final)
    {
        if (!bar)
            return;
        auto now = Clock::now();
        if (!final && now - last_draw < std::chrono::milliseconds(100))
            return;
        last_draw = now;
        double elapsed = seconds_since(start);
        double rate = elapsed > 0 ? static_cast<double>(done) / elapsed : 0;
        double left = rate > 0 ? static_cast<double>(total - done) / rate : -1;
        int pct = total > 0 ? static_cast<int>(done * 100 / total) : 100;
        constexpr int kWidth = 30;
        int fill = pct * kWidth / 100;
        std::string cells(static_cast<size_t>(fill), '#');
        cells.append(static_cast<size_t>(kWidth - fill), '.');
        std::fprintf(stderr, "\r[%s] %3d%%  %s / %s  %s/s  %s %s\033[K", cells.c_str(), pct,
                     human_size(done).c_str(), human_size(total).c_str(),
                     human_size(static_cast<int64_t>(rate)).c_str(), final ? "in" : "eta",
                     duration_text(final ? elapsed : left).c_str());
        if (final)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }
};

// Opens the file the target names; the handle, or an exit code as a negative number.
int open_target(const Target &t, int &handle)
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
        return report_failure(h);
    handle = h;
    return 0;
}

// Copies the whole file to out; 0 or an exit code.
int copy_file(int handle, FILE *out, Progress &progress, int64_t &done)
{
    int64_t size = vnsmb1c_size(handle);
    if (size < 0)
        return report_failure(static_cast<int>(size));
    progress.total = size;
    std::vector<unsigned char> buf(kChunk);
    done = 0;
    while (done < size) {
        int n = vnsmb1c_read_at(handle, done, buf.data(), kChunk);
        if (n < 0)
            return report_failure(n);
        if (n == 0)
            break;  // the file shrank since it was opened
        if (std::fwrite(buf.data(), 1, static_cast<size_t>(n), out) != static_cast<size_t>(n))
            return report_local("write failed");
        done += n;
        progress.draw(done, false);
    }
    progress.draw(done, true);
    return 0;
}

}  // namespace

int cmd_cat(const GlobalOptions &opt, const std::string &url)
{
    Target t;
    if (int rc = resolve_target(url, opt, t); rc != 0)
        return rc;
    if (int rc = open_session(opt, t); rc != 0)
        return rc;
    int handle = 0;
    if (int rc = open_target(t, handle); rc != 0)
        return rc;
    Progress none;
    int64_t done = 0;
    int rc = copy_file(handle, stdout, none, done);
    vnsmb1c_close(handle);
    vnsmb1c_disconnect();
    if (rc == 0 && std::fflush(stdout) != 0)
        return report_local("write failed");
    return rc;
}

int cmd_get(const GlobalOptions &opt, const std::string &url, const std::string &dest_arg)
{
    Target t;
    if (int rc = resolve_target(url, opt, t); rc != 0)
        return rc;
    std::string base = t.path.substr(t.path.find_last_of('/') + 1);
    std::string dest = dest_arg.empty() ? base : dest_arg;
    struct stat st {};
    if (!dest.empty() && ::stat(dest.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        dest += (dest.back() == '/' ? "" : "/") + base;
    if (int rc = open_session(opt, t); rc != 0)
        return rc;
    int handle = 0;
    if (int rc = open_target(t, handle); rc != 0)
        return rc;
    FILE *out = std::fopen(dest.c_str(), "wb");
    if (out == nullptr) {
        vnsmb1c_close(handle);
        return report_local("cannot create " + dest);
    }
    Progress progress;
    progress.bar = !opt.quiet && isatty(STDERR_FILENO) == 1;
    int64_t done = 0;
    int rc = copy_file(handle, out, progress, done);
    vnsmb1c_close(handle);
    vnsmb1c_disconnect();
    if (std::fclose(out) != 0 && rc == 0)
        rc = report_local("write failed: " + dest);
    if (rc != 0) {
        std::remove(dest.c_str());
        return rc;
    }
    if (!progress.bar && !opt.quiet) {
        double secs = seconds_since(progress.start);
        double rate = secs > 0 ? static_cast<double>(done) / secs : 0;
        std::fprintf(stderr, "%s -> %s: %" PRId64 " bytes in %.2f s (%s/s)\n", t.path.c_str(), dest.c_str(), done,
                     secs, human_size(static_cast<int64_t>(rate)).c_str());
    }
    return 0;
}
