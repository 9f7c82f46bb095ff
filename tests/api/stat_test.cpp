// vnsmb1c_stat through the exported calls against the fake server: one query
// about the path where the server answers it, one search for the name where
// it refuses.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

#include "fake_session.h"
#include "vnsmb1c.h"

namespace {

enum class Query { answered, refused };

using StatParam = std::tuple<Road, Query>;

std::string stat_name(const ::testing::TestParamInfo<StatParam> &info)
{
    return std::string(std::get<0>(info.param) == Road::fake ? "FakeTransport" : "Relayed") +
           (std::get<1>(info.param) == Query::answered ? "QueryAnswered" : "QueryRefused");
}

class Stat : public ::testing::TestWithParam<StatParam> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(open_fake_session(std::get<0>(GetParam()), kMediaTree), 0) << vnsmb1c_last_error();
        ASSERT_EQ(vnsmb1c_fake_set_fault("no_path_info", refused() ? 1 : 0), 0);
    }
    void TearDown() override { vnsmb1c_use_sockets(); }
    bool refused() const { return std::get<1>(GetParam()) == Query::refused; }
};

TEST_P(Stat, FilesFoldersAndShares)
{
    struct Case {
        const char *path;
        int rc;
        const char *name = nullptr;
        const char *out_path = nullptr;
        int folder = 0;
        int64_t size = 0;
        int64_t mtime_ms = 0;
        int hidden = 0;
    } const cases[] = {
        {"Media/Movies/a.mkv", 0, "a.mkv", "Media/Movies/a.mkv", 0, kMkvSize, 1500000000000, 0},
        {"\\Media\\Movies\\hello.txt", 0, "hello.txt", "Media/Movies/hello.txt", 0, 11, 1600000000000, 0},
        {"/Media/big.bin/", 0, "big.bin", "Media/big.bin", 0, kBigBinSize, 1700000000000, 0},
        {"Media/Movies", 0, "Movies", "Media/Movies", 1, -1, 1700000000000, 0},
        {"Media/Movies/@eaDir", 0, "@eaDir", "Media/Movies/@eaDir", 1, -1, 1700000000000, 1},
        {"Media/Movies/.profile", 0, ".profile", "Media/Movies/.profile", 0, 1, 1700000000000, 1},
        {"media/MOVIES/A.MKV", 0, "A.MKV", "media/MOVIES/A.MKV", 0, kMkvSize, 1500000000000, 0},
        {"Media", 0, "Media", "Media", 1, -1, -1, 0},
        {"Music/", 0, "Music", "Music", 1, -1, -1, 0},
        {"Media/Movies/missing.mkv", -4},
        {"Media/Nowhere/a.mkv", -4},
        {"Media/Movies/a.mkv/x", -4},
        {"Nowhere", -4},
        {"Nowhere/a.mkv", -4},
        {"", -6},
        {"Media/../Music", -6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        vnsmb1c_Entry e{};
        e.size = 12345;
        int rc = vnsmb1c_stat(c.path, &e);
        ASSERT_EQ(rc, c.rc) << vnsmb1c_last_error();
        if (rc != 0) {
            EXPECT_EQ(e.size, 12345) << "a failed stat writes nothing";
            EXPECT_NE(vnsmb1c_last_error()[0], '\0');
            continue;
        }
        EXPECT_STREQ(e.name, c.name);
        EXPECT_STREQ(e.path, c.out_path);
        EXPECT_EQ(e.folder, c.folder);
        EXPECT_EQ(e.size, c.size);
        EXPECT_EQ(e.mtime_ms, c.mtime_ms);
        EXPECT_EQ(e.hidden, c.hidden);
    }
}

TEST_P(Stat, BadArgumentsAndNoSession)
{
    vnsmb1c_Entry e{};
    EXPECT_EQ(vnsmb1c_stat(nullptr, &e), -6);
    EXPECT_EQ(vnsmb1c_stat("Media/Movies/a.mkv", nullptr), -6);
    EXPECT_EQ(vnsmb1c_s_stat(nullptr, "Media/Movies/a.mkv", &e), -6);
    vnsmb1c_disconnect();
    EXPECT_EQ(vnsmb1c_stat("Media/Movies/a.mkv", &e), -5);
}

// On a held session with the share's tree connected, a stat is one request;
// a server that refused the query once is asked with one search from then on.
TEST_P(Stat, OneRequestOnAHeldSession)
{
    vnsmb1c_Entry e{};
    ASSERT_EQ(vnsmb1c_stat("Media/Movies/a.mkv", &e), 0) << vnsmb1c_last_error();
    const int64_t trans2 = vnsmb1c_fake_calls(kCmdTrans2);
    const int64_t creates = vnsmb1c_fake_calls(kCmdNtCreate);
    const int64_t finds_closed = vnsmb1c_fake_calls(kCmdFindClose2);
    const uint64_t frames = vnsmb1c_frame_count();
    for (const char *path : {"Media/Movies/hello.txt", "Media/Movies", "Media/Paged/p7"}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(vnsmb1c_stat(path, &e), 0) << vnsmb1c_last_error();
    }
    EXPECT_EQ(vnsmb1c_frame_count() - frames, 3u);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdTrans2) - trans2, 3);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdNtCreate), creates);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdFindClose2), finds_closed);
    EXPECT_STREQ(e.name, "p7");
    EXPECT_EQ(e.folder, 0);
}

