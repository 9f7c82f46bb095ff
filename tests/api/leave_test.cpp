// Leaving without waiting: a session dropped sends TREE_DISCONNECT and
// LOGOFF without waiting for their replies, and a file's CLOSE goes out
// without waiting too; replies that come late are filed with their own
// requests, never taken for another's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_session.h"
#include "vnsmb1c.h"

namespace {

class Leave : public OnFakeServer {};

// Sets a known error text, so that a later failure shows as a change.
std::string mark_error_text()
{
    vnsmb1c_Entry e{};
    EXPECT_EQ(vnsmb1c_stat(nullptr, &e), -6);
    return vnsmb1c_last_error();
}

// A server that never answers them: neither the close nor the disconnect
// waits for it (waiting would end in a time-out and its error text). A
// relayed message always has its answer, so this is the direct road only.
TEST(LeaveSilentServer, NeverAnsweredIsNeverWaitedFor)
{
    ASSERT_EQ(open_fake_session(Road::fake, kMediaTree), 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_set_timeout(1000), 0);
    int h = vnsmb1c_open("Media/Movies/hello.txt", nullptr);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    ASSERT_GT(vnsmb1c_list("Music", nullptr), 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_fake_set_fault("silent_leave", 1), 0);
    const int64_t closes = vnsmb1c_fake_calls(kCmdClose);
    const int64_t trees = vnsmb1c_fake_calls(kCmdTreeDisconnect);
    const int64_t logoffs = vnsmb1c_fake_calls(kCmdLogoff);
    const std::string before = mark_error_text();
    vnsmb1c_close(h);
    vnsmb1c_disconnect();
    EXPECT_EQ(vnsmb1c_last_error(), before);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose) - closes, 1);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdTreeDisconnect) - trees, 2);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdLogoff) - logoffs, 1);

    // The next connection of the session sees nothing of the last one.
    ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    char buf[16] = {};
    h = vnsmb1c_open("Media/Movies/hello.txt", nullptr);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_read_at(h, 0, buf, 5), 5) << vnsmb1c_last_error();
    EXPECT_EQ(std::string(buf), "hello");
    vnsmb1c_use_sockets();
}

// Late replies to closes are filed with the closes: the calls after them
// get their own replies, with the server answering in order or newest first
// and holding few requests at once.
TEST_P(Leave, LateRepliesReachNoOtherCall)
{
    for (const char *fault : {"none", "reorder", "max_mpx"}) {
        SCOPED_TRACE(fault);
        vnsmb1c_use_sockets();
        ASSERT_EQ(open_fake_session(GetParam(), kMediaTree), 0) << vnsmb1c_last_error();
        const int value = std::strcmp(fault, "max_mpx") == 0 ? 3 : 1;
        if (std::strcmp(fault, "none") != 0) {
            ASSERT_EQ(vnsmb1c_fake_set_fault(fault, value), 0);
        }
        ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
        std::vector<int> handles;
        for (int i = 0; i < 12; i++) {
            int h = vnsmb1c_open("Media/Movies/hello.txt", nullptr);
            ASSERT_GT(h, 0) << vnsmb1c_last_error();
            handles.push_back(h);
        }
        const int64_t closes = vnsmb1c_fake_calls(kCmdClose);
        for (int h : handles)
            vnsmb1c_close(h);
        EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose) - closes, 12);
        vnsmb1c_Entry e{};
        ASSERT_EQ(vnsmb1c_stat("Media/Movies/a.mkv", &e), 0) << vnsmb1c_last_error();
        EXPECT_EQ(e.size, kMkvSize);
        ASSERT_GT(vnsmb1c_list("Media/Movies", nullptr), 0) << vnsmb1c_last_error();
        vnsmb1c_close(vnsmb1c_open("Music/song.mp3", nullptr));
        int h = vnsmb1c_open("Media/Movies/hello.txt", nullptr);
        ASSERT_GT(h, 0) << vnsmb1c_last_error();
        char buf[16] = {};
        ASSERT_EQ(vnsmb1c_read_at(h, 6, buf, 5), 5) << vnsmb1c_last_error();
        EXPECT_EQ(std::string(buf), "world");
        EXPECT_EQ(vnsmb1c_shares(), 3) << vnsmb1c_last_error();
    }
}

INSTANTIATE_TEST_SUITE_P(Roads, Leave, ::testing::Values(Road::fake, Road::relay), road_name);

}  // namespace
