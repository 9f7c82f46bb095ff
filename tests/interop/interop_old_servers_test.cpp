// The servers people still own, played by Samba configured the way old
// devices behave: DOS error codes instead of NT statuses, plaintext
// passwords, no Unicode, NTLMv1 and LAN Manager logons, port 139 only, a
// guest-only share. Each gets the same operations: the share list, folders
// of 1,500 and 6,000 entries, names with accents (and CJK where the server
// can hold them), a stat, a 64 MiB file byte for byte, a wrong password and
// a missing file.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <rapidjson/document.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "interop/support/library_calls.h"
#include "interop/support/samba_fixture.h"
#include "interop/support/smbclient.h"
#include "net/msg_transport.h"
#include "vnsmb1c.h"

using namespace interop;

namespace {

constexpr char kShare[] = "old";
constexpr int kSmallFolder = 1500;
constexpr int kLargeFolder = 6000;
constexpr char kBigName[] = "big.bin";
constexpr uint64_t kBigSize = 64ull << 20;
constexpr char kAccented[] = "caf\xC3\xA9 cr\xC3\xA8me.txt";            // café crème.txt
constexpr char kCjk[] = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt";        // 日本語.txt
const std::vector<SparseMarker> kMarkers = {
    {0, "the first bytes"},
    {(17ull << 20) + 3, "in the middle"},
    {kBigSize - 9, "the end!!"},
};

// What the big file holds: zeros but for the markers.
const std::vector<uint8_t> &big_bytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(kBigSize, 0);
        for (const SparseMarker &m : kMarkers)
            std::memcpy(b.data() + m.offset, m.text.data(), m.text.size());
        return b;
    }();
    return bytes;
}

std::string report_text(const char *key)
{
    rapidjson::Document d;
    d.Parse(vnsmb1c_session_json());
    if (d.HasParseError() || !d.HasMember(key) || !d[key].IsString())
        return "<none>";
    return d[key].GetString();
}

std::string text_of(const std::filesystem::path &file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool port_accepts(int port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = s >= 0 && connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    if (s >= 0)
        close(s);
    return ok;
}

bool port_free(int port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = s >= 0 && bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    if (s >= 0)
        close(s);
    return ok;
}

int refused_port()
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(s);
    return port;
}

