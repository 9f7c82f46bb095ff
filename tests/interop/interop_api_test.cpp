// The exported C interface against a real Samba smbd (SMB1 only): logons,
// share and folder listings, reads, signing, a server that vanishes, and a
// writable share that stays untouched.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <rapidjson/document.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "crypto/crypto.h"
#include "interop/support/library_calls.h"
#include "interop/support/samba_fixture.h"
#include "interop/support/tamper_proxy.h"
#include "interop/support/tree_manifest.h"
#include "api/session_ops.h"
#include "vnsmb1c.h"

namespace fs = std::filesystem;
using namespace interop;

namespace {

constexpr const char *kHost = SambaServer::kHost;
constexpr char kBulkShare[] = "bulk";
constexpr int kBig = 5000;
constexpr int kHuge = 60000;
// Folders listed exactly, entry by entry (Big5000 is the 5,000 of them).
constexpr int kExactSizes[] = {0, 1, 500, 50000};
constexpr char kRandomRel[] = "Media/random64.bin";
constexpr uint64_t kRandomSize = 64ull << 20;
constexpr uint64_t kRandomSeed = 7;
constexpr char kSparseRel[] = "Media/sparse.bin";
constexpr uint64_t kGiB = 1ull << 30;
constexpr uint64_t kSparseSize = 6 * kGiB;
const std::vector<SparseMarker> kMarkers = {
    {0, "start of the sparse file"},
    {4 * kGiB - 7, "across the 4 GiB line"},
    {4 * kGiB + 12345, "past 4 GiB"},
    {5 * kGiB + 1, "at five GiB"},
    {kSparseSize - 8, "the end!"},
};

// Exactly `length` bytes at offset, with as many reads as it takes.
std::string read_exact(int handle, uint64_t offset, size_t length)
{
    std::string out;
    std::vector<char> buf(length);
    for (int guard = 0; out.size() < length && guard < 1000; ++guard) {
        int n = vnsmb1c_read_at(handle, static_cast<int64_t>(offset + out.size()), buf.data(),
                                static_cast<int>(length - out.size()));
        if (n <= 0) {
            ADD_FAILURE() << "read_at(" << offset + out.size() << ") = " << n << ": " << vnsmb1c_last_error();
            break;
        }
        out.append(buf.data(), static_cast<size_t>(n));
    }
    return out;
}

std::string sha256_hex(const uint8_t *p, size_t n)
{
    uint8_t d[32];
    vnb_sha256(p, n, d);
    char hex[65];
    for (int i = 0; i < 32; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", d[i]);
    return hex;
}

// The big folders live once per test program run outside any server; each
// server's "bulk" share points at them.
class BulkTree {
public:
    BulkTree()
    {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = (tmp && *tmp ? std::string(tmp) : std::string("/tmp")) + "/vnsmbt-bulk.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp " + pattern);
        root_ = pattern;
        fs::permissions(root_, fs::perms(0755));
        for (int n : kExactSizes)
            make(root_ / ("Exact" + std::to_string(n)), n);
        make(root_ / "Big5000", kBig);
        make(root_ / "Big60000", kHuge);
    }
    ~BulkTree()
    {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path &root() const { return root_; }

private:
    static void make(const fs::path &dir, int count)
    {
        fs::create_directory(dir);
        fs::permissions(dir, fs::perms(0755));
        for (int i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "entry%05d.dat", i);
            FILE *f = std::fopen((dir / name).c_str(), "wb");
            if (f == nullptr || std::fclose(f) != 0)
                throw std::runtime_error("cannot create " + (dir / name).string());
        }
    }
    fs::path root_;
};

const BulkTree &bulk_tree()
{
    static BulkTree tree;
    return tree;
}

const std::vector<uint8_t> &random_bytes()
{
    static const std::vector<uint8_t> bytes = pattern_bytes(kRandomSize, kRandomSeed);
    return bytes;
}

void set_timeout(int ms)
{
    vnb_default_session().timeout_ms = ms;
}

// One server per signing mode, shared by the tests of that mode (building
// the content takes seconds; no test changes it).
class ApiTest : public testing::TestWithParam<const char *> {
protected:
    static void TearDownTestSuite() { servers().clear(); }

