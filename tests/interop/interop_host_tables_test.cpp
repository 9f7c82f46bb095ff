// The two host tables against a real Samba smbd: the request handler
// (validate, list, stream, download) and the folder-access backend "smb1"
// (open, paged list, stat, locator, close), called through their function
// pointers with host-owned buffers and records, as a host calls them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "interop/support/drop_proxy.h"
#include "interop/support/run_process.h"
#include "interop/support/samba_fixture.h"
#include "adapters/folder_backend.h"
#include "api/session_ops.h"
#include "adapters/host_records.h"
#include "vnsmb1c.h"

namespace fs = std::filesystem;
using namespace interop;

namespace {

constexpr const char *kHost = SambaServer::kHost;

// Extra content of "public" next to the standard layout.
constexpr char kCatalog[] = "Catalog";  // a few hundred entries: several backend pages
constexpr int kCatalogFiles = 280;
constexpr int kCatalogFolders = 20;
constexpr char kAccented[] = "Caf\u00e9 \u00c9t\u00e9.flac";
constexpr int64_t kAccentedMtime = 1234567890;
constexpr char kFuture[] = "after2038.bin";  // mtime past the 32-bit second counter
constexpr int64_t kFutureMtime = 4102444800;  // 2100-01-01
const std::vector<std::string> kCatalogHidden = {".hidden_track", "$recycle", "@eaDir"};
constexpr char kNested[] = "Shelf/Nested";
constexpr char kEmpty[] = "Shelf/Empty";
constexpr char kHugeRel[] = "Shelf/huge.bin";
constexpr uint64_t kHugeSize = (5ull << 30) + 3;  // past 4 GiB
constexpr uint64_t kClipSize = 100000;  // public/Movies/clip.bin of the standard layout

std::string file_of_size(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>('a' + i % 26);
    return s;
}

// The standard layout plus the folders the tables are tried on.
void populate_tables(SambaServer &s)
{
    populate_standard(s);
    if (testing::Test::HasFatalFailure())
        return;
    const std::string cat = kCatalog;
    for (int i = 0; i < kCatalogFiles; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "track%03d.bin", i);
        s.write_file(kPublicShare, cat + "/" + name, file_of_size(static_cast<size_t>(i * 37 % 500)));
        s.set_mtime(kPublicShare, cat + "/" + name, 1500000000 + int64_t{i} * 3607);
    }
    for (int i = 0; i < kCatalogFolders; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "album%02d", i);
        s.make_dir(kPublicShare, cat + "/" + name);
        s.set_mtime(kPublicShare, cat + "/" + name, 1400000000 + int64_t{i} * 86400);
    }
    s.write_file(kPublicShare, cat + "/" + kAccented, "flac");
    s.set_mtime(kPublicShare, cat + "/" + kAccented, kAccentedMtime);
    s.write_file(kPublicShare, cat + "/" + kFuture, "2100");
    s.set_mtime(kPublicShare, cat + "/" + kFuture, kFutureMtime);
    for (const auto &h : kCatalogHidden)
        s.write_file(kPublicShare, cat + "/" + h, "hidden");
    s.set_mtime(kPublicShare, cat, 1300000000);

    s.write_file(kPublicShare, std::string(kNested) + "/a.mkv", file_of_size(1000));
    s.set_mtime(kPublicShare, std::string(kNested) + "/a.mkv", 1600000000);
    s.write_file(kPublicShare, std::string(kNested) + "/Inner/deep.txt", "deep\n");
    s.set_mtime(kPublicShare, std::string(kNested) + "/Inner", 1600000100);
    s.make_dir(kPublicShare, kEmpty);
    s.write_sparse_file(kPublicShare, kHugeRel, kHugeSize, {{kHugeSize - 4, "end!"}});
}

// ---- settings and expected texts ----

std::string json_escape(const std::string &text)
{
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
    return sb.GetString();
}

