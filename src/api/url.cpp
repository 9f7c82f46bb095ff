// Splitting an SMB URL into host, port, identity and share-relative path.
// Nothing is percent-decoded: every part is copied exactly as written.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "api/host_name.h"
#include "util/error.h"
#include "util/path.h"
#include "vnsmb1c.h"

namespace {

// The longest URL worth reading: "smb://", the largest identity the
// library's callers take (domain;user:password@), a bracketed host name,
// a port, and a path as long as the path gate reads.
constexpr size_t kMaxScheme = 6;                    // "smb://"
constexpr size_t kMaxIdentity = 128 + 1 + 128 + 1 + 256 + 1;
constexpr size_t kMaxHostText = 2 + 255 + 1 + 5;    // "[host]:65535"
constexpr size_t kMaxPathInput = 1 + 2048;          // "/" and what vnb_vpath reads
constexpr size_t kMaxUrl = kMaxScheme + kMaxIdentity + kMaxHostText + kMaxPathInput;
constexpr int32_t kPathArea = 1026;
constexpr int kSchemeShown = 16;  // bytes of a refused scheme quoted in the error

constexpr char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool is_alpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

constexpr bool is_hex(char c)
{
    return is_digit(c) || (lower(c) >= 'a' && lower(c) <= 'f');
}

constexpr bool has_smb_scheme(std::string_view s)
{
    return s.size() >= 4 && lower(s[0]) == 's' && lower(s[1]) == 'm' && lower(s[2]) == 'b' && s[3] == ':';
}

// The scheme of "scheme://..." (letters, digits, "+", "-", "." after a
// letter), or "" when the text does not start that way. "host:port/..."
// has no "//" after its colon, so it is not taken for a scheme.
constexpr std::string_view other_scheme(std::string_view s)
{
    if (s.empty() || !is_alpha(s[0]))
        return {};
    size_t i = 1;
    while (i < s.size() && (is_alpha(s[i]) || is_digit(s[i]) || s[i] == '+' || s[i] == '-' || s[i] == '.'))
        i++;
    if (s.substr(i, 3) != "://")
        return {};
    return s.substr(0, i);
}

// An IPv6 address as written between brackets: hex digits, colons and dots
// (for an embedded IPv4 address), then optionally "%" and a zone name.
constexpr bool is_ipv6_literal(std::string_view s)
{
    size_t zone = s.find('%');
    std::string_view addr = s.substr(0, zone);
    if (addr.find(':') == std::string_view::npos)
        return false;
    for (char c : addr)
        if (!is_hex(c) && c != ':' && c != '.')
            return false;
    if (zone == std::string_view::npos)
        return true;
    std::string_view name = s.substr(zone + 1);
    if (name.empty())
        return false;
    for (char c : name)
        if (!is_alpha(c) && !is_digit(c) && c != '-' && c != '_' && c != '.' && c != '~')
            return false;
    return true;
}

// A label the C library's address parser reads as a number: decimal
// digits, or "0x" and hex digits.
constexpr bool numeric_label(std::string_view label)
{
    if (label.size() > 2 && label[0] == '0' && lower(label[1]) == 'x') {
        for (char c : label.substr(2))
            if (!is_hex(c))
                return false;
        return true;
    }
    if (label.empty())
        return false;
    for (char c : label)
        if (!is_digit(c))
            return false;
    return true;
}

// Four decimal numbers from 0 to 255 without leading zeros, dot-separated.
constexpr bool dotted_quad(std::string_view host)
{
    int parts = 0;
    while (parts < 4) {
        size_t dot = host.find('.');
        std::string_view label = host.substr(0, dot);
        if (label.empty() || label.size() > 3 || (label.size() > 1 && label[0] == '0'))
            return false;
        int v = 0;
        for (char c : label) {
            if (!is_digit(c))
                return false;
            v = v * 10 + (c - '0');
        }
        if (v > 255)
            return false;
        parts++;
        if (dot == std::string_view::npos)
            return parts == 4;
        host.remove_prefix(dot + 1);
    }
    return false;
}

}  // namespace

