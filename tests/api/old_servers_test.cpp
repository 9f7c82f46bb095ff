// Servers of the age people still own, played by the fake server's switches:
// DOS error codes, logons older than NTLMv2 (allowed only by the LegacyAuth
// setting), share-level security and 8-bit names.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <string>
#include <utility>
#include <vector>

#include "api/fake_session.h"
#include "vnsmb1c.h"

namespace {

using Switches = std::vector<std::pair<const char *, int>>;

// Loads the tree, sets the switches and the settings, then connects as
// alice (or with the password given).
int connect_old(const Switches &switches, const char *legacy = "none", const char *password = "pw",
                const char *user = "alice")
{
    int rc = vnsmb1c_use_fake(kMediaTree);
    for (const auto &[name, value] : switches)
        if (rc == 0)
            rc = vnsmb1c_fake_set_fault(name, value);
    if (rc == 0)
        rc = vnsmb1c_set_legacy_auth(legacy);
    if (rc == 0)
        rc = vnsmb1c_connect("fake", 0, nullptr, user, password);
    return rc;
}

std::string report_text(const char *key)
{
    rapidjson::Document d;
    d.Parse(vnsmb1c_session_json());
    if (d.HasParseError() || !d.HasMember(key) || !d[key].IsString())
        return "<none>";
    return d[key].GetString();
}

bool report_flag(const char *key)
{
    rapidjson::Document d;
    d.Parse(vnsmb1c_session_json());
    return !d.HasParseError() && d.HasMember(key) && d[key].IsBool() && d[key].GetBool();
}

std::string read_hello()
{
    int h = vnsmb1c_open("Media/Movies", "hello.txt");
    if (h < 0)
        return std::string("open failed: ") + vnsmb1c_last_error();
    char buf[64] = {};
    int n = vnsmb1c_read_at(h, 0, buf, sizeof buf - 1);
    vnsmb1c_close(h);
    return n < 0 ? std::string("read failed: ") + vnsmb1c_last_error() : std::string(buf, static_cast<size_t>(n));
}

class OldServer : public ::testing::Test {
protected:
    void TearDown() override
    {
        vnsmb1c_set_legacy_auth("none");
        vnsmb1c_set_code_page("CP850");
        vnsmb1c_use_sockets();
    }
};

// Which logon each kind of server gets under each setting: the ones that
// need more than the setting allows are refused, with a text that names the
// setting; the others log on with the kind the report names, and browse.
TEST_F(OldServer, LogonsBySetting)
{
    const Switches kExtV1{{"ntlm_v1", 2}};                    // NTLMv2 refused, NTLMSSP
    const Switches kExtV1Ess{{"ntlm_v1", 2}, {"ntlm_ess", 1}};
    const Switches kBasicV1{{"ntlm_v1", 2}, {"no_extsec", 1}};
    const Switches kExtLmOnly{{"ntlm_v1", 3}};                // only the LAN Manager response counts
    const Switches kBasicLmOnly{{"ntlm_v1", 3}, {"no_extsec", 1}};
    const Switches kPlain{{"plaintext", 1}};
    struct Case {
        const char *what;
        Switches server;
        const char *legacy;
        int rc;
        const char *logon;     // the report's "logon" on success, a part of the error text otherwise
    } cases[] = {
        {"modern server, default", {}, "none", 0, "ntlmv2"},
        {"modern server, no extended security", {{"no_extsec", 1}}, "none", 0, "ntlmv2"},
        {"modern server takes NTLMv1 when allowed", {{"ntlm_v1", 1}}, "ntlmv1", 0, "ntlmv1"},
        {"NTLMv1-only server, default", kExtV1, "none", -3, "LOGON_FAILURE"},
        {"NTLMv1-only server, ntlmv1", kExtV1, "ntlmv1", 0, "ntlmv1"},
        {"NTLMv1-only server with ESS, ntlmv1", kExtV1Ess, "ntlmv1", 0, "ntlmv1-ess"},
        {"NTLMv1-only server with ESS, lm (no ESS asked)", kExtV1Ess, "lm", 0, "lm"},
        {"NTLMv1-only server without extended security", kBasicV1, "ntlmv1", 0, "ntlmv1"},
        {"LM-only server, ntlmv1", kExtLmOnly, "ntlmv1", -3, "LOGON_FAILURE"},
        {"LM-only server, lm", kExtLmOnly, "lm", 0, "lm"},
        {"LM-only server without extended security, lm", kBasicLmOnly, "lm", 0, "lm"},
        {"LM-only server without extended security, plaintext", kBasicLmOnly, "plaintext", 0, "lm"},
        {"plaintext server, default", kPlain, "none", -8, "\"LegacyAuth\": \"plaintext\""},
        {"plaintext server, lm", kPlain, "lm", -8, "the password in plain text"},
        {"plaintext server, plaintext", kPlain, "plaintext", 0, "plaintext"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        int rc = connect_old(c.server, c.legacy);
        EXPECT_EQ(rc, c.rc) << vnsmb1c_last_error();
        if (c.rc != 0) {
            EXPECT_NE(std::string(vnsmb1c_last_error()).find(c.logon), std::string::npos) << vnsmb1c_last_error();
            continue;
        }
        EXPECT_EQ(report_text("logon"), c.logon);
        EXPECT_EQ(report_text("legacy_auth"), c.legacy);
        EXPECT_FALSE(report_flag("guest"));
        EXPECT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5) << vnsmb1c_last_error();
        EXPECT_EQ(read_hello(), "hello world");
        EXPECT_GT(vnsmb1c_shares(), 0) << vnsmb1c_last_error();
    }
}

TEST_F(OldServer, PlaintextRefusalSaysWhatTheServerAskedAndHowToAllowIt)
{
    EXPECT_EQ(connect_old({{"plaintext", 1}}), VNSMB1C_EUNSUPP);
    EXPECT_STREQ(vnsmb1c_last_error(),
                 "the server asks for the password in plain text (it offers no challenge to answer); allow it with "
                 "the setting \"LegacyAuth\": \"plaintext\" (vnsmb1c --legacy-auth plaintext)");
    EXPECT_EQ(vnsmb1c_fake_calls(0x73), 0) << "no password left the client";

    // Nothing secret to send: an anonymous logon needs no opt-in.
    EXPECT_EQ(connect_old({{"plaintext", 1}}, "none", "", ""), 0) << vnsmb1c_last_error();
    EXPECT_EQ(report_text("logon"), "anonymous");

    // Wrong plaintext password: an authentication failure.
    EXPECT_EQ(connect_old({{"plaintext", 1}}, "plaintext", "wrong"), VNSMB1C_EAUTH);
}

TEST_F(OldServer, SigningServerTakesNtlmV1Signatures)
{
    for (const Switches &s : {Switches{{"ntlm_v1", 2}, {"sign_required", 1}},
                              Switches{{"ntlm_v1", 2}, {"ntlm_ess", 1}, {"sign_required", 1}},
                              Switches{{"ntlm_v1", 2}, {"no_extsec", 1}, {"sign_required", 1}}}) {
        ASSERT_EQ(connect_old(s, "ntlmv1"), 0) << vnsmb1c_last_error();
        EXPECT_TRUE(report_flag("signing"));
        EXPECT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5) << vnsmb1c_last_error();
        EXPECT_EQ(read_hello(), "hello world");
    }
    EXPECT_EQ(connect_old({{"plaintext", 1}, {"sign_required", 1}}, "plaintext"), VNSMB1C_EUNSUPP);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find("signatures"), std::string::npos) << vnsmb1c_last_error();
}