// A settings JSON for the server at port; extra members are appended as given.
std::string settings(int port, const std::string &user = kReader, const std::string &password = kReaderPassword,
                     const std::string &extra = "")
{
    std::string s = std::string(R"({"HostName":")") + kHost + R"(","ServerPort":)" + std::to_string(port);
    if (!user.empty())
        s += R"(,"UserName":)" + json_escape(user);
    if (!password.empty())
        s += R"(,"Password":)" + json_escape(password);
    return s + extra + "}";
}

std::string err_doc(const std::string &text)
{
    return R"({"error":)" + json_escape(text) + "}";
}

// A loopback port on which nothing listens (it was free a moment ago).
int closed_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

// What a listing should show of one folder on disk: hidden names left out.
struct DiskEntry {
    bool folder = false;
    int64_t size = -1;  // -1 for folders, as listed
    int64_t mtime_ms = -1;
};

std::map<std::string, DiskEntry> visible_on_disk(const fs::path &dir)
{
    std::map<std::string, DiskEntry> out;
    for (const auto &e : fs::directory_iterator(dir)) {
        std::string name = e.path().filename().string();
        if (name[0] == '.' || name[0] == '$' || name[0] == '@')
            continue;
        struct stat st {};
        if (lstat(e.path().c_str(), &st) != 0) {
            ADD_FAILURE() << "lstat " << e.path();
            continue;
        }
        DiskEntry d;
        d.folder = S_ISDIR(st.st_mode);
        d.size = d.folder ? -1 : static_cast<int64_t>(st.st_size);
        d.mtime_ms = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000;
        out[name] = d;
    }
    return out;
}

std::vector<std::string> member_names(const rapidjson::Value &obj)
{
    std::vector<std::string> names;
    for (auto m = obj.MemberBegin(); m != obj.MemberEnd(); ++m)
        names.emplace_back(m->name.GetString());
    return names;
}

std::string to_json(const rapidjson::Value &v)
{
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    v.Accept(w);
    return sb.GetString();
}

// ---- the request handler, called the way a host calls it ----

struct Reply {
    int code = 0;
    std::string text;  // what the buffer holds; "" when nothing was written
};

constexpr int32_t kReplyCap = 1 << 20;
constexpr char kUntouched = 'Z';

template <typename Call>
Reply call_into(int32_t capacity, Call call)
{
    std::vector<char> buffer(kReplyCap + 1, kUntouched);
    Reply r;
    r.code = call(buffer.data(), capacity);
    if (buffer[0] != kUntouched) {
        buffer.back() = '\0';
        r.text = buffer.data();
    }
    return r;
}

Reply rch_validate(const std::string &s, int32_t capacity = kReplyCap)
{
    return call_into(capacity,
                     [&](char *out, int32_t cap) { return vnrch_get()->validate(nullptr, s.c_str(), out, cap); });
}

Reply rch_list(const std::string &s, const char *path, int32_t capacity = kReplyCap)
{
    return call_into(capacity,
                     [&](char *out, int32_t cap) { return vnrch_get()->list(nullptr, s.c_str(), path, out, cap); });
}

Reply rch_stream(const std::string &s, const std::string &entry, int32_t capacity = kReplyCap)
{
    return call_into(capacity, [&](char *out, int32_t cap) {
        return vnrch_get()->stream(nullptr, s.c_str(), entry.c_str(), out, cap);
    });
}

rapidjson::Document parse(const std::string &text)
{
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    EXPECT_FALSE(doc.HasParseError()) << text;
    return doc;
}

// After a request: sockets still selected, and the C interface's session
// neither connected nor holding a handle.
void expect_no_session(const std::string &what)
{
    TransportChoice c = vnb_selected_transport();
    EXPECT_EQ(c.mode, VNSMB1C_MODE_SOCKET) << what;
    EXPECT_EQ(c.io, nullptr) << what;
    const Session &s = vnb_default_session();
    EXPECT_EQ(s.established, 0) << what;
    EXPECT_FALSE(s.transport_open) << what << ": the connection is closed";
    for (const FileSlot &f : s.files)
        EXPECT_EQ(f.in_use, 0) << what << ": a file handle left open";
}

// Sessions smbd holds right now (smbstatus), or -1 when that cannot be read.
int server_sessions(SambaServer &server, std::string *raw = nullptr)
{
    ProcessResult r = run_process({"smbstatus", "-s", server.conf_path().string(), "-b", "-j"}, {}, 10000);
    if (raw != nullptr)
        *raw = r.output;
    rapidjson::Document doc;
    doc.Parse(r.output.c_str());
    if (r.exit_code != 0 || doc.HasParseError() || !doc.IsObject() || !doc.HasMember("sessions") ||
        !doc["sessions"].IsObject())
        return -1;
    return static_cast<int>(doc["sessions"].MemberCount());
}

// smbd ends a session a moment after its client hung up: waits (bounded)
// until the count is `want` and returns the last count seen.
int wait_for_sessions(SambaServer &server, int want, std::string *raw)
{
    int n = -1;
    for (int i = 0; i < 50; ++i) {
        n = server_sessions(server, raw);
        if (n == want)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return n;
}

// ---- the folder-access backend, with host-owned records ----

std::string text_of(const char *s)
{
    return s != nullptr ? s : "(null)";
}

// One entry as copied out of the backend's records (their texts do not
// outlive the listing).
struct Got {
    std::string name, path;
    uint32_t flags = 0;
    int32_t is_folder = 0;
    int64_t size = 0;
    int64_t mtime_ms = 0;
};

Got copy_of(const vnsmb1c_FolderEntry &e)
{
    return {text_of(e.name), text_of(e.path), e.flags, e.is_folder, e.size, e.mtime_ms};
}

// One server per content, started by the first test of the suite that needs
// it and shared by the others (no test changes the server).
class SharedSamba : public testing::Test {
protected:
    using Populate = void (*)(SambaServer &);

    void start_shared(std::unique_ptr<SambaServer> &slot, Populate populate)
    {
        if (auto why = SambaServer::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        if (!slot) {
            auto s = std::make_unique<SambaServer>();
            populate(*s);
            ASSERT_FALSE(HasFatalFailure());
            ASSERT_TRUE(s->start());
            slot = std::move(s);
        }
        server_ = slot.get();
        ASSERT_EQ(vnsmb1c_use_sockets(), 0);
        t = vnsmb1c_vnffa_backend();
        ASSERT_NE(t, nullptr);
    }

    void TearDown() override
    {
        if (t != nullptr)
            t->close(t->context);
        vnsmb1c_disconnect();
    }

    SambaServer &server() { return *server_; }
    int port() const { return server_->port(); }
    std::string reader() const { return settings(server_->port()); }
    std::string anonymous() const { return settings(server_->port(), "", ""); }
    // "smb1://127.0.0.1:<port>/": the server's port is never the default one.
    std::string url_prefix() const { return std::string("smb1://") + kHost + ":" + std::to_string(port()) + "/"; }

    // ---- backend helpers ----
    const vnsmb1c_FolderBackend *t = nullptr;
    std::vector<vnsmb1c_FolderEntry> entries;
    vnsmb1c_ListRequest req{};

    int open(const std::string &s) { return t->open(t->context, s.c_str()); }

    // One page into a fresh host-owned array of capacity + 1 entries.
    int page(const char *path, const char *cursor, uint64_t capacity, const int32_t *cancel = nullptr)
    {
        entries.assign(capacity + 1, host_entry());
        std::memset(&req, 0, sizeof req);
        std::memset(req.host_data, kHostByte, sizeof req.host_data);
        req.cursor = cursor;
        req.entries = entries.data();
        req.capacity = capacity;
        req.count = 999;
        req.has_more = 7;
        req.next_cursor = "stale";
        req.cancel = cancel;
        return t->list(t->context, path, &req);
    }

    // Every entry of path, following the cursors to the end; *pages counts
    // the pages and *frames the requests sent to the server after the first.
    std::vector<Got> all_entries(const char *path, uint64_t capacity, int *pages = nullptr,
                                 uint64_t *frames = nullptr)
    {
        std::vector<Got> all;
        std::string cursor;
        uint64_t after_first = 0;
        int n = 0;
        for (int guard = 0; guard < 10000; ++guard) {
            int rc = page(path, cursor.empty() ? nullptr : cursor.c_str(), capacity);
            EXPECT_EQ(rc, 0) << path << " cursor " << cursor << ": " << vnsmb1c_last_error();
            if (rc != 0)
                break;
            if (n++ == 0)
                after_first = vnsmb1c_frame_count();
            EXPECT_LE(req.count, capacity);
            for (uint64_t i = 0; i < req.count; ++i) {
                EXPECT_TRUE(host_bytes_intact(entries[i])) << path << " entry " << all.size();
                all.push_back(copy_of(entries[i]));
            }
            EXPECT_TRUE(host_bytes_intact(entries[req.count])) << "the entry past count is the host's";
            if (req.has_more == 0) {
                EXPECT_EQ(req.next_cursor, nullptr);
                break;
            }
            EXPECT_EQ(req.count, capacity) << "only a full page has more";
            EXPECT_NE(req.next_cursor, nullptr);
            if (req.next_cursor == nullptr)
                break;
            EXPECT_EQ(std::string(req.next_cursor), std::to_string(all.size()));
            cursor = req.next_cursor;
        }
        if (pages != nullptr)
            *pages = n;
        if (frames != nullptr)
            *frames = vnsmb1c_frame_count() - after_first;
        return all;
    }

private:
    SambaServer *server_ = nullptr;
};

class HostTables : public SharedSamba {
protected:
    static void TearDownTestSuite() { shared().reset(); }
    void SetUp() override
    {
        start_shared(shared(), populate_tables);
        // No session the host tables' pool kept from another test.
        vnsmb1c_use_sockets();
    }

    static std::unique_ptr<SambaServer> &shared()
    {
        static std::unique_ptr<SambaServer> s;
        return s;
    }

    fs::path on_disk(const std::string &rel) { return server().path(kPublicShare, rel); }
};

// A server whose only share is the IPC$ that Samba always has.
class NoSharesHostTables : public SharedSamba {
protected:
    static void TearDownTestSuite() { shared().reset(); }
    void SetUp() override
    {
        start_shared(shared(), [](SambaServer &s) { ASSERT_TRUE(s.add_user(kReader, kReaderPassword)); });
    }

    static std::unique_ptr<SambaServer> &shared()
    {
        static std::unique_ptr<SambaServer> s;
        return s;
    }
};

const std::set<std::string> kStandardShares = {kPublicShare, kPrivateShare, kWritableShare};
const std::regex kUuidV4("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");

}  // namespace

// ============================ request handler ==============================

TEST_F(HostTables, ValidateAcceptsWhatReachesTheServer)
{
    const std::string full_url = std::string(R"(,"FullUrl":"smb://)") + kReader + ":" + kReaderPassword + "@" + kHost +
                                 ":" + std::to_string(port()) + R"(/public")";
    struct Case {
        const char *what;
        std::string settings;
        bool gets_id;
    } const cases[] = {
        {"reader", reader(), true},
        {"reader with an ID", settings(port(), kReader, kReaderPassword, R"(,"ID":"source-7")"), false},
        {"reader with an empty ID", settings(port(), kReader, kReaderPassword, R"(,"ID":"")"), true},
        {"anonymous (guest)", anonymous(), true},
        {"unknown user (guest)", settings(port(), "vnsmbt_nobody", "whatever"), true},
        {"port as text", std::string(R"({"HostName":")") + kHost + R"(","Port":")" + std::to_string(port()) +
                             R"(","UserName":")" + kReader + R"(","Password":")" + kReaderPassword + R"("})",
         true},
        {"FullUrl with credentials", std::string(R"({"HostName":"not-used")") + full_url + "}", true},
    };
    std::set<std::string> ids;
    for (const Case &c : cases) {
        Reply r = rch_validate(c.settings);
        EXPECT_EQ(r.code, 0) << c.what << ": " << r.text;
        expect_no_session(c.what);
        if (!c.gets_id) {
            EXPECT_EQ(r.text, R"({"RuntimeType":"SMBCIFS"})") << c.what;
            continue;
        }
        rapidjson::Document doc = parse(r.text);
        ASSERT_TRUE(doc.IsObject()) << c.what;
        EXPECT_EQ(member_names(doc), (std::vector<std::string>{"RuntimeType", "ID"})) << r.text;
        EXPECT_STREQ(doc["RuntimeType"].GetString(), "SMBCIFS");
        std::string id = doc["ID"].GetString();
        EXPECT_TRUE(std::regex_match(id, kUuidV4)) << id;
        EXPECT_TRUE(ids.insert(id).second) << c.what << ": identifier " << id << " given twice";
    }
}