    void SetUp() override
    {
        if (auto why = SambaServer::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        SambaOptions o;
        o.signing = GetParam();
        server_ = pooled_server(servers(), GetParam(), o, [](SambaServer &s) {
            populate_standard(s);
            if (testing::Test::HasFatalFailure())
                return;
            ShareConfig bulk = read_only_share(kBulkShare);
            bulk.params = {"path = " + bulk_tree().root().string()};
            s.add_share(bulk);
            s.write_file(kPublicShare, kRandomRel,
                         std::string_view(reinterpret_cast<const char *>(random_bytes().data()), kRandomSize));
            s.write_sparse_file(kPublicShare, kSparseRel, kSparseSize, kMarkers);
        });
        ASSERT_NE(server_, nullptr);
        ASSERT_EQ(vnsmb1c_use_sockets(), 0);
        set_timeout(kDefaultTimeoutMs);
    }

    void TearDown() override { vnsmb1c_disconnect(); }

    bool mandatory() const { return std::strcmp(GetParam(), "mandatory") == 0; }
    SambaServer &server() { return *server_; }

    int connect(const char *user, const char *password, int port = 0)
    {
        return vnsmb1c_connect(kHost, port ? port : server_->port(), "", user, password);
    }

    // Connects as the reader, failing the test when that does not work.
    void connect_reader()
    {
        ASSERT_EQ(connect(kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    }

    static ServerPool &servers()
    {
        static ServerPool pool;
        return pool;
    }

private:
    SambaServer *server_ = nullptr;
};

}  // namespace

TEST_P(ApiTest, AnonymousLogonListsSharesAndReads)
{
    ASSERT_EQ(connect("", ""), 0) << vnsmb1c_last_error();
    auto shares = share_names();
    for (const char *s : {kPublicShare, kPrivateShare, kWritableShare, kBulkShare})
        EXPECT_TRUE(has(shares, s)) << s;
    for (const auto &s : shares)
        EXPECT_NE(s.back(), '$') << "administrative share listed: " << s;

    ASSERT_GE(vnsmb1c_list(kPublicShare, nullptr), 0) << vnsmb1c_last_error();
    auto items = listed_items();
    auto names = names_of(items);
    for (const char *n : {kHelloName, "Movies", "Names", "Hidden", "Media"})
        EXPECT_EQ(names.count(n), 1u) << n;
    for (const auto &it : items) {
        if (it.name == kHelloName) {
            EXPECT_EQ(it.size, static_cast<int64_t>(std::strlen(kHelloText)));
        }
    }
    EXPECT_EQ(read_text_file(kPublicShare, kHelloName), kHelloText);
    EXPECT_EQ(read_text_file("public/Movies", "clip.bin").size(), 100000u);
    // A folder is no file (Samba would open it for CreateOptions 0).
    EXPECT_LT(vnsmb1c_open(kPublicShare, "Movies"), 0);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find("FILE_IS_A_DIRECTORY"), std::string::npos)
        << vnsmb1c_last_error();
}

TEST_P(ApiTest, NamedLogonReadsThePrivateShare)
{
    connect_reader();
    ASSERT_EQ(vnsmb1c_list(kPrivateShare, nullptr), 1) << vnsmb1c_last_error();
    EXPECT_EQ(names_of(listed_items()), std::set<std::string>{kSecretName});
    EXPECT_EQ(read_text_file(kPrivateShare, kSecretName), kSecretText);
    EXPECT_EQ(session_flag("guest"), 0) << vnsmb1c_session_json();
    if (mandatory()) {
        EXPECT_EQ(session_flag("signing"), 1) << vnsmb1c_session_json();
    }
}

TEST_P(ApiTest, WrongPasswordIsALogonFailure)
{
    EXPECT_EQ(connect(kReader, "not-the-password"), VNSMB1C_EAUTH);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find("LOGON_FAILURE"), std::string::npos) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list(kPublicShare, nullptr), VNSMB1C_ENOSESSION);
}

// The identity inside FullUrl logs on: the private share opens, a wrong
// password fails instead of going on as a guest, the keys win over the URL's.
TEST_P(ApiTest, FullUrlIdentityLogsOn)
{
    const std::string at = std::string("@") + kHost + ":" + std::to_string(server().port());
    struct Case {
        std::string settings;
        int rc;
    };
    const Case cases[] = {
        {R"({"FullUrl":"smb://)" + std::string(kReader) + ":" + kReaderPassword + at + R"("})", 0},
        {R"({"FullUrl":"smb://)" + std::string(kReader) + ":not-the-password" + at + R"("})", VNSMB1C_EAUTH},
        {R"({"FullUrl":"smb://)" + std::string(kReader) + ":not-the-password" + at + R"(","Password":")" +
             kReaderPassword + R"("})",
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.settings);
        ASSERT_EQ(vnsmb1c_connect_json(c.settings.c_str()), c.rc) << vnsmb1c_last_error();
        if (c.rc != 0)
            continue;
        EXPECT_EQ(session_flag("guest"), 0) << vnsmb1c_session_json();
        EXPECT_EQ(read_text_file(kPrivateShare, kSecretName), kSecretText);
    }
}

