#include <gtest/gtest.h>

#include <string>

#include "util/error.h"

namespace {

TEST(ErrorText, FailReturnsCodeAndFormats)
{
    EXPECT_EQ(vnb_fail(-4, "TREE_CONNECT %.80s: %s", "Media", "BAD_NETWORK_NAME"), -4);
    EXPECT_STREQ(vnb_error(), "TREE_CONNECT Media: BAD_NETWORK_NAME");
    vnb_set_error("frame larger than %u bytes", 4194304u);
    EXPECT_STREQ(vnb_error(), "frame larger than 4194304 bytes");
    EXPECT_EQ(vnb_error(), g_err);
}

TEST(ErrorText, LongTextIsCutAt511Bytes)
{
    std::string long_text(600, 'm');
    EXPECT_EQ(vnb_fail(-2, "%s", long_text.c_str()), -2);
    EXPECT_EQ(std::string(vnb_error()), long_text.substr(0, 511));
}

TEST(ErrorText, CurrentTextMayBeAnArgument)
{
    vnb_fail(-6, "url: empty");
    EXPECT_EQ(vnb_fail(-6, "settings: %s", vnb_error()), -6);
    EXPECT_STREQ(vnb_error(), "settings: url: empty");

    // "%s" with the current text keeps it and only passes the code through.
    EXPECT_EQ(vnb_fail(-3, "%s", vnb_error()), -3);
    EXPECT_STREQ(vnb_error(), "settings: url: empty");

    // Prefixing a text that is already 511 bytes long still cuts at 511.
    std::string long_text(511, 'a');
    vnb_fail(-1, "%s", long_text.c_str());
    vnb_fail(-1, "x: %s", vnb_error());
    std::string want = "x: " + long_text;
    EXPECT_EQ(std::string(vnb_error()), want.substr(0, 511));
}

}  // namespace
