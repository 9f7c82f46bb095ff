#include "adapters/rch_harness.h"

#include <string>

namespace {

rapidjson::Document parse(const std::string &text)
{
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    EXPECT_FALSE(doc.HasParseError()) << text;
    return doc;
}

const rapidjson::Value *find_item(const rapidjson::Value &items, const char *name)
{
    for (const rapidjson::Value &it : items.GetArray())
        if (std::string(it["name"].GetString()) == name)
            return &it;
    return nullptr;
}

TEST_F(RequestHandler, ListAtTheTopAnswersTheShares)
{
    const std::string shares = R"([{"name":"Media","path":"Media","folder":true,"size":-1},)"
                               R"({"name":"Music","path":"Music","folder":true,"size":-1},)"
                               R"({"name":"D$","path":"D$","folder":true,"size":-1}])";
    struct Case {
        const char *path;
        const char *echoed;
    } cases[] = {{nullptr, ""}, {"", ""}, {"/", "/"}};
    for (const Case &c : cases) {
        Reply r = rch_list(kAlice, c.path);
        EXPECT_EQ(r.code, 0) << r.text;
        EXPECT_EQ(r.text, std::string(R"({"path":")") + c.echoed + R"(","items":)" + shares + "}");
        expect_scope_closed(c.echoed);
    }
}

TEST_F(RequestHandler, ListAFolderGivesFilesLocators)
{
    Reply r = rch_list(kAlice, "/Media/Movies/");
    ASSERT_EQ(r.code, 0) << r.text;
    expect_scope_closed("/Media/Movies/");
    rapidjson::Document doc = parse(r.text);
    EXPECT_STREQ(doc["path"].GetString(), "/Media/Movies/");
    const rapidjson::Value &items = doc["items"];
    ASSERT_EQ(items.Size(), 5u) << r.text << ": hidden names are left out";
    EXPECT_EQ(r.text.find("profile"), std::string::npos);
    EXPECT_EQ(r.text.find("eaDir"), std::string::npos);

    EXPECT_EQ(r.text.find(R"({"name":"a.mkv","path":"Movies/a.mkv","folder":false,"size":300000,)"
                          R"("mtime_ms":1500000000000,"locator":"smb1://fake/Media/Movies/a.mkv"})"),
              r.text.find(R"({"name":"a.mkv")"))
        << r.text;
    const rapidjson::Value *sub = find_item(items, "Sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE((*sub)["folder"].GetBool());
    EXPECT_EQ((*sub)["size"].GetInt64(), -1);
    EXPECT_FALSE(sub->HasMember("locator"));
    EXPECT_FALSE(sub->HasMember("hidden"));
    const rapidjson::Value *quoted = find_item(items, "quote\"back\\slash\ttab.txt");
    ASSERT_NE(quoted, nullptr) << r.text;
    EXPECT_STREQ((*quoted)["locator"].GetString(), "smb1://fake/Media/Movies/quote\"back\\slash\ttab.txt");
}

TEST_F(RequestHandler, ListPathsAndPorts)
{
    const char *on_8445 = R"({"HostName":"fake","UserName":"alice","Password":"pw","ServerPort":8445})";
    struct Case {
        const char *settings;
        const char *path;
        const char *expected_item;  // a piece of the reply
    } cases[] = {
        {kAlice, "Media", R"("locator":"smb1://fake/Media/big.bin")"},
        {kAlice, "\\Media", R"("path":"big.bin","folder":false,"size":5368709120)"},
        {kAlice, "Media\\Movies", R"("locator":"smb1://fake/Media/Movies/hello.txt")"},
        {on_8445, "Media/Movies", R"("locator":"smb1://fake:8445/Media/Movies/a.mkv")"},
        {kAlice, "Media/Movies/Sub", R"({"path":"Media/Movies/Sub","items":[]})"},
        {kAlice, "Music", R"({"name":"song.mp3","path":"song.mp3","folder":false,"size":8,)"},
    };
    for (const Case &c : cases) {
        Reply r = rch_list(c.settings, c.path);
        EXPECT_EQ(r.code, 0) << c.path << ": " << r.text;
        EXPECT_NE(r.text.find(c.expected_item), std::string::npos) << c.path << ": " << r.text;
        expect_scope_closed(c.path);
    }
}

TEST_F(RequestHandler, ListKeepsTheServersOrderOverManyPages)
{
    Reply r = rch_list(kAlice, "Media/Paged");
    ASSERT_EQ(r.code, 0) << r.text;
    rapidjson::Document doc = parse(r.text);
    ASSERT_EQ(doc["items"].Size(), 120u);
    for (const rapidjson::Value &it : doc["items"].GetArray()) {
        std::string path = it["path"].GetString();
        EXPECT_EQ(path.rfind("Paged/p", 0), 0u) << path;
        EXPECT_EQ(std::string(it["locator"].GetString()), "smb1://fake/Media/" + path);
    }
    // The same order and items as the library's own per-item texts.
    ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0);
    ASSERT_EQ(vnsmb1c_list("Media", "Paged"), 120);
    for (int i = 0; i < 120; i++) {
        rapidjson::Document one = parse(vnsmb1c_item_json(i));
        EXPECT_STREQ(doc["items"][static_cast<rapidjson::SizeType>(i)]["name"].GetString(), one["name"].GetString())
            << "item " << i;
    }
}

TEST_F(RequestHandler, ListFailures)
{
    const std::string long_share = "/" + std::string(81, 's') + "/x";
    struct Case {
        const char *settings;
        const char *path;
        int code;
        const char *text;  // NULL: the library's last error text
    } cases[] = {
        {kAlice, "//", -2, "the path does not name a share"},
        {kAlice, long_share.c_str(), -2, "share name longer than 80 bytes"},
        {kAlice, "Media/../x", -2, nullptr},
        {kAlice, "Media/NoSuchFolder", -2, nullptr},
        {kAlice, "NoShare/x", -2, nullptr},
        {R"({"HostName":"fake","UserName":"alice","Password":"no"})", "Media", -1, nullptr},
        {"[]", "Media", -8, "settings: not an object"},
    };
    for (const Case &c : cases) {
        Reply r = rch_list(c.settings, c.path);
        EXPECT_EQ(r.code, c.code) << c.path << ": " << r.text;
        EXPECT_EQ(r.text, err_doc(c.text != nullptr ? c.text : vnsmb1c_last_error())) << c.path;
        expect_scope_closed(c.path);
    }
}

TEST_F(RequestHandler, ListReplyMustFitWhole)
{
    Reply full = rch_list(kAlice, "Media/Movies");
    ASSERT_EQ(full.code, 0);
    const auto len = static_cast<int32_t>(full.text.size());
    struct Case {
        int32_t capacity;
        int code;
    } cases[] = {{len, -9}, {0, -9}, {-1, -9}, {len + 1, 0}};
    for (const Case &c : cases) {
        Reply r = rch_list(kAlice, "Media/Movies", c.capacity);
        EXPECT_EQ(r.code, c.code) << c.capacity;
        EXPECT_EQ(r.text, c.code == 0 ? full.text : "") << c.capacity;
        expect_scope_closed("capacity");
    }
    EXPECT_EQ(vnrch_get()->list(nullptr, kAlice, "Media", nullptr, 1 << 20), -9);
    expect_scope_closed("no buffer");
}

}  // namespace

namespace {

// A name of 250 control characters: 1500 bytes once escaped, so its item
// text (name and path) passes 2367 bytes.
std::string escaped_controls(int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += "\\u0001";
    return s;
}

class LongItemText : public RequestHandler {
protected:
    const char *tree() const override { return tree_.c_str(); }
    const std::string tree_ = R"({"shares":[{"name":"Media","root":[{"name":"ok.txt","text":"x"},{"name":")" +
                              escaped_controls(250) + R"(","text":"y"}]}],"users":[{"name":"alice","pass":"pw"}]})";
};

TEST_F(LongItemText, ItemWhoseTextWouldBeCutIsAnsweredEmpty)
{
    Reply r = rch_list(kAlice, "Media");
    ASSERT_EQ(r.code, 0) << r.text.substr(0, 200);
    EXPECT_NE(r.text.find(R"({"name":"ok.txt","path":"ok.txt","folder":false,"size":1,)"), std::string::npos);
    EXPECT_NE(r.text.find(R"({"name":"","path":"","folder":false,"size":0,"mtime_ms":0,)"
                          R"("locator":"smb1://fake/Media/"})"),
              std::string::npos)
        << r.text.substr(0, 300);
    expect_scope_closed("long item");
}

}  // namespace