TEST_F(HostTables, ValidateFailuresAreErrorDocuments)
{
    const int nowhere = closed_port();
    ASSERT_GT(nowhere, 0);
    struct Case {
        const char *what;
        std::string settings;
        int code;
        const char *in_text;  // a piece of the library's last error text
    } const cases[] = {
        {"wrong password", settings(port(), kReader, "not-the-password"), -1, "LOGON_FAILURE"},
        {"other user, reader's password", settings(port(), kOther, kReaderPassword), -1, "LOGON_FAILURE"},
        {"nothing listens", settings(nowhere), -4, ""},
    };
    for (const Case &c : cases) {
        Reply r = rch_validate(c.settings);
        EXPECT_EQ(r.code, c.code) << c.what << ": " << r.text;
        EXPECT_EQ(r.text, err_doc(vnsmb1c_last_error())) << c.what;
        EXPECT_NE(r.text.find(c.in_text), std::string::npos) << c.what << ": " << r.text;
        expect_no_session(c.what);
    }
}

TEST_F(HostTables, ValidateReplyMustFitWhole)
{
    // The reply with an identifier is 69 characters: 70 bytes with its NUL.
    Reply small = rch_validate(reader(), 69);
    EXPECT_EQ(small.code, -9);
    EXPECT_EQ(small.text, "") << "nothing written";
    expect_no_session("capacity 69");
    Reply fits = rch_validate(reader(), 70);
    EXPECT_EQ(fits.code, 0) << fits.text;
    EXPECT_EQ(fits.text.size(), 69u) << fits.text;
    expect_no_session("capacity 70");
}