TEST_P(ApiTest, UnknownUserIsLoggedOnAsGuest)
{
    // map to guest = Bad User
    ASSERT_EQ(connect("vnsmbt_unknown", "whatever"), 0) << vnsmb1c_last_error();
    EXPECT_EQ(session_flag("guest"), 1) << vnsmb1c_session_json();
    EXPECT_EQ(read_text_file(kPublicShare, kHelloName), kHelloText);
    EXPECT_LT(vnsmb1c_list(kPrivateShare, nullptr), 0);
}

TEST_P(ApiTest, FoldersOf0To50000ListExactly)
{
    ASSERT_EQ(connect("", ""), 0) << vnsmb1c_last_error();
    std::vector<std::pair<std::string, int>> folders = {{"Big5000", kBig}};
    for (int n : kExactSizes)
        folders.emplace_back("Exact" + std::to_string(n), n);
    for (const auto &[folder, count] : folders) {
        SCOPED_TRACE(folder);
        ASSERT_EQ(vnsmb1c_list(kBulkShare, folder.c_str()), count) << vnsmb1c_last_error();
        auto items = listed_items();
        ASSERT_EQ(items.size(), static_cast<size_t>(count));
        EXPECT_EQ(names_of(items), names_on_disk(bulk_tree().root() / folder));
        for (size_t i = 0; i < items.size(); i++) {
            ASSERT_FALSE(items[i].folder) << items[i].name;
            ASSERT_EQ(items[i].size, 0) << items[i].name;
            // Each item one by one, as a host walks the listing.
            ASSERT_EQ(std::string(vnsmb1c_item_json(static_cast<int>(i))).rfind("{\"name\":\"" + items[i].name + "\"", 0), 0u)
                << i;
        }
        EXPECT_EQ(vnsmb1c_list_hidden_count(), 0);
    }
}

// More entries than earlier versions held (50,000): every one is listed.
TEST_P(ApiTest, FolderOf60000ListsWhole)
{
    ASSERT_EQ(connect("", ""), 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_list(kBulkShare, "Big60000"), kHuge) << vnsmb1c_last_error();
    auto items = listed_items();
    ASSERT_EQ(items.size(), static_cast<size_t>(kHuge));
    auto listed = names_of(items);
    EXPECT_EQ(listed.size(), static_cast<size_t>(kHuge)) << "names listed twice";
    EXPECT_EQ(listed, names_on_disk(bulk_tree().root() / "Big60000"));
}

// vnsmb1c_stat: one request on a held session, the same size and time the
// listing gives, folders, shares, and what is not there.
TEST_P(ApiTest, StatFilesFoldersSharesAndMissingPaths)
{
    connect_reader();
    ASSERT_GE(vnsmb1c_list(kPublicShare, nullptr), 0) << vnsmb1c_last_error();
    // Last-write times as the listing gives them.
    std::map<std::string, int64_t> listed;
    rapidjson::Document doc;
    doc.Parse(vnsmb1c_list_json());
    ASSERT_TRUE(doc.IsObject() && doc.HasMember("items"));
    for (const auto &it : doc["items"].GetArray())
        listed[it["name"].GetString()] = it["mtime_ms"].GetInt64();
    ASSERT_EQ(listed.count(kHelloName), 1u);

    vnsmb1c_Entry e{};
    const std::string hello = std::string(kPublicShare) + "/" + kHelloName;
    const uint64_t frames = vnsmb1c_frame_count();
    ASSERT_EQ(vnsmb1c_stat(hello.c_str(), &e), 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_frame_count() - frames, 1u) << "one request once the tree is connected";
    EXPECT_STREQ(e.name, kHelloName);
    EXPECT_EQ(e.path, hello);
    EXPECT_EQ(e.folder, 0);
    EXPECT_EQ(e.size, static_cast<int64_t>(std::strlen(kHelloText)));
    EXPECT_EQ(e.mtime_ms, listed[kHelloName]);

    ASSERT_EQ(vnsmb1c_stat("public/Movies/", &e), 0) << vnsmb1c_last_error();
    EXPECT_STREQ(e.path, "public/Movies");
    EXPECT_EQ(e.folder, 1);
    EXPECT_EQ(e.size, -1);
    EXPECT_EQ(e.mtime_ms, listed["Movies"]);

    ASSERT_EQ(vnsmb1c_stat(kPublicShare, &e), 0) << vnsmb1c_last_error();
    EXPECT_EQ(e.folder, 1);
    EXPECT_STREQ(e.name, kPublicShare);

    for (const char *missing : {"public/no-such-file", "public/NoSuchFolder/x.bin", "no-such-share",
                                "no-such-share/x.bin"}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(vnsmb1c_stat(missing, &e), VNSMB1C_ENOTFOUND) << vnsmb1c_last_error();
    }
}

