// The Samba test server itself, checked with smbclient and bare NEGOTIATEs:
// SMB1 only, the standard shares and logons, share listings, signing,
// restarts, process hygiene and the tree manifest.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "interop/support/samba_fixture.h"
#include "interop/support/smb1_probe.h"
#include "interop/support/smbclient.h"
#include "interop/support/tree_manifest.h"

namespace fs = std::filesystem;
using namespace interop;

namespace {

constexpr uint16_t kFlags2ExtSec = 0xC801;  // what the library sends: Unicode, NT status, ext. security, long names
constexpr uint16_t kFlags2Basic = 0x4001;   // NT status and long names only
constexpr uint32_t kCapExtendedSecurity = 0x80000000;
constexpr uint8_t kSecUserLevel = 0x01;
constexpr uint8_t kSecEncryptPasswords = 0x02;
constexpr uint8_t kSecSignaturesRequired = 0x08;

const SmbLogon kGuest{};
const SmbLogon kReaderLogon{kReader, kReaderPassword};
const SmbLogon kOtherLogon{kOther, kOtherPassword};

std::string describe(const ProcessResult &r)
{
    return "exit " + std::to_string(r.exit_code) + (r.timed_out ? " (timed out)" : "") + ":\n" + r.output;
}

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

// The first line holding part, or "".
std::string line_with(const std::string &text, const std::string &part)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (line.find(part) != std::string::npos)
            return line;
    return {};
}

size_t count_lines_with(const std::string &text, const std::string &part)
{
    size_t n = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        n += line.find(part) != std::string::npos;
    return n;
}

// A process that has ended: missing, or a zombie nobody reaped yet (reaped
// here when it is ours).
bool gone_within(pid_t pid, int ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        waitpid(pid, nullptr, WNOHANG);
        std::ifstream stat_file("/proc/" + std::to_string(pid) + "/stat");
        std::string stat_text;
        std::getline(stat_file, stat_text);
        size_t paren = stat_text.rfind(')');
        if (!stat_file || (paren != std::string::npos && stat_text.compare(paren, 3, ") Z") == 0))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

class HarnessTest : public SambaTest {
protected:
    void SetUp() override
    {
        if (auto why = smbclient_unavailable(); !why.empty())
            GTEST_SKIP() << why;
        SambaTest::SetUp();
    }
};

}  // namespace

TEST_F(HarnessTest, GuestListsThePublicShare)
{
    auto r = smbclient(server(), kPublicShare, kGuest, "ls");
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    for (const char *name : {kHelloName, "Movies", "Names", "Hidden"})
        EXPECT_TRUE(contains(r.output, name)) << name << " missing from\n" << r.output;

    auto names = smbclient(server(), kPublicShare, kGuest, "cd Names; ls");
    ASSERT_EQ(names.exit_code, 0) << describe(names);
    for (const auto &name : kAwkwardNames)
        EXPECT_TRUE(contains(names.output, name)) << name << " missing from\n" << names.output;
}

TEST_F(HarnessTest, HiddenNamesAreServedLikeOthers)
{
    // Hiding by name is the client's business: Samba lists them all, dot
    // files with the hidden attribute ("hide dot files"), the others without.
    auto r = smbclient(server(), kPublicShare, kGuest, "cd Hidden; ls");
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    for (const auto &name : kHiddenNames)
        EXPECT_TRUE(contains(r.output, "  " + name + " ")) << name << " missing from\n" << r.output;
    EXPECT_TRUE(contains(r.output, kShownName)) << r.output;
    EXPECT_TRUE(contains(line_with(r.output, "  .dotfile "), " H ")) << r.output;
    EXPECT_TRUE(contains(line_with(r.output, "  $dollar "), " N ")) << r.output;
}

