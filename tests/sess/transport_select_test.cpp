#include <gtest/gtest.h>

#include "fake/fake.h"
#include "sess/lifecycle.h"
#include "sess/session_state.h"
#include "sess/transport_select.h"
#include "util/error.h"

namespace {

int post_ok(void *, const char *, const char *, const char *, char **, long *, char **)
{
    return 0;
}

class Selection : public ::testing::Test {
protected:
    void SetUp() override
    {
        vnb_state_ensure_init();
        sess_reset();
    }
    void TearDown() override
    {
        sess_reset();
        vnb_transport_restore(VNSMB1C_MODE_SOCKET, nullptr);
    }
};

TEST_F(Selection, RestoreInstallsOnlyUsableSelections)
{
    vnsmb1c_HostIo usable{nullptr, nullptr, post_ok, nullptr};
    vnsmb1c_HostIo no_post{nullptr, nullptr, nullptr, nullptr};
    struct Case {
        const char *what;
        int32_t mode;
        const vnsmb1c_HostIo *io;
        int32_t installed;
        const vnsmb1c_HostIo *kept_io;
    } cases[] = {
        {"host io", 1, &usable, 1, &usable},
        {"host io without http_post", 1, &no_post, 0, nullptr},
        {"host io without io", 1, nullptr, 0, nullptr},
        {"fake, io dropped", 2, &usable, 2, nullptr},
        {"socket", 0, &usable, 0, nullptr},
        {"unknown mode", 7, &usable, 0, nullptr},
        {"negative mode", -1, nullptr, 0, nullptr},
    };
    for (const Case &c : cases) {
        vnb_transport_restore(1, &usable);  // something else selected before
        EXPECT_EQ(vnb_transport_restore(c.mode, c.io), c.installed) << c.what;
        int32_t mode = -5;
        const vnsmb1c_HostIo *io = &no_post;
        vnb_transport_peek(&mode, &io);
        EXPECT_EQ(mode, c.installed) << c.what;
        EXPECT_EQ(io, c.kept_io) << c.what;
    }
    vnb_transport_peek(nullptr, nullptr);
}

TEST_F(Selection, RestoreNeverDropsTheSession)
{
    g_s.established = 1;
    vnb_transport_restore(2, nullptr);
    EXPECT_EQ(g_s.established, 1);
    g_s.established = 0;
}

TEST_F(Selection, RebuildMakesTheSelectedKind)
{
    vnb_transport_restore(0, nullptr);
    ASSERT_EQ(vnb_transport_rebuild(), 0);
    EXPECT_NE(g_s.transport.context, nullptr) << "a socket record, not yet connected";
    EXPECT_NE(g_s.transport.connect, nullptr);
    EXPECT_NE(g_s.transport.close, nullptr);
    sess_reset();

    vnsmb1c_HostIo usable{nullptr, nullptr, post_ok, nullptr};
    vnb_transport_restore(1, &usable);
    ASSERT_EQ(vnb_transport_rebuild(), 0);
    EXPECT_NE(g_s.transport.context, nullptr);
    EXPECT_EQ(g_s.transport.connect(g_s.transport.context, "h", 445, 10), 0);
    sess_reset();

    g_mode = 1;  // selected without an io: the constructor refuses
    g_io = nullptr;
    EXPECT_EQ(vnb_transport_rebuild(), -6);
    EXPECT_STREQ(vnb_error(), "io without http_post");
}

// Mode 2 installs the fake kind: no context, and a connect that only finds
// the in-process server under the host name "fake" once a tree is loaded.
TEST_F(Selection, FakeModeBuildsTheFakeKind)
{
    ASSERT_EQ(vnb_fake_load(R"({"shares":[{"name":"m"}]})"), 0);
    vnb_transport_restore(2, nullptr);
    ASSERT_EQ(vnb_transport_rebuild(), 0);
    const Transport &t = g_s.transport;
    EXPECT_EQ(t.context, nullptr);
    ASSERT_NE(t.connect, nullptr);
    EXPECT_EQ(t.connect(t.context, "FAKE", 445, 10), 0);
    EXPECT_EQ(t.connect(t.context, "10.0.0.1", 445, 10), -1);
    EXPECT_STREQ(vnb_error(), "no fake server for 10.0.0.1");

    ASSERT_EQ(vnb_fake_load(nullptr), -1);  // no tree: the server is gone
    EXPECT_EQ(t.connect(t.context, "fake", 445, 10), -1);
}

}  // namespace