// One server per test: the standard users and a share "old" with the
// operations' content.
class OldServerTest : public testing::Test {
protected:
    void start(std::vector<std::string> globals, int port = 0, std::vector<std::string> share_params = {})
    {
        if (auto why = SambaServer::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        SambaOptions o;
        o.global_params = std::move(globals);
        // The audit lines name the password form each logon used.
        o.debug_classes = "auth_audit:3";
        o.port = port;
        server_ = std::make_unique<SambaServer>(o);
        SambaServer &s = *server_;
        ASSERT_TRUE(s.add_user(kReader, kReaderPassword));
        ShareConfig share = read_only_share(kShare, true);
        share.params = std::move(share_params);
        s.add_share(share);
        s.make_entries(kShare, "many1500", kSmallFolder);
        s.make_entries(kShare, "many6000", kLargeFolder);
        s.write_file(kShare, std::string("Names/") + kAccented, "accented\n");
        s.write_file(kShare, std::string("Names/") + kCjk, "cjk\n");
        s.write_sparse_file(kShare, kBigName, kBigSize, kMarkers);
        s.set_mtime(kShare, kBigName, 1500000000);
        ASSERT_TRUE(s.start());
        ASSERT_EQ(vnsmb1c_use_sockets(), 0);
        vnsmb1c_set_timeout(30000);
    }

    void TearDown() override
    {
        vnsmb1c_disconnect();
        vnsmb1c_set_legacy_auth("none");
        vnsmb1c_set_code_page("CP850");
        vnb_tcp_default_ports(0, 0);
        server_.reset();
    }

    int connect(const char *user, const char *password, int port = -1)
    {
        return vnsmb1c_connect(SambaServer::kHost, port < 0 ? server_->port() : port, "", user, password);
    }

    // The smbd log so far (its audit lines among it).
    std::string smbd_log() const { return text_of(server_->root() / "log" / "smbd.out"); }

    // The operations every configuration gets, on a connected session.
    void run_operations(bool holds_cjk)
    {
        SCOPED_TRACE(vnsmb1c_session_json());
        EXPECT_TRUE(has(share_names(), kShare)) << vnsmb1c_last_error();

        for (int count : {kSmallFolder, kLargeFolder}) {
            std::string folder = std::string(kShare) + "/many" + std::to_string(count);
            ASSERT_EQ(vnsmb1c_list(folder.c_str(), nullptr), count) << folder << ": " << vnsmb1c_last_error();
            std::set<std::string> names = names_of(listed_items());
            EXPECT_EQ(names.size(), static_cast<size_t>(count));
            char last[32];
            std::snprintf(last, sizeof last, "entry%05d", count - 1);
            EXPECT_TRUE(names.count("entry00000") && names.count(last)) << folder;
        }

        // Names: the accented one always; the CJK one where the server holds it.
        std::string names_folder = std::string(kShare) + "/Names";
        EXPECT_GE(vnsmb1c_list(names_folder.c_str(), nullptr), 1) << vnsmb1c_last_error();
        std::set<std::string> names = names_of(listed_items());
        EXPECT_TRUE(names.count(kAccented)) << "listed: " << testing::PrintToString(names);
        EXPECT_EQ(read_text_file(names_folder.c_str(), kAccented), "accented\n");
        if (holds_cjk) {
            EXPECT_TRUE(names.count(kCjk)) << "listed: " << testing::PrintToString(names);
            EXPECT_EQ(read_text_file(names_folder.c_str(), kCjk), "cjk\n");
        } else {
            EXPECT_EQ(vnsmb1c_open(names_folder.c_str(), kCjk), VNSMB1C_EUNSUPP);
            EXPECT_NE(std::string(vnsmb1c_last_error()).find("cannot be written in code page CP850"),
                      std::string::npos)
                << vnsmb1c_last_error();
        }

        // Stat: the listing's entry, and the open file's size.
        ASSERT_GE(vnsmb1c_list(kShare, nullptr), 1) << vnsmb1c_last_error();
        bool found = false;
        for (const Item &it : listed_items())
            if (it.name == kBigName) {
                found = true;
                EXPECT_FALSE(it.folder);
                EXPECT_EQ(it.size, static_cast<int64_t>(kBigSize));
            }
        EXPECT_TRUE(found);

        // 64 MiB, byte for byte.
        int h = vnsmb1c_open(kShare, kBigName);
        ASSERT_GT(h, 0) << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_size(h), static_cast<int64_t>(kBigSize));
        std::vector<uint8_t> got = read_all(h, 1 << 20);
        vnsmb1c_close(h);
        ASSERT_EQ(got.size(), kBigSize);
        EXPECT_TRUE(got == big_bytes()) << "the 64 MiB file differs";

        // A missing file: not found, in words.
        EXPECT_EQ(vnsmb1c_open(kShare, "missing.bin"), VNSMB1C_ENOTFOUND) << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_last_code(), VNSMB1C_ENOTFOUND);
        EXPECT_EQ(vnsmb1c_list("old/no such folder", nullptr), VNSMB1C_ENOTFOUND) << vnsmb1c_last_error();
    }

    // A wrong password is an authentication failure, with the server's word.
    void expect_wrong_password_refused(int port = -1)
    {
        vnsmb1c_disconnect();
        EXPECT_EQ(connect(kReader, "not-the-password", port), VNSMB1C_EAUTH) << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_last_code(), VNSMB1C_EAUTH);
    }

    std::unique_ptr<SambaServer> server_;
};

}  // namespace

// "nt status support = no": every reply in DOS form.
TEST_F(OldServerTest, DosErrorCodes)
{
    start({"nt status support = no"});
    ASSERT_EQ(connect(kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    EXPECT_EQ(session_flag("dos_errors"), 1) << vnsmb1c_session_json();
    EXPECT_EQ(report_text("logon"), "ntlmv2");
    run_operations(true);

    // The failures carry the DOS names, and mean what NT statuses mean.
    EXPECT_EQ(vnsmb1c_open(kShare, "missing.bin"), VNSMB1C_ENOTFOUND);
    EXPECT_STREQ(vnsmb1c_status_name(vnsmb1c_last_status()), "ERRbadfile") << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list("nowhere", nullptr), VNSMB1C_ENOTFOUND);
    // Samba words a missing share as Windows does: ERRDOS/ERRnosuchshare (67).
    EXPECT_STREQ(vnsmb1c_status_name(vnsmb1c_last_status()), "ERRnosuchshare") << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_open(kShare, "no folder/missing.bin"), VNSMB1C_ENOTFOUND);
    EXPECT_STREQ(vnsmb1c_status_name(vnsmb1c_last_status()), "ERRbadpath") << vnsmb1c_last_error();
    // A wrong password: Samba says ERRDOS/ERRnoaccess.
    expect_wrong_password_refused();
    EXPECT_STREQ(vnsmb1c_last_error(), "SESSION_SETUP: ERRnoaccess");
}