// Share-level security: the session carries the user name; each share wants
// the password with TREE_CONNECT, as the settings allow.
TEST_F(OldServer, ShareLevelSecurity)
{
    struct Case {
        const char *what;
        Switches server;
        const char *legacy;
        const char *password;
        int list_rc;  // of listing Media/Movies
        const char *share_password;
    } cases[] = {
        {"default", {{"share_level", 1}}, "none", "pw", -8, "none"},
        {"lm", {{"share_level", 1}}, "lm", "pw", 5, "lm"},
        {"ntlmv1", {{"share_level", 1}}, "ntlmv1", "pw", 5, "ntlmv1"},
        {"LM-only server, ntlmv1", {{"share_level", 1}, {"ntlm_v1", 3}}, "ntlmv1", "pw", -3, "ntlmv1"},
        {"wrong password", {{"share_level", 1}}, "lm", "nope", -3, "lm"},
        {"plaintext server, lm", {{"share_level", 1}, {"plaintext", 1}}, "lm", "pw", -8, "none"},
        {"plaintext server, plaintext", {{"share_level", 1}, {"plaintext", 1}}, "plaintext", "pw", 5, "plaintext"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(connect_old(c.server, c.legacy, c.password), 0) << vnsmb1c_last_error();
        EXPECT_EQ(report_text("logon"), "share-level");
        EXPECT_EQ(vnsmb1c_list("Media/Movies", nullptr), c.list_rc) << vnsmb1c_last_error();
        if (c.list_rc == -8) {
            EXPECT_NE(std::string(vnsmb1c_last_error()).find("\"LegacyAuth\""), std::string::npos)
                << vnsmb1c_last_error();
        }
        EXPECT_EQ(report_text("share_password"), c.share_password);
        // IPC$ needs no share password: the share listing works either way.
        EXPECT_GT(vnsmb1c_shares(), 0) << vnsmb1c_last_error();
    }
}

// A server that answers in DOS form: the same operations, and failures in
// the classes their meaning has.
TEST_F(OldServer, DosErrorCodes)
{
    ASSERT_EQ(connect_old({{"dos_errors", 1}}), 0) << vnsmb1c_last_error();
    EXPECT_TRUE(report_flag("dos_errors"));
    EXPECT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list("Media/Paged", nullptr), 120) << vnsmb1c_last_error();
    EXPECT_EQ(read_hello(), "hello world");
    EXPECT_GT(vnsmb1c_shares(), 0) << vnsmb1c_last_error();

    int rc = vnsmb1c_open("Media/Movies", "nope.mkv");
    EXPECT_EQ(rc, VNSMB1C_ENOTFOUND);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find(": ERRbadfile"), std::string::npos) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_last_status(), 0x00020001u);
    EXPECT_STREQ(vnsmb1c_status_name(vnsmb1c_last_status()), "ERRbadfile");
    EXPECT_EQ(vnsmb1c_list("Media/Nowhere", nullptr), VNSMB1C_ENOTFOUND);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find(": ERRbadfile"), std::string::npos) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list("Nowhere", nullptr), VNSMB1C_ENOTFOUND);
    EXPECT_NE(std::string(vnsmb1c_last_error()).find(": ERRinvnetname"), std::string::npos) << vnsmb1c_last_error();

    EXPECT_EQ(connect_old({{"dos_errors", 1}}, "none", "wrong"), VNSMB1C_EAUTH);
    EXPECT_STREQ(vnsmb1c_last_error(), "SESSION_SETUP: ERRbadpw");
    EXPECT_EQ(vnsmb1c_last_code(), VNSMB1C_EAUTH);
}

