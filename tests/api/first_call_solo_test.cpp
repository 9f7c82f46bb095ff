// Runs in a process of its own: what the very first calls into the library see.
// One test, since the steps depend on their order within the process.
#include <gtest/gtest.h>

#include "api/session_ops.h"
#include "vnsmb1c.h"

namespace {

TEST(FirstCall, TheDefaultSessionIsMadeOnFirstUse)
{
    // These need no session and must not make one.
    EXPECT_STREQ(vnsmb1c_version(), "1.0.1");
    EXPECT_STREQ(vnsmb1c_strerror(-10), "end of file");
    EXPECT_STREQ(vnsmb1c_status_name(0xC000006D), "LOGON_FAILURE");
    EXPECT_EQ(vnsmb1c_selftest(), 0);
    EXPECT_STREQ(vnsmb1c_last_error(), "");
    EXPECT_STREQ(vnsmb1c_item_json(0), "");
    ASSERT_FALSE(vnb_default_session_made() && vnb_default_session().established);

    EXPECT_EQ(vnsmb1c_last_code(), 0);
    ASSERT_TRUE(vnb_default_session_made());
    Session &s = vnb_default_session();
    EXPECT_EQ(s.timeout_ms, 30000);
    EXPECT_EQ(s.port, 0);
    EXPECT_EQ(s.established, 0);
    EXPECT_EQ(vnsmb1c_last_status(), 0u);
    EXPECT_EQ(vnsmb1c_frame_count(), 0u);
    EXPECT_STREQ(vnsmb1c_list_json(), "[]");
    EXPECT_EQ(vnsmb1c_list_hidden_count(), 0);

    // Never made again.
    s.timeout_ms = 1000;
    EXPECT_EQ(vnsmb1c_last_code(), 0);
    EXPECT_EQ(&vnb_default_session(), &s);
    EXPECT_EQ(s.timeout_ms, 1000);
}

}  // namespace
