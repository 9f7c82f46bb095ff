// Share-qualified paths, share listings, folder listings and the item texts,
// through the exported calls against the fake server.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "api/result_slot.h"
#include "fake_session.h"
#include "api/session_ops.h"
#include "vnsmb1c.h"

namespace {

TEST(SplitPath, SharesAndRests)
{
    const std::string share80(80, 's');
    const std::string share80_a = share80 + "/a";
    const std::string share81(81, 's');
    struct Case {
        const char *what;
        const char *path;
        int share_cap;
        bool want_rest;
        int rest_cap;
        int rc;
        const char *share;  // expected share, or the error text when rc != 0
        const char *rest;
    } cases[] = {
        {"separators of both kinds, doubled", "//Media\\Movies//x", 82, true, 1026, 0, "Media", "Movies/x"},
        {"share alone", "Media", 82, true, 1026, 0, "Media", ""},
        {"share between separators", "\\Media\\", 82, true, 1026, 0, "Media", ""},
        {"share only, rest not asked for", "Media/Movies", 82, false, 0, 0, "Media", nullptr},
        {"rest not examined when not asked for", "Media/../x", 82, false, 0, 0, "Media", nullptr},
        {"80-byte share", share80_a.c_str(), 82, true, 1026, 0, share80.c_str(), "a"},
        {"share just fits the capacity", "Media", 6, true, 1026, 0, "Media", ""},
        {"separators only", "///", 82, true, 1026, -6, "the path does not name a share", nullptr},
        {"empty path", "", 82, true, 1026, -6, "the path does not name a share", nullptr},
        {"81-byte share", share81.c_str(), 82, true, 1026, -6, "share name longer than 80 bytes", nullptr},
        {"share does not fit the capacity", "Media", 5, true, 1026, -6, "share name longer than 80 bytes", nullptr},
        {"'..' in the rest", "Media/../x", 82, true, 1026, -6, "\"..\" is not a valid name component", nullptr},
        {"rest does not fit", "Media/abc", 82, true, 3, -9, "the name needs 4 bytes", nullptr},
        {"rest buffer with capacity 0", "Media", 82, true, 0, -6, "bad argument", nullptr},
        {"no rest buffer with a capacity", "Media", 82, false, 1026, -6, "bad argument", nullptr},
        {"negative rest capacity", "Media", 82, true, -1, -6, "bad argument", nullptr},
        {"share capacity 0", "Media", 0, true, 1026, -6, "bad argument", nullptr},
    };
    for (const Case &c : cases) {
        // Buffers of exactly the stated capacity, so that an overrun shows.
        std::vector<char> share(static_cast<size_t>(std::max(c.share_cap, 1)), '#');
        std::vector<char> rest(static_cast<size_t>(std::max(c.rest_cap, 1)), '#');
        int rc = vnsmb1c_split_path(c.path, share.data(), c.share_cap, c.want_rest ? rest.data() : nullptr,
                                    c.rest_cap);
        ASSERT_EQ(rc, c.rc) << c.what << ": " << vnsmb1c_last_error();
        if (rc != 0) {
            EXPECT_STREQ(vnsmb1c_last_error(), c.share) << c.what;
            continue;
        }
        EXPECT_STREQ(share.data(), c.share) << c.what;
        if (c.rest != nullptr) {
            EXPECT_STREQ(rest.data(), c.rest) << c.what;
        }
    }
}

TEST(SplitPath, NullArguments)
{
    char share[82];
    char rest[1026];
    EXPECT_EQ(vnsmb1c_split_path(nullptr, share, sizeof share, rest, sizeof rest), -6);
    EXPECT_STREQ(vnsmb1c_last_error(), "bad argument");
    EXPECT_EQ(vnsmb1c_split_path("Media", nullptr, 82, rest, sizeof rest), -6);
    EXPECT_STREQ(vnsmb1c_last_error(), "bad argument");
}

TEST(HiddenName, FirstByteDecides)
{
    struct Case {
        const char *name;
        int hidden;
    } cases[] = {
        {"$RECYCLE.BIN", 1}, {".profile", 1}, {"@eaDir", 1}, {".", 1},          {"share$", 0},
        {"#recycle", 0},     {"", 0},         {nullptr, 0},  {"Movies", 0},    {"a.b", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(vnsmb1c_is_hidden_name(c.name), c.hidden) << (c.name ? c.name : "NULL");
}

TEST(BrowseWithoutSession, NeedsAConnection)
{
    vnsmb1c_disconnect();
    EXPECT_STREQ(vnsmb1c_list_json(), "[]");
    EXPECT_STREQ(vnsmb1c_item_json(0), "");
    EXPECT_EQ(vnsmb1c_list_hidden_count(), 0);
    EXPECT_STREQ(vnsmb1c_share_name(-1), "");

    struct Case {
        const char *what;
        int rc;
    } cases[] = {
        {"shares", vnsmb1c_shares()},
        {"list", vnsmb1c_list("Media", nullptr)},
        {"list without a path", vnsmb1c_list(nullptr, nullptr)},
        {"list with hidden names", vnsmb1c_list_all("Media", nullptr)},
        {"open", vnsmb1c_open("Media", "a.mkv")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.rc, -5) << c.what;
    EXPECT_STREQ(vnsmb1c_last_error(), "not connected");
}

// ---- shares ----

using Shares = OnFakeServer;

TEST_P(Shares, AdministrativeNamesLeftOut)
{
    ASSERT_EQ(vnsmb1c_shares(), 3) << vnsmb1c_last_error();
    EXPECT_STREQ(vnsmb1c_share_name(0), "Media");
    EXPECT_STREQ(vnsmb1c_share_name(1), "Music");
    EXPECT_STREQ(vnsmb1c_share_name(2), "D$");
    EXPECT_STREQ(vnsmb1c_share_name(3), "");
    EXPECT_STREQ(vnsmb1c_share_name(-1), "");
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdTrans), 2) << "bind and NetShareEnumAll";
}

TEST_P(Shares, ServerRefusingIpcFailsTheListing)
{
    ASSERT_EQ(vnsmb1c_fake_set_fault("no_ipc", 1), 0);
    EXPECT_EQ(vnsmb1c_shares(), -4);
    EXPECT_STREQ(vnsmb1c_last_error(), "TREE_CONNECT IPC$: BAD_NETWORK_NAME");
    EXPECT_STREQ(vnsmb1c_share_name(0), "") << "the table starts empty";
}

INSTANTIATE_TEST_SUITE_P(Roads, Shares, ::testing::Values(Road::fake, Road::relay), road_name);

class ManyShares : public OnFakeServer {
protected:
    const char *tree() const override
    {
        static const std::string json = [] {
            std::string t = R"({"shares":[)";
            for (int i = 0; i < 300; i++) {
                char name[16];
                std::snprintf(name, sizeof name, "s%03d", i);
                t += (i ? "," : "") + std::string(R"({"name":")") + name + R"("})";
            }
            return t + R"(],"users":[{"name":"alice","pass":"pw"}]})";
        }();
        return json.c_str();
    }
};

// More than 256 shares: the listing fails instead of showing the first 256 as all.
TEST_P(ManyShares, MoreThan256FailTheListing)
{
    ASSERT_EQ(vnsmb1c_shares(), -7);
    EXPECT_STREQ(vnsmb1c_last_error(), "the server lists more than 256 shares, the most the library holds");
    EXPECT_STREQ(vnsmb1c_share_name(0), "");
}

INSTANTIATE_TEST_SUITE_P(Roads, ManyShares, ::testing::Values(Road::fake, Road::relay), road_name);

// ---- folder listings ----

// The listed items of Media/Movies in the server's (byte) order; .profile,
// $RECYCLE.BIN and @eaDir are hidden.
const char *const kMovieItems[] = {
    R"({"name":"Sub","path":"Movies/Sub","folder":true,"size":-1,"mtime_ms":1700000000000,"hidden":false})",
    R"({"name":"a.mkv","path":"Movies/a.mkv","folder":false,"size":300000,"mtime_ms":1500000000000,"hidden":false})",
    R"({"name":"ctl\u0001.txt","path":"Movies/ctl\u0001.txt","folder":false,"size":0,)"
    R"("mtime_ms":1700000000000,"hidden":false})",
    R"({"name":"hello.txt","path":"Movies/hello.txt","folder":false,"size":11,"mtime_ms":1600000000000,)"
    R"("hidden":false})",
    R"({"name":"quote\"back\\slash\ttab.txt","path":"Movies/quote\"back\\slash\ttab.txt","folder":false,)"
    R"("size":1,"mtime_ms":1700000000000,"hidden":false})",
};

std::string movies_json()
{
    std::string json = R"({"items":[)";
    for (const char *item : kMovieItems)
        json += std::string(json.back() == '[' ? "" : ",") + item;
    return json + "]}";
}

using Listing = OnFakeServer;

TEST_P(Listing, OneFolderManyWaysToNameIt)
{
    struct Case {
        const char *path;
        const char *sub;
    } cases[] = {
        {"Media", "Movies"},      {"Media/Movies", nullptr}, {"/Media/Movies/", ""},
        {"\\Media\\Movies", nullptr}, {"media", "/Movies/"},     {"//Media", "\\Movies"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(vnsmb1c_list(c.path, c.sub), 5) << c.path << " + " << (c.sub ? c.sub : "NULL") << ": "
                                                  << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_list_json(), movies_json()) << c.path;
        EXPECT_EQ(vnsmb1c_list_hidden_count(), 3) << c.path;
    }
}

// The hidden names of Media/Movies as vnsmb1c_list_all lists them, before
// the others in the server's order.
const char *const kHiddenMovieItems[] = {
    R"({"name":"$RECYCLE.BIN","path":"Movies/$RECYCLE.BIN","folder":true,"size":-1,"mtime_ms":1700000000000,)"
    R"("hidden":true})",
    R"({"name":".profile","path":"Movies/.profile","folder":false,"size":1,"mtime_ms":1700000000000,)"
    R"("hidden":true})",
    R"({"name":"@eaDir","path":"Movies/@eaDir","folder":true,"size":-1,"mtime_ms":1700000000000,"hidden":true})",
};

TEST_P(Listing, ListAllKeepsTheHiddenNames)
{
    std::string all = R"({"items":[)";
    for (const char *item : kHiddenMovieItems)
        all += std::string(all.back() == '[' ? "" : ",") + item;
    for (const char *item : kMovieItems)
        all += std::string(",") + item;
    all += "]}";

    ASSERT_EQ(vnsmb1c_list_all("Media", "Movies"), 8) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list_json(), all);
    EXPECT_EQ(vnsmb1c_list_hidden_count(), 3) << "still counted";
    EXPECT_STREQ(vnsmb1c_item_json(1), kHiddenMovieItems[1]);
    EXPECT_STREQ(vnsmb1c_item_json(3), kMovieItems[0]);

    // vnsmb1c_list after it keeps its own results.
    ASSERT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list_json(), movies_json());
    EXPECT_EQ(vnsmb1c_list_hidden_count(), 3);