TEST_F(HostTables, ListAtTheTopAnswersTheShares)
{
    struct Case {
        const char *path;
        const char *echoed;
        std::string settings;
    } const cases[] = {
        {nullptr, "", reader()},
        {"", "", anonymous()},
        {"/", "/", reader()},
    };
    for (const Case &c : cases) {
        Reply r = rch_list(c.settings, c.path);
        ASSERT_EQ(r.code, 0) << c.echoed << ": " << r.text;
        expect_no_session(c.echoed);
        rapidjson::Document doc = parse(r.text);
        EXPECT_EQ(member_names(doc), (std::vector<std::string>{"path", "items"})) << r.text;
        EXPECT_STREQ(doc["path"].GetString(), c.echoed);
        std::set<std::string> names;
        for (const rapidjson::Value &it : doc["items"].GetArray()) {
            EXPECT_EQ(member_names(it), (std::vector<std::string>{"name", "path", "folder", "size"})) << to_json(it);
            EXPECT_STREQ(it["path"].GetString(), it["name"].GetString());
            EXPECT_TRUE(it["folder"].GetBool());
            EXPECT_EQ(it["size"].GetInt64(), -1);
            names.insert(it["name"].GetString());
        }
        EXPECT_EQ(names, kStandardShares) << r.text << ": IPC$ is left out";
    }
}

