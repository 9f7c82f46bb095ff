#include "adapters/rch_harness.h"

#include <chrono>

namespace {

class BigFolder : public RequestHandler {
protected:
    const char *tree() const override
    {
        return R"({"shares":[{"name":"Big","root":[{"name":"F","generate":50000,"prefix":"f"}]}],)"
               R"("users":[{"name":"alice","pass":"pw"}]})";
    }
};

// The reply walks the held listing once; re-reading it for every item
// would take minutes at this size.
TEST_F(BigFolder, FiftyThousandItemsAreAnsweredInOneWalk)
{
    std::string buffer(8 << 20, kUntouched);
    auto start = std::chrono::steady_clock::now();
    int rc = vnrch_get()->list(nullptr, kAlice, "Big/F", buffer.data(), static_cast<int32_t>(buffer.size()));
    auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(rc, 0) << buffer.substr(0, 200);
    expect_scope_closed("big folder");
    rapidjson::Document doc;
    doc.Parse(buffer.c_str());
    ASSERT_TRUE(doc.IsObject());
    const rapidjson::Value &items = doc["items"];
    ASSERT_EQ(items.Size(), 50000u);
    EXPECT_STREQ(items[49999]["locator"].GetString(),
                 ("smb1://fake/Big/" + std::string(items[49999]["path"].GetString())).c_str());
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(took).count(), 60);
}

}  // namespace