    // A folder without hidden names, and the failures of vnsmb1c_list.
    ASSERT_EQ(vnsmb1c_list_all("Media", nullptr), 3);
    EXPECT_EQ(vnsmb1c_list_hidden_count(), 0);
    EXPECT_EQ(vnsmb1c_list_all("Media", "nope"), -4);
    EXPECT_STREQ(vnsmb1c_last_error(), "OPEN DIR: OBJECT_NAME_NOT_FOUND");
    EXPECT_EQ(vnsmb1c_list_all(nullptr, nullptr), -6);
    EXPECT_STREQ(vnsmb1c_last_error(), "empty share name");
    EXPECT_EQ(vnsmb1c_list_all("Media", "../x"), -6);
    EXPECT_EQ(vnsmb1c_list_hidden_count(), 0) << "a failure keeps the held listing";
}

TEST_P(Listing, ShareRootPathsHaveNoFolderPart)
{
    ASSERT_EQ(vnsmb1c_list("Media", nullptr), 3) << vnsmb1c_last_error();
    EXPECT_EQ(std::string(vnsmb1c_item_json(0)),
              R"({"name":"Movies","path":"Movies","folder":true,"size":-1,"mtime_ms":1700000000000,"hidden":false})");
    EXPECT_EQ(std::string(vnsmb1c_item_json(1)),
              R"({"name":"Paged","path":"Paged","folder":true,"size":-1,"mtime_ms":1700000000000,"hidden":false})");
    EXPECT_EQ(std::string(vnsmb1c_item_json(2)), R"({"name":"big.bin","path":"big.bin","folder":false,)"
                                                 R"("size":5368709120,"mtime_ms":1700000000000,"hidden":false})");
    EXPECT_EQ(vnsmb1c_list_hidden_count(), 0);

    ASSERT_EQ(vnsmb1c_list("Music", ""), 1);
    EXPECT_EQ(std::string(vnsmb1c_list_json()), R"({"items":[{"name":"song.mp3","path":"song.mp3","folder":false,)"
                                                R"("size":8,"mtime_ms":1700000000000,"hidden":false}]})");
}

