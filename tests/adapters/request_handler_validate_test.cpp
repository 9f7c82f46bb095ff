#include "adapters/rch_harness.h"

#include <set>

namespace {

// {"RuntimeType":"SMBCIFS","ID":"<8>-<4>-4<3>-[89ab]<3>-<12>"} in lower-case hex.
bool is_reply_with_v4_id(const std::string &reply)
{
    const std::string head = R"({"RuntimeType":"SMBCIFS","ID":")";
    if (reply.size() != head.size() + 36 + 2 || reply.compare(0, head.size(), head) != 0 ||
        reply.compare(reply.size() - 2, 2, "\"}") != 0)
        return false;
    const std::string id = reply.substr(head.size(), 36);
    for (size_t i = 0; i < id.size(); i++) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        bool hex = (id[i] >= '0' && id[i] <= '9') || (id[i] >= 'a' && id[i] <= 'f');
        if (dash ? id[i] != '-' : !hex)
            return false;
    }
    return id[14] == '4' && std::string("89ab").find(id[19]) != std::string::npos;
}

TEST_F(RequestHandler, ValidateGivesNewSourcesAnIdentifier)
{
    struct Case {
        const char *settings;
        bool gets_id;
    } cases[] = {
        {kAlice, true},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","ID":""})", true},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","ID":7})", true},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","ID":7,"ID":"x"})", true},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","ID":"mine"})", false},
    };
    std::set<std::string> ids;
    for (const Case &c : cases) {
        Reply r = rch_validate(c.settings);
        ASSERT_EQ(r.code, 0) << c.settings << ": " << r.text;
        if (c.gets_id) {
            EXPECT_EQ(r.text.size(), 69u);
            EXPECT_TRUE(is_reply_with_v4_id(r.text)) << r.text;
            ids.insert(r.text);
        } else {
            EXPECT_EQ(r.text, R"({"RuntimeType":"SMBCIFS"})");
        }
        expect_scope_closed(c.settings);
    }
    EXPECT_EQ(ids.size(), 4u) << "every generated identifier differs";
}

TEST_F(RequestHandler, ValidateReplyNeedsRoomForItsNul)
{
    // Without the pool, the session is logged off whatever the reply.
    const char *unpooled = R"({"HostName":"fake","UserName":"alice","Password":"pw","SessionIdleMs":0})";
    const uint64_t logoffs = static_cast<uint64_t>(vnsmb1c_fake_calls(kCmdLogoff));
    Reply r = rch_validate(unpooled, 69);
    EXPECT_EQ(r.code, -9);
    EXPECT_EQ(r.text, "");
    expect_scope_closed("capacity 69");
    EXPECT_GT(static_cast<uint64_t>(vnsmb1c_fake_calls(kCmdLogoff)), logoffs) << "the session was logged off";

    r = rch_validate(kAlice, 70);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.text.size(), 69u);
    expect_scope_closed("capacity 70");

    EXPECT_EQ(rch_validate(R"({"HostName":"fake","UserName":"alice","Password":"pw","ID":"x"})", 25).code, -9);
    EXPECT_EQ(rch_validate(R"({"HostName":"fake","UserName":"alice","Password":"pw","ID":"x"})", 26).code, 0);
    EXPECT_EQ(vnrch_get()->validate(nullptr, kAlice, nullptr, 100), -9);
    expect_scope_closed("no buffer");
}

TEST_F(RequestHandler, ValidateFailsOnWrongCredentials)
{
    Reply r = rch_validate(R"({"HostName":"fake","UserName":"alice","Password":"nope"})");
    EXPECT_EQ(r.code, -1);
    EXPECT_STREQ(vnsmb1c_last_error(), "SESSION_SETUP: LOGON_FAILURE");
    EXPECT_EQ(r.text, err_doc(vnsmb1c_last_error()));
    expect_scope_closed("wrong password");
}

class OnlyAdminShares : public RequestHandler {
protected:
    const char *tree() const override
    {
        return R"({"shares":[{"name":"ADMIN$"},{"name":"C$"}],"users":[{"name":"alice","pass":"pw"}]})";
    }
};

TEST_F(OnlyAdminShares, ValidateWantsAVisibleShare)
{
    Reply r = rch_validate(kAlice);
    EXPECT_EQ(r.code, -2);
    EXPECT_EQ(r.text, err_doc("connected, but the server lists no shares"));
    expect_scope_closed("no visible share");

    r = rch_list(kAlice, nullptr);
    EXPECT_EQ(r.code, 0) << "an empty share list is not an error for list";
    EXPECT_EQ(r.text, R"({"path":"","items":[]})");
}

}  // namespace