// "encrypt passwords = no": refused by default, saying how to allow it;
// with the opt-in the password goes out in plain text. Samba 4.17 itself
// can no longer check such a password: its plaintext path hands the Unix
// check an LM response made from it and no password (the audit line says
// "[LANMan]"), so every named logon fails, smbclient's as well. The
// operations run on the anonymous logon, which has no secret to send and
// needs no opt-in.
TEST_F(OldServerTest, PlaintextPasswords)
{
    start({"encrypt passwords = no"});
    EXPECT_EQ(connect(kReader, kReaderPassword), VNSMB1C_EUNSUPP);
    EXPECT_STREQ(vnsmb1c_last_error(),
                 "the server asks for the password in plain text (it offers no challenge to answer); allow it with "
                 "the setting \"LegacyAuth\": \"plaintext\" (vnsmb1c --legacy-auth plaintext)");
    const std::string audit = std::string("\\[") + kReader + "] at";
    EXPECT_EQ(smbd_log().find(audit), std::string::npos) << "nothing was sent";

    ASSERT_EQ(vnsmb1c_set_legacy_auth("plaintext"), 0);
    EXPECT_EQ(connect(kReader, kReaderPassword), VNSMB1C_EAUTH) << vnsmb1c_last_error();
    std::string log = smbd_log();
    size_t at = log.find(audit);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.find("with [LANMan] status [NT_STATUS_LOGON_FAILURE]", at), std::string::npos) << log;
    if (smbclient_unavailable().empty()) {
        ProcessResult ref = smbclient(*server_, kShare, {kReader, kReaderPassword}, "ls",
                                      {"--option=client plaintext auth=yes", "--option=client lanman auth=yes",
                                       "--option=client ntlmv2 auth=no", "--option=client use spnego=no"});
        EXPECT_NE(ref.exit_code, 0) << ref.output;
        EXPECT_NE(ref.output.find("NT_STATUS_LOGON_FAILURE"), std::string::npos) << ref.output;
    }
    expect_wrong_password_refused();

    vnsmb1c_disconnect();
    ASSERT_EQ(vnsmb1c_set_legacy_auth("none"), 0);
    ASSERT_EQ(connect("", ""), 0) << vnsmb1c_last_error();
    EXPECT_EQ(report_text("logon"), "anonymous");
    run_operations(true);
}

// "unicode = no": names go out and come back in CP850, Samba's dos charset.
TEST_F(OldServerTest, NoUnicode)
{
    start({"unicode = no"});
    ASSERT_EQ(connect(kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    EXPECT_EQ(session_flag("unicode"), 0) << vnsmb1c_session_json();
    run_operations(false);
    expect_wrong_password_refused();
}

// "ntlm auth = ntlmv1-permitted" with "lanman auth = yes": the opt-ins are
// what the logon uses, as the report and the server's audit say.
TEST_F(OldServerTest, NtlmV1AndLanManager)
{
    start({"ntlm auth = ntlmv1-permitted", "lanman auth = yes"});
    ASSERT_EQ(connect(kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    EXPECT_EQ(report_text("logon"), "ntlmv2");
    EXPECT_NE(smbd_log().find("[NTLMv2]"), std::string::npos);

    struct Case {
        const char *legacy;
        const char *logon;
    } cases[] = {{"ntlmv1", "ntlmv1-ess"}, {"lm", "lm"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.legacy);
        vnsmb1c_disconnect();
        size_t log_before = smbd_log().size();
        ASSERT_EQ(vnsmb1c_set_legacy_auth(c.legacy), 0);
        ASSERT_EQ(connect(kReader, kReaderPassword), 0) << vnsmb1c_last_error();
        EXPECT_EQ(report_text("logon"), c.logon);
        std::string log = smbd_log().substr(log_before);
        EXPECT_NE(log.find("[NTLMv1]"), std::string::npos) << log;
        EXPECT_EQ(log.find("[NTLMv2]"), std::string::npos) << log;
        run_operations(true);
        expect_wrong_password_refused();
    }
}

// "smb ports = 139": the NetBIOS session request, and the fall-back from 445.
TEST_F(OldServerTest, Port139Only)
{
    if (!port_free(139))
        GTEST_SKIP() << "port 139 is in use on this machine";
    start({"disable netbios = no"}, 139);
    // Without a port: 445 first, refused on loopback, then 139. Where
    // something answers on 445 here, a refused port of its own stands in.
    if (port_accepts(445))
        vnb_tcp_default_ports(refused_port(), 139);
    ASSERT_EQ(connect(kReader, kReaderPassword, 0), 0) << vnsmb1c_last_error();
    EXPECT_EQ(report_text("connection"), "port 139, NetBIOS session as *SMBSERVER");
    run_operations(true);

    vnsmb1c_disconnect();
    ASSERT_EQ(connect(kReader, kReaderPassword, 139), 0) << vnsmb1c_last_error();
    EXPECT_EQ(report_text("connection"), "port 139, NetBIOS session as *SMBSERVER");
    EXPECT_GE(vnsmb1c_list("old/many1500", nullptr), kSmallFolder) << vnsmb1c_last_error();
    expect_wrong_password_refused(0);
}

// A guest-only share: every user reads it as the guest.
TEST_F(OldServerTest, GuestOnlyShare)
{
    start({}, 0, {"guest only = yes"});
    for (const char *user : {kReader, ""}) {
        SCOPED_TRACE(user);
        vnsmb1c_disconnect();
        ASSERT_EQ(connect(user, user[0] ? kReaderPassword : ""), 0) << vnsmb1c_last_error();
        run_operations(true);
    }
    expect_wrong_password_refused();
}
