#include <gtest/gtest.h>

#include <cstring>

#include "sess/session_state.h"

namespace {

TEST(SessionRecord, TextFieldsHoldTheirLimits)
{
    vnb_state_ensure_init();
    EXPECT_EQ(sizeof g_s.host, 256u);
    EXPECT_EQ(sizeof g_s.domain, 129u);
    EXPECT_EQ(sizeof g_s.user, 129u);
    EXPECT_EQ(sizeof g_s.password, 257u);
    EXPECT_EQ(sizeof g_s.share_names[0], 81u);
    EXPECT_EQ(sizeof g_s.trees[0].name, 81u);
    EXPECT_EQ(sizeof g_s.neg_blob, 8192u);
    std::memset(g_s.host, 'h', 255);
    g_s.host[255] = '\0';
    EXPECT_EQ(std::strlen(g_s.host), 255u);
    std::memset(g_s.host, 0, sizeof g_s.host);
}

TEST(SessionRecord, TableSizes)
{
    EXPECT_EQ(sizeof g_s.trees / sizeof g_s.trees[0], 8u);
    EXPECT_EQ(sizeof g_s.files / sizeof g_s.files[0], 64u);
    EXPECT_EQ(sizeof g_s.share_names / sizeof g_s.share_names[0], 256u);
}

}  // namespace