TEST_F(HarnessTest, LogonsMeetTheSharePermissions)
{
    struct Case {
        const char *what;
        SmbLogon logon;
        const char *share;
        bool allowed;
        const char *expect;  // a file listed, or the status smbclient reports
    };
    const Case cases[] = {
        {"reader reads the private share", kReaderLogon, kPrivateShare, true, kSecretName},
        {"another user is refused there", kOtherLogon, kPrivateShare, false, "NT_STATUS_ACCESS_DENIED"},
        {"a guest is refused there", kGuest, kPrivateShare, false, "NT_STATUS_ACCESS_DENIED"},
        {"an unknown user becomes a guest (map to guest = Bad User)", {"vnsmbt_unknown", "whatever"},
         kPublicShare, true, kHelloName},
        {"an unknown user is still no reader", {"vnsmbt_unknown", "whatever"}, kPrivateShare, false,
         "NT_STATUS_ACCESS_DENIED"},
        {"a known user with a wrong password is refused", {kReader, "wrong"}, kPublicShare, false,
         "NT_STATUS_LOGON_FAILURE"},
        {"the reader may use the public share", kReaderLogon, kPublicShare, true, kHelloName},
        {"users may use the writable share", kOtherLogon, kWritableShare, true, "notes.txt"},
        {"guests may use the writable share", kGuest, kWritableShare, true, "notes.txt"},
        {"no such share", kReaderLogon, "nosuchshare", false, "NT_STATUS_BAD_NETWORK_NAME"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto r = smbclient(server(), c.share, c.logon, "ls");
        EXPECT_EQ(r.exit_code == 0, c.allowed) << describe(r);
        EXPECT_TRUE(contains(r.output, c.expect)) << describe(r);
    }
}

TEST_F(HarnessTest, ShareListingGoesThroughSrvsvc)
{
    for (const SmbLogon &logon : {kGuest, kReaderLogon}) {
        auto r = smbclient_shares(server(), logon);
        // smbclient also tries a workgroup listing over port 139, which
        // fails here; the share table is what counts.
        for (const char *share : {kPublicShare, kPrivateShare, kWritableShare, "IPC$"})
            EXPECT_TRUE(contains(r.output, share)) << share << " missing:\n" << describe(r);
        EXPECT_FALSE(contains(r.output, "rpc_pipe_bind")) << "srvsvc unreachable:\n" << r.output;
    }
}

TEST_F(HarnessTest, NegotiateOffersOnlyNtLm012)
{
    struct Case {
        std::vector<std::string> dialects;
        uint16_t expected_index;
    };
    const Case cases[] = {
        {{"NT LM 0.12"}, 0},
        {{"PC NETWORK PROGRAM 1.0", "LANMAN1.0", "NT LM 0.12"}, 2},
        {{"NT LM 0.12", "SMB 2.002", "SMB 2.???"}, 0},  // SMB2 is switched off
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dialects.back());
        NegotiateInfo n = probe_negotiate(server().port(), c.dialects, kFlags2ExtSec);
        ASSERT_TRUE(n.answered);
        EXPECT_EQ(n.status, 0u);
        EXPECT_EQ(n.word_count, 17);
        EXPECT_EQ(n.dialect, c.expected_index);
    }

    // Only older dialects: a one-word reply saying none is acceptable.
    NegotiateInfo old = probe_negotiate(server().port(), {"PC NETWORK PROGRAM 1.0", "LANMAN1.0"}, kFlags2ExtSec);
    ASSERT_TRUE(old.answered);
    EXPECT_EQ(old.word_count, 1);
    EXPECT_EQ(old.dialect, 0xFFFF);
}

TEST_F(HarnessTest, NegotiateAnnouncesBufferAndSecurity)
{
    NegotiateInfo ext = probe_negotiate(server().port(), {"NT LM 0.12"}, kFlags2ExtSec);
    ASSERT_TRUE(ext.answered);
    ASSERT_EQ(ext.word_count, 17);
    EXPECT_EQ(ext.max_buffer, 16644u) << "Samba's default max xmit";
    EXPECT_EQ(ext.security_mode & (kSecUserLevel | kSecEncryptPasswords), kSecUserLevel | kSecEncryptPasswords);
    EXPECT_EQ(ext.security_mode & kSecSignaturesRequired, 0) << "signing is not required by default";
    EXPECT_NE(ext.capabilities & kCapExtendedSecurity, 0u) << "a client asking for extended security gets it";
    EXPECT_GE(ext.byte_count, 16) << "server GUID, then the SPNEGO blob";
    std::printf("[samba] NEGOTIATE (ext. security): sec=0x%02x mpx=%u buf=%u raw=%u caps=0x%08x bytes=%u\n",
                ext.security_mode, ext.max_mpx, ext.max_buffer, ext.max_raw, ext.capabilities, ext.byte_count);

    NegotiateInfo basic = probe_negotiate(server().port(), {"NT LM 0.12"}, kFlags2Basic);
    ASSERT_TRUE(basic.answered);
    ASSERT_EQ(basic.word_count, 17);
    EXPECT_EQ(basic.capabilities & kCapExtendedSecurity, 0u) << "no extended security unless asked for";
    EXPECT_EQ(basic.challenge_len, 8);
    std::printf("[samba] NEGOTIATE (basic): sec=0x%02x buf=%u caps=0x%08x challenge=%u bytes=%u\n",
                basic.security_mode, basic.max_buffer, basic.capabilities, basic.challenge_len, basic.byte_count);
}

