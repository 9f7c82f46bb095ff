#include "interop/support/tree_manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "crypto/crypto.h"

namespace fs = std::filesystem;

namespace {

std::string hex(const uint8_t *bytes, size_t n)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

long long mtime_ns(const struct stat &st)
{
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

std::string file_digest(const fs::path &path, off_t size)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        throw std::runtime_error("cannot open " + path.string());
    Sha256Ctx ctx;
    vnb_sha256_init(&ctx);
    std::vector<uint8_t> buf(1 << 20);
    off_t pos = 0;
    while (pos < size) {
        off_t data = lseek(fd, pos, SEEK_DATA);
        if (data < 0)
            break;  // only a hole remains (ENXIO)
        off_t hole = lseek(fd, data, SEEK_HOLE);
        if (hole < 0)
            hole = size;
        uint64_t extent[2] = {static_cast<uint64_t>(data), static_cast<uint64_t>(hole - data)};
        vnb_sha256_update(&ctx, extent, sizeof extent);
        for (off_t at = data; at < hole;) {
            size_t want = static_cast<size_t>(std::min<off_t>(hole - at, static_cast<off_t>(buf.size())));
            ssize_t n = pread(fd, buf.data(), want, at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                close(fd);
                throw std::runtime_error("cannot read " + path.string());
            }
            vnb_sha256_update(&ctx, buf.data(), static_cast<uint64_t>(n));
            at += n;
        }
        pos = hole;
    }
    close(fd);
    uint8_t digest[32];
    vnb_sha256_final(&ctx, digest);
    return hex(digest, sizeof digest);
}

}  // namespace

std::string tree_manifest(const fs::path &root)
{
    std::vector<fs::path> entries;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end(),
              [](const fs::path &a, const fs::path &b) { return a.native() < b.native(); });

    std::string text;
    for (const auto &path : entries) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            throw std::runtime_error("cannot stat " + path.string());
        std::string rel = path.lexically_relative(root).native();
        char line[160];
        if (S_ISDIR(st.st_mode)) {
            std::snprintf(line, sizeof line, " mtime=%lld", mtime_ns(st));
            text += "D " + rel + line + "\n";
        } else if (S_ISLNK(st.st_mode)) {
            text += "L " + rel + " -> " + fs::read_symlink(path).native() + "\n";
        } else if (S_ISREG(st.st_mode)) {
            std::snprintf(line, sizeof line, " size=%lld mtime=%lld sha256=", static_cast<long long>(st.st_size),
                          mtime_ns(st));
            text += "F " + rel + line + file_digest(path, st.st_size) + "\n";
        } else {
            text += "? " + rel + "\n";
        }
    }
    return text;
}
