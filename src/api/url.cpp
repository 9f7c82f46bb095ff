// Splitting an SMB URL into host, port, identity and share-relative path.
// Nothing is percent-decoded: every part is copied exactly as written.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "util/error.h"
#include "util/path.h"
#include "vnsmb1c.h"

namespace {

constexpr size_t kMaxUrl = 1024;
constexpr int32_t kPathArea = 1026;

constexpr bool has_scheme(std::string_view s)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return s.size() >= 4 && lower(s[0]) == 's' && lower(s[1]) == 'm' && lower(s[2]) == 'b' && s[3] == ':';
}

// Reads a port the way strtol does (leading white space and a sign allowed).
// text points into the NUL-terminated URL; *end gets the first byte after
// the number, or text itself when there are no digits.
long read_port(const char *text, const char **end)
{
    char *stop = nullptr;
    errno = 0;
    long v = std::strtol(text, &stop, 10);
    *end = stop;
    if (errno == ERANGE)
        return -1;
    return v;
}

constexpr bool valid_port(long v)
{
    return v >= 1 && v <= 65535;
}

// Copies part into out when out is given; -9 with text when it does not fit.
int32_t deliver(std::string_view part, char *out, int32_t size, const char *too_long)
{
    if (out == nullptr)
        return 0;
    if (size <= 0 || part.size() >= static_cast<size_t>(size))
        return vnb_fail(-9, "%s", too_long);
    if (!part.empty())
        std::memcpy(out, part.data(), part.size());
    out[part.size()] = '\0';
    return 0;
}

void clear(char *out, int32_t size)
{
    if (out != nullptr && size > 0)
        out[0] = '\0';
}

}  // namespace

extern "C" VNSMB1C_API int vnsmb1c_url_parse(const char *url, char *host, int32_t host_size, int32_t *port, char *user,
                                             int32_t user_size, char *password, int32_t password_size, char *domain,
                                             int32_t domain_size, char *path, int32_t path_size)
{
    if (url == nullptr || url[0] == '\0')
        return vnb_fail(-6, "url: empty");
    size_t url_len = strnlen(url, kMaxUrl + 1);
    if (url_len > kMaxUrl)
        return vnb_fail(-6, "url longer than %d bytes", static_cast<int>(kMaxUrl));
    if (host == nullptr)
        return vnb_fail(-6, "url: no host");
    clear(user, user_size);
    clear(password, password_size);
    clear(domain, domain_size);

    std::string_view text(url, url_len);
    if (has_scheme(text))
        text.remove_prefix(4);
    for (int i = 0; i < 2 && !text.empty() && text.front() == '/'; i++)
        text.remove_prefix(1);

    std::string_view host_part;
    std::string_view rest;  // what follows the authority, starting at its "/"
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos)
            return vnb_fail(-6, "url: an unbalanced IPv6 bracket");
        std::string_view after = text.substr(close + 1);
        if (!after.empty() && after.front() != '/' && after.front() != ':')
            return vnb_fail(-6, "url: junk after the IPv6 literal");
        std::string_view literal = text.substr(0, close + 1);
        if (!after.empty() && after.front() == ':') {
            const char *end = nullptr;
            long v = read_port(after.data() + 1, &end);
            if (*end != '\0' && *end != '/')
                return vnb_fail(-6, "url: bad port");
            // An empty or out-of-range port here is ignored, not refused.
            if (end != after.data() + 1 && valid_port(v) && port != nullptr)
                *port = static_cast<int32_t>(v);
            after = std::string_view(end, static_cast<size_t>(url + url_len - end));
        }
        // Without its port the text after the literal is empty or the path,
        // so the host is the literal, brackets included.
        host_part = literal;
        rest = after;
    } else {
        size_t slash = text.find('/');
        std::string_view authority = text.substr(0, slash);
        if (slash != std::string_view::npos)
            rest = text.substr(slash);
        size_t at = authority.rfind('@');
        host_part = at == std::string_view::npos ? authority : authority.substr(at + 1);

        size_t colon = host_part.find(':');
        if (colon != std::string_view::npos) {
            const char *digits = host_part.data() + colon + 1;
            const char *end = nullptr;
            long v = read_port(digits, &end);
            if (end == digits || (*end != '\0' && *end != '/') || !valid_port(v))
                return vnb_fail(-6, "url: bad port");
            if (port != nullptr)
                *port = static_cast<int32_t>(v);
            host_part = host_part.substr(0, colon);
        }

        if (at != std::string_view::npos) {
            std::string_view info = authority.substr(0, at);
            std::string_view dom;
            size_t semi = info.rfind(';');
            if (semi != std::string_view::npos) {
                dom = info.substr(0, semi);
                info = info.substr(semi + 1);
            }
            std::string_view usr = info;
            std::string_view pwd;
            size_t sep = info.rfind(':');
            if (sep != std::string_view::npos) {
                usr = info.substr(0, sep);
                pwd = info.substr(sep + 1);
            }
            if (int32_t rc = deliver(usr, user, user_size, "url user too long"); rc != 0)
                return rc;
            if (int32_t rc = deliver(pwd, password, password_size, "url pass too long"); rc != 0)
                return rc;
            if (int32_t rc = deliver(dom, domain, domain_size, "url domain too long"); rc != 0)
                return rc;
        }
    }

    if (host_size <= 0 || host_part.size() >= static_cast<size_t>(host_size))
        return vnb_fail(-9, "url host too long");
    if (host_part.empty())
        return vnb_fail(-6, "url: no host");
    std::memcpy(host, host_part.data(), host_part.size());
    host[host_part.size()] = '\0';

    if (path == nullptr)
        return 0;
    if (rest.empty())
        return deliver({}, path, path_size, "url path too long");
    char canon[kPathArea];
    // rest ends where the URL ends, so its text after the "/" is NUL-terminated.
    if (int32_t rc = vnb_vpath(rest.data() + 1, canon, kPathArea); rc != 0)
        return rc;
    return deliver(canon, path, path_size, "url path too long");
}
