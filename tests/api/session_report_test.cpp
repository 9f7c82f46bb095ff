#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "api/result_slot.h"
#include "sess/session_state.h"
#include "vnsmb1c.h"

namespace {

// Runs each test on a zeroed session record and puts the previous one back.
class SessionReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        vnb_state_ensure_init();
        saved_ = g_s;
        std::memset(&g_s, 0, sizeof g_s);
        g_s.timeout_ms = kDefaultTimeoutMs;
    }
    void TearDown() override { g_s = saved_; }

private:
    SessionState saved_;
};

TEST_F(SessionReport, NothingNegotiated)
{
    EXPECT_STREQ(vnsmb1c_session_json(),
                 R"({"dialect":"none","dialect_index":"0x0000","security_mode":"0x00","signing":false,)"
                 R"("guest":false,"server_guid":"00000000000000000000000000000000","max_buffer":0,"max_raw":0,)"
                 R"("max_mpx":0,"local_port":0,"shares":0,"frames":0})");
}

TEST_F(SessionReport, EveryFieldFromTheRecord)
{
    g_s.negotiated = 1;
    g_s.dialect_index = 0;
    g_s.security_mode = 0x10F;  // only the low byte is reported
    g_s.signing = 1;
    g_s.guest = 1;
    for (int i = 0; i < 16; i++)
        g_s.server_guid[i] = static_cast<uint8_t>(i * 0x11 + 0x0A);
    g_s.max_buffer = 16644;
    g_s.max_raw = 65536;
    g_s.max_mpx = 50;
    g_s.local_port = 8137;
    g_s.share_count = 3;
    g_s.frames_sent = 12345678901234ull;
    EXPECT_STREQ(vnsmb1c_session_json(),
                 R"({"dialect":"NT LM 0.12","dialect_index":"0x0000","security_mode":"0x0f","signing":true,)"
                 R"("guest":true,"server_guid":"0a1b2c3d4e5f708192a3b4c5d6e7f809","max_buffer":16644,)"
                 R"("max_raw":65536,"max_mpx":50,"local_port":8137,"shares":3,"frames":12345678901234})");
}

TEST_F(SessionReport, ExtremeValues)
{
    g_s.negotiated = 2;  // anything but 1 reads as not negotiated
    g_s.dialect_index = 0xFFFF;
    g_s.security_mode = 0xFF;
    g_s.signing = 7;
    g_s.max_buffer = 0xFFFFFFFFu;
    g_s.max_raw = 0xFFFFFFFFu;
    g_s.max_mpx = 0xFFFFFFFFu;
    g_s.local_port = 99999;
    g_s.share_count = 256;
    g_s.frames_sent = 0xFFFFFFFFFFFFFFFFull;
    std::memset(g_s.server_guid, 0xFF, sizeof g_s.server_guid);
    EXPECT_STREQ(vnsmb1c_session_json(),
                 R"({"dialect":"none","dialect_index":"0xffff","security_mode":"0xff","signing":true,)"
                 R"("guest":false,"server_guid":"ffffffffffffffffffffffffffffffff","max_buffer":4294967295,)"
                 R"("max_raw":4294967295,"max_mpx":4294967295,"local_port":99999,"shares":256,)"
                 R"("frames":18446744073709551615})");
}

TEST_F(SessionReport, EachCallReplacesTheHeldText)
{
    const char *first = vnsmb1c_session_json();
    EXPECT_EQ(first, vnb_result_held());
    std::string first_copy = first;

    g_s.frames_sent = 5;
    const char *second = vnsmb1c_session_json();
    EXPECT_EQ(second, vnb_result_held());
    EXPECT_NE(std::string(second), first_copy);
    EXPECT_NE(std::string(second).find(R"("frames":5})"), std::string::npos);
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
