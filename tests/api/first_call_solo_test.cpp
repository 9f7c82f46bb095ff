// Runs in a process of its own: what the very first calls into the library see.
// One test, since the steps depend on their order within the process.
#include <gtest/gtest.h>

#include <cstring>

#include "sess/session_state.h"
#include "vnsmb1c.h"

namespace {

bool all_zero_but_timeout()
{
    SessionState want;
    std::memset(&want, 0, sizeof want);
    want.timeout_ms = kDefaultTimeoutMs;
    return std::memcmp(&want, &g_s, sizeof want) == 0;
}

TEST(FirstCall, LazyInitialisationOfTheSessionRecord)
{
    // These need no initialisation and must not trigger it.
    EXPECT_STREQ(vnsmb1c_version(), "1.0.1");
    EXPECT_STREQ(vnsmb1c_strerror(-10), "end of file");
    EXPECT_STREQ(vnsmb1c_status_name(0xC000006D), "LOGON_FAILURE");
    EXPECT_EQ(vnsmb1c_selftest(), 0);
    ASSERT_EQ(g_init, 0);

    // Leave marks that the initialisation must wipe.
    g_s.frames_sent = 99;
    g_s.port = 1234;
    g_s.last_code = -3;
    EXPECT_EQ(vnsmb1c_last_code(), 0);
    EXPECT_EQ(g_init, 1);
    EXPECT_EQ(g_s.timeout_ms, 30000);
    EXPECT_TRUE(all_zero_but_timeout());
    EXPECT_EQ(vnsmb1c_last_status(), 0u);
    EXPECT_EQ(vnsmb1c_frame_count(), 0u);
    EXPECT_STREQ(vnsmb1c_last_error(), "");

    // Never zeroed again.
    g_s.frames_sent = 5;
    g_s.timeout_ms = 1000;
    EXPECT_EQ(vnsmb1c_frame_count(), 5u);
    EXPECT_EQ(vnsmb1c_last_code(), 0);
    EXPECT_EQ(g_s.timeout_ms, 1000);
}

TEST(FirstCall, LastStatusAsTheVeryFirstCall)
{
    // Under CTest every test runs in a process of its own, so this one can
    // see an uninitialised record as well.
    if (g_init)
        GTEST_SKIP() << "record already initialised by an earlier test in this process";
    g_s.last_status = 0xC0000022;
    EXPECT_EQ(vnsmb1c_last_status(), 0u);
    EXPECT_EQ(g_s.timeout_ms, 30000);
}

}  // namespace