// A session left without waiting for the server's replies connects again,
// and its new connection gets only its own replies.
TEST_P(ApiTest, DisconnectThenConnectAgain)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        connect_reader();
        int h = vnsmb1c_open(kPublicShare, kHelloName);
        ASSERT_GT(h, 0) << vnsmb1c_last_error();
        char buf[64] = {};
        ASSERT_EQ(vnsmb1c_read_at(h, 0, buf, sizeof buf - 1), static_cast<int>(std::strlen(kHelloText)));
        EXPECT_STREQ(buf, kHelloText);
        vnsmb1c_close(h);
        vnsmb1c_Entry e{};
        ASSERT_EQ(vnsmb1c_stat("public/Movies/clip.bin", &e), 0) << vnsmb1c_last_error();
        EXPECT_EQ(e.size, 100000);
        vnsmb1c_disconnect();
    }
}

TEST_P(ApiTest, AwkwardNamesRoundTrip)
{
    ASSERT_EQ(connect("", ""), 0) << vnsmb1c_last_error();
    expect_awkward_names_round_trip();
}

TEST_P(ApiTest, HiddenNamesAreCountedNotListed)
{
    ASSERT_EQ(connect("", ""), 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_list(kPublicShare, "Hidden"), 1) << vnsmb1c_last_error();
    EXPECT_EQ(names_of(listed_items()), std::set<std::string>{kShownName});
    EXPECT_EQ(vnsmb1c_list_hidden_count(), static_cast<int>(kHiddenNames.size()));
}

TEST_P(ApiTest, HiddenNamesListedOnRequestAndOpened)
{
    ASSERT_EQ(connect("", ""), 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_list_all(kPublicShare, "Hidden"), static_cast<int>(kHiddenNames.size()) + 1)
        << vnsmb1c_last_error();
    std::set<std::string> want(kHiddenNames.begin(), kHiddenNames.end());
    want.insert(kShownName);
    auto items = listed_items();
    EXPECT_EQ(names_of(items), want);
    for (const auto &it : items)
        EXPECT_EQ(it.hidden, it.name != kShownName) << it.name;
    EXPECT_EQ(vnsmb1c_list_hidden_count(), static_cast<int>(kHiddenNames.size()));
    for (const auto &name : kHiddenNames) {
        int h = vnsmb1c_open((std::string(kPublicShare) + "/Hidden").c_str(), name.c_str());
        EXPECT_GT(h, 0) << name << ": " << vnsmb1c_last_error();
        vnsmb1c_close(h);
    }
}

// Whether something accepts TCP connections on [::1]:port.
bool ipv6_loopback_listens(int port)
{
    int fd = socket(AF_INET6, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(static_cast<uint16_t>(port));
    a.sin6_addr = in6addr_loopback;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

// A bracketed IPv6 URL reaches the server, and the request handler hands out
// its locators with the brackets.
TEST_P(ApiTest, Ipv6LoopbackThroughUrls)
{
    const int port = server().port();
    if (!ipv6_loopback_listens(port))
        GTEST_SKIP() << "the server does not listen on [::1]";
    const std::string settings = R"({"FullUrl":"smb://[::1]:)" + std::to_string(port) + R"(/public","UserName":")" +
                                 kReader + R"(","Password":")" + kReaderPassword + R"("})";
    ASSERT_EQ(vnsmb1c_connect_json(settings.c_str()), 0) << vnsmb1c_last_error();
    EXPECT_EQ(read_text_file(kPublicShare, kHelloName), kHelloText);
    vnsmb1c_disconnect();

    std::vector<char> out(4096, '\0');
    const std::string entry = std::string(R"({"path":")") + kPublicShare + "/" + kHelloName + R"("})";
    ASSERT_EQ(vnrch_get()->stream(nullptr, settings.c_str(), entry.c_str(), out.data(), 4096), 0) << out.data();
    EXPECT_EQ(std::string(out.data()), R"({"url":"smb1://[::1]:)" + std::to_string(port) + "/" + kPublicShare + "/" +
                                           kHelloName + R"(","size":)" + std::to_string(std::strlen(kHelloText)) +
                                           "}");
}

