// The fake tree's "netbios" object: what it takes, what it refuses, and the
// hosts the fake transport then answers to.
#include <gtest/gtest.h>

#include <string>

#include "fake/fake.h"
#include "fake/fake_netbios.h"

namespace {

std::string tree_with(const std::string &netbios)
{
    return R"({"shares":[{"name":"S","root":[]}],"netbios":)" + netbios + "}";
}

TEST(FakeNetbios, ReadsTheNode)
{
    ASSERT_EQ(vnb_fake_load(tree_with(R"({"name":"nas","workgroup":"home","comment":"c","address":"192.0.2.9",
        "mac":"0A:0b:0c:0d:0e:0f","master":true,"wins_server":true,
        "wins":[{"name":"far","address":"192.0.2.10"}],
        "browse":[{"name":"other","comment":"x","type":1}],
        "workgroups":[{"name":"office","master":"boss"}]})")
                                .c_str()),
              0);
    std::optional<FakeNetbiosNode> n = vnb_fake_netbios();
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(n->name, "NAS");
    EXPECT_EQ(n->workgroup, "HOME");
    EXPECT_EQ(n->address, 0xC0000209u);
    EXPECT_EQ(n->mac[0], 0x0A);
    EXPECT_EQ(n->mac[5], 0x0F);
    EXPECT_TRUE(n->master && n->wins_server);
    ASSERT_EQ(n->wins_names.size(), 1u);
    EXPECT_EQ(n->wins_names[0].name, "FAR");
    ASSERT_EQ(n->browse.size(), 1u);
    EXPECT_EQ(n->browse[0].type, 1u);
    ASSERT_EQ(n->workgroups.size(), 1u);
    EXPECT_EQ(n->workgroups[0].comment, "BOSS");

    EXPECT_TRUE(vnb_fake_is_own_host("fake"));
    EXPECT_TRUE(vnb_fake_is_own_host("192.0.2.9"));
    EXPECT_FALSE(vnb_fake_is_own_host("192.0.2.10"));
    EXPECT_FALSE(vnb_fake_is_own_host("nas"));  // names are resolved before the transport sees them
    EXPECT_FALSE(vnb_fake_is_own_host(nullptr));

    ASSERT_EQ(vnb_fake_load(R"({"shares":[{"name":"S","root":[]}]})"), 0);
    EXPECT_FALSE(vnb_fake_netbios().has_value());
    EXPECT_FALSE(vnb_fake_is_own_host("192.0.2.9"));
    EXPECT_FALSE(vnb_fake_is_own_host("127.0.0.1"));
}

TEST(FakeNetbios, DefaultsAndRefusals)
{
    ASSERT_EQ(vnb_fake_load(tree_with(R"({"name":"NAS"})").c_str()), 0);
    std::optional<FakeNetbiosNode> n = vnb_fake_netbios();
    ASSERT_TRUE(n.has_value());
    EXPECT_EQ(n->workgroup, "WORKGROUP");
    EXPECT_EQ(n->address, 0x7F000001u);
    EXPECT_FALSE(n->master);

    const char *refused[] = {
        R"([])",
        R"({})",
        R"({"name":"sixteen-letters!"})",
        R"({"name":"two words"})",
        R"({"name":"NAS","workgroup":7})",
        R"({"name":"NAS","address":"nas.local"})",
        R"({"name":"NAS","address":"300.1.1.1"})",
        R"({"name":"NAS","mac":"00:11:22:33:44"})",
        R"({"name":"NAS","mac":"00-11-22-33-44-55"})",
        R"({"name":"NAS","master":"yes"})",
        R"({"name":"NAS","browse":[{"comment":"no name"}]})",
        R"({"name":"NAS","browse":[{"name":"X","type":-1}]})",
        R"({"name":"NAS","wins":[{"name":"X"}]})",
        R"({"name":"NAS","workgroups":{}})",
    };
    for (const char *bad : refused)
        EXPECT_EQ(vnb_fake_load(tree_with(bad).c_str()), -1) << bad;
}

}  // namespace
