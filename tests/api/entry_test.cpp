// Listing items as records (vnsmb1c_entry, vnsmb1c_s_entry), through the
// exported calls against the fake server.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <climits>
#include <cstring>
#include <string>

#include "fake_session.h"
#include "vnsmb1c.h"

namespace {

// A record no call fills this way, to show that a failure leaves it alone.
vnsmb1c_Entry sentinel()
{
    vnsmb1c_Entry e;
    std::memset(&e, 0x5A, sizeof e);
    return e;
}

bool same_bytes(const vnsmb1c_Entry &a, const vnsmb1c_Entry &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

using EntryRecords = OnFakeServer;

// Every record says what the item's JSON says; the path adds the share.
TEST_P(EntryRecords, AgreeWithTheItemJson)
{
    for (bool all : {false, true}) {
        const int n = all ? vnsmb1c_list_all("Media", "Movies") : vnsmb1c_list("Media", "Movies");
        ASSERT_EQ(n, all ? 8 : 5) << vnsmb1c_last_error();
        int hidden = 0;
        for (int i = 0; i < n; i++) {
            vnsmb1c_Entry e = sentinel();
            ASSERT_EQ(vnsmb1c_entry(i, &e), 0) << i << ": " << vnsmb1c_last_error();
            rapidjson::Document item;
            item.Parse(vnsmb1c_item_json(i));
            ASSERT_TRUE(item.IsObject()) << i;
            EXPECT_STREQ(e.name, item["name"].GetString()) << i;
            EXPECT_EQ(std::string(e.path), std::string("Media/") + item["path"].GetString()) << i;
            EXPECT_EQ(e.folder, item["folder"].GetBool() ? 1 : 0) << i;
            EXPECT_EQ(e.size, item["size"].GetInt64()) << i;
            EXPECT_EQ(e.mtime_ms, item["mtime_ms"].GetInt64()) << i;
            EXPECT_EQ(e.hidden, item["hidden"].GetBool() ? 1 : 0) << i;
            EXPECT_EQ(e.hidden, vnsmb1c_is_hidden_name(e.name)) << i;
            hidden += e.hidden;
        }
        EXPECT_EQ(hidden, all ? 3 : 0) << "vnsmb1c_list leaves the hidden names out";
    }
}

TEST_P(EntryRecords, FilesFoldersAndHiddenNames)
{
    ASSERT_EQ(vnsmb1c_list_all("Media/Movies", nullptr), 8) << vnsmb1c_last_error();
    struct Want {
        int index;
        const char *name;
        const char *path;
        int64_t size;
        int64_t mtime_ms;
        int folder;
        int hidden;
    } wants[] = {
        {0, "$RECYCLE.BIN", "Media/Movies/$RECYCLE.BIN", -1, 1700000000000, 1, 1},
        {1, ".profile", "Media/Movies/.profile", 1, 1700000000000, 0, 1},
        {3, "Sub", "Media/Movies/Sub", -1, 1700000000000, 1, 0},
        {4, "a.mkv", "Media/Movies/a.mkv", 300000, 1500000000000, 0, 0},
        {6, "hello.txt", "Media/Movies/hello.txt", 11, 1600000000000, 0, 0},
    };
    for (const Want &w : wants) {
        vnsmb1c_Entry e = sentinel();
        ASSERT_EQ(vnsmb1c_entry(w.index, &e), 0) << w.name << ": " << vnsmb1c_last_error();
        EXPECT_STREQ(e.name, w.name);
        EXPECT_STREQ(e.path, w.path);
        EXPECT_EQ(e.size, w.size) << w.name;
        EXPECT_EQ(e.mtime_ms, w.mtime_ms) << w.name;
        EXPECT_EQ(e.folder, w.folder) << w.name;
        EXPECT_EQ(e.hidden, w.hidden) << w.name;
    }

    // A file larger than 4 GiB, at the share's top.
    ASSERT_EQ(vnsmb1c_list("Media", nullptr), 3) << vnsmb1c_last_error();
    vnsmb1c_Entry big = sentinel();
    ASSERT_EQ(vnsmb1c_entry(2, &big), 0);
    EXPECT_STREQ(big.name, "big.bin");
    EXPECT_STREQ(big.path, "Media/big.bin");
    EXPECT_EQ(big.size, kBigBinSize);
}

// The path names the share as the listing did and opens the file as it is.
TEST_P(EntryRecords, PathsOpenTheirFiles)
{
    ASSERT_EQ(vnsmb1c_list("//media", "\\Movies\\"), 5) << vnsmb1c_last_error();
    vnsmb1c_Entry e = sentinel();
    ASSERT_EQ(vnsmb1c_entry(3, &e), 0);
    EXPECT_STREQ(e.path, "media/Movies/hello.txt");
    int h = vnsmb1c_open(e.path, nullptr);
    ASSERT_GT(h, 0) << vnsmb1c_last_error();
    char text[32] = {};
    EXPECT_EQ(vnsmb1c_read_at(h, 0, text, sizeof text - 1), 11);
    EXPECT_STREQ(text, "hello world");
    vnsmb1c_close(h);
}

TEST_P(EntryRecords, RefusedArgumentsLeaveTheRecordAlone)
{
    const vnsmb1c_Entry untouched = sentinel();
    vnsmb1c_Entry e = sentinel();
    EXPECT_EQ(vnsmb1c_entry(0, &e), -6) << "connected, nothing listed yet";
    EXPECT_STREQ(vnsmb1c_last_error(), "no listing held");
    EXPECT_TRUE(same_bytes(e, untouched));

    ASSERT_EQ(vnsmb1c_list("Media/Movies/Sub", nullptr), 0);
    EXPECT_EQ(vnsmb1c_entry(0, &e), -6) << "an empty listing";
    EXPECT_STREQ(vnsmb1c_last_error(), "item 0 is outside the listing of 0 items");

    ASSERT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5);
    struct Case {
        int index;
        bool record;
        const char *text;
    } cases[] = {
        {-1, true, "item -1 is outside the listing of 5 items"},
        {5, true, "item 5 is outside the listing of 5 items"},
        {INT_MAX, true, "item 2147483647 is outside the listing of 5 items"},
        {INT_MIN, true, "item -2147483648 is outside the listing of 5 items"},
        {0, false, "bad argument: no record to fill"},
    };
    for (const Case &c : cases) {
        e = sentinel();
        EXPECT_EQ(vnsmb1c_entry(c.index, c.record ? &e : nullptr), -6) << c.text;
        EXPECT_STREQ(vnsmb1c_last_error(), c.text);
        EXPECT_TRUE(same_bytes(e, untouched)) << c.text;
    }
    EXPECT_EQ(vnsmb1c_s_entry(nullptr, 0, &e), -6);
    EXPECT_STREQ(vnsmb1c_last_error(), "no session");
    EXPECT_TRUE(same_bytes(e, untouched));
}

// The texts live as long as the listing: a failed listing keeps them, the
// next successful one replaces them, a disconnect drops them.
TEST_P(EntryRecords, TextsLiveWithTheListing)
{
    ASSERT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5);
    vnsmb1c_Entry held = sentinel();
    ASSERT_EQ(vnsmb1c_entry(1, &held), 0);
    ASSERT_STREQ(held.name, "a.mkv");

