#include "adapters/rch_harness.h"

#include <cstddef>

namespace {

TEST(RequestHandlerTable, BothExportsGiveTheSameTable)
{
    const vnsmb1c_RequestHandler *t = vnrch_get();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t, vnsmb1c_vnrch_handler());
    EXPECT_STREQ(t->runtime_type, "SMBCIFS");
    EXPECT_EQ(t->word, 0x23u);
    EXPECT_NE(t->validate, nullptr);
    EXPECT_NE(t->list, nullptr);
    EXPECT_NE(t->stream, nullptr);
    EXPECT_NE(t->download, nullptr);
}

TEST(RequestHandlerTable, DownloadIsRefusedWithoutLookingAtItsArguments)
{
    const std::string refusal = err_doc("SMBCIFS has no download capability (the legacy DownloadAsync returned null)");
    Reply r = call_into(kReplyCap, [](char *out, int32_t cap) {
        return vnrch_get()->download(nullptr, nullptr, nullptr, out, cap);
    });
    EXPECT_EQ(r.code, -6);
    EXPECT_EQ(r.text, refusal);

    r = call_into(10, [](char *out, int32_t cap) {
        return vnrch_get()->download(nullptr, kAlice, R"({"path":"Media/a"})", out, cap);
    });
    EXPECT_EQ(r.code, -6);
    EXPECT_EQ(r.text, "") << "a reply that does not fit is not cut";
    EXPECT_EQ(vnrch_get()->download(nullptr, nullptr, nullptr, nullptr, 0), -6);
}

TEST_F(RequestHandler, RefusedSettingsAnswerAnErrorDocument)
{
    const std::string long_host(300, 'h');
    const std::string long_host_settings = R"({"HostName":")" + long_host + R"("})";
    const std::string long_host_bad_port = R"({"HostName":")" + long_host + R"(","ServerPort":"x"})";
    struct Case {
        const char *settings;
        const char *text;
    } cases[] = {
        {nullptr, "settings: NULL"},
        {"nope", "settings: not JSON"},
        {R"({"HostName":"fake"} x)", "settings: not JSON"},
        {"\"\xff\"", "settings: not JSON"},
        // Texts that end inside a UTF-8 sequence: nothing past the end is read.
        {"{\"a\xF1", "settings: not JSON"},
        {"{\"HostName\":\"fake\",\"UserName\":\"\xE2\x82", "settings: not JSON"},
        {"[]", "settings: not an object"},
        {"{}", "settings: HostName is required"},
        {R"({"HostName":7})", "settings: HostName must be a string"},
        {R"({"HostName":""})", "settings: HostName is required"},
        {R"({"HostName":7,"HostName":"fake"})", "settings: HostName must be a string"},
        {R"({"FullUrl":123})", "settings: FullUrl must be a string"},
        {R"({"HostName":"fake","ServerPort":true})", "settings: ServerPort must be an integer or a string"},
        {R"({"HostName":"fake","Port":1.5})", "settings: Port must be an integer or a string"},
        {R"({"HostName":"fake","DomainName":{}})", "settings: DomainName must be a string"},
        {R"({"HostName":"fake","UserName":5})", "settings: UserName must be a string"},
        {R"({"HostName":"fake","Password":[]})", "settings: Password must be a string"},
        {R"({"HostName":"fake","Path":1})", "settings: Path must be a string"},
        {R"({"HostName":"fake","LocalPort":false})", "settings: LocalPort must be an integer or a string"},
        {R"({"HostName":"fake","ServerPort":0})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","ServerPort":"0"})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","ServerPort":70000})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","ServerPort":-1})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","ServerPort":18446744073709551615})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","Port":70000})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","ServerPort":null,"Port":0})", "settings: ServerPort out of range"},
        {R"({"FullUrl":"smb://"})", "settings: HostName is required"},
        {R"({"HostName":"fake","ServerPort":"445 "})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","ServerPort":"-1"})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","ServerPort":"65536"})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","ServerPort":" "})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","Port":"70000"})", "settings: ServerPort out of range"},
        {R"({"HostName":"fake","Port":"99999999999999999999"})", "settings: ServerPort out of range"},
        {long_host_bad_port.c_str(), "settings: ServerPort out of range"},
        {long_host_settings.c_str(), "settings: HostName too long"},
    };
    for (const Case &c : cases) {
        const char *what = c.settings != nullptr ? c.settings : "NULL";
        int64_t before = negotiations();
        Reply r = rch_validate(heap_text(c.settings).get());
        EXPECT_EQ(r.code, -8) << what;
        EXPECT_EQ(r.text, err_doc(c.text)) << what;
        EXPECT_EQ(negotiations(), before) << what << ": no connect";
        expect_scope_closed(what);
    }
}

