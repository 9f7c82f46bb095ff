// The session report as the very first call of a process.
#include <gtest/gtest.h>

#include "api/session_ops.h"
#include "vnsmb1c.h"

namespace {

TEST(SessionReportFirstCall, MakesAndReportsAnEmptySession)
{
    ASSERT_FALSE(vnb_default_session_made());
    EXPECT_STREQ(vnsmb1c_session_json(),
                 R"({"dialect":"none","dialect_index":"0x0000","security_mode":"0x00","signing":false,)"
                 R"("guest":false,"server_guid":"00000000000000000000000000000000","max_buffer":0,"max_raw":0,)"
                 R"("max_mpx":0,"local_port":0,"shares":0,"logon":"none","share_password":"none","unicode":false,)"
                 R"("dos_errors":false,"code_page":"CP850","legacy_auth":"none","connection":"","frames":0})");
    EXPECT_TRUE(vnb_default_session_made());
    EXPECT_EQ(vnb_default_session().timeout_ms, 30000);
}

}  // namespace