TEST_F(HostTables, ListFoldersMatchTheDisk)
{
    struct Case {
        const char *path;    // as the host passes it
        std::string folder;  // the folder inside "public"
    } const cases[] = {
        {"public", ""},
        {"/public/Movies/", "Movies"},
        {"public/Shelf/Nested", kNested},
        {"\\public\\Shelf\\Nested", kNested},
        {"public/Catalog", kCatalog},
        {"public/Hidden", "Hidden"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        Reply r = rch_list(reader(), c.path);
        ASSERT_EQ(r.code, 0) << r.text;
        expect_no_session(c.path);
        rapidjson::Document doc = parse(r.text);
        EXPECT_STREQ(doc["path"].GetString(), c.path) << "echoed unchanged";

        const auto disk = visible_on_disk(on_disk(c.folder));
        std::set<std::string> seen;
        const std::string prefix = c.folder.empty() ? "" : c.folder + "/";
        for (const rapidjson::Value &it : doc["items"].GetArray()) {
            const std::string name = it["name"].GetString();
            SCOPED_TRACE(name);
            auto d = disk.find(name);
            ASSERT_NE(d, disk.end()) << "not on disk, or hidden";
            EXPECT_TRUE(seen.insert(name).second) << "listed twice";
            std::vector<std::string> members = {"name", "path", "folder", "size", "mtime_ms"};
            if (!d->second.folder)
                members.emplace_back("locator");
            EXPECT_EQ(member_names(it), members) << to_json(it);
            EXPECT_EQ(std::string(it["path"].GetString()), prefix + name);
            EXPECT_EQ(it["folder"].GetBool(), d->second.folder);
            EXPECT_EQ(it["size"].GetInt64(), d->second.size);
            EXPECT_EQ(it["mtime_ms"].GetInt64(), d->second.mtime_ms);
            if (!d->second.folder) {
                EXPECT_EQ(std::string(it["locator"].GetString()), url_prefix() + "public/" + prefix + name);
            }
        }
        EXPECT_EQ(seen.size(), disk.size()) << "every visible entry is listed";
    }
}

TEST_F(HostTables, ListFailuresAreErrorDocuments)
{
    struct Case {
        const char *what;
        std::string settings;
        const char *path;
        int code;
        const char *in_text;  // a piece of the library's last error text
    } const cases[] = {
        {"missing folder", reader(), "public/NoSuchFolder", -2, "NOT_FOUND"},
        {"missing share", reader(), "noshare/x", -2, "BAD_NETWORK_NAME"},
        {"a file is no folder", reader(), "public/hello.txt", -8, "is a file, not a folder: NOT_A_DIRECTORY"},
        {"private share as a guest", anonymous(), "private", -1, "ACCESS_DENIED"},
        {"wrong password", settings(port(), kReader, "nope"), "public", -1, "LOGON_FAILURE"},
    };
    for (const Case &c : cases) {
        Reply r = rch_list(c.settings, c.path);
        EXPECT_EQ(r.code, c.code) << c.what << ": " << r.text;
        EXPECT_EQ(r.text, err_doc(vnsmb1c_last_error())) << c.what;
        EXPECT_NE(r.text.find(c.in_text), std::string::npos) << c.what << ": " << r.text;
        expect_no_session(c.what);
    }
}

TEST_F(HostTables, ListOfAnEmptyFolderAndOfThePrivateShare)
{
    Reply empty = rch_list(reader(), "public/Shelf/Empty");
    EXPECT_EQ(empty.code, 0) << empty.text;
    EXPECT_EQ(empty.text, R"({"path":"public/Shelf/Empty","items":[]})");
    expect_no_session("empty folder");

    Reply priv = rch_list(reader(), "private");
    ASSERT_EQ(priv.code, 0) << priv.text;
    rapidjson::Document doc = parse(priv.text);
    ASSERT_EQ(doc["items"].Size(), 1u) << priv.text;
    EXPECT_STREQ(doc["items"][0]["name"].GetString(), kSecretName);
    EXPECT_EQ(doc["items"][0]["size"].GetInt64(), static_cast<int64_t>(std::strlen(kSecretText)));
    EXPECT_EQ(std::string(doc["items"][0]["locator"].GetString()), url_prefix() + "private/" + kSecretName);
    expect_no_session("private");
}

TEST_F(HostTables, ListReplyMustFitWhole)
{
    Reply full = rch_list(reader(), "public/Shelf/Nested");
    ASSERT_EQ(full.code, 0) << full.text;
    const auto len = static_cast<int32_t>(full.text.size());
    Reply tight = rch_list(reader(), "public/Shelf/Nested", len);
    EXPECT_EQ(tight.code, -9);
    EXPECT_EQ(tight.text, "") << "nothing written";
    expect_no_session("capacity one short");
    Reply exact = rch_list(reader(), "public/Shelf/Nested", len + 1);
    EXPECT_EQ(exact.code, 0);
    EXPECT_EQ(exact.text, full.text);
}

TEST_F(HostTables, StreamAnswersUrlAndSize)
{
    struct Case {
        std::string settings;
        std::string entry;
        std::string url_rest;  // after "smb1://127.0.0.1:<port>/"
        uint64_t size;
    } const cases[] = {
        {reader(), R"({"path":"public/Movies/clip.bin","folder":false})", "public/Movies/clip.bin", kClipSize},
        {anonymous(), R"({"path":"public/hello.txt"})", "public/hello.txt", std::strlen(kHelloText)},
        {reader(), R"({"path":"public\\Movies\\clip.bin"})", "public\\Movies\\clip.bin", kClipSize},
        {reader(), R"({"path":"/public/hello.txt"})", "/public/hello.txt", std::strlen(kHelloText)},
        {reader(), R"({"path":"private/secret.txt"})", "private/secret.txt", std::strlen(kSecretText)},
        {reader(), R"({"path":"public/Shelf/huge.bin"})", "public/Shelf/huge.bin", kHugeSize},
        {reader(), std::string(R"({"path":"public/Catalog/)") + kAccented + R"("})",
         std::string("public/Catalog/") + kAccented, 4},
    };
    for (const Case &c : cases) {
        Reply r = rch_stream(c.settings, c.entry);
        EXPECT_EQ(r.code, 0) << c.entry << ": " << r.text;
        EXPECT_EQ(r.text, R"({"url":)" + json_escape(url_prefix() + c.url_rest) + R"(,"size":)" +
                              std::to_string(c.size) + "}")
            << c.entry;
        expect_no_session(c.entry);
    }
}

TEST_F(HostTables, StreamTakesBackWhatListAnswered)
{
    // Files at the top of a share come back unchanged: their locator names the
    // share. Deeper items carry a path inside the share, which the host
    // qualifies with the share before asking for a stream.
    struct Case {
        const char *list_path;
        const char *share_prefix;  // "" when the item goes back unchanged
    } const cases[] = {{"public", ""}, {"private", ""}, {"public/Shelf/Nested", "public/"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.list_path);
        Reply listed = rch_list(reader(), c.list_path);
        ASSERT_EQ(listed.code, 0) << listed.text;
        rapidjson::Document doc = parse(listed.text);
        int files = 0;
        for (rapidjson::Value &it : doc["items"].GetArray()) {
            if (it["folder"].GetBool())
                continue;
            ++files;
            std::string path = std::string(c.share_prefix) + it["path"].GetString();
            it["path"].SetString(path.c_str(), static_cast<rapidjson::SizeType>(path.size()), doc.GetAllocator());
            const std::string entry = to_json(it);
            Reply r = rch_stream(reader(), entry);
            EXPECT_EQ(r.code, 0) << entry << ": " << r.text;
            EXPECT_EQ(r.text, R"({"url":)" + json_escape(it["locator"].GetString()) + R"(,"size":)" +
                                  std::to_string(it["size"].GetInt64()) + "}")
                << entry;
            expect_no_session(entry);
        }
        EXPECT_GT(files, 0);
    }
}

TEST_F(HostTables, StreamFailuresAreErrorDocuments)
{
    struct Case {
        std::string settings;
        std::string entry;
        int code;
        const char *in_text;  // a piece of the library's last error text
    } const cases[] = {
        {reader(), R"({"path":"public/missing.txt"})", -2, "NOT_FOUND"},
        {reader(), R"({"path":"public/Movies"})", -8, "is a folder, not a file: FILE_IS_A_DIRECTORY"},
        {reader(), R"({"path":"noshare/a.mkv"})", -2, "BAD_NETWORK_NAME"},
        {anonymous(), R"({"path":"private/secret.txt"})", -1, "ACCESS_DENIED"},
        {settings(port(), kReader, "nope"), R"({"path":"public/hello.txt"})", -1, "LOGON_FAILURE"},
        // A nested list item as listed: its path is inside the share, and a
        // path with a slash is read as naming the share first.
        {reader(), R"({"path":"Shelf/Nested/a.mkv","locator":"smb1://h/public/Shelf/Nested/a.mkv"})", -2,
         "BAD_NETWORK_NAME"},
    };
    for (const Case &c : cases) {
        Reply r = rch_stream(c.settings, c.entry);
        EXPECT_EQ(r.code, c.code) << c.entry << ": " << r.text;
        EXPECT_EQ(r.text, err_doc(vnsmb1c_last_error())) << c.entry;
        EXPECT_NE(r.text.find(c.in_text), std::string::npos) << c.entry << ": " << r.text;
        expect_no_session(c.entry);
    }
}

TEST_F(HostTables, DownloadIsRefusedWithoutConnecting)
{
    const uint64_t frames = vnsmb1c_frame_count();
    const std::string entry = R"({"path":"public/hello.txt"})";
    Reply r = call_into(kReplyCap, [&](char *out, int32_t cap) {
        return vnrch_get()->download(nullptr, reader().c_str(), entry.c_str(), out, cap);
    });
    EXPECT_EQ(r.code, -6);
    EXPECT_EQ(r.text, err_doc("SMBCIFS has no download capability (the legacy DownloadAsync returned null)"));
    EXPECT_EQ(vnsmb1c_frame_count(), frames) << "nothing sent";
    expect_no_session("download");
}

TEST_F(NoSharesHostTables, ValidateWantsAShareAndListIsEmpty)
{
    Reply v = rch_validate(reader());
    EXPECT_EQ(v.code, -2);
    EXPECT_EQ(v.text, err_doc("connected, but the server lists no shares"));
    expect_no_session("validate");

    Reply l = rch_list(reader(), nullptr);
    EXPECT_EQ(l.code, 0) << l.text;
    EXPECT_EQ(l.text, R"({"path":"","items":[]})");
    expect_no_session("list");

    ASSERT_EQ(open(reader()), 0) << vnsmb1c_last_error();
    ASSERT_EQ(page("", nullptr, 4), 0) << vnsmb1c_last_error();
    EXPECT_EQ(req.count, 0u);
    EXPECT_EQ(req.has_more, 0);
    EXPECT_EQ(req.next_cursor, nullptr);
    EXPECT_TRUE(host_bytes_intact(entries[0]));
}

// ========================== folder-access backend ==========================

TEST_F(HostTables, BackendOpenStatuses)
{
    const int nowhere = closed_port();
    ASSERT_GT(nowhere, 0);
    struct Case {
        const char *what;
        std::string settings;
        int status;
    } const cases[] = {
        {"reader", reader(), 0},
        {"anonymous", anonymous(), 0},
        {"reader with a share", settings(port(), kReader, kReaderPassword, R"(,"Path":"/private")"), 0},
        {"wrong password", settings(port(), kReader, "nope"), 4},
        {"nothing listens", settings(nowhere), 5},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(open(c.settings), c.status) << c.what << ": " << vnsmb1c_last_error();
        const Session *s = vnb_backend_session(t->context);
        EXPECT_EQ(s != nullptr && s->established == 1, c.status == 0) << c.what;
        if (c.status != 0) {
            EXPECT_EQ(page("", nullptr, 4), 2) << c.what << ": a failed open leaves the backend closed";
        }
        t->close(t->context);
        EXPECT_EQ(vnb_backend_session(t->context), nullptr) << c.what << ": close gives the session back";
    }
    // Without the pool, close logs off.
    std::string raw;
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    ASSERT_EQ(open(settings(port(), kReader, kReaderPassword, R"(,"SessionIdleMs":0)")), 0);
    t->close(t->context);
    EXPECT_EQ(wait_for_sessions(server(), 0, &raw), 0) << raw;
}

TEST_F(HostTables, BackendPagesTheSharesAtTheTop)
{
    ASSERT_EQ(open(reader()), 0) << vnsmb1c_last_error();
    int pages = 0;
    std::vector<Got> all = all_entries("", 2, &pages);
    EXPECT_EQ(pages, 2) << "three shares, two per page";
    std::set<std::string> names;
    for (const Got &g : all) {
        EXPECT_EQ(g.path, g.name);
        EXPECT_EQ(g.is_folder, 1);
        EXPECT_EQ(g.flags, 0u);
        EXPECT_EQ(g.size, -1);
        EXPECT_EQ(g.mtime_ms, -1);
        names.insert(g.name);
    }
    EXPECT_EQ(names, kStandardShares);
    EXPECT_EQ(all.size(), kStandardShares.size());
}

TEST_F(HostTables, BackendPagesABigFolderFromOneFetch)
{
    ASSERT_EQ(open(reader()), 0) << vnsmb1c_last_error();
    const auto disk = visible_on_disk(on_disk(kCatalog));
    ASSERT_EQ(disk.size(), static_cast<size_t>(kCatalogFiles + kCatalogFolders + 2));

    struct Case {
        const char *path;
        uint64_t capacity;
    } const cases[] = {{"/public/Catalog", 64}, {"public/Catalog/", 7}, {"Catalog", 301}};
    std::vector<std::string> first_order;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " by " + std::to_string(c.capacity));
        int pages = 0;
        uint64_t frames = 0;
        std::vector<Got> all = all_entries(c.path, c.capacity, &pages, &frames);
        ASSERT_EQ(all.size(), disk.size());
        EXPECT_EQ(pages, static_cast<int>((disk.size() + c.capacity - 1) / c.capacity));
        EXPECT_EQ(frames, 0u) << "later pages come from the cached listing";

        std::vector<std::string> order;
        for (const Got &g : all) {
            SCOPED_TRACE(g.name);
            order.push_back(g.name);
            auto d = disk.find(g.name);
            ASSERT_NE(d, disk.end()) << "not on disk, or hidden";
            EXPECT_EQ(g.path, std::string(kCatalog) + "/" + g.name) << "inside the share, no share";
            EXPECT_EQ(g.is_folder, d->second.folder ? 1 : 0);
            EXPECT_EQ(g.size, d->second.size);
            EXPECT_EQ(g.mtime_ms, d->second.mtime_ms);
            const uint32_t flags = (d->second.folder ? 0u : uint32_t{VNSMB1C_FFA_SIZE_VALID}) | VNSMB1C_FFA_MTIME_VALID;
            EXPECT_EQ(g.flags, flags);
        }
        EXPECT_EQ(std::set<std::string>(order.begin(), order.end()).size(), order.size()) << "an entry twice";
        if (first_order.empty())
            first_order = order;
        else
            EXPECT_EQ(order, first_order) << "the server's order, every time";
    }
    auto future = disk.find(kFuture);
    ASSERT_NE(future, disk.end());
    EXPECT_EQ(future->second.mtime_ms, kFutureMtime * 1000) << "the disk keeps times past 2038";
    EXPECT_EQ(disk.at(kAccented).mtime_ms, kAccentedMtime * 1000);
}