TEST_P(Listing, EmptyFolder)
{
    ASSERT_EQ(vnsmb1c_list("Media/Movies/Sub", nullptr), 0);
    EXPECT_STREQ(vnsmb1c_list_json(), R"({"items":[]})");
    EXPECT_EQ(vnsmb1c_list_hidden_count(), 0);
    EXPECT_STREQ(vnsmb1c_item_json(0), "");
}

TEST_P(Listing, ItemTextsShareTheResultSlot)
{
    ASSERT_EQ(vnsmb1c_list("Media", "Movies"), 5);
    for (int i = 0; i < 5; i++) {
        const char *item = vnsmb1c_item_json(i);
        EXPECT_STREQ(item, kMovieItems[i]) << i;
        EXPECT_EQ(vnb_result_held(), item) << i;
    }

    const char *held = vnsmb1c_item_json(3);
    for (int bad : {-1, 5, 1000000}) {
        EXPECT_STREQ(vnsmb1c_item_json(bad), "") << bad;
        EXPECT_EQ(vnb_result_held(), held) << "a failed call keeps the previous text";
        EXPECT_STREQ(held, kMovieItems[3]);
    }

    const char *report = vnsmb1c_session_json();
    EXPECT_EQ(vnb_result_held(), report) << "the session report replaces the item text";
    EXPECT_STREQ(vnsmb1c_item_json(0), kMovieItems[0]);
    EXPECT_NE(vnb_result_held(), nullptr);
}