TEST_F(RequestHandler, ErrorDocumentThatDoesNotFitLeavesTheBufferAlone)
{
    Reply r = rch_validate(nullptr, 10);
    EXPECT_EQ(r.code, -8);
    EXPECT_EQ(r.text, "");
    const int32_t exact = static_cast<int32_t>(err_doc("settings: NULL").size());
    EXPECT_EQ(rch_validate(nullptr, exact).text, "");
    EXPECT_EQ(rch_validate(nullptr, exact + 1).text, err_doc("settings: NULL"));
    EXPECT_EQ(vnrch_get()->validate(nullptr, nullptr, nullptr, 100), -8);
}

// Each request runs on a session of its own: the C interface's session stays
// connected through requests that fail and requests that succeed.
TEST_F(RequestHandler, RequestsLeaveTheDefaultSessionAlone)
{
    ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    remember_selection();
    ASSERT_EQ(established_, 1);
    EXPECT_EQ(rch_validate(nullptr).code, -8);
    expect_scope_closed("NULL settings");
    EXPECT_EQ(rch_validate(kAlice).code, 0);
    expect_scope_closed("validate");
    EXPECT_EQ(rch_list(kAlice, "Media/Movies").code, 0);
    expect_scope_closed("list");
    EXPECT_GT(vnsmb1c_list("Media", "Movies"), 0) << vnsmb1c_last_error();
    vnsmb1c_disconnect();
}

