// The fake-tree loader: which texts it takes, the defaults it fills in, node
// ids, generated folders and the content rule.
#include <gtest/gtest.h>

#include <string>

#include "fake/fake_internal.h"
#include "ntlm/ntlm.h"

namespace {

struct LoadCase {
    const char *what;
    std::string json;
    bool accepted;
};

std::string share_named(const std::string &name)
{
    return R"({"shares":[{"name":")" + name + R"("}]})";
}

TEST(FakeLoader, AcceptsAndRefusesTexts)
{
    const LoadCase cases[] = {
        {"no shares at all", R"({"shares":[]})", true},
        {"empty text", "", false},
        {"not JSON", "shares", false},
        {"array root", "[]", false},
        {"empty object", "{}", false},
        {"no shares member", R"({"users":[]})", false},
        {"shares not an array", R"({"shares":{}})", false},
        {"share not an object", R"({"shares":[1]})", false},
        {"empty share object", R"({"shares":[{}]})", false},
        {"share without a name", R"({"shares":[{"root":[]}]})", false},
        {"share name not a string", R"({"shares":[{"name":5}]})", false},
        {"empty share name", share_named(""), false},
        {"share name of 80 bytes", share_named(std::string(80, 'n')), true},
        {"share name of 81 bytes", share_named(std::string(81, 'n')), false},
        {"share name holding a NUL", share_named("a\\u0000b"), false},
        {"root not an array", R"({"shares":[{"name":"a","root":5}]})", true},
        {"invalid UTF-8", "{\"shares\":[{\"name\":\"\xff\"}]}", false},
        {"overlong UTF-8", "{\"shares\":[{\"name\":\"\xc0\xaf\"}]}", false},
        {"trailing text", R"({"shares":[]} x)", false},
        {"trailing comma", R"({"shares":[],})", false},
        {"comment", R"({"shares":[] /* c */})", false},
        {"first of duplicate keys is an array", R"({"shares":[],"shares":5})", true},
        {"first of duplicate keys is not an array", R"({"shares":5,"shares":[]})", false},
        {"later bad share fails the load", R"({"shares":[{"name":"a"},{"name":""}]})", false},
        {"unknown keys and odd users", R"({"x":1,"shares":[{"name":"a","z":[]}],"users":[1,{"pass":"p"}]})",
         true},
        {"guest not a boolean", R"({"shares":[],"guest":"yes"})", true},
    };
    for (const LoadCase &c : cases) {
        EXPECT_EQ(c.accepted ? 0 : -1, vnb_fake_load(c.json.c_str())) << c.what;
        EXPECT_EQ(c.accepted ? 1 : 0, vnb_fake_loaded()) << c.what;
    }
    EXPECT_EQ(-1, vnb_fake_load(nullptr));
}

TEST(FakeLoader, FailedLoadLeavesNoTree)
{
    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[{"name":"a"}]})"));
    ASSERT_EQ(-1, vnb_fake_load(R"({"shares":[{"name":"a"},{"name":""}]})"));
    EXPECT_EQ(0, vnb_fake_loaded());
}

TEST(FakeLoader, SharesUsersAndGuest)
{
    const std::string json = R"({"shares":[{"name":"media"},{"name":"music"}],
        "users":[{"pass":"only a password"},7,{"name":"bob"},{"name":"amy","pass":5},
                 {"name":")" + std::string(130, 'u') + R"(","pass":")" + std::string(300, 'p') + R"("}],
        "guest":true})";
    ASSERT_EQ(0, vnb_fake_load(json.c_str()));
    ASSERT_EQ(2u, F.share_count);
    EXPECT_STREQ("media", F.shares[0].name);
    EXPECT_STREQ("music", F.shares[1].name);
    ASSERT_EQ(3u, F.user_count);
    EXPECT_STREQ("bob", F.users[0].name);
    EXPECT_STREQ("", F.users[0].pass);
    EXPECT_STREQ("amy", F.users[1].name);
    EXPECT_STREQ("", F.users[1].pass);
    EXPECT_EQ(std::string(128, 'u'), F.users[2].name);
    EXPECT_EQ(std::string(256, 'p'), F.users[2].pass);
    EXPECT_EQ(1, F.guest_allowed);

    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[],"users":[{"name":"bob"}]})"));
    EXPECT_EQ(0, F.guest_allowed);
    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[]})"));
    EXPECT_EQ(1, F.guest_allowed);
}

