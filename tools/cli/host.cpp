// "vnsmb1c host ...": the request handler and the folder-access backend
// driven the way a host drives them, printing what the host would get.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cinttypes>
#include <cstring>
#include <cstdio>
#include <string>
#include <vector>

#include "connect.h"
#include "errors.h"
#include "host.h"
#include "options.h"
#include "output.h"
#include "percent.h"
#include "vnsmb1c.h"

namespace {

constexpr int kExitHostFailure = 22;
constexpr size_t kFirstReplyBuffer = size_t{4} << 20;
constexpr size_t kLastReplyBuffer = size_t{1} << 30;

// Request-handler result to exit code.
int exit_for_handler(int code)
{
    switch (code) {
    case 0: return 0;
    case -1: return exit_code_for(VNSMB1C_EAUTH);
    case -2: return exit_code_for(VNSMB1C_ENOTFOUND);
    case -4: return exit_code_for(VNSMB1C_ENET);
    case -6: return exit_code_for(VNSMB1C_EUNSUPP);
    case -8: return exit_code_for(VNSMB1C_EINVAL);
    case -9: return exit_code_for(VNSMB1C_ESMALL);
    default: return kExitHostFailure;
    }
}

// Folder-access status to exit code.
int exit_for_ffa(int status)
{
    switch (status) {
    case VNSMB1C_FFA_OK: return 0;
    case VNSMB1C_FFA_NOCONN: return exit_code_for(VNSMB1C_ENOSESSION);
    case VNSMB1C_FFA_NOTFOUND: return exit_code_for(VNSMB1C_ENOTFOUND);
    case VNSMB1C_FFA_AUTH: return exit_code_for(VNSMB1C_EAUTH);
    case VNSMB1C_FFA_UNSUPPORTED: return exit_code_for(VNSMB1C_EUNSUPP);
    case VNSMB1C_FFA_BADSETTINGS:
    case VNSMB1C_FFA_INVALID: return exit_code_for(VNSMB1C_EINVAL);
    case VNSMB1C_FFA_NOMEM: return exit_code_for(VNSMB1C_ENOMEM);
    default: return kExitHostFailure;
    }
}

std::string json_text(const char *s)
{
    return s == nullptr ? "null" : json_quote(s);
}

std::string entry_json(const vnsmb1c_FolderEntry &e)
{
    std::string out = "{\"name\":" + json_text(e.name) + ",\"path\":" + json_text(e.path) +
                      ",\"folder\":" + (e.is_folder ? "true" : "false") + ",\"size\":" + std::to_string(e.size) +
                      ",\"mtime_ms\":" + std::to_string(e.mtime_ms) + ",\"flags\":" + std::to_string(e.flags);
    if ((e.flags & VNSMB1C_FFA_LOCATOR_VALID) != 0)
        out += ",\"locator\":" + json_text(e.locator);
    return out + "}";
}

const rapidjson::Value *string_member(const rapidjson::Value &obj, const char *key)
{
    auto it = obj.FindMember(key);
    return it != obj.MemberEnd() && it->value.IsString() ? &it->value : nullptr;
}

std::string text_of(const rapidjson::Value *v)
{
    return v != nullptr ? std::string(v->GetString(), v->GetStringLength()) : std::string();
}

void set_member(rapidjson::Document &doc, const char *key, const std::string &value)
{
    rapidjson::Value text(value.c_str(), static_cast<rapidjson::SizeType>(value.size()), doc.GetAllocator());
    if (auto it = doc.FindMember(key); it != doc.MemberEnd())
        it->value = text;
    else
        doc.AddMember(rapidjson::StringRef(key), text, doc.GetAllocator());
}

// The identity of -U, -P, -W, the credentials file and VNSMB1C_PASSWORD
// (or the prompt), written into the settings as UserName, Password and
// DomainName, as it overrides the URL for the other commands. An identity
// in FullUrl with %XX escapes goes in decoded, as the other commands read
// it. Settings that are no JSON object are left to the table to refuse.
void fill_identity(const GlobalOptions &opt, std::string &settings)
{
    rapidjson::Document doc;
    doc.Parse(settings.c_str(), settings.size());
    if (doc.HasParseError() || !doc.IsObject())
        return;
    char host[256] = "";
    char user[256] = "";
    char password[512] = "";
    char domain[256] = "";
    std::string url = text_of(string_member(doc, "FullUrl"));
    if (!url.empty())
        vnsmb1c_url_parse(url.c_str(), host, sizeof host, nullptr, user, sizeof user, password, sizeof password,
                          domain, sizeof domain, nullptr, 0);
    if (host[0] == '\0')
        std::snprintf(host, sizeof host, "%s", text_of(string_member(doc, "HostName")).c_str());
    bool changed = false;
    // A key's value: the option when given, else the key's own, else the
    // URL's part (written in, decoded, when it has escapes).
    auto settle = [&](const char *key, const std::string &option, const char *in_url) -> std::string {
        if (!option.empty()) {
            set_member(doc, key, option);
            changed = true;
            return option;
        }
        std::string value = text_of(string_member(doc, key));
        if (!value.empty())
            return value;
        std::string decoded = percent_decode(in_url);
        if (decoded != in_url) {
            set_member(doc, key, decoded);
            changed = true;
        }
        return decoded;
    };
    std::string who = settle("UserName", opt.user, user);
    settle("DomainName", opt.domain, domain);
    std::string pass = opt.password_given ? opt.password : std::string();
    if (opt.password_given) {
        set_member(doc, "Password", pass);
        changed = true;
    } else if (text_of(string_member(doc, "Password")).empty()) {
        if (password[0] != '\0') {
            settle("Password", "", password);
        } else if (!who.empty() && password_from_elsewhere(who, host, pass)) {
            set_member(doc, "Password", pass);
            changed = true;
        }
    }
    std::memset(password, 0, sizeof password);
    if (!changed)
        return;
    rapidjson::StringBuffer out;
    rapidjson::Writer<rapidjson::StringBuffer> w(out);
    doc.Accept(w);
    settings.assign(out.GetString(), out.GetSize());
}

// "@file" reads the file, "smb://host/share/..." becomes
// {"FullUrl":...,"Path":"share/..."}, anything else is the JSON itself.
int settings_text(const std::string &arg, std::string &out)
{
    if (!arg.empty() && arg[0] == '@') {
        if (!read_text_file(arg.substr(1), out))
            return report_local("cannot read settings " + arg.substr(1));
        return 0;
    }
    if (arg.rfind("smb://", 0) == 0) {
        char host[256] = "";
        char path[4096] = "";
        int32_t port = 0;
        int rc = vnsmb1c_url_parse(arg.c_str(), host, sizeof host, &port, nullptr, 0, nullptr, 0, nullptr, 0, path,
                                   sizeof path);
        if (rc != 0)
            return report_failure(rc);
        out = "{\"FullUrl\":" + json_text(arg.c_str());
        std::string share_path = percent_decode(path);
        if (share_path.find_first_not_of('/') != std::string::npos)
            out += ",\"Path\":" + json_text(share_path.c_str());
        out += "}";
        return 0;
    }
    out = arg;
    return 0;
}

int run_handler(const GlobalOptions &opt, const HostRequest &rq)
{
    if (int rc = select_transport(opt); rc != 0)
        return rc;
    std::string settings;
    if (int rc = settings_text(rq.settings, settings); rc != 0)
        return rc;
    fill_identity(opt, settings);
    const vnsmb1c_RequestHandler *h = vnrch_get();
    std::vector<char> out;
    int code = -9;
    // A reply that does not fit is asked for again with four times the room
    // (a folder of 50,000 entries answers with megabytes).
    for (size_t size = kFirstReplyBuffer; code == -9 && size <= kLastReplyBuffer; size *= 4) {
        out.assign(size, '\0');
        auto cap = static_cast<int32_t>(out.size());
        code = -5;
        if (rq.action == "validate")
            code = h->validate(nullptr, settings.c_str(), out.data(), cap);
        else if (rq.action == "list")
            code = h->list(nullptr, settings.c_str(), rq.path.c_str(), out.data(), cap);
        else if (rq.action == "stream")
            code = h->stream(nullptr, settings.c_str(), rq.path.c_str(), out.data(), cap);
    }
    if (code != -9)
        std::printf("%s\n", out.data());
    if (code != 0)
        std::fprintf(stderr, "vnsmb1c: %s answered %d\n", rq.action.c_str(), code);
    return exit_for_handler(code);
}

int ffa_fail(const char *what, int status)
{
    const char *text = vnsmb1c_last_error();
    std::fprintf(stderr, "vnsmb1c: %s: status %d%s%s\n", what, status, text[0] ? ": " : "", text);
    return exit_for_ffa(status);
}

int ffa_list(const vnsmb1c_FolderBackend *b, const HostRequest &rq)
{
    uint64_t page_size = rq.page > 0 ? static_cast<uint64_t>(rq.page) : 50;
    std::vector<vnsmb1c_FolderEntry> entries(page_size);
    std::string cursor;
    for (int page = 1;; page++) {
        vnsmb1c_ListRequest req{};
        req.cursor = cursor.c_str();
        req.entries = entries.data();
        req.capacity = page_size;
        int st = b->list(b->context, rq.path.c_str(), &req);
        if (st != VNSMB1C_FFA_OK)
            return ffa_fail("list", st);
        std::string out = "{\"page\":" + std::to_string(page) + ",\"count\":" + std::to_string(req.count) +
                          ",\"has_more\":" + (req.has_more ? "true" : "false") +
                          ",\"next_cursor\":" + json_text(req.next_cursor) + ",\"entries\":[";
        for (uint64_t i = 0; i < req.count && i < page_size; i++)
            out += (i ? "," : "") + entry_json(entries[i]);
        std::printf("%s]}\n", out.c_str());
        if (!req.has_more || req.next_cursor == nullptr || !rq.all_pages)
            return 0;
        cursor = req.next_cursor;
    }
}

int run_backend(const GlobalOptions &opt, const HostRequest &rq)
{
    if (int rc = select_transport(opt); rc != 0)
        return rc;
    std::string settings;
    if (int rc = settings_text(rq.settings, settings); rc != 0)
        return rc;
    fill_identity(opt, settings);
    const vnsmb1c_FolderBackend *b = vnsmb1c_vnffa_backend();
    int st = b->open(b->context, settings.c_str());
    if (st != VNSMB1C_FFA_OK)
        return ffa_fail("open", st);
    int rc = 0;
    if (rq.action == "list") {
        rc = ffa_list(b, rq);
    } else if (rq.action == "stat") {
        vnsmb1c_FolderEntry e{};
        st = b->stat(b->context, rq.path.c_str(), &e);
        if (st == VNSMB1C_FFA_OK)
            std::printf("%s\n", entry_json(e).c_str());
        else
            rc = ffa_fail("stat", st);
    } else {
        std::vector<char> buf(8192);
        st = b->locator(b->context, rq.path.c_str(), buf.data(), buf.size());
        if (st == VNSMB1C_FFA_OK)
            std::printf("%s\n", buf.data());
        else
            rc = ffa_fail("locator", st);
    }
    b->close(b->context);
    return rc;
}

}  // namespace

int cmd_host(const GlobalOptions &opt, const HostRequest &rq)
{
    return rq.backend ? run_backend(opt, rq) : run_handler(opt, rq);
}
