// The first identifier of a process comes from counter 0, so its last
// eight bytes are fixed whatever the clock says.
#include "adapters/rch_harness.h"

namespace {

TEST_F(RequestHandler, FirstIdentifierEndsWithTheMultiplierBytes)
{
    Reply r = rch_validate(kAlice);
    ASSERT_EQ(r.code, 0) << r.text;
    ASSERT_EQ(r.text.size(), 69u);
    EXPECT_EQ(r.text.substr(r.text.size() - 2 - 17, 17), "9ddd-6c4f91f44525") << r.text;
    expect_scope_closed("first validate");
}

}  // namespace