// A closed handle stays bad when its slot holds the next file.
TEST_P(ApiTest, StaleHandleNeverReachesTheNextFile)
{
    connect_reader();
    int stale = vnsmb1c_open(kPublicShare, kHelloName);
    ASSERT_GT(stale, 0) << vnsmb1c_last_error();
    vnsmb1c_close(stale);
    int next = vnsmb1c_open(kPublicShare, kRandomRel);
    ASSERT_GT(next, 0) << vnsmb1c_last_error();
    EXPECT_NE(next, stale);
    char buf[16];
    EXPECT_EQ(vnsmb1c_size(stale), -6);
    EXPECT_EQ(vnsmb1c_read_at(stale, 0, buf, sizeof buf), -6);
    EXPECT_STREQ(vnsmb1c_last_error(), "bad handle");
    vnsmb1c_close(stale);
    EXPECT_EQ(vnsmb1c_size(next), static_cast<int64_t>(kRandomSize));
    EXPECT_EQ(vnsmb1c_read_at(next, 0, buf, sizeof buf), static_cast<int>(sizeof buf)) << vnsmb1c_last_error();
    vnsmb1c_close(next);
}

TEST_P(ApiTest, RandomFileReadsBackExactly)
{
    connect_reader();
    int h = vnsmb1c_open(kPublicShare, kRandomRel);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_size(h), static_cast<int64_t>(kRandomSize));
    const auto &want = random_bytes();

    auto got = read_all(h, 1 << 20);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_EQ(sha256_hex(got.data(), got.size()), sha256_hex(want.data(), want.size()));

    std::mt19937_64 rng(42);
    for (int i = 0; i < 200; ++i) {
        uint64_t off = rng() % kRandomSize;
        size_t len = 1 + rng() % 70000;
        std::string part = read_exact(h, off, std::min<uint64_t>(len, kRandomSize - off));
        ASSERT_EQ(0, std::memcmp(part.data(), want.data() + off, part.size())) << "offset " << off;
    }
    char b[16];
    EXPECT_EQ(vnsmb1c_read_at(h, static_cast<int64_t>(kRandomSize), b, sizeof b), 0);
    EXPECT_EQ(vnsmb1c_read_at(h, static_cast<int64_t>(kRandomSize) + 12345, b, sizeof b), 0);
    // The last bytes: fewer than asked.
    EXPECT_EQ(vnsmb1c_read_at(h, static_cast<int64_t>(kRandomSize) - 5, b, sizeof b), 5);
    EXPECT_EQ(0, std::memcmp(b, want.data() + kRandomSize - 5, 5));
    vnsmb1c_close(h);
}

TEST_P(ApiTest, SparseFileMarkersPast4GiB)
{
    ASSERT_EQ(connect("", ""), 0) << vnsmb1c_last_error();
    int h = vnsmb1c_open("public/Media", "sparse.bin");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_size(h), static_cast<int64_t>(kSparseSize));
    for (const auto &m : kMarkers)
        EXPECT_EQ(read_exact(h, m.offset, m.text.size()), m.text) << "at " << m.offset;
    // The hole just before a marker past 4 GiB reads as zeros.
    EXPECT_EQ(read_exact(h, 4 * kGiB + 12340, 5), std::string(5, '\0'));
    char b[8];
    EXPECT_EQ(vnsmb1c_read_at(h, static_cast<int64_t>(kSparseSize), b, sizeof b), 0);
    vnsmb1c_close(h);
}

TEST_P(ApiTest, WritableShareStaysUnchanged)
{
    const std::string before = tree_manifest(server().path(kWritableShare));
    for (int who = 0; who < 2; ++who) {
        ASSERT_EQ(who ? connect(kOther, kOtherPassword) : connect("", ""), 0) << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_list(kWritableShare, nullptr), 2) << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_list(kWritableShare, "sub"), 1) << vnsmb1c_last_error();
        EXPECT_EQ(read_text_file(kWritableShare, "notes.txt"), "the suite checks that nothing here changes\n");
        EXPECT_EQ(read_text_file("writable/sub", "data.bin"), std::string(reinterpret_cast<const char *>(
                                                                               pattern_bytes(70000, 2).data()),
                                                                           70000));
        EXPECT_LT(vnsmb1c_open(kWritableShare, "missing.txt"), 0);
        vnsmb1c_disconnect();
    }
    EXPECT_EQ(tree_manifest(server().path(kWritableShare)), before);
}