    EXPECT_EQ(vnsmb1c_list("Media", "nope"), -4);
    EXPECT_EQ(vnsmb1c_list("Media/Movies", "hello.txt"), -6);
    vnsmb1c_Entry again = sentinel();
    ASSERT_EQ(vnsmb1c_entry(1, &again), 0);
    EXPECT_EQ(again.name, held.name) << "the same text, still held";
    EXPECT_EQ(again.path, held.path);
    EXPECT_STREQ(held.name, "a.mkv");
    EXPECT_STREQ(held.path, "Media/Movies/a.mkv");

    ASSERT_EQ(vnsmb1c_list("Music", nullptr), 1);
    vnsmb1c_Entry song = sentinel();
    ASSERT_EQ(vnsmb1c_entry(0, &song), 0);
    EXPECT_STREQ(song.name, "song.mp3");
    EXPECT_STREQ(song.path, "Music/song.mp3");
    EXPECT_EQ(song.size, 8);
    EXPECT_EQ(vnsmb1c_entry(1, &song), -6) << "the new listing's bounds";

    vnsmb1c_disconnect();
    EXPECT_EQ(vnsmb1c_entry(0, &song), -6);
    EXPECT_STREQ(vnsmb1c_last_error(), "no listing held");
}

// Each session holds its own listing; the default session is one of them.
TEST_P(EntryRecords, SessionsHoldTheirOwnListings)
{
    vnsmb1c_session *other = vnsmb1c_session_new();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(vnsmb1c_s_use_fake(other, nullptr), 0);
    if (GetParam() == Road::relay) {
        ASSERT_EQ(vnsmb1c_s_use_io(other, vnsmb1c_io_fake()), 0);
    }
    ASSERT_EQ(vnsmb1c_s_connect(other, "fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();

    ASSERT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5);
    vnsmb1c_Entry e = sentinel();
    EXPECT_EQ(vnsmb1c_s_entry(other, 0, &e), -6) << "the other session lists nothing yet";
    ASSERT_EQ(vnsmb1c_s_list_all(other, "Music", nullptr), 1) << vnsmb1c_last_error();

    vnsmb1c_Entry mine = sentinel();
    vnsmb1c_Entry theirs = sentinel();
    ASSERT_EQ(vnsmb1c_s_entry(vnsmb1c_default_session(), 0, &mine), 0);
    ASSERT_EQ(vnsmb1c_s_entry(other, 0, &theirs), 0);
    EXPECT_STREQ(mine.path, "Media/Movies/Sub");
    EXPECT_STREQ(theirs.path, "Music/song.mp3");
    EXPECT_EQ(vnsmb1c_s_entry(other, 1, &theirs), -6);
    vnsmb1c_Entry same = sentinel();
    ASSERT_EQ(vnsmb1c_entry(0, &same), 0);
    EXPECT_EQ(same.name, mine.name) << "vnsmb1c_entry reads the default session";

    vnsmb1c_session_free(other);
    EXPECT_STREQ(mine.name, "Sub") << "another session's end leaves this listing alone";
}

INSTANTIATE_TEST_SUITE_P(Roads, EntryRecords, ::testing::Values(Road::fake, Road::relay), road_name);

}  // namespace