TEST_F(HostTables, BackendCursorsAndCancel)
{
    ASSERT_EQ(open(reader()), 0) << vnsmb1c_last_error();
    ASSERT_EQ(page("public/Catalog", nullptr, 10), 0) << vnsmb1c_last_error();
    const std::string first = text_of(entries[0].name);
    const std::string tenth = text_of(entries[9].name);
    const uint64_t frames = vnsmb1c_frame_count();

    struct Case {
        const char *cursor;
        uint64_t capacity;
        uint64_t count;
        int32_t has_more;
        const char *next;  // NULL: no next cursor
    } const cases[] = {
        {"9", 1, 1, 1, "10"},
        {"300", 5, 2, 0, nullptr},
        {"302", 5, 0, 0, nullptr},
        {"5000", 5, 0, 0, nullptr},
        {"20", 0, 0, 1, "20"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cursor);
        ASSERT_EQ(page("public/Catalog", c.cursor, c.capacity), 0);
        EXPECT_EQ(req.count, c.count);
        EXPECT_EQ(req.has_more, c.has_more);
        EXPECT_EQ(text_of(req.next_cursor), text_of(c.next));
    }
    ASSERT_EQ(page("public/Catalog", "9", 1), 0);
    EXPECT_EQ(text_of(entries[0].name), tenth);
    EXPECT_EQ(vnsmb1c_frame_count(), frames) << "numeric cursors page the cached listing";

    // A cursor that is no number starts over with a new fetch.
    ASSERT_EQ(page("public/Catalog", "abc", 3), 0);
    EXPECT_EQ(text_of(entries[0].name), first);
    EXPECT_EQ(text_of(req.next_cursor), "3");
    EXPECT_GT(vnsmb1c_frame_count(), frames) << "refetched";

    const int32_t stop = 1;
    EXPECT_EQ(page("public/Catalog", nullptr, 10, &stop), 7);
    EXPECT_EQ(req.count, 0u);
    EXPECT_TRUE(host_bytes_intact(entries[0]));
}