int32_t vnb_check_host(std::string_view host, const char *prefix)
{
    constexpr int kShown = 64;  // bytes of a refused host quoted in the error
    int shown = static_cast<int>(host.size() < kShown ? host.size() : kShown);
    if (host.find(':') != std::string_view::npos) {
        if (is_ipv6_literal(host))
            return 0;
        return vnb_fail(-6, "%sbad host address \"%.*s\" (an IPv6 address is hex digits and colons)", prefix,
                        shown, host.data());
    }
    std::string_view labels = !host.empty() && host.back() == '.' ? host.substr(0, host.size() - 1) : host;
    if (labels.empty())
        return vnb_fail(-6, "%sbad host name \"%.*s\"", prefix, shown, host.data());
    size_t last_dot = labels.rfind('.');
    std::string_view last = last_dot == std::string_view::npos ? labels : labels.substr(last_dot + 1);
    for (size_t i = 0; i < labels.size(); i++) {
        char c = labels[i];
        bool empty_label = c == '.' && (i == 0 || labels[i - 1] == '.' || i + 1 == labels.size());
        if (empty_label || !(is_alpha(c) || is_digit(c) || c == '-' || c == '_' || c == '.'))
            return vnb_fail(-6, "%sbad host name \"%.*s\" (letters, digits, '-', '_' and '.' only)", prefix, shown,
                            host.data());
    }
    if (numeric_label(last) && !dotted_quad(host))
        return vnb_fail(-6, "%sbad host address \"%.*s\" (an IPv4 address is four numbers from 0 to 255)", prefix,
                        shown, host.data());
    return 0;
}

namespace {

// Reads a port the way strtol does (leading white space and a sign
// allowed) from text, which ends at the end of the authority. -1 unless
// the whole text is one number from 1 to 65535.
long read_port(std::string_view text)
{
    char digits[16];
    if (text.empty() || text.size() >= sizeof digits)
        return -1;
    std::memcpy(digits, text.data(), text.size());
    digits[text.size()] = '\0';
    char *stop = nullptr;
    errno = 0;
    long v = std::strtol(digits, &stop, 10);
    if (stop == digits || *stop != '\0' || errno == ERANGE || v < 1 || v > 65535)
        return -1;
    return v;
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

// "[domain;]user[:password]": the last ";" ends the domain, the last ":"
// starts the password.
int32_t deliver_identity(std::string_view info, char *user, int32_t user_size, char *password,
                         int32_t password_size, char *domain, int32_t domain_size)
{
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
    return deliver(dom, domain, domain_size, "url domain too long");
}

// Splits "host[:port]" or "[ipv6][:port]" into the host name, without
// brackets, and the port (left untouched when none is written).
int32_t split_host_port(std::string_view text, std::string_view &host, int32_t *port)
{
    std::string_view port_text;
    bool has_port = false;
    if (!text.empty() && text.front() == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos)
            return vnb_fail(-6, "url: an unbalanced IPv6 bracket");
        std::string_view after = text.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            return vnb_fail(-6, "url: junk after the IPv6 literal");
        host = text.substr(1, close - 1);
        if (!host.empty() && !is_ipv6_literal(host))
            return vnb_fail(-6, "url: not an IPv6 address between the brackets");
        has_port = !after.empty();
        port_text = has_port ? after.substr(1) : after;
    } else {
        size_t colon = text.find(':');
        host = text.substr(0, colon);
        has_port = colon != std::string_view::npos;
        if (has_port)
            port_text = text.substr(colon + 1);
    }
    if (!has_port)
        return 0;
    long v = read_port(port_text);
    if (v < 0)
        return vnb_fail(-6, "url: bad port");
    if (port != nullptr)
        *port = static_cast<int32_t>(v);
    return 0;
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
    if (has_smb_scheme(text)) {
        text.remove_prefix(4);
    } else if (std::string_view scheme = other_scheme(text); !scheme.empty()) {
        return vnb_fail(-6, "url: unsupported scheme \"%.*s\" (only smb:// is supported)",
                        static_cast<int>(scheme.size() < kSchemeShown ? scheme.size() : kSchemeShown), scheme.data());
    }
    for (int i = 0; i < 2 && !text.empty() && text.front() == '/'; i++)
        text.remove_prefix(1);

    size_t slash = text.find('/');
    std::string_view authority = text.substr(0, slash);
    std::string_view rest;  // what follows the authority, starting at its "/"
    if (slash != std::string_view::npos)
        rest = text.substr(slash);
    size_t at = authority.rfind('@');
    std::string_view host_port = at == std::string_view::npos ? authority : authority.substr(at + 1);

    std::string_view host_part;
    if (int32_t rc = split_host_port(host_port, host_part, port); rc != 0)
        return rc;
    if (at != std::string_view::npos) {
        int32_t rc = deliver_identity(authority.substr(0, at), user, user_size, password, password_size, domain,
                                      domain_size);
        if (rc != 0)
            return rc;
    }

    if (host_size <= 0 || host_part.size() >= static_cast<size_t>(host_size))
        return vnb_fail(-9, "url host too long");
    if (host_part.empty())
        return vnb_fail(-6, "url: no host");
    if (host_port.front() != '[') {
        if (int32_t rc = vnb_check_host(host_part, "url: "); rc != 0)
            return rc;
    }
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