// A stat leaves the session's listing as it was.
TEST_P(Stat, HeldListingStays)
{
    ASSERT_GT(vnsmb1c_list("Media/Movies", nullptr), 0) << vnsmb1c_last_error();
    const std::string before = vnsmb1c_list_json();
    vnsmb1c_Entry e{};
    ASSERT_EQ(vnsmb1c_stat("Music/song.mp3", &e), 0) << vnsmb1c_last_error();
    EXPECT_EQ(e.size, 8);
    EXPECT_EQ(vnsmb1c_list_json(), before);
}

// Sessions hold their own records.
TEST_P(Stat, SessionsKeepTheirOwnRecords)
{
    vnsmb1c_session *other = vnsmb1c_session_new();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(vnsmb1c_s_use_fake(other, nullptr), 0);
    ASSERT_EQ(vnsmb1c_s_connect(other, "fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    vnsmb1c_Entry mine{};
    vnsmb1c_Entry theirs{};
    ASSERT_EQ(vnsmb1c_stat("Media/Movies/a.mkv", &mine), 0);
    ASSERT_EQ(vnsmb1c_s_stat(other, "Music/song.mp3", &theirs), 0) << vnsmb1c_last_error();
    EXPECT_STREQ(mine.path, "Media/Movies/a.mkv");
    EXPECT_STREQ(theirs.path, "Music/song.mp3");
    vnsmb1c_session_free(other);
    EXPECT_STREQ(mine.name, "a.mkv");
}

INSTANTIATE_TEST_SUITE_P(Roads, Stat,
                         ::testing::Combine(::testing::Values(Road::fake, Road::relay),
                                            ::testing::Values(Query::answered, Query::refused)),
                         stat_name);

// Servers without Unicode or NT statuses: names in the code page, refusals
// in DOS form, and the same answers.
TEST(StatOldServer, CodePageNamesAndDosRefusals)
{
    for (const char *fault : {"no_unicode", "dos_errors"}) {
        for (int refused : {0, 1}) {
            SCOPED_TRACE(std::string(fault) + (refused ? " refused" : " answered"));
            ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);
            ASSERT_EQ(vnsmb1c_fake_set_fault(fault, 1), 0);
            ASSERT_EQ(vnsmb1c_fake_set_fault("no_path_info", refused), 0);
            ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
            vnsmb1c_Entry e{};
            ASSERT_EQ(vnsmb1c_stat("Media/Movies/hello.txt", &e), 0) << vnsmb1c_last_error();
            EXPECT_EQ(e.size, 11);
            EXPECT_EQ(e.mtime_ms, 1600000000000);
            EXPECT_EQ(vnsmb1c_stat("Media/Movies/missing.txt", &e), -4);
            vnsmb1c_use_sockets();
        }
    }
}

}  // namespace
