#include <gtest/gtest.h>

#include <string>
#include <thread>

#include <climits>
#include <string>

#include "api/session_ops.h"
#include "util/error.h"
#include "vnsmb1c.h"

namespace {

TEST(Library, ResultTexts)
{
    const struct {
        int code;
        const char *text;
    } cases[] = {
        {0, "ok"},
        {-1, "network error"},
        {-2, "protocol error"},
        {-3, "authentication error"},
        {-4, "not found"},
        {-5, "no session"},
        {-6, "invalid argument"},
        {-7, "limit exceeded"},
        {-8, "unsupported"},
        {-9, "buffer too small"},
        {-10, "end of file"},
        {-11, "out of memory"},
        {-12, "cancelled"},
        {1, "unknown error"},
        {-13, "unknown error"},
        {INT_MAX, "unknown error"},
        {INT_MIN, "unknown error"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(vnsmb1c_strerror(c.code), c.text) << c.code;
}

TEST(Library, VersionText)
{
    EXPECT_STREQ(vnsmb1c_version(), "1.0.1");
}

TEST(Library, LastErrorIsTheErrorText)
{
    vnb_fail(-4, "OBJECT_NAME_NOT_FOUND at %s", "x");
    EXPECT_STREQ(vnsmb1c_last_error(), "OBJECT_NAME_NOT_FOUND at x");
}

TEST(Library, AccessorsReadTheDefaultSession)
{
    Session &s = vnb_default_session();
    s.last_code = -3;
    s.last_status = 0xC000006D;
    EXPECT_EQ(vnsmb1c_last_code(), -3);
    EXPECT_EQ(vnsmb1c_last_status(), 0xC000006Du);
    EXPECT_EQ(vnsmb1c_frame_count(), vnb_frames_sent());
    // The session is made once: later calls never replace it.
    EXPECT_EQ(&vnb_default_session(), &s);
    EXPECT_EQ(vnsmb1c_last_code(), -3);
    s.last_code = 0;
    s.last_status = 0;
}

// Each thread reads the text of its own last failure.
TEST(Library, ErrorTextIsPerThread)
{
    vnb_fail(-1, "main thread failure");
    std::string other;
    std::thread t([&other] {
        other = vnsmb1c_last_error();
        vnb_fail(-2, "other thread failure");
        other += "|" + std::string(vnsmb1c_last_error());
    });
    t.join();
    EXPECT_EQ(other, "|other thread failure");
    EXPECT_STREQ(vnsmb1c_last_error(), "main thread failure");
}

TEST(Library, SelftestPassesAndKeepsTheErrorText)
{
    vnb_fail(-1, "earlier failure");
    EXPECT_EQ(vnsmb1c_selftest(), 0);
    EXPECT_STREQ(vnsmb1c_last_error(), "earlier failure");
}

TEST(Library, StatusNameNeedsNoInitialisation)
{
    EXPECT_STREQ(vnsmb1c_status_name(0xC0000016), "MORE_PROCESSING_REQUIRED");
}

}  // namespace