TEST_P(Listing, FailuresKeepTheHeldListing)
{
    ASSERT_EQ(vnsmb1c_list("Media", "Movies"), 5);
    const std::string held = vnsmb1c_list_json();
    struct Case {
        const char *path;
        const char *sub;
        int rc;
        const char *text;
    } cases[] = {
        {nullptr, nullptr, -6, "empty share name"},
        {"", "Movies", -6, "empty share name"},
        {"\\/\\", nullptr, -6, "the path does not name a share"},
        {"Media", "../Movies", -6, "\"..\" is not a valid name component"},
        {"Media/Movies/..", nullptr, -6, "\"..\" is not a valid name component"},
        {"Media", "a\tb", -6, "control byte in a name component"},
        {"Media", "nope", -4, "OPEN DIR: OBJECT_NAME_NOT_FOUND"},
        {"Media/Movies", "hello.txt", -6, "OPEN DIR: Media/Movies/hello.txt is a file, not a folder: NOT_A_DIRECTORY"},
        {"Nope", nullptr, -4, "TREE_CONNECT Nope: BAD_NETWORK_NAME"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(vnsmb1c_list(c.path, c.sub), c.rc) << (c.path ? c.path : "NULL");
        EXPECT_STREQ(vnsmb1c_last_error(), c.text) << (c.path ? c.path : "NULL");
        EXPECT_EQ(vnsmb1c_list_json(), held) << (c.path ? c.path : "NULL");
        EXPECT_EQ(vnsmb1c_list_hidden_count(), 3);
    }
}

TEST_P(Listing, ServerPagesAreJoined)
{
    std::vector<std::string> names;
    for (int i = 0; i < 120; i++)
        names.push_back("p" + std::to_string(i));
    std::sort(names.begin(), names.end());

    // 122 entries with "." and "..", at most min(page, 200) per reply.
    struct Case {
        int page;
        int64_t finds;
    } cases[] = {{0, 3}, {1, 122}, {7, 18}, {61, 2}, {200, 1}};
    for (const Case &c : cases) {
        ASSERT_EQ(vnsmb1c_fake_set_fault("page", c.page), 0);
        ASSERT_EQ(vnsmb1c_fake_set_fault("reset_counts", 0), 0);
        ASSERT_EQ(vnsmb1c_list("Media/Paged", nullptr), 120) << "page " << c.page << ": " << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_fake_calls(kCmdTrans2), c.finds) << "page " << c.page;
        EXPECT_EQ(vnsmb1c_fake_calls(kCmdFindClose2), 0) << "the server ended the search";
        EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose), 1) << "the folder is closed";
        for (int i : {0, 1, 60, 119}) {
            std::string want = R"({"name":")" + names[i] + R"(","path":"Paged/)" + names[i] + R"(",)";
            EXPECT_EQ(std::string(vnsmb1c_item_json(i)).rfind(want, 0), 0u) << "page " << c.page << " item " << i;
        }
    }
}