TEST_P(ApiTest, AlteredReadReplyFailsWhenSigning)
{
    if (!mandatory())
        GTEST_SKIP() << "only a signing session can notice";
    TamperProxy proxy(server().port());
    ASSERT_GT(proxy.port(), 0);
    ASSERT_EQ(connect(kReader, kReaderPassword, proxy.port()), 0) << vnsmb1c_last_error();
    int h = vnsmb1c_open(kPublicShare, kRandomRel);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    std::vector<uint8_t> buf(4096);
    ASSERT_EQ(vnsmb1c_read_at(h, 0, buf.data(), 4096), 4096) << vnsmb1c_last_error();
    EXPECT_EQ(0, std::memcmp(buf.data(), random_bytes().data(), 4096));

    proxy.arm();
    EXPECT_EQ(vnsmb1c_read_at(h, 8192, buf.data(), 4096), VNSMB1C_EPROTO);
    EXPECT_EQ(proxy.flipped(), 1);
    std::printf("[interop] altered READ reply: %s\n", vnsmb1c_last_error());
}

// Runs of reads, each call checked for its full count and every byte:
// single bytes and several MiB at odd offsets, across the end, a player's
// sequential calls broken by seeks back and forward, directly and through a
// proxy that passes everything on.
TEST_P(ApiTest, StreamRunsReadBackExactly)
{
    struct Step {
        uint64_t offset;
        size_t length;
    };
    auto run_of = [](uint64_t from, size_t length, int count) {
        std::vector<Step> out;
        for (int i = 0; i < count; ++i)
            out.push_back({from + static_cast<uint64_t>(i) * length, length});
        return out;
    };
    std::vector<Step> steps = {{1, 1}, {kRandomSize - 1, 1}, {65535, 3}, {3, (3u << 20) + 11},
                               {kRandomSize - 1000, 65536}, {kRandomSize - (5u << 20) - 7, 6u << 20}};
    for (const auto &part : {run_of(1000, 65536, 200), run_of(500, 32768, 40), run_of(40u << 20, 1u << 20, 8),
                             run_of(7u << 20, 65536, 100), run_of(kRandomSize - 100 * 65536 - 9, 65536, 101)})
        steps.insert(steps.end(), part.begin(), part.end());

    TamperProxy proxy(server().port());
    ASSERT_GT(proxy.port(), 0);
    const auto &want = random_bytes();
    for (int port : {0, proxy.port()}) {
        ASSERT_EQ(connect(kReader, kReaderPassword, port), 0) << vnsmb1c_last_error();
        int h = vnsmb1c_open(kPublicShare, kRandomRel);
        ASSERT_GT(h, 0) << vnsmb1c_last_error();
        std::vector<uint8_t> buf;
        for (const Step &st : steps) {
            buf.assign(st.length, 0);
            int n = vnsmb1c_read_at(h, static_cast<int64_t>(st.offset), buf.data(), static_cast<int>(st.length));
            uint64_t expect = std::min<uint64_t>(st.length, kRandomSize - std::min(st.offset, kRandomSize));
            ASSERT_EQ(n, static_cast<int>(expect)) << "at " << st.offset << ": " << vnsmb1c_last_error();
            ASSERT_EQ(0, std::memcmp(buf.data(), want.data() + st.offset, expect)) << "at " << st.offset;
        }
        vnsmb1c_close(h);
        vnsmb1c_disconnect();
    }
}

// A reply altered while a window of reads is in flight: the call that meets
// it fails with -2 and hands out nothing altered; the calls before it had
// exact bytes.
TEST_P(ApiTest, AlteredReplyInsideTheReadWindow)
{
    if (!mandatory())
        GTEST_SKIP() << "only a signing session can notice";
    TamperProxy proxy(server().port());
    ASSERT_GT(proxy.port(), 0);
    ASSERT_EQ(connect(kReader, kReaderPassword, proxy.port()), 0) << vnsmb1c_last_error();
    int h = vnsmb1c_open(kPublicShare, kRandomRel);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    const auto &want = random_bytes();
    std::vector<uint8_t> buf(65536);
    uint64_t at = 0;
    for (int i = 0; i < 20; ++i, at += buf.size()) {
        ASSERT_EQ(vnsmb1c_read_at(h, static_cast<int64_t>(at), buf.data(), 65536), 65536) << vnsmb1c_last_error();
        ASSERT_EQ(0, std::memcmp(buf.data(), want.data() + at, buf.size()));
    }
    proxy.arm();
    int failed = 0;
    for (int i = 0; i < 400 && failed == 0; ++i, at += buf.size()) {
        int n = vnsmb1c_read_at(h, static_cast<int64_t>(at), buf.data(), 65536);
        if (n < 0) {
            EXPECT_EQ(n, VNSMB1C_EPROTO) << vnsmb1c_last_error();
            failed = 1;
            break;
        }
        ASSERT_EQ(n, 65536);
        ASSERT_EQ(0, std::memcmp(buf.data(), want.data() + at, buf.size())) << "altered bytes handed out at " << at;
    }
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(proxy.flipped(), 1);
    vnsmb1c_close(h);
}