namespace {

struct BasicLogonCase {
    const char *what;
    std::string user;
    bool with_responses;
    uint32_t status;
    int guest;  // expected Action bit 0 on success
};

// SESSION_SETUP without extended security, with an LMv2 and NTLMv2 response
// that no password produces (a wrong proof in front of a well-formed client
// blob), so only who asks decides.
void check_basic_logons(int port, const std::vector<BasicLogonCase> &cases)
{
    const std::vector<uint8_t> lm(24, 0x11);
    const uint8_t blob[] = {1, 1, 0, 0, 0, 0, 0, 0,                          // RespType, HiRespType, reserved
                            0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01,  // timestamp (2000-01-01)
                            1, 2, 3, 4, 5, 6, 7, 8,                          // client challenge
                            0, 0, 0, 0,                                      // reserved
                            0, 0, 0, 0,                                      // MsvAvEOL
                            0, 0, 0, 0};
    std::vector<uint8_t> nt(std::begin(blob), std::end(blob));
    nt.insert(nt.begin(), 16, 0x22);  // NTProofStr
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        int s = probe_connect(port);
        ASSERT_GE(s, 0);
        NegotiateInfo n = probe_negotiate_on(s, {"NT LM 0.12"}, kFlags2Basic);
        ASSERT_TRUE(n.answered);
        SetupInfo setup = c.with_responses ? probe_session_setup_basic(s, c.user, "", lm, nt)
                                           : probe_session_setup_basic(s, c.user, "", {}, {});
        close(s);
        ASSERT_TRUE(setup.answered);
        std::printf("[samba] SESSION_SETUP %s: status=0x%08x action=0x%04x\n", c.what, setup.status, setup.action);
        EXPECT_EQ(setup.status, c.status) << std::hex << setup.status;
        if (c.status == 0) {
            EXPECT_EQ(setup.action & 1, c.guest);
            EXPECT_NE(setup.uid, 0);
        }
    }
}

constexpr uint32_t kStatusInvalidParameter = 0xC000000D;
constexpr uint32_t kStatusLogonFailure = 0xC000006D;

class RawNtlmv2Test : public HarnessTest {
protected:
    SambaOptions server_options() override
    {
        SambaOptions o;
        o.global_params = {"raw NTLMv2 auth = yes"};
        return o;
    }
};

}  // namespace

TEST_F(HarnessTest, BasicLogonRefusesRawNtlmv2ByDefault)
{
    // "raw NTLMv2 auth = no" (Samba's default): NTLMv2 outside NTLMSSP is
    // refused before the user is even looked up. Anonymous still works, as
    // the guest account, without the guest bit.
    check_basic_logons(server().port(), {
        {"unknown user", "vnsmbt_unknown", true, kStatusInvalidParameter, 0},
        {"known user", kReader, true, kStatusInvalidParameter, 0},
        {"anonymous (no name, no responses)", "", false, 0, 0},
    });
}

TEST_F(RawNtlmv2Test, BasicLogonMapsUnknownUsersToGuest)
{
    check_basic_logons(server().port(), {
        {"unknown user: guest (map to guest = Bad User)", "vnsmbt_unknown", true, 0, 1},
        {"known user, wrong response: refused", kReader, true, kStatusLogonFailure, 0},
        {"anonymous (no name, no responses)", "", false, 0, 0},
    });
}

