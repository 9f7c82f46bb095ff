#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/result_slot.h"
#include "api/session_ops.h"
#include "vnsmb1c.h"

namespace {

// Each test reports a session of its own.
class SessionReport : public ::testing::Test {
protected:
    std::string report() const { return vnb_session_report(s, frames); }
    Session s;
    uint64_t frames = 0;
};

TEST_F(SessionReport, NothingNegotiated)
{
    EXPECT_EQ(report(),
                 R"({"dialect":"none","dialect_index":"0x0000","security_mode":"0x00","signing":false,)"
                 R"("guest":false,"server_guid":"00000000000000000000000000000000","max_buffer":0,"max_raw":0,)"
                 R"("max_mpx":0,"local_port":0,"shares":0,)"
                 R"("logon":"none","share_password":"none","unicode":false,"dos_errors":false,"code_page":"CP850",)"
                 R"("legacy_auth":"none","connection":"",)"
                 R"("frames":0})");
}

TEST_F(SessionReport, EveryFieldFromTheRecord)
{
    s.negotiated = 1;
    s.dialect_index = 0;
    s.security_mode = 0x10F;  // only the low byte is reported
    s.signing = 1;
    s.guest = 1;
    for (int i = 0; i < 16; i++)
        s.server_guid[i] = static_cast<uint8_t>(i * 0x11 + 0x0A);
    s.max_buffer = 16644;
    s.max_raw = 65536;
    s.max_mpx = 50;
    s.local_port = 8137;
    s.share_count = 3;
    frames = 12345678901234ull;
    EXPECT_EQ(report(),
                 R"({"dialect":"NT LM 0.12","dialect_index":"0x0000","security_mode":"0x0f","signing":true,)"
                 R"("guest":true,"server_guid":"0a1b2c3d4e5f708192a3b4c5d6e7f809","max_buffer":16644,)"
                 R"("max_raw":65536,"max_mpx":50,"local_port":8137,"shares":3,)"
                 R"("logon":"none","share_password":"none","unicode":false,"dos_errors":false,"code_page":"CP850",)"
                 R"("legacy_auth":"none","connection":"",)"
                 R"("frames":12345678901234})");
}

TEST_F(SessionReport, ExtremeValues)
{
    s.negotiated = 2;  // anything but 1 reads as not negotiated
    s.dialect_index = 0xFFFF;
    s.security_mode = 0xFF;
    s.signing = 7;
    s.max_buffer = 0xFFFFFFFFu;
    s.max_raw = 0xFFFFFFFFu;
    s.max_mpx = 0xFFFFFFFFu;
    s.local_port = 99999;
    s.share_count = 256;
    frames = 0xFFFFFFFFFFFFFFFFull;
    std::memset(s.server_guid, 0xFF, sizeof s.server_guid);
    EXPECT_EQ(report(),
                 R"({"dialect":"none","dialect_index":"0xffff","security_mode":"0xff","signing":true,)"
                 R"("guest":false,"server_guid":"ffffffffffffffffffffffffffffffff","max_buffer":4294967295,)"
                 R"("max_raw":4294967295,"max_mpx":4294967295,"local_port":99999,"shares":256,)"
                 R"("logon":"none","share_password":"none","unicode":false,"dos_errors":false,"code_page":"CP850",)"
                 R"("legacy_auth":"none","connection":"",)"
                 R"("frames":18446744073709551615})");
}

// What an old server settled: the logon used, the share password of a
// share-level server, 8-bit names and DOS errors, and the settings.
TEST_F(SessionReport, OldServerFields)
{
    s.negotiated = 1;
    s.established = 1;
    s.flags2 = 0x4001;            // no Unicode
    s.capabilities = 0x00000010;  // no CAP_STATUS32
    s.logon = LogonKind::share;
    s.tree_logon = LogonKind::lm;
    s.code_page = CodePage::cp1252;
    s.legacy_auth = LegacyAuth::lm;
    std::string r = report();
    EXPECT_NE(r.find(R"("logon":"share-level","share_password":"lm","unicode":false,"dos_errors":true,)"
                     R"("code_page":"CP1252","legacy_auth":"lm","connection":"",)"),
              std::string::npos)
        << r;

    s.flags2 = 0xC801;
    s.capabilities = 0x8000F3FD;
    s.logon = LogonKind::ntlmv1_ess;
    s.tree_logon = LogonKind::none;
    r = report();
    EXPECT_NE(r.find(R"("logon":"ntlmv1-ess","share_password":"none","unicode":true,"dos_errors":false,)"),
              std::string::npos)
        << r;

    // Nothing is reported of a session that is not logged on.
    s.established = 0;
    r = report();
    EXPECT_NE(r.find(R"("logon":"none","share_password":"none","unicode":false,"dos_errors":false,)"),
              std::string::npos)
        << r;
}

TEST_F(SessionReport, EachCallReplacesTheHeldText)
{
    const char *first = vnsmb1c_session_json();
    EXPECT_EQ(first, vnb_result_held());
    std::string first_copy = first;

    vnb_count_frame();
    const char *second = vnsmb1c_session_json();
    EXPECT_EQ(second, vnb_result_held());
    EXPECT_NE(std::string(second), first_copy);
    const std::string frames_text = R"("frames":)" + std::to_string(vnsmb1c_frame_count()) + "}";
    EXPECT_NE(std::string(second).find(frames_text), std::string::npos);
}

TEST(ResultSlot, StoreReleasesAndEmpties)
{
    const char *a = vnb_result_store(strdup("a"));
    EXPECT_STREQ(a, "a");
    EXPECT_EQ(vnb_result_held(), a);
    // Storing nothing empties the slot and hands back a constant "".
    EXPECT_STREQ(vnb_result_store(nullptr), "");
    EXPECT_EQ(vnb_result_held(), nullptr);
    EXPECT_STREQ(vnb_result_store(strdup("b")), "b");
}

}  // namespace
