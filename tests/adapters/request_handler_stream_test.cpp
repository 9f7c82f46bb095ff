#include "adapters/rch_harness.h"
#include "api/session_pool.h"

namespace {

TEST_F(RequestHandler, StreamAnswersUrlAndSize)
{
    const char *on_8445 = R"({"HostName":"fake","UserName":"alice","Password":"pw","ServerPort":8445})";
    struct Case {
        const char *settings;
        const char *entry;
        const char *reply;
    } cases[] = {
        {kAlice, R"({"path":"Media/Movies/a.mkv","folder":false})",
         R"({"url":"smb1://fake/Media/Movies/a.mkv","size":300000})"},
        {on_8445, R"({"path":"Media/Movies/a.mkv"})", R"({"url":"smb1://fake:8445/Media/Movies/a.mkv","size":300000})"},
        {kAlice, R"({"path":"/Media/Movies/a.mkv"})", R"({"url":"smb1://fake//Media/Movies/a.mkv","size":300000})"},
        {kAlice, R"({"path":"Media\\Movies\\a.mkv"})",
         R"({"url":"smb1://fake/Media\\Movies\\a.mkv","size":300000})"},
        // Top of a share: the locator names the share, the URL comes from the session.
        {kAlice, R"({"path":"big.bin","locator":"smb1://fake/Media/big.bin"})",
         R"({"url":"smb1://fake/Media/big.bin","size":5368709120})"},
        {kAlice, R"({"path":"big.bin","locator":"smb1://nas:8445/Media/big.bin","folder":true})",
         R"({"url":"smb1://fake/Media/big.bin","size":5368709120})"},
        {on_8445, R"({"path":"song.mp3","locator":"smb1://fake:8445/Music/song.mp3"})",
         R"({"url":"smb1://fake:8445/Music/song.mp3","size":8})"},
        // A path with a slash ignores the locator.
        {kAlice, R"({"path":"Music/song.mp3","locator":"smb1://fake/Media/big.bin"})",
         R"({"url":"smb1://fake/Music/song.mp3","size":8})"},
    };
    for (const Case &c : cases) {
        Reply r = rch_stream(c.settings, c.entry);
        EXPECT_EQ(r.code, 0) << c.entry << ": " << r.text;
        EXPECT_EQ(r.text, c.reply) << c.entry;
        expect_scope_closed(c.entry);
    }
}

TEST_F(RequestHandler, StreamRefusesBeforeConnecting)
{
    const char *folder = "entry is a folder: a folder has no stream URL";
    struct Case {
        const char *settings;
        const char *entry;
        int code;
        const char *text;
    } cases[] = {
        {nullptr, R"({"path":"Media/Movies/a.mkv"})", -8, "no entry"},
        {kAlice, nullptr, -8, "no entry"},
        {kAlice, "not json", -8, "entry has no path"},
        {kAlice, "{\"path\":\"\xF1", -8, "entry has no path"},
        {kAlice, "{\"pa\xF0\x9F", -8, "entry has no path"},
        {kAlice, "[]", -8, "entry has no path"},
        {kAlice, "{}", -8, "entry has no path"},
        {kAlice, R"({"path":5})", -8, "entry has no path"},
        {kAlice, R"({"path":""})", -8, "entry has no path"},
        {kAlice, R"({"path":"Media/Movies","folder":true})", -2, folder},
        {kAlice, R"({"path":"Media","folder":true,"locator":"http://fake/Media/x"})", -2, folder},
        {kAlice, R"({"path":"//"})", -2, "the path does not name a share"},
        {"[]", R"({"path":"//"})", -2, "the path does not name a share"},
    };
    for (const Case &c : cases) {
        const char *what = c.entry != nullptr ? c.entry : "NULL";
        ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0);
        int64_t before = negotiations();
        Reply r = rch_stream(heap_text(c.settings).get(), heap_text(c.entry).get());
        EXPECT_EQ(r.code, c.code) << what << ": " << r.text;
        EXPECT_EQ(r.text, err_doc(c.text)) << what;
        EXPECT_EQ(negotiations(), before) << what << ": no connect";
        EXPECT_EQ(vnb_default_session().established, 1) << what;
        vnsmb1c_disconnect();
        expect_scope_closed(what);
    }
}

TEST_F(RequestHandler, StreamFailuresAfterConnecting)
{
    struct Case {
        const char *settings;
        const char *entry;
        int code;
        const char *text;  // NULL: the library's last error text
        bool connects;
    } cases[] = {
        {kAlice, R"({"path":"Media/Movies/nope.mkv"})", -2, nullptr, true},
        {kAlice, R"({"path":"Media","locator":"smb1://fake/Media"})", -8, "the path names the share Media, not a file in it", true},
        {kAlice, R"({"path":"Media","locator":"http://fake/Media/big.bin"})", -8, "the path names the share Media, not a file in it", true},
        {kAlice, R"({"path":"Media","locator":7})", -8, "the path names the share Media, not a file in it", true},
        {R"({"HostName":"fake","UserName":"alice","Password":"no"})", R"({"path":"Media/big.bin"})", -1, nullptr,
         true},
        {R"({"HostName":"fake","ServerPort":"x"})", R"({"path":"Media/big.bin"})", -8,
         "settings: ServerPort out of range", false},
    };
    for (const Case &c : cases) {
        vnb_pool_drain();  // so that a call that reaches the server connects
        int64_t before = negotiations();
        Reply r = rch_stream(c.settings, c.entry);
        EXPECT_EQ(r.code, c.code) << c.entry << ": " << r.text;
        EXPECT_EQ(r.text, err_doc(c.text != nullptr ? c.text : vnsmb1c_last_error())) << c.entry;
        EXPECT_EQ(negotiations() > before, c.connects) << c.entry;
        expect_scope_closed(c.entry);
    }

    // Without a folder mark the entry counts as a file: the server decides.
    vnb_pool_drain();
    int64_t before = negotiations();
    Reply r = rch_stream(kAlice, R"({"path":"Media/Movies"})");
    EXPECT_GT(negotiations(), before);
    expect_scope_closed("unmarked folder");
    if (r.code != 0) {
        EXPECT_EQ(r.text, err_doc(vnsmb1c_last_error()));
    }
}

TEST_F(RequestHandler, StreamReplyMustFitWhole)
{
    const std::string reply = R"({"url":"smb1://fake/Media/Movies/a.mkv","size":300000})";
    const auto len = static_cast<int32_t>(reply.size());
    struct Case {
        int32_t capacity;
        int code;
    } cases[] = {{len, -9}, {0, -9}, {len + 1, 0}};
    for (const Case &c : cases) {
        Reply r = rch_stream(kAlice, R"({"path":"Media/Movies/a.mkv"})", c.capacity);
        EXPECT_EQ(r.code, c.code) << c.capacity;
        EXPECT_EQ(r.text, c.code == 0 ? reply : "") << c.capacity;
        expect_scope_closed("capacity");
    }
}

}  // namespace