// Chained requests as Samba takes them: the share named before the connect
// comes with the logon's last leg, a file's first bytes with its open; both
// byte-exact, signed or not.
TEST_P(ApiTest, ChainedTreeConnectAndFirstReadByteExact)
{
    ASSERT_EQ(vnsmb1c_set_first_share(kPublicShare), 0);
    uint64_t frames = vnsmb1c_frame_count();
    const int rc = connect(kReader, kReaderPassword);
    vnsmb1c_set_first_share(nullptr);
    ASSERT_EQ(rc, 0) << vnsmb1c_last_error();
    // NEGOTIATE, the two SESSION_SETUP legs, the second carrying TREE_CONNECT.
    EXPECT_EQ(vnsmb1c_frame_count() - frames, 3u);
    const Session &s = vnb_default_session();
    EXPECT_FALSE(s.chain_refused.tree);
    EXPECT_EQ(s.trees[0].in_use, 1);

    frames = vnsmb1c_frame_count();
    ASSERT_GE(vnsmb1c_list(kPublicShare, nullptr), 0) << vnsmb1c_last_error();
    EXPECT_EQ(names_of(listed_items()).count(kHelloName), 1u);
    const uint64_t list_frames = vnsmb1c_frame_count() - frames;

    frames = vnsmb1c_frame_count();
    int h = vnsmb1c_open(kPublicShare, kHelloName);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_frame_count() - frames, 1u);
    EXPECT_FALSE(s.chain_refused.read);
    EXPECT_EQ(read_exact(h, 0, std::strlen(kHelloText)), kHelloText);
    EXPECT_EQ(vnsmb1c_frame_count() - frames, 1u);  // served by the open's own message
    vnsmb1c_close(h);

    h = vnsmb1c_open(kPublicShare, kRandomRel);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    const size_t n = size_t{3} << 20;
    std::string got = read_exact(h, 0, n);
    ASSERT_EQ(got.size(), n);
    EXPECT_EQ(sha256_hex(reinterpret_cast<const uint8_t *>(got.data()), n), sha256_hex(random_bytes().data(), n));
    vnsmb1c_close(h);
    EXPECT_FALSE(s.chain_refused.read);

    // Without the share named, the same listing pays its TREE_CONNECT.
    ASSERT_EQ(connect(kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    frames = vnsmb1c_frame_count();
    ASSERT_GE(vnsmb1c_list(kPublicShare, nullptr), 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_frame_count() - frames, list_frames + 1);
}

INSTANTIATE_TEST_SUITE_P(Signing, ApiTest, testing::Values("default", "mandatory"),
                         [](const testing::TestParamInfo<const char *> &info) { return std::string(info.param); });

namespace {

class ShareCapTest : public SambaTest {
protected:
    void populate(SambaServer &s) override
    {
        SambaTest::populate(s);
        for (int i = 0; i < 297; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "share%03d", i);
            s.add_share(read_only_share(name));
        }
    }
    void TearDown() override
    {
        vnsmb1c_disconnect();
        SambaTest::TearDown();
    }
};

}  // namespace

// Three hundred shares, more than the library holds: the listing fails and
// says why, rather than show the first 256 as if they were all.
TEST_F(ShareCapTest, MoreThan256FailTheListing)
{
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    ASSERT_EQ(vnsmb1c_connect(kHost, server().port(), "", "", ""), 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_shares(), VNSMB1C_ELIMIT);
    EXPECT_EQ(std::string(vnsmb1c_last_error()),
              "the server lists more than " + std::to_string(kMaxShares) + " shares, the most the library holds");
    EXPECT_STREQ(vnsmb1c_share_name(0), "");
    // The session goes on.
    EXPECT_EQ(read_text_file(kPublicShare, kHelloName), kHelloText);
}

namespace {

class ServerKillTest : public SambaTest {
protected:
    void TearDown() override
    {
        vnsmb1c_disconnect();
        set_timeout(kDefaultTimeoutMs);
        SambaTest::TearDown();
    }
};

}  // namespace