// A server without Unicode: names go out and come back in the code page.
TEST_F(OldServer, EightBitNames)
{
    for (bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended security" : "without extended security");
        Switches s{{"no_unicode", 1}};
        if (!extended)
            s.push_back({"no_extsec", 1});
        ASSERT_EQ(connect_old(s), 0) << vnsmb1c_last_error();
        EXPECT_FALSE(report_flag("unicode"));
        EXPECT_EQ(report_text("code_page"), "CP850");
        EXPECT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5) << vnsmb1c_last_error();
        EXPECT_EQ(read_hello(), "hello world");
        EXPECT_EQ(vnsmb1c_open("Media", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"), VNSMB1C_EUNSUPP);
        EXPECT_NE(std::string(vnsmb1c_last_error()).find("cannot be written in code page CP850"), std::string::npos)
            << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_open("Media", "caf\xC3\xA9.txt"), VNSMB1C_ENOTFOUND) << "sent, and not there";
    }
}

TEST_F(OldServer, SettingsKeys)
{
    ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("ntlm_v1", 2), 0);
    const char *ok = R"({"HostName":"fake","UserName":"alice","Password":"pw","LegacyAuth":"NTLMv1","CodePage":"cp1252"})";
    ASSERT_EQ(vnsmb1c_connect_json(ok), 0) << vnsmb1c_last_error();
    EXPECT_EQ(report_text("logon"), "ntlmv1");
    EXPECT_EQ(report_text("code_page"), "CP1252");

    struct Bad {
        const char *json;
        const char *text;
    } bad[] = {
        {R"({"HostName":"fake","LegacyAuth":"ntlmv3"})", "settings: LegacyAuth must be none, ntlmv1, lm or plaintext"},
        {R"({"HostName":"fake","LegacyAuth":1})", "settings: LegacyAuth must be a string"},
        {R"({"HostName":"fake","CodePage":"UTF-8"})",
         "settings: CodePage must be CP850, CP437, CP858, CP1252, ISO-8859-1 or ISO-8859-15"},
        {R"({"HostName":"fake","CodePage":true})", "settings: CodePage must be a string"},
    };
    for (const Bad &b : bad) {
        EXPECT_EQ(vnsmb1c_connect_json(b.json), VNSMB1C_EINVAL) << b.json;
        EXPECT_STREQ(vnsmb1c_last_error(), b.text) << b.json;
        EXPECT_EQ(report_text("logon"), "ntlmv1") << "a refused setting leaves the session alone";
    }
    EXPECT_EQ(vnsmb1c_set_legacy_auth("kerberos"), VNSMB1C_EINVAL);
    EXPECT_EQ(vnsmb1c_set_legacy_auth(nullptr), VNSMB1C_EINVAL);
    EXPECT_EQ(vnsmb1c_set_code_page("EBCDIC"), VNSMB1C_EINVAL);
    EXPECT_EQ(report_text("legacy_auth"), "ntlmv1");
}

}  // namespace