namespace {

class SigningMandatoryTest : public HarnessTest {
protected:
    SambaOptions server_options() override
    {
        SambaOptions o;
        o.signing = "mandatory";
        return o;
    }
};

}  // namespace

TEST_F(SigningMandatoryTest, RequiresSignedSessions)
{
    NegotiateInfo n = probe_negotiate(server().port(), {"NT LM 0.12"}, kFlags2ExtSec);
    ASSERT_TRUE(n.answered);
    EXPECT_NE(n.security_mode & kSecSignaturesRequired, 0) << std::hex << int(n.security_mode);
    std::printf("[samba] NEGOTIATE with mandatory signing: sec=0x%02x\n", n.security_mode);

    auto signed_session = smbclient(server(), kPublicShare, kReaderLogon, "ls", {"--client-protection=sign"});
    EXPECT_EQ(signed_session.exit_code, 0) << describe(signed_session);
    EXPECT_TRUE(contains(signed_session.output, kHelloName)) << signed_session.output;

    auto unsigned_session =
        smbclient(server(), kPublicShare, kReaderLogon, "ls", {"--option=client signing=disabled"});
    EXPECT_NE(unsigned_session.exit_code, 0) << describe(unsigned_session);
    std::printf("[samba] unsigned smbclient against mandatory signing: %s\n", unsigned_session.output.c_str());
}

TEST_F(HarnessTest, SmbdRestartsOnTheSamePort)
{
    const int port = server().port();
    const pid_t first = server().smbd_pid();

    server().kill_smbd();
    EXPECT_TRUE(gone_within(first, 5000));
    EXPECT_EQ(probe_connect(port, 1000), -1) << "nothing listens while smbd is down";
    auto down = smbclient(server(), kPublicShare, kGuest, "ls");
    EXPECT_NE(down.exit_code, 0) << describe(down);

    ASSERT_TRUE(server().start_smbd());
    EXPECT_EQ(server().port(), port);
    EXPECT_NE(server().smbd_pid(), first);
    auto up = smbclient(server(), kPublicShare, kGuest, "ls");
    EXPECT_EQ(up.exit_code, 0) << describe(up);

    ASSERT_TRUE(server().restart());
    EXPECT_EQ(server().port(), port);
    auto again = smbclient(server(), kPublicShare, kGuest, "ls");
    EXPECT_EQ(again.exit_code, 0) << describe(again);
}

TEST_F(HarnessTest, KillingSmbdEndsAnOpenConnection)
{
    int s = probe_connect(server().port());
    ASSERT_GE(s, 0);
    NegotiateInfo n = probe_negotiate_on(s, {"NT LM 0.12"}, kFlags2ExtSec);
    ASSERT_TRUE(n.answered);

    server().kill_smbd();  // the per-connection child goes with it
    int r = probe_wait_closed(s, 5000);
    close(s);
    EXPECT_LE(r, 0) << "the connection stays open after the server was killed";
    EXPECT_NE(r, -2) << "no close or reset within 5 s";
}