TEST(FakeLoader, LoadSetsChallengeAndResetsSwitches)
{
    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[]})"));
    ASSERT_EQ(0, vnb_fake_fault("no_ipc", 1));
    ASSERT_EQ(0, vnb_fake_fault("page", 7));
    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[]})"));
    EXPECT_EQ(0, F.faults.no_ipc);
    EXPECT_EQ(50, F.faults.page);
    const uint8_t expected[8] = {0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E, 0xED, 0x5E};
    EXPECT_EQ(0, memcmp(expected, F.challenge, 8));
    EXPECT_EQ(0, memcmp(expected, g_fake_challenge, 8));
}

class FakeTreeNodes : public ::testing::Test {
protected:
    FakeNode *node(const char *path, uint32_t share = 0)
    {
        return fake_walk(F.shares[share].root, path);
    }
};

TEST_F(FakeTreeNodes, NodeDefaults)
{
    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[{"name":"s","root":[
        {"name":"a.txt","text":"hello","size":99},
        {"name":"big","size":300},
        {"name":"frac","mtime":1.5,"size":2.5},
        {"name":"t","mtime":5,"deny":true},
        {"name":"neg","size":-4},
        {"name":"notext","text":7,"size":3},
        {"name":"dir","children":[{"name":"in"}],"text":"ignored"},
        {"name":"kids not array","children":5},
        7, "x", {}, null
    ]}]})"));
    FakeNode *root = F.shares[0].root;
    ASSERT_EQ(12u, root->child_count);

    FakeNode *a = node("a.txt");
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(kNodeFile, a->kind);
    EXPECT_EQ(5, a->size);
    EXPECT_EQ(5, a->content_len);
    EXPECT_EQ(0, memcmp("hello", a->content, 6));
    EXPECT_EQ('h', fake_content_byte(a, 0));
    EXPECT_EQ(0, fake_content_byte(a, 5));
    EXPECT_EQ(kDefaultMtime, a->mtime);

    FakeNode *big = node("big");
    EXPECT_EQ(300, big->size);
    EXPECT_EQ(nullptr, big->content);
    EXPECT_EQ(static_cast<uint8_t>(31 * big->id), fake_content_byte(big, 0));

    EXPECT_EQ(kDefaultMtime, node("frac")->mtime);
    EXPECT_EQ(0, node("frac")->size);
    EXPECT_EQ(5, node("t")->mtime);
    EXPECT_EQ(1, node("t")->deny);
    EXPECT_EQ(0, node("a.txt")->deny);
    EXPECT_EQ(0, node("neg")->size);
    EXPECT_EQ(3, node("notext")->size);
    EXPECT_EQ(kNodeFolder, node("dir")->kind);
    EXPECT_EQ(nullptr, node("dir")->content);
    EXPECT_NE(nullptr, node("dir\\in"));
    EXPECT_EQ(kNodeFile, node("kids not array")->kind);
    for (uint32_t i = 8; i < 12; i++) {
        EXPECT_STREQ("", root->children[i]->name);
        EXPECT_EQ(kNodeFile, root->children[i]->kind);
        EXPECT_EQ(0, root->children[i]->size);
    }
}

TEST_F(FakeTreeNodes, IdsFollowRegistrationOrder)
{
    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[
        {"name":"one","root":[{"name":"d","children":[{"name":"x"}],"generate":2},{"name":"f"}]},
        {"name":"two","root":[{"name":"g"}]}]})"));
    EXPECT_EQ(1001, F.shares[0].root->id);
    EXPECT_EQ(1002, node("d")->id);
    EXPECT_EQ(1003, node("d\\x")->id);
    EXPECT_EQ(1004, node("d\\f0")->id);
    EXPECT_EQ(1005, node("d\\f1")->id);
    EXPECT_EQ(1006, node("f")->id);
    EXPECT_EQ(1007, F.shares[1].root->id);
    EXPECT_EQ(1008, node("g", 1)->id);
    // Explicit entries come before generated ones.
    EXPECT_STREQ("x", node("d")->children[0]->name);
}

