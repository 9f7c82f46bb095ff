// vnsmb1c serve smb:// against the fake server's network: "/" lists the
// servers discovery finds, each server's shares, folders and files lie
// below its name, and no name a request gives is reached unless discovery
// listed it.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "tools/cli_fixture.h"
#include "tools/serve_fixture.h"

namespace {

using cli_test::CliTest;
using cli_test::Outcome;
using cli_test::slurp;

class ServeNetworkTest : public CliTest {
protected:
    void TearDown() override
    {
        gateway_.stop();
        CliTest::TearDown();
    }

    void start(const std::vector<std::string> &before = {}, const std::vector<std::string> &after = {})
    {
        std::vector<std::string> args = {"--fake", tree_};
        args.insert(args.end(), before.begin(), before.end());
        for (const char *a : {"serve", "smb://", "--listen", "127.0.0.1:0"})
            args.emplace_back(a);
        args.insert(args.end(), after.begin(), after.end());
        ASSERT_TRUE(gateway_.start(VNSMB1C_CLI_PATH, args, log_path())) << gateway_.start_line() << slurp(log_path());
    }
    std::string log_path() const { return dir_ + "/gateway.log"; }

    static size_t count(const std::string &text, const std::string &what)
    {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            n++;
        return n;
    }

    serve_test::Gateway gateway_;
};

TEST_F(ServeNetworkTest, TheRootListsTheServersAndEachServerItsShares)
{
    start({"-U", "media", "-P", "popcorn"}, {"--within", "2"});
    auto client = gateway_.client();

    auto root = client.Get("/?format=json");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->status, 200);
    EXPECT_EQ(root->body,
              R"({"servers":[{"name":"LIVINGROOM-PC","workgroup":"HOME","comment":"Living room","url":"/LIVINGROOM-PC/"},)"
              R"({"name":"MEDIABOX","workgroup":"HOME","comment":"Media library","url":"/MEDIABOX/"},)"
              R"x({"name":"OLDNAS","workgroup":"HOME","comment":"Backups (SMB1 only)","url":"/OLDNAS/"}],"notes":[]})x"
              "\n");
    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->body.find("<a href=\"/MEDIABOX/\">MEDIABOX/</a></td><td>HOME</td><td>Media library</td>"),
              std::string::npos)
        << page->body;

    auto shares = client.Get("/MEDIABOX/?format=json");
    ASSERT_TRUE(shares);
    EXPECT_EQ(shares->status, 200);
    EXPECT_EQ(shares->body, R"({"shares":[{"name":"Media","url":"/MEDIABOX/Media/"},)"
                            R"({"name":"Public","url":"/MEDIABOX/Public/"}]})"
                            "\n");
    auto shares_page = client.Get("/MEDIABOX/");
    ASSERT_TRUE(shares_page);
    EXPECT_NE(shares_page->body.find("<h1><a href=\"/\">Network</a> / MEDIABOX /</h1>"), std::string::npos)
        << shares_page->body;
    EXPECT_NE(shares_page->body.find("<a href=\"/MEDIABOX/Public/\">Public/</a>"), std::string::npos);

    // Below the server, the pages of one server with its name in front.
    auto folder = client.Get("/mediabox/Media/Movies/?format=json");
    ASSERT_TRUE(folder);
    ASSERT_EQ(folder->status, 200) << folder->body;
    rapidjson::Document doc;
    doc.Parse(folder->body.c_str());
    ASSERT_FALSE(doc.HasParseError()) << folder->body;
    EXPECT_STREQ(doc["path"].GetString(), "/MEDIABOX/Media/Movies/");
    ASSERT_EQ(doc["items"].Size(), 4u);
    EXPECT_STREQ(doc["items"][2]["url"].GetString(), "/MEDIABOX/Media/Movies/Sintel%20%282010%29.mkv");
    auto folder_page = client.Get("/MEDIABOX/Media/Movies/");
    ASSERT_TRUE(folder_page);
    EXPECT_NE(folder_page->body.find("<a href=\"/\">Network</a> / <a href=\"/MEDIABOX/\">MEDIABOX</a> / "
                                     "<a href=\"/MEDIABOX/Media/\">Media</a> / Movies /"),
              std::string::npos)
        << folder_page->body;

    auto notes = client.Get("/MEDIABOX/Public/notes.txt");
    ASSERT_TRUE(notes);
    EXPECT_EQ(notes->status, 200);
    EXPECT_EQ(notes->body, fake("cat smb://fake/Public/notes.txt").out);
    auto film = client.Get("/MEDIABOX/Media/Movies/Sintel%20%282010%29.srt", {{"Range", "bytes=10-29"}});
    ASSERT_TRUE(film);
    EXPECT_EQ(film->status, 206);
    EXPECT_EQ(film->body, fake("cat 'smb://fake/Media/Movies/Sintel (2010).srt'").out.substr(10, 20));

    auto playlist = client.Get("/MEDIABOX/Media/TV/?format=m3u&recursive=1");
    ASSERT_TRUE(playlist);
    EXPECT_NE(playlist->body.find("http://127.0.0.1:" + std::to_string(gateway_.port()) +
                                  "/MEDIABOX/Media/TV/Elephants%20Dream/Season%2001/S01E01.mkv\n"),
              std::string::npos)
        << playlist->body;

    struct Case {
        const char *path;
        int status;
        const char *says;
    };
    const Case cases[] = {
        {"/MEDIABOX", 301, "/MEDIABOX/"},
        {"/MEDIABOX/Media", 301, "/MEDIABOX/Media/"},
        // Hosts the fake transport would reach, but discovery never listed:
        // never connected to.
        {"/fake/Public/", 404, "no server \"fake\" was found on the network"},
        {"/127.0.0.1/Public/notes.txt", 404, "no server \"127.0.0.1\" was found on the network"},
        {"/NOSUCH/", 404, "no server \"NOSUCH\" was found on the network"},
        // Listed by a browse list, with no address the fake network answers for.
        {"/OLDNAS/", 502, "cannot reach the server"},
        {"/MEDIABOX/IPC$/", 404, "is not a folder share"},
        {"/MEDIABOX/Media/../Public/", 400, ". or .."},
        {"/MEDIABOX/Media/Movies/missing.mkv", 404, "no such file or folder"},
    };
    httplib::Client plain = gateway_.client();
    plain.set_follow_location(false);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        auto r = plain.Get(c.path);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, c.status) << r->body;
        EXPECT_NE((r->body + r->get_header_value("Location")).find(c.says), std::string::npos) << r->body;
    }
    auto json_failure = client.Get("/NOSUCH/?format=json");
    ASSERT_TRUE(json_failure);
    EXPECT_EQ(json_failure->body, R"({"status":404,"error":"no server \"NOSUCH\" was found on the network"})"
                                  "\n");

    // One discovery for all of the above (the list is kept for a while),
    // and the sessions of each server are its own.
    const std::string log = slurp(log_path());
    EXPECT_EQ(count(log, "the servers of the network looked for: 3 found"), 1u) << log;
    EXPECT_GE(count(log, "MEDIABOX: session 1 logged on"), 1u) << log;
    EXPECT_EQ(count(log, "MEDIABOX: session 1 logged on"), count(log, "MEDIABOX: session 1 logged on (1 of"))
        << log;
    EXPECT_EQ(log.find("fake: session"), std::string::npos) << log;
    EXPECT_EQ(log.find("popcorn"), std::string::npos);
}

// Discovery that may not send anything finds nothing, and says why; no
// server can then be reached through the gateway.
TEST_F(ServeNetworkTest, NothingFoundIsSaidAndNothingReached)
{
    start({"--no-broadcast"});
    auto client = gateway_.client();
    auto root = client.Get("/?format=json");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->status, 200);
    EXPECT_NE(root->body.find(R"({"servers":[],"notes":[")"), std::string::npos) << root->body;
    EXPECT_NE(root->body.find("broadcasts are switched off"), std::string::npos) << root->body;
    auto page = client.Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("No SMB server was found."), std::string::npos) << page->body;
    auto server = client.Get("/MEDIABOX/");
    ASSERT_TRUE(server);
    EXPECT_EQ(server->status, 404);
    EXPECT_EQ(slurp(log_path()).find("logged on"), std::string::npos);
}

}  // namespace