TEST_F(HarnessTest, TreeManifestSeesEveryChange)
{
    const fs::path root = server().path(kWritableShare);
    const std::string start = tree_manifest(root);
    EXPECT_TRUE(contains(start, "F notes.txt size=43 mtime=1000000000000000000 sha256=")) << start;
    EXPECT_TRUE(contains(start, "D sub mtime=")) << start;

    // Reading through the server changes nothing.
    fs::path local = server().root() / "fetched.bin";
    auto get = smbclient(server(), kWritableShare, kGuest, "get sub/data.bin " + local.string());
    ASSERT_EQ(get.exit_code, 0) << describe(get);
    EXPECT_EQ(fs::file_size(local), 70000u);
    EXPECT_EQ(tree_manifest(root), start);

    // Writing through the server shows.
    auto put = smbclient(server(), kWritableShare, kGuest, "put " + local.string() + " copy.bin");
    ASSERT_EQ(put.exit_code, 0) << describe(put);
    std::string after_put = tree_manifest(root);
    EXPECT_NE(after_put, start);
    EXPECT_TRUE(contains(after_put, "F copy.bin size=70000 ")) << after_put;

    struct Change {
        const char *what;
        std::function<void()> apply;
    };
    const Change changes[] = {
        {"same size, other bytes",
         [&] {
             std::fstream f(root / "notes.txt", std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(0);
             f.put('T');
         }},
        {"mtime only", [&] { server().set_mtime(kWritableShare, "notes.txt", 1000000001); }},
        {"size", [&] { server().write_file(kWritableShare, "notes.txt", "short"); }},
        {"rename", [&] { fs::rename(root / "copy.bin", root / "copy2.bin"); }},
        {"empty folder", [&] { server().make_dir(kWritableShare, "new folder"); }},
        {"byte in a sparse region",
         [&] { server().write_sparse_file(kWritableShare, "sparse.bin", 1 << 20, {{4096, "x"}}); }},
        {"same sparse file, marker moved",
         [&] { server().write_sparse_file(kWritableShare, "sparse.bin", 1 << 20, {{8192, "x"}}); }},
    };
    std::string before = tree_manifest(root);
    for (const auto &c : changes) {
        SCOPED_TRACE(c.what);
        c.apply();
        std::string after = tree_manifest(root);
        EXPECT_NE(after, before);
        before = after;
    }
}

namespace {

class LargeFileTest : public HarnessTest {
protected:
    static constexpr uint64_t kRandomSize = 64ULL << 20;
    static constexpr uint64_t kSparseSize = 5ULL << 30;  // past every 32-bit offset
    static inline const std::vector<SparseMarker> kMarkers = {
        {0, "START"}, {(4ULL << 30) - 3, "ACROSS-4GiB"}, {(4ULL << 30) + 12345, "HIGH"}, {kSparseSize - 3, "END"}};

    void populate(SambaServer &s) override
    {
        SambaTest::populate(s);
        if (HasFatalFailure())
            return;
        random_ = s.write_random_file(kPublicShare, "big/random64.bin", kRandomSize, 64);
        s.write_sparse_file(kPublicShare, "big/sparse5g.bin", kSparseSize, kMarkers);
    }

    std::vector<uint8_t> random_;
};

class BigFolderTest : public HarnessTest {
protected:
    void populate(SambaServer &s) override
    {
        SambaTest::populate(s);
        if (HasFatalFailure())
            return;
        s.make_entries(kPublicShare, "many5000", 5000);
        s.make_entries(kPublicShare, "many60000", 60000, "e");
    }
};

}  // namespace

TEST_F(LargeFileTest, ContentIsWhatItClaims)
{
    fs::path random_path = server().path(kPublicShare, "big/random64.bin");
    EXPECT_EQ(fs::file_size(random_path), kRandomSize);
    EXPECT_EQ(random_, pattern_bytes(kRandomSize, 64)) << "the content is a function of the seed";
    EXPECT_NE(pattern_bytes(64, 64), pattern_bytes(64, 65));

    fs::path sparse_path = server().path(kPublicShare, "big/sparse5g.bin");
    struct stat st;
    ASSERT_EQ(stat(sparse_path.c_str(), &st), 0);
    EXPECT_EQ(static_cast<uint64_t>(st.st_size), kSparseSize);
    EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 1ULL << 20) << "the file should be sparse";
    std::ifstream in(sparse_path, std::ios::binary);
    for (const auto &m : kMarkers) {
        std::string got(m.text.size(), '\0');
        in.seekg(static_cast<std::streamoff>(m.offset));
        in.read(got.data(), static_cast<std::streamsize>(got.size()));
        EXPECT_EQ(got, m.text) << "at " << m.offset;
    }

    auto r = smbclient(server(), kPublicShare, kGuest, "cd big; ls");
    ASSERT_EQ(r.exit_code, 0) << describe(r);
    EXPECT_TRUE(contains(r.output, " 67108864 ")) << r.output;
    EXPECT_TRUE(contains(r.output, " 5368709120 ")) << r.output;
}

