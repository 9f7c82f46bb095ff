// The session report as the very first call of a process.
#include <gtest/gtest.h>

#include "sess/session_state.h"
#include "vnsmb1c.h"

namespace {

TEST(SessionReportFirstCall, InitialisesAndReportsAnEmptySession)
{
    g_s.negotiated = 1;  // a mark the initialisation must wipe
    g_s.frames_sent = 9;
    ASSERT_EQ(g_init, 0);
    EXPECT_STREQ(vnsmb1c_session_json(),
                 R"({"dialect":"none","dialect_index":"0x0000","security_mode":"0x00","signing":false,)"
                 R"("guest":false,"server_guid":"00000000000000000000000000000000","max_buffer":0,"max_raw":0,)"
                 R"("max_mpx":0,"local_port":0,"shares":0,"frames":0})");
    EXPECT_EQ(g_init, 1);
    EXPECT_EQ(g_s.timeout_ms, 30000);
}

}  // namespace
