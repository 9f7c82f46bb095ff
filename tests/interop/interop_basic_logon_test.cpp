// The logon without extended security (LMv2 and NTLMv2 against the
// NEGOTIATE challenge), as older servers offer it, against a real Samba
// smbd. Samba offers it only to a client that does not ask for extended
// security, so a proxy in front of it takes that wish out of the client's
// NEGOTIATE; everything else goes through unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "interop/support/library_calls.h"
#include "interop/support/samba_fixture.h"
#include "interop/support/tamper_proxy.h"
#include "api/session_ops.h"
#include "vnsmb1c.h"

using namespace interop;

namespace {

constexpr char kClipRel[] = "Movies/clip.bin";
constexpr uint64_t kClipSize = 100000;
constexpr uint64_t kClipSeed = 1;  // as the standard layout writes it

// One server per signing mode, shared by the tests of that mode. Samba takes
// NTLMv2 outside NTLMSSP only with "raw NTLMv2 auth = yes".
class BasicLogonTest : public testing::TestWithParam<const char *> {
protected:
    static void TearDownTestSuite() { servers().clear(); }

    void SetUp() override
    {
        if (auto why = SambaServer::unavailable(); !why.empty())
            GTEST_SKIP() << why;
        SambaOptions o;
        o.signing = GetParam();
        o.global_params = {"raw NTLMv2 auth = yes"};
        SambaServer *server = pooled_server(servers(), GetParam(), o, populate_standard);
        ASSERT_NE(server, nullptr);
        proxy_ = std::make_unique<TamperProxy>(server->port());
        ASSERT_GT(proxy_->port(), 0);
        proxy_->hide_extended_security();
        ASSERT_EQ(vnsmb1c_use_sockets(), 0);
        vnb_default_session().timeout_ms = kDefaultTimeoutMs;
    }

    void TearDown() override
    {
        vnsmb1c_disconnect();
        proxy_.reset();
    }

    bool mandatory() const { return std::strcmp(GetParam(), "mandatory") == 0; }

    // Connects through the proxy; on success checks that the session really
    // is a non-extended one with Unicode strings.
    int connect(const char *user, const char *password)
    {
        int rc = vnsmb1c_connect(SambaServer::kHost, proxy_->port(), "", user, password);
        EXPECT_GE(proxy_->negotiates_altered(), 1);
        if (rc == 0) {
            EXPECT_EQ(vnb_default_session().ext_security, 0);
            EXPECT_EQ(vnb_default_session().flags2, 0xC001u) << std::hex << vnb_default_session().flags2;
            EXPECT_EQ(session_flag("signing"), mandatory() ? 1 : 0) << vnsmb1c_session_json();
        }
        return rc;
    }

    static ServerPool &servers()
    {
        static ServerPool pool;
        return pool;
    }

private:
    std::unique_ptr<TamperProxy> proxy_;
};

}  // namespace

TEST_P(BasicLogonTest, NamedLogonReadsThePrivateShare)
{
    ASSERT_EQ(connect(kReader, kReaderPassword), 0) << vnsmb1c_last_error();
    EXPECT_EQ(session_flag("guest"), 0) << vnsmb1c_session_json();
    if (mandatory()) {
        // Samba 4.17 keeps no session key from a logon outside NTLMSSP, so it
        // never starts signing: its replies carry the signature bit and eight
        // zero bytes, and nothing it sends can be checked. The client refuses
        // the first such reply instead of trusting it.
        EXPECT_EQ(vnsmb1c_list(kPrivateShare, nullptr), VNSMB1C_EPROTO);
        EXPECT_STREQ(vnsmb1c_last_error(), "TREE_CONNECT reply signature does not verify");
        return;
    }
    ASSERT_EQ(vnsmb1c_list(kPrivateShare, nullptr), 1) << vnsmb1c_last_error();
    EXPECT_EQ(names_of(listed_items()), std::set<std::string>{kSecretName});
    EXPECT_EQ(read_text_file(kPrivateShare, kSecretName), kSecretText);

    std::string clip = read_text_file("public/Movies", "clip.bin");
    auto expect = pattern_bytes(kClipSize, kClipSeed);
    EXPECT_EQ(clip, std::string(expect.begin(), expect.end())) << kClipRel;
}

TEST_P(BasicLogonTest, AwkwardNamesRoundTrip)
{
    ASSERT_EQ(connect("", ""), 0) << vnsmb1c_last_error();
    expect_awkward_names_round_trip();
}

TEST_P(BasicLogonTest, WrongPasswordIsALogonFailure)
{
    EXPECT_EQ(connect(kReader, "not-the-password"), VNSMB1C_EAUTH);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find("LOGON_FAILURE"), std::string::npos) << vnsmb1c_last_error();
}

TEST_P(BasicLogonTest, AnonymousAndUnknownUsersAreGuests)
{
    struct Case {
        const char *what;
        const char *user;
        const char *password;
    } cases[] = {
        {"anonymous", "", ""},
        {"unknown user (map to guest = Bad User)", "vnsmbt_unknown", "whatever"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(connect(c.user, c.password), 0) << vnsmb1c_last_error();
        EXPECT_EQ(session_flag("guest"), 1) << vnsmb1c_session_json();
        auto shares = share_names();
        EXPECT_TRUE(has(shares, kPublicShare));
        EXPECT_EQ(read_text_file(kPublicShare, kHelloName), kHelloText);
        EXPECT_LT(vnsmb1c_list(kPrivateShare, nullptr), 0);
        vnsmb1c_disconnect();
    }
}

INSTANTIATE_TEST_SUITE_P(Signing, BasicLogonTest, testing::Values("default", "mandatory"),
                         [](const testing::TestParamInfo<const char *> &info) { return std::string(info.param); });