// A server whose pages do not hold what they say, or whose next page does
// not continue after the last entry, fails the listing: nothing short is
// returned, and the held listing stays.
TEST_P(Listing, BrokenPagesFailTheListingNeverShortIt)
{
    ASSERT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5) << vnsmb1c_last_error();
    const std::string held = vnsmb1c_list_json();
    // Media/Paged in pages of 7: ".", "..", p0, p1, p10, p100, p101, ...
    struct Case {
        const char *fault;
        const char *text;  // how the error text starts
    } cases[] = {
        {"find_chain", "FIND entry chain ends after 6 of 7 entries"},
        {"find_chain", "FIND entry 1 of 7: NextEntryOffset "},
        {"find_chain", "FIND entry chain ends after 7 of 8 entries"},
        {"find_ignore_resume", "the server listed \"p101\" twice: its search did not continue where it was asked to"},
    };
    int value = 0;
    for (const Case &c : cases) {
        value = std::strcmp(c.fault, "find_chain") == 0 ? value + 1 : 1;
        ASSERT_EQ(vnsmb1c_fake_set_fault("page", 7), 0);
        ASSERT_EQ(vnsmb1c_fake_set_fault(c.fault, value), 0);
        EXPECT_EQ(vnsmb1c_list("Media/Paged", nullptr), -2) << c.fault << " " << value;
        EXPECT_EQ(std::string(vnsmb1c_last_error()).rfind(c.text, 0), 0u)
            << c.fault << " " << value << ": " << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_list_json(), held) << c.fault << " " << value;
        ASSERT_EQ(vnsmb1c_fake_set_fault(c.fault, 0), 0);
    }
    ASSERT_EQ(vnsmb1c_list("Media/Paged", nullptr), 120) << "a sound server lists again on the same session";
}

// A FIND reply sent as several messages is joined; a second message with a
// bad displacement or total fails the listing. The relay carries one reply
// message per request, so there a split reply fails too, never short.
TEST_P(Listing, FindRepliesSplitOverSeveralMessages)
{
    ASSERT_EQ(vnsmb1c_fake_set_fault("page", 200), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("reset_counts", 0), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("find_split", 2000), 0);
    if (GetParam() == Road::relay) {
        EXPECT_LT(vnsmb1c_list("Media/Paged", nullptr), 0);
        return;
    }
    ASSERT_EQ(vnsmb1c_list("Media/Paged", nullptr), 120) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdTrans2), 1) << "one FIND_FIRST2 in several messages";
    EXPECT_EQ(std::string(vnsmb1c_item_json(119)).rfind(R"({"name":"p99","path":"Paged/p99",)", 0), 0u);
    const std::string held = vnsmb1c_list_json();

    // Two messages, the second bent.
    ASSERT_EQ(vnsmb1c_fake_set_fault("find_split", 7000), 0);
    struct Case {
        int fault;
        const char *text;
    } cases[] = {
        {1, "FIND_FIRST2 reply part 2 does not continue where the parts before it ended"},
        {2, "FIND_FIRST2 reply part 2 does not continue where the parts before it ended"},
        {3, "FIND_FIRST2 reply part 2 changes the totals"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(vnsmb1c_fake_set_fault("split_fault", c.fault), 0);
        EXPECT_EQ(vnsmb1c_list("Media/Paged", nullptr), -2) << c.fault;
        EXPECT_EQ(std::string(vnsmb1c_last_error()).rfind(c.text, 0), 0u) << c.fault << ": " << vnsmb1c_last_error();
        EXPECT_EQ(vnsmb1c_list_json(), held) << c.fault;
    }
    ASSERT_EQ(vnsmb1c_fake_set_fault("split_fault", 0), 0);
    EXPECT_EQ(vnsmb1c_list("Media/Paged", nullptr), 120) << vnsmb1c_last_error();
}