// Host and port reach the session: stream answers them in its URL.
TEST_F(RequestHandler, SettingsChooseHostPortAndIdentity)
{
    const std::string long_user = R"({"HostName":"fake","UserName":")" + std::string(300, 'u') + R"("})";
    struct Case {
        const char *settings;
        int code;
        const char *url_prefix;  // NULL when the request fails
    } cases[] = {
        {kAlice, 0, "smb1://fake/"},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","ServerPort":"+445"})", 0, "smb1://fake:445/"},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","ServerPort":65535})", 0, "smb1://fake:65535/"},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","Port":445})", 0, "smb1://fake:445/"},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","ServerPort":null,"Port":1})", 0, "smb1://fake:1/"},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","Port":"445"})", 0, "smb1://fake:445/"},
        {R"({"HostName":"fake","UserName":"alice","Password":"pw","ServerPort":8445,"ServerPort":"x"})", 0,
         "smb1://fake:8445/"},
        {R"({"FullUrl":"smb://alice:pw@fake:8445/ignored","HostName":"other"})", 0, "smb1://fake:8445/"},
        {R"({"FullUrl":"smb://bob:no@fake:8445/","UserName":"alice","Password":"pw","ServerPort":"9"})", 0,
         "smb1://fake:9/"},
        {R"({"FullUrl":"smb://","HostName":"fake","UserName":"alice","Password":"pw"})", 0, "smb1://fake/"},
        {R"({"FullUrl":null,"HostName":"fake","UserName":"alice","Password":"pw","Path":null})", 0, "smb1://fake/"},
        {R"({"HostName":"fake","UserName":"alice","Password":"wrong"})", -1, nullptr},
        {long_user.c_str(), 0, "smb1://fake/"},
    };
    for (const Case &c : cases) {
        Reply r = rch_stream(c.settings, R"({"path":"Media/Movies/a.mkv"})");
        EXPECT_EQ(r.code, c.code) << c.settings << ": " << r.text;
        const std::string expected =
            c.url_prefix != nullptr
                ? std::string(R"({"url":")") + c.url_prefix + R"(Media/Movies/a.mkv","size":300000})"
                : err_doc(vnsmb1c_last_error());
        EXPECT_EQ(r.text, expected) << c.settings;
        expect_scope_closed(c.settings);
    }
    // The over-long user name was cut, not refused: the logon went ahead.
    EXPECT_EQ(rch_validate(long_user.c_str()).code, 0);
}

// Stream and list answer locators with an IPv6 host in brackets; the
// requests are relayed through the library's fake-backed HostIo, which
// takes any host.
TEST_F(RequestHandler, Ipv6HostsAreBracketedInLocators)
{
    ASSERT_EQ(vnsmb1c_use_io(vnsmb1c_io_fake()), 0) << vnsmb1c_last_error();
    remember_selection();
    struct Case {
        const char *settings;
        const char *url_prefix;
    } const cases[] = {
        {R"({"HostName":"::1","ServerPort":4471,"UserName":"alice","Password":"pw"})", "smb1://[::1]:4471/"},
        {R"({"HostName":"fe80::1","UserName":"alice","Password":"pw"})", "smb1://[fe80::1]/"},
        {R"({"FullUrl":"smb://alice:pw@[::1]:4471/Media"})", "smb1://[::1]:4471/"},
        {R"({"FullUrl":"smb://[::1]/Media","UserName":"alice","Password":"pw"})", "smb1://[::1]/"},
        {R"({"HostName":"127.0.0.1","Port":"4471","UserName":"alice","Password":"pw"})", "smb1://127.0.0.1:4471/"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.settings);
        Reply stream = rch_stream(c.settings, R"({"path":"Media/Movies/a.mkv"})");
        EXPECT_EQ(stream.code, 0) << stream.text;
        EXPECT_EQ(stream.text, std::string(R"({"url":")") + c.url_prefix + R"(Media/Movies/a.mkv","size":300000})");
        Reply list = rch_list(c.settings, "Media/Movies");
        EXPECT_EQ(list.code, 0) << list.text;
        EXPECT_NE(list.text.find(std::string("\"") + c.url_prefix + "Media/Movies/hello.txt\""), std::string::npos)
            << list.text;
        expect_scope_closed(c.settings);
    }
}

// A host's own HostIo that records whether it was used.
struct CountingIo {
    vnsmb1c_HostIo io{};
    int posts = 0;
};

int counting_post(void *context, const char *, const char *, const char *, char **, long *, char **)
{
    ++static_cast<CountingIo *>(context)->posts;
    return -1;
}

TEST_F(RequestHandler, OnlyTheLibrarysFakeBackedIoIsTakenUp)
{
    CountingIo host;
    host.io.context = &host;
    host.io.http_post = counting_post;
    const char *refused = R"({"HostName":"127.0.0.1","ServerPort":1,"UserName":"alice","Password":"pw"})";
    struct Case {
        const char *name;
        bool sockets;  // sockets selected before the call, else the fake transport
        const vnsmb1c_HostIo *io;
        const char *settings;
        int code;
    } cases[] = {
        {"fake io over sockets", true, vnsmb1c_io_fake(), kAlice, 0},
        {"socket io over sockets", true, vnsmb1c_io_socket(), refused, -4},
        {"host io over sockets", true, &host.io, refused, -4},
        {"fake io over fake", false, vnsmb1c_io_fake(), kAlice, 0},
        {"host io over fake", false, &host.io, kAlice, 0},
    };
    for (const Case &c : cases) {
        if (c.sockets)
            ASSERT_EQ(vnsmb1c_use_sockets(), 0);
        else
            ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);
        remember_selection();
        uint64_t frames = vnsmb1c_frame_count();
        Reply r = rch_validate(c.settings, kReplyCap, c.io);
        EXPECT_EQ(r.code, c.code) << c.name << ": " << r.text;
        if (c.code == 0) {
            EXPECT_GT(vnsmb1c_frame_count(), frames) << c.name;
        }
        expect_scope_closed(c.name);
    }
    EXPECT_EQ(host.posts, 0);
}

TEST_F(RequestHandler, FakeBackedIoRequestsRunThroughTheRelay)
{
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    remember_selection();
    Reply r = call_into(kReplyCap, [](char *out, int32_t cap) {
        return vnrch_get()->list(vnsmb1c_io_fake(), kAlice, "Media/Movies", out, cap);
    });
    EXPECT_EQ(r.code, 0) << r.text << ": sockets could not reach the host fake";
    EXPECT_NE(r.text.find("a.mkv"), std::string::npos);
    expect_scope_closed("list through the fake io");
}

}  // namespace