TEST_F(HostTables, BackendListsRelativeAndQualifiedPaths)
{
    ASSERT_EQ(open(settings(port(), kReader, kReaderPassword, R"(,"Path":"public")")), 0) << vnsmb1c_last_error();
    struct Case {
        const char *path;
        int status;
        std::string folder;  // inside "public"
    } const cases[] = {
        {"", 0, ""},               // the selected share's top, not the share list
        {"Movies", 0, "Movies"},   // no slash: a folder of the selected share
        {"public/Shelf/Nested", 0, kNested},
        {"\\public\\Shelf\\Nested", 0, kNested},
        {"private/x", 3, ""},      // another share
        {"public/NoSuchFolder", 3, ""},
        {"public/hello.txt", 9, ""},  // a file is no folder: NOT_A_DIRECTORY, an invalid argument
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        int rc = page(c.path, nullptr, 100);
        EXPECT_EQ(rc, c.status) << vnsmb1c_last_error();
        if (rc != 0 || c.status != 0)
            continue;
        const auto disk = visible_on_disk(on_disk(c.folder));
        EXPECT_EQ(req.count, disk.size());
        const std::string prefix = c.folder.empty() ? "" : c.folder + "/";
        for (uint64_t i = 0; i < req.count; ++i) {
            Got g = copy_of(entries[i]);
            ASSERT_EQ(disk.count(g.name), 1u) << g.name;
            EXPECT_EQ(g.path, prefix + g.name);
            EXPECT_EQ(g.size, disk.at(g.name).size) << g.name;
            EXPECT_EQ(g.is_folder, disk.at(g.name).folder ? 1 : 0) << g.name;
        }
    }
}

TEST_F(HostTables, BackendPrivateShareNeedsTheReader)
{
    struct Case {
        const char *what;
        std::string settings;
        int status;
    } const cases[] = {
        {"reader", reader(), 0},
        {"anonymous", anonymous(), 4},  // ACCESS_DENIED at TREE_CONNECT
        {"other user", settings(port(), kOther, kOtherPassword), 4},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(open(c.settings), 0) << c.what << ": " << vnsmb1c_last_error();
        EXPECT_EQ(page("/private", nullptr, 4), c.status) << c.what << ": " << vnsmb1c_last_error();
        if (c.status == 0) {
            ASSERT_EQ(req.count, 1u);
            EXPECT_STREQ(entries[0].name, kSecretName);
            EXPECT_EQ(entries[0].size, static_cast<int64_t>(std::strlen(kSecretText)));
        }
        t->close(t->context);
    }
}

// The locator of a file of the selected share "public", however the host
// named it: share-qualified or relative.
std::string public_locator(const std::string &url_prefix, const std::string &path)
{
    const std::string qualified = std::string(kPublicShare) + "/";
    std::string in_share = path.rfind(qualified, 0) == 0 ? path.substr(qualified.size()) : path;
    return url_prefix + qualified + in_share;
}

TEST_F(HostTables, BackendStatOfFilesAndFolders)
{
    ASSERT_EQ(open(settings(port(), kReader, kReaderPassword, R"(,"Path":"public")")), 0) << vnsmb1c_last_error();
    const uint32_t file_flags = VNSMB1C_FFA_SIZE_VALID | VNSMB1C_FFA_LOCATOR_VALID;
    struct Case {
        const char *path;
        int status;
        bool folder;
        const char *name;
        int64_t size;  // files only
    } const cases[] = {
        {"public/hello.txt", 0, false, kHelloName, static_cast<int64_t>(std::strlen(kHelloText))},
        {"Movies/clip.bin", 0, false, "clip.bin", static_cast<int64_t>(kClipSize)},  // relative
        {"public/Shelf/huge.bin", 0, false, "huge.bin", static_cast<int64_t>(kHugeSize)},
        {"public/Catalog/Caf\u00e9 \u00c9t\u00e9.flac", 0, false, kAccented, 4},
        {"public/Shelf/Nested", 0, true, "Nested", 0},
        {"Shelf/Nested/Inner", 0, true, "Inner", 0},  // relative
        {"public/", 0, true, kPublicShare, 0},
        {"/", 0, true, "", 0},
        {"public/missing.txt", 3, false, "", 0},
        {"private/secret.txt", 3, false, "", 0},  // read inside "public": no folder "private"
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        vnsmb1c_FolderEntry e = host_entry();
        const int rc = t->stat(t->context, c.path, &e);
        EXPECT_EQ(rc, c.status) << vnsmb1c_last_error();
        EXPECT_TRUE(host_bytes_intact(e));
        if (rc != 0 || c.status != 0)
            continue;
        EXPECT_EQ(text_of(e.name), c.name);
        EXPECT_EQ(text_of(e.path), c.path) << "the path as passed";
        EXPECT_EQ(e.is_folder, c.folder ? 1 : 0);
        // The last-write time comes with the one query (a share has none).
        const bool share = c.path == std::string("public/") || c.path == std::string("/");
        EXPECT_EQ(e.mtime_ms > 0, !share) << e.mtime_ms;
        const uint32_t time_flag = share ? 0u : uint32_t{VNSMB1C_FFA_MTIME_VALID};
        if (c.folder) {
            EXPECT_EQ(e.flags, time_flag);
            EXPECT_EQ(e.size, -1);
        } else {
            EXPECT_EQ(e.flags, file_flags | time_flag);
            EXPECT_EQ(e.size, c.size);
            EXPECT_EQ(text_of(e.locator), public_locator(url_prefix(), c.path));
        }
    }
    EXPECT_EQ(vnb_backend_session(t->context)->open_files, 0u) << "stat closes what it opens";
}

