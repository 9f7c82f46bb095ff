#include "interop/support/samba_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace interop {

namespace {

std::string check_rel(const std::string &rel)
{
    fs::path p(rel);
    if (p.is_absolute())
        throw std::runtime_error("share path must be relative: " + rel);
    for (const auto &part : p)
        if (part == "..")
            throw std::runtime_error("share path must stay inside the share: " + rel);
    return rel;
}

}  // namespace

std::vector<uint8_t> pattern_bytes(uint64_t size, uint64_t seed)
{
    std::vector<uint8_t> out(size);
    uint64_t state = seed;
    for (uint64_t i = 0; i < size; i += 8) {
        // splitmix64
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        for (uint64_t k = 0; k < 8 && i + k < size; ++k)
            out[i + k] = static_cast<uint8_t>(z >> (8 * k));
    }
    return out;
}

ShareConfig read_only_share(const std::string &name, bool guest_ok)
{
    ShareConfig config;
    config.name = name;
    config.guest_ok = guest_ok;
    return config;
}

ShareConfig private_share(const std::string &name, const std::string &user)
{
    ShareConfig config;
    config.name = name;
    config.valid_users = {user};
    config.owner = user;
    return config;
}

ShareConfig writable_share(const std::string &name)
{
    ShareConfig config;
    config.name = name;
    config.guest_ok = true;
    config.writable = true;
    return config;
}

const SambaServer::Share &SambaServer::share(const std::string &name) const
{
    for (const auto &s : shares_)
        if (s.config.name == name)
            return s;
    throw std::runtime_error("no share " + name);
}

fs::path SambaServer::path(const std::string &share_name, const std::string &rel) const
{
    const Share &s = share(share_name);
    return rel.empty() ? s.dir : s.dir / check_rel(rel);
}

void SambaServer::fix_modes(const Share &s, const fs::path &p) const
{
    struct stat st;
    if (lstat(p.c_str(), &st) != 0)
        throw std::runtime_error("cannot stat " + p.string());
    if (S_ISLNK(st.st_mode))
        return;
    bool dir = S_ISDIR(st.st_mode);
    mode_t mode = !s.config.owner.empty() ? (dir ? 0700 : 0600)
                  : s.config.writable     ? (dir ? 0777 : 0666)
                                        : (dir ? 0755 : 0644);
    // Only what differs is changed: inode updates are what makes creating
    // folders of 60,000 entries slow.
    if ((st.st_uid != s.uid || st.st_gid != s.gid) && lchown(p.c_str(), s.uid, s.gid) != 0)
        throw std::runtime_error("cannot set the owner of " + p.string());
    if ((st.st_mode & 07777) != mode && chmod(p.c_str(), mode) != 0)
        throw std::runtime_error("cannot set the mode of " + p.string());
}

void SambaServer::fix_tree(const Share &s) const
{
    fix_modes(s, s.dir);
    for (const auto &entry : fs::recursive_directory_iterator(s.dir))
        fix_modes(s, entry.path());
}

fs::path SambaServer::prepare(const std::string &share_name, const std::string &rel) const
{
    const Share &s = share(share_name);
    fs::path target = s.dir / check_rel(rel);
    fs::path at = s.dir;
    for (const auto &part : target.parent_path().lexically_relative(s.dir)) {
        if (part == ".")
            continue;
        at /= part;
        if (fs::create_directory(at))
            fix_modes(s, at);
    }
    return target;
}

void SambaServer::write_file(const std::string &share_name, const std::string &rel, std::string_view bytes)
{
    fs::path p = prepare(share_name, rel);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + p.string());
    fix_modes(share(share_name), p);
}

std::vector<uint8_t> SambaServer::write_random_file(const std::string &share_name, const std::string &rel,
                                                    uint64_t size, uint64_t seed)
{
    auto bytes = pattern_bytes(size, seed);
    write_file(share_name, rel, std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
    return bytes;
}

void SambaServer::write_sparse_file(const std::string &share_name, const std::string &rel, uint64_t size,
                                    const std::vector<SparseMarker> &markers)
{
    fs::path p = prepare(share_name, rel);
    int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + p.string());
    bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
    for (const auto &m : markers) {
        ok = ok && m.offset + m.text.size() <= size &&
             pwrite(fd, m.text.data(), m.text.size(), static_cast<off_t>(m.offset)) ==
                 static_cast<ssize_t>(m.text.size());
    }
    ok = close(fd) == 0 && ok;
    if (!ok)
        throw std::runtime_error("cannot write the sparse file " + p.string());
    fix_modes(share(share_name), p);
}

void SambaServer::make_dir(const std::string &share_name, const std::string &rel)
{
    fs::path p = prepare(share_name, rel);
    fs::create_directory(p);
    fix_modes(share(share_name), p);
}

void SambaServer::make_entries(const std::string &share_name, const std::string &dir, int count,
                               const std::string &prefix)
{
    make_dir(share_name, dir);
    const Share &s = share(share_name);
    fs::path base = path(share_name, dir);
    for (int i = 0; i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%05d", i);
        fs::path p = base / (prefix + name);
        int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0 || close(fd) != 0)
            throw std::runtime_error("cannot create " + p.string());
        fix_modes(s, p);
    }
}

void SambaServer::set_mtime(const std::string &share_name, const std::string &rel, int64_t unix_seconds)
{
    fs::path p = path(share_name, rel);
    timespec times[2] = {{static_cast<time_t>(unix_seconds), 0}, {static_cast<time_t>(unix_seconds), 0}};
    if (utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the times of " + p.string());
}

}  // namespace interop