// A server that knows share names only in upper case still connects trees
// named in any case.
TEST_P(Listing, SharePartGoesUpperCase)
{
    ASSERT_EQ(vnsmb1c_fake_set_fault("upper_shares", 1), 0);
    EXPECT_EQ(vnsmb1c_list("music", nullptr), 1) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list("Media/Movies", nullptr), 5) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_shares(), 3) << "IPC$ is upper case already: " << vnsmb1c_last_error();
    EXPECT_STREQ(vnsmb1c_share_name(0), "Media") << "share names are listed as the server gives them";
}

INSTANTIATE_TEST_SUITE_P(Roads, Listing, ::testing::Values(Road::fake, Road::relay), road_name);

// Items come straight from the held records; an index outside them gives
// "" and leaves the held text alone.
TEST(ItemJson, HeldRecordsAndIndexesOutsideThem)
{
    ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);  // ends any session: no listing held
    EXPECT_STREQ(vnsmb1c_list_json(), "[]");
    ::Listing &l = vnb_default_session().listing;
    l.held = true;
    l.items = {DirEntry{"a", "d/a", false, 5, 1000, false}, DirEntry{"q\"b", "q\"b", true, -1, -1, false}};
    EXPECT_STREQ(vnsmb1c_item_json(1), R"({"name":"q\"b","path":"q\"b","folder":true,"size":-1,"mtime_ms":-1,)"
                                       R"("hidden":false})");
    const char *held = vnb_result_held();
    for (int index : {-1, 2, 1 << 30}) {
        EXPECT_STREQ(vnsmb1c_item_json(index), "") << index;
        EXPECT_EQ(vnb_result_held(), held) << index;
    }
    EXPECT_STREQ(vnsmb1c_list_json(),
                 R"({"items":[{"name":"a","path":"d/a","folder":false,"size":5,"mtime_ms":1000,"hidden":false},)"
                 R"({"name":"q\"b","path":"q\"b","folder":true,"size":-1,"mtime_ms":-1,"hidden":false}]})");
    vnsmb1c_use_sockets();  // the session reset releases the listing
    EXPECT_TRUE(vnb_default_session().listing.items.empty());
    EXPECT_STREQ(vnsmb1c_list_json(), "[]");
}

// 60,000 entries, more than earlier versions held: all of them are listed.
class HugeFolder : public OnFakeServer {
protected:
    const char *tree() const override
    {
        return R"({"shares":[{"name":"Big","root":[{"name":"many","generate":60000}]}],"users":[{"name":"alice","pass":"pw"}]})";
    }
};

TEST_P(HugeFolder, ListedWhole)
{
    ASSERT_EQ(vnsmb1c_fake_set_fault("page", 200), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("reset_counts", 0), 0);
    ASSERT_EQ(vnsmb1c_list("Big/many", nullptr), 60000) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_list_hidden_count(), 0);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdFindClose2), 0) << "the server ended the search";
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdClose), 1);

    std::vector<std::string> names;
    for (int i = 0; i < 60000; i++)
        names.push_back("f" + std::to_string(i));
    std::sort(names.begin(), names.end());
    std::string last = vnsmb1c_item_json(59999);
    EXPECT_EQ(last.rfind(R"({"name":")" + names[59999] + R"(",)", 0), 0u) << last;
    EXPECT_STREQ(vnsmb1c_item_json(60000), "");
}

INSTANTIATE_TEST_SUITE_P(Roads, HugeFolder, ::testing::Values(Road::fake, Road::relay), road_name);

}  // namespace