TEST_F(ServerKillTest, ReadsOutstandingEndCleanlyAndReconnectWorks)
{
    constexpr int kTimeoutMs = 3000;
    const std::vector<uint8_t> want = server().write_random_file(kPublicShare, "stream.bin", 16u << 20, 11);
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    set_timeout(kTimeoutMs);
    ASSERT_EQ(vnsmb1c_connect(kHost, server().port(), "", kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    int h = vnsmb1c_open(kPublicShare, "stream.bin");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    std::vector<uint8_t> buf(65536);
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(vnsmb1c_read_at(h, int64_t{i} * 65536, buf.data(), 65536), 65536) << vnsmb1c_last_error();

    // Read-ahead is outstanding when the server goes.
    server().kill_smbd();
    int rc = 0;
    for (int i = 8; i < 400 && rc >= 0; ++i)
        rc = vnsmb1c_read_at(h, int64_t{i} * 65536, buf.data(), 65536);
    EXPECT_TRUE(rc == VNSMB1C_ENET || rc == VNSMB1C_ENOSESSION || rc == VNSMB1C_EPROTO)
        << rc << " " << vnsmb1c_last_error();
    vnsmb1c_close(h);

    ASSERT_TRUE(server().start_smbd());
    ASSERT_EQ(vnsmb1c_connect(kHost, server().port(), "", kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    h = vnsmb1c_open(kPublicShare, "stream.bin");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    std::string part = read_exact(h, 8 * 65536 + 3, 200000);
    ASSERT_EQ(part.size(), 200000u);
    EXPECT_EQ(0, std::memcmp(part.data(), want.data() + 8 * 65536 + 3, part.size()));
    vnsmb1c_close(h);
}

TEST_F(ServerKillTest, NextCallFailsAndReconnectWorks)
{
    constexpr int kTimeoutMs = 3000;
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    set_timeout(kTimeoutMs);
    ASSERT_EQ(vnsmb1c_connect(kHost, server().port(), "", kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    int h = vnsmb1c_open(kPublicShare, kHelloName);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    // The first read is served by the bytes the open brought along.
    char b[8];
    ASSERT_EQ(vnsmb1c_read_at(h, 0, b, sizeof b), 8) << vnsmb1c_last_error();

    server().kill_smbd();
    auto t0 = std::chrono::steady_clock::now();
    int rc = vnsmb1c_read_at(h, 0, b, sizeof b);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_TRUE(rc == VNSMB1C_ENET || rc == VNSMB1C_ENOSESSION) << rc << " " << vnsmb1c_last_error();
    EXPECT_LE(ms, kTimeoutMs + 1000);
    int again = vnsmb1c_list(kPublicShare, nullptr);
    EXPECT_TRUE(again == VNSMB1C_ENET || again == VNSMB1C_ENOSESSION) << again << " " << vnsmb1c_last_error();

    ASSERT_TRUE(server().start_smbd());
    ASSERT_EQ(vnsmb1c_connect(kHost, server().port(), "", kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    EXPECT_EQ(read_text_file(kPublicShare, kHelloName), kHelloText);
}

namespace {

// A server that takes one request at a time (MaxMpxCount 1).
class OneAtATimeTest : public SambaTest {
protected:
    SambaOptions server_options() override
    {
        SambaOptions o;
        o.global_params.push_back("max mux = 1");
        return o;
    }
    void TearDown() override
    {
        vnsmb1c_disconnect();
        SambaTest::TearDown();
    }
};

}  // namespace

TEST_F(OneAtATimeTest, StreamAndListWithoutPipelining)
{
    const std::vector<uint8_t> want = server().write_random_file(kPublicShare, "mux1.bin", (3u << 20) + 5, 23);
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    ASSERT_EQ(vnsmb1c_connect(kHost, server().port(), "", kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    ASSERT_NE(std::strstr(vnsmb1c_session_json(), "\"max_mpx\":1,"), nullptr) << vnsmb1c_session_json();
    int h = vnsmb1c_open(kPublicShare, "mux1.bin");
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    struct Step {
        uint64_t offset;
        int length;
    };
    // A player's sequential calls with read-ahead, a listing between them,
    // a seek back, one call across the end.
    std::vector<Step> steps;
    for (int i = 0; i < 24; ++i)
        steps.push_back({uint64_t(i) * 65536, 65536});
    steps.push_back({1000, 1 << 20});
    steps.push_back({want.size() - 100, 4096});
    std::vector<uint8_t> buf;
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step &st = steps[i];
        if (i == 10) {
            ASSERT_GE(vnsmb1c_list(kPublicShare, nullptr), 1) << vnsmb1c_last_error();
        }
        buf.assign(static_cast<size_t>(st.length), 0);
        int n = vnsmb1c_read_at(h, static_cast<int64_t>(st.offset), buf.data(), st.length);
        size_t expect = std::min<size_t>(static_cast<size_t>(st.length), want.size() - st.offset);
        ASSERT_EQ(n, static_cast<int>(expect)) << "at " << st.offset << ": " << vnsmb1c_last_error();
        ASSERT_EQ(0, std::memcmp(buf.data(), want.data() + st.offset, expect)) << "at " << st.offset;
    }
    vnsmb1c_close(h);
}