TEST_F(BigFolderTest, ListsInFull)
{
    struct Case {
        const char *dir;
        const char *prefix;
        size_t count;
    };
    for (const Case c : {Case{"many5000", "entry", 5000}, Case{"many60000", "e", 60000}}) {
        SCOPED_TRACE(c.dir);
        size_t local = 0;
        for (const auto &e : fs::directory_iterator(server().path(kPublicShare, c.dir)))
            local += e.is_regular_file();
        EXPECT_EQ(local, c.count);
        auto r = smbclient(server(), kPublicShare, kGuest, std::string("cd ") + c.dir + "; ls");
        ASSERT_EQ(r.exit_code, 0) << describe(r).substr(0, 2000);
        EXPECT_EQ(count_lines_with(r.output, std::string("  ") + c.prefix), c.count);
    }
}

namespace {

class ManySharesTest : public HarnessTest {
protected:
    static constexpr int kExtraShares = 300;
    void populate(SambaServer &s) override
    {
        SambaTest::populate(s);
        for (int i = 0; i < kExtraShares; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "share%03d", i);
            s.add_share(read_only_share(name));
            s.write_file(name, "inside.txt", name);
        }
    }
};

}  // namespace

TEST_F(ManySharesTest, EveryShareIsListedAndUsable)
{
    auto r = smbclient_shares(server(), kGuest);
    EXPECT_FALSE(contains(r.output, "rpc_pipe_bind")) << "srvsvc unreachable:\n" << r.output;
    EXPECT_EQ(count_lines_with(r.output, " Disk "), static_cast<size_t>(kExtraShares + 3)) << r.output;
    EXPECT_TRUE(contains(r.output, "share000")) << r.output;
    EXPECT_TRUE(contains(r.output, "share299")) << r.output;
    auto last = smbclient(server(), "share299", kGuest, "ls");
    EXPECT_EQ(last.exit_code, 0) << describe(last);
    EXPECT_TRUE(contains(last.output, "inside.txt")) << last.output;
}

TEST(SambaServerLifecycle, StopLeavesNoProcessAndRemovesTheFolder)
{
    if (auto why = SambaServer::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    fs::path root;
    pid_t smbd = -1;
    int port = 0;
    {
        SambaServer s;
        s.add_share(read_only_share("only"));
        ASSERT_TRUE(s.start());
        root = s.root();
        smbd = s.smbd_pid();
        port = s.port();
        EXPECT_TRUE(fs::exists(s.conf_path()));
        EXPECT_GE(probe_connect(port), 0);
    }
    EXPECT_TRUE(gone_within(smbd, 1000));
    EXPECT_EQ(kill(-smbd, 0), -1) << "a process of smbd's group survived";
    EXPECT_EQ(probe_connect(port, 1000), -1);
    EXPECT_FALSE(fs::exists(root));
}

TEST(SambaServerLifecycle, DaemonsFollowADyingTestProcess)
{
    if (auto why = SambaServer::unavailable(); !why.empty())
        GTEST_SKIP() << why;
    // The orphaned daemons come to this process, which can then see them end.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A test process that dies without any clean-up of its own.
        close(report[0]);
        SambaServer s;
        s.add_share(read_only_share("only"));
        pid_t pids[2] = {-1, -1};
        if (s.start())
            pids[0] = s.smbd_pid();
        char root[512] = {};
        std::snprintf(root, sizeof root, "%s", s.root().c_str());
        pids[1] = s.port();
        (void)!write(report[1], pids, sizeof pids);
        (void)!write(report[1], root, sizeof root);
        _exit(0);
    }
    close(report[1]);
    pid_t pids[2] = {-1, -1};
    char root[512] = {};
    bool got = read(report[0], pids, sizeof pids) == sizeof pids && read(report[0], root, sizeof root) == sizeof root;
    close(report[0]);
    waitpid(child, nullptr, 0);
    ASSERT_TRUE(got);
    ASSERT_GT(pids[0], 0) << "the server did not start in the child";
    EXPECT_TRUE(gone_within(pids[0], 10000)) << "smbd outlived its test process";
    EXPECT_EQ(probe_connect(pids[1], 1000), -1);
    // samba-dcerpcd and its helpers came here as well; once they are gone
    // the folder can go (before, a daemon shutting down may recreate parts).
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(-1, nullptr, WNOHANG) >= 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a daemon outlived its test process";
    std::error_code ec;
    fs::remove_all(root, ec);
}