TEST_F(FakeTreeNodes, GeneratedFolders)
{
    const std::string json = R"({"shares":[{"name":"s","root":[
        {"name":"plain","generate":3},
        {"name":"clips","generate":3,"prefix":"clip"},
        {"name":"none","generate":0},
        {"name":"negative","generate":-5},
        {"name":"was a file","text":"abc","generate":1},
        {"name":"not a number","generate":"3"},
        {"name":"long","generate":1,"prefix":")" + std::string(100, 'p') + R"("}
    ]}]})";
    ASSERT_EQ(0, vnb_fake_load(json.c_str()));
    FakeNode *plain = node("plain");
    ASSERT_EQ(kNodeFolder, plain->kind);
    ASSERT_EQ(3u, plain->child_count);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ("f" + std::to_string(i), plain->children[i]->name);
        EXPECT_EQ(i, plain->children[i]->size);
        EXPECT_EQ(kDefaultMtime + i, plain->children[i]->mtime);
        EXPECT_EQ(nullptr, plain->children[i]->content);
    }
    EXPECT_STREQ("clip2", node("clips")->children[2]->name);
    EXPECT_EQ(kNodeFolder, node("none")->kind);
    EXPECT_EQ(0u, node("none")->child_count);
    EXPECT_EQ(0u, node("negative")->child_count);
    EXPECT_EQ(kNodeFolder, node("was a file")->kind);
    EXPECT_EQ(1u, node("was a file")->child_count);
    EXPECT_EQ(kNodeFile, node("not a number")->kind);
    EXPECT_EQ(std::string(63, 'p'), node("long")->children[0]->name);
}

TEST_F(FakeTreeNodes, GenerationStopsAt200000)
{
    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[{"name":"s","root":[{"name":"many","generate":250000}]}]})"));
    EXPECT_EQ(200000u, node("many")->child_count);
    EXPECT_STREQ("f199999", node("many")->children[199999]->name);
}

TEST_F(FakeTreeNodes, ContentRuleOfGeneratedBytes)
{
    ASSERT_EQ(0, vnb_fake_load(R"({"shares":[]})"));
    FakeNode n{};
    n.id = 1001;
    EXPECT_EQ(0x37, fake_content_byte(&n, 0));
    EXPECT_EQ(0x3E, fake_content_byte(&n, 1));
    EXPECT_EQ(0x45, fake_content_byte(&n, 2));
    EXPECT_EQ(0x30, fake_content_byte(&n, 255));
    EXPECT_EQ(0x38, fake_content_byte(&n, 256));
    uint64_t far = (uint64_t{5} << 32) + 3;
    EXPECT_EQ(static_cast<uint8_t>(31 * 1001 + 7 * far + (far >> 8)), fake_content_byte(&n, far));
}

TEST_F(FakeTreeNodes, DeepNestingLoadsAndReleases)
{
    constexpr int kDepth = 20000;
    std::string json = R"({"shares":[{"name":"s","root":[)";
    for (int i = 0; i < kDepth; i++)
        json += R"({"name":"d","children":[)";
    json += R"({"name":"leaf"})";
    for (int i = 0; i < kDepth; i++)
        json += "]}";
    json += "]}]}";
    ASSERT_EQ(0, vnb_fake_load(json.c_str()));
    const FakeNode *n = F.shares[0].root;
    int depth = 0;
    while (n->child_count == 1 && n->children[0]->kind == kNodeFolder) {
        n = n->children[0];
        depth++;
    }
    EXPECT_EQ(kDepth, depth);
    EXPECT_STREQ("leaf", n->children[0]->name);
    EXPECT_EQ(0, vnb_fake_load(R"({"shares":[]})"));  // releases the deep tree
}

}  // namespace
