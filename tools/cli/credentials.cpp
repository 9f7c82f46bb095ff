// Where the identity comes from besides the URL: -U in smbclient's forms,
// a credentials file in smbclient's -A form, and the password kept out of
// sight of other users' process listings.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "connect.h"
#include "credentials.h"
#include "errors.h"
#include "options.h"
#include "output.h"

namespace {

constexpr std::string_view kPasswordKey = "\"Password\"";

bool same_word(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (x != b[i])
            return false;
    }
    return true;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Removes bytes [from, to) of arg, moving the rest forward and clearing the
// bytes freed at the end, so that what the process listing shows no longer
// holds them.
void cut_out(char *arg, size_t from, size_t to)
{
    size_t len = std::strlen(arg);
    if (from >= to || to > len)
        return;
    std::memmove(arg + from, arg + to, len - to);
    std::memset(arg + len - (to - from), 0, to - from);
}

void clear_from(char *arg, size_t from)
{
    size_t len = std::strlen(arg);
    if (from < len)
        std::memset(arg + from, 0, len - from);
}

// The password of a URL written [smb:][//][domain;]user:password@host...:
// the bytes from its ":" to the "@" (the ":" included), or nothing.
void hide_url_password(char *arg)
{
    std::string_view text(arg);
    size_t start = 0;
    if (text.size() >= 4 && same_word(text.substr(0, 4), "smb:"))
        start = 4;
    for (int slashes = 0; slashes < 2 && start < text.size() && text[start] == '/'; slashes++)
        start++;
    size_t end = text.find('/', start);
    std::string_view authority = text.substr(start, end == std::string_view::npos ? text.npos : end - start);
    size_t at = authority.rfind('@');
    if (at == std::string_view::npos)
        return;
    std::string_view info = authority.substr(0, at);
    size_t semi = info.rfind(';');
    size_t colon = info.rfind(':');
    if (colon == std::string_view::npos || (semi != std::string_view::npos && colon < semi))
        return;
    cut_out(arg, start + colon, start + at);
}

// The value of "Password" in a settings JSON text, each byte replaced by '*'.
void hide_json_password(char *arg)
{
    std::string_view text(arg);
    for (size_t key = text.find(kPasswordKey); key != std::string_view::npos; key = text.find(kPasswordKey, key + 1)) {
        size_t p = key + kPasswordKey.size();
        while (p < text.size() && (text[p] == ' ' || text[p] == ':'))
            p++;
        if (p >= text.size() || text[p] != '"')
            continue;
        for (p++; p < text.size() && text[p] != '"'; p++) {
            if (text[p] == '\\' && p + 1 < text.size())
                arg[p++] = '*';
            arg[p] = '*';
        }
    }
}

}  // namespace

void split_user_option(const std::string &value, GlobalOptions &opt)
{
    std::string user = value;
    auto percent = user.find('%');
    if (percent != std::string::npos) {
        opt.password = user.substr(percent + 1);
        opt.password_given = true;
        user.erase(percent);
    }
    auto separator = user.find_first_of("\\/");
    if (separator != std::string::npos) {
        opt.domain = user.substr(0, separator);
        user.erase(0, separator + 1);
    }
    opt.user = user;
}

int read_credentials_file(const std::string &path, GlobalOptions &opt)
{
    std::string text;
    if (!read_text_file(path, text))
        return report_local("cannot read the credentials file " + printable(path));
    std::string_view rest(text);
    while (!rest.empty()) {
        size_t eol = rest.find('\n');
        std::string_view line = rest.substr(0, eol);
        rest = eol == std::string_view::npos ? std::string_view{} : rest.substr(eol + 1);
        size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view key = trim(line.substr(0, eq));
        std::string value(trim(line.substr(eq + 1)));
        // The command line wins over the file, the file over the URL.
        if (same_word(key, "username") && opt.user.empty()) {
            opt.user = value;
        } else if (same_word(key, "password") && !opt.password_given) {
            opt.password = value;
            opt.password_given = true;
        } else if (same_word(key, "domain") && opt.domain.empty()) {
            opt.domain = value;
        }
    }
    std::memset(text.data(), 0, text.size());
    return 0;
}

void hide_passwords(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        char *arg = argv[i];
        std::string_view a(arg);
        bool next_is_password = a == "-P" || a == "--password";
        bool next_is_user = a == "-U" || a == "--user";
        if ((next_is_password || next_is_user) && i + 1 < argc) {
            char *value = argv[++i];
            const char *percent = std::strchr(value, '%');
            if (next_is_password)
                clear_from(value, 0);
            else if (percent != nullptr)
                clear_from(value, static_cast<size_t>(percent - value));
            continue;
        }
        if (a.rfind("--password=", 0) == 0) {
            clear_from(arg, std::strlen("--password="));
        } else if (a.rfind("-P", 0) == 0 && a.size() > 2 && a[2] != '-') {
            clear_from(arg, 2);
        } else if (a.rfind("-U", 0) == 0 || a.rfind("--user=", 0) == 0) {
            if (const char *percent = std::strchr(arg, '%'))
                clear_from(arg, static_cast<size_t>(percent - arg));
        } else if (!a.empty() && a[0] == '{') {
            hide_json_password(arg);
        } else if (!a.empty() && a[0] != '-') {
            hide_url_password(arg);
        }
    }
}