TEST_F(HostTables, BackendLocatorOfAFile)
{
    ASSERT_EQ(open(settings(port(), kReader, kReaderPassword, R"(,"Path":"public")")), 0) << vnsmb1c_last_error();
    struct Case {
        std::string path;
        int status;
    } const cases[] = {
        {"public/Movies/clip.bin", 0},
        {std::string("public/Catalog/") + kAccented, 0},
        {"Movies/clip.bin", 0},  // relative: the locator still names the share
        {"public/missing.txt", 3},
        {"public/Movies", 9},  // FILE_IS_A_DIRECTORY, an invalid argument
        {"public/", 3},        // nothing inside the share
        {"/", 9},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<char> buf(4096, kUntouched);
        EXPECT_EQ(t->locator(t->context, c.path.c_str(), buf.data(), buf.size()), c.status) << vnsmb1c_last_error();
        if (c.status == 0) {
            EXPECT_EQ(std::string(buf.data()), public_locator(url_prefix(), c.path));
        } else {
            EXPECT_EQ(buf[0], kUntouched);
        }
    }

    const std::string want = url_prefix() + "public/Movies/clip.bin";
    std::vector<char> buf(want.size() + 1, kUntouched);
    EXPECT_EQ(t->locator(t->context, "public/Movies/clip.bin", buf.data(), want.size()), 9) << "no room for the NUL";
    EXPECT_EQ(t->locator(t->context, "public/Movies/clip.bin", buf.data(), want.size() + 1), 0);
    EXPECT_EQ(std::string(buf.data()), want);
    EXPECT_EQ(vnb_backend_session(t->context)->open_files, 0u) << "locator closes what it opens";
}

TEST_F(HostTables, BackendKeepsItsSessionThroughRequestHandlerCalls)
{
    ASSERT_EQ(open(settings(port(), kReader, kReaderPassword, R"(,"Path":"public")")), 0) << vnsmb1c_last_error();
    vnsmb1c_FolderEntry e = host_entry();
    ASSERT_EQ(t->stat(t->context, "public/hello.txt", &e), 0) << vnsmb1c_last_error();

    // A request connects with its own settings and disconnects at its end.
    Reply r = rch_validate(reader());
    EXPECT_EQ(r.code, 0) << r.text;
    expect_no_session("validate");
    EXPECT_EQ(t->stat(t->context, "public/hello.txt", &e), 0) << "the backend's session lives on: "
                                                              << vnsmb1c_last_error();
    EXPECT_EQ(page("", nullptr, 4), 0) << "and it still lists";
    t->close(t->context);
    EXPECT_EQ(t->stat(t->context, "public/hello.txt", &e), 2);
    EXPECT_EQ(vnb_backend_session(t->context), nullptr) << "close gave the session back";
}

TEST_F(HostTables, NoSessionOutlivesARequestOnTheServer)
{
    // Without the pool (SessionIdleMs 0) every call logs off at its end.
    const std::string off = R"(,"SessionIdleMs":0)";
    const std::string reader_off = settings(port(), kReader, kReaderPassword, off);
    std::string raw;
    ASSERT_EQ(wait_for_sessions(server(), 0, &raw), 0) << raw;
    ASSERT_EQ(open(reader_off), 0) << vnsmb1c_last_error();
    ASSERT_EQ(wait_for_sessions(server(), 1, &raw), 1) << "the backend holds its session: " << raw;
    t->close(t->context);
    EXPECT_EQ(wait_for_sessions(server(), 0, &raw), 0) << "after close: " << raw;

    EXPECT_EQ(rch_validate(reader_off).code, 0);
    EXPECT_EQ(rch_list(reader_off, "public/Catalog").code, 0);
    EXPECT_EQ(rch_list(settings(port(), "", "", off), "private").code, -1);
    EXPECT_EQ(rch_stream(reader_off, R"({"path":"public/Movies/clip.bin"})").code, 0);
    EXPECT_EQ(rch_stream(reader_off, R"({"path":"public/missing.txt"})").code, -2);
    EXPECT_EQ(wait_for_sessions(server(), 0, &raw), 0) << "after the requests: " << raw;
}

TEST_F(HostTables, ARepeatedListReusesItsSession)
{
    std::string raw;
    ASSERT_EQ(wait_for_sessions(server(), 0, &raw), 0) << raw;
    uint64_t frames[3] = {};
    for (uint64_t &sent : frames) {
        const uint64_t before = vnsmb1c_frame_count();
        Reply r = rch_list(reader(), "public/Catalog");
        ASSERT_EQ(r.code, 0) << r.text;
        EXPECT_NE(r.text.find(R"("name":"track279.bin")"), std::string::npos);
        sent = vnsmb1c_frame_count() - before;
    }
    EXPECT_EQ(wait_for_sessions(server(), 1, &raw), 1) << "one session, waiting for the next call: " << raw;
    // The first call negotiated, logged on and connected the tree; the
    // others only list.
    EXPECT_GE(frames[0], frames[1] + 4);
    EXPECT_EQ(frames[1], frames[2]);
    RecordProperty("requests_first_list", static_cast<int>(frames[0]));
    RecordProperty("requests_repeated_list", static_cast<int>(frames[1]));

    // The backend takes the same session, and gives it back at close.
    ASSERT_EQ(open(reader()), 0) << vnsmb1c_last_error();
    EXPECT_EQ(page("public/Catalog", nullptr, 4), 0) << vnsmb1c_last_error();
    t->close(t->context);
    EXPECT_EQ(wait_for_sessions(server(), 1, &raw), 1) << raw;

    // Another identity gets a session of its own; a wrong password none.
    EXPECT_EQ(rch_list(anonymous(), "public").code, 0);
    EXPECT_EQ(rch_list(settings(port(), kReader, "wrong"), "public").code, -1);
    EXPECT_EQ(wait_for_sessions(server(), 2, &raw), 2) << raw;

    ASSERT_EQ(vnsmb1c_use_sockets(), 0) << "a new selection logs the waiting sessions off";
    EXPECT_EQ(wait_for_sessions(server(), 0, &raw), 0) << raw;

    // A waiting session whose connection went away is replaced within the
    // next call.
    DropProxy proxy(port());
    ASSERT_TRUE(proxy.start());
    const std::string via_proxy = settings(proxy.port());
    ASSERT_EQ(rch_list(via_proxy, "public/Catalog").code, 0);
    proxy.stop();
    ASSERT_TRUE(proxy.start());
    Reply again = rch_list(via_proxy, "public/Catalog");
    EXPECT_EQ(again.code, 0) << again.text;
    EXPECT_EQ(proxy.accepts(), 2) << "connected afresh";
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
}
