// Runs in a process of its own: the error text before any failure.
#include <gtest/gtest.h>

#include "util/error.h"

TEST(ErrorTextFresh, EmptyBeforeTheFirstFailure)
{
    ASSERT_NE(vnb_error(), nullptr);
    EXPECT_STREQ(vnb_error(), "");
}
