// The fake-backed HostIo: posts answered by the in-process fake server over
// one connection kept across posts, and whole exchanges relayed through it.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake/fake.h"
#include "fake/fake_client.h"
#include "fake/fake_hostio.h"
#include "fake/fake_transport.h"
#include "net/msg_transport.h"
#include "net/own_hostio.h"
#include "net/support/hostio_post.h"
#include "net/support/smb_frames.h"
#include "util/error.h"
#include "util/status.h"

namespace {

class FakePost : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vnb_fake_load(kSmallFakeTree), 0); }
    void TearDown() override { vnb_fake_load(nullptr); }
};

TEST(FakeHostIo, TheObjectAndItsGet)
{
    EXPECT_EQ(g_sio_fake.context, nullptr);
    EXPECT_EQ(g_sio_fake.get, sio_get);
    EXPECT_EQ(g_sio_fake.http_post, fio_post);
    EXPECT_EQ(g_sio_fake.free, fio_free);
    expect_get_refused(&g_sio_fake);
}

TEST_F(FakePost, NegotiateIsAnsweredAsBase64)
{
    const Bytes req = negotiate_request(0x2222);
    PostResult r = post(&g_sio_fake, "smbrpc://fake:445/frame", b64_text(req).c_str());
    ASSERT_EQ(r.rc, 0) << r.error.value_or("");
    EXPECT_EQ(r.status, 200);
    EXPECT_FALSE(r.error);
    ASSERT_TRUE(r.body);
    expect_negotiate_reply(b64_bytes(r.body->c_str()), 0x2222);  // the message alone, no NBSS header
}

TEST_F(FakePost, Failures)
{
    struct Case {
        const char *name;
        const char *url;
        std::optional<std::string> body;
        bool unload;
        int garbage;
        const char *text;
    };
    const std::string negotiate = b64_text(negotiate_request(1));
    const std::vector<Case> cases = {
        {"URL without port", "smbrpc://fake/frame", negotiate, false, 0, "bad smbrpc url"},
        {"URL checked before the tree", "smbrpc://fake:0/frame", negotiate, true, 0, "bad smbrpc url"},
        {"no tree loaded", "smbrpc://fake:445/frame", negotiate, true, 0, "no fake tree loaded"},
        {"tree checked before the body", "smbrpc://fake:445/frame", "*not base64*", true, 0, "no fake tree loaded"},
        {"body not Base64", "smbrpc://fake:445/frame", "*not base64*", false, 0, "bad base64 body"},
        {"empty body", "smbrpc://fake:445/frame", "", false, 0, "the fake server produced no reply"},
        {"no body", "smbrpc://fake:445/frame", std::nullopt, false, 0, "the fake server produced no reply"},
        {"20-byte request", "smbrpc://fake:445/frame", b64_text(Bytes(20, 0xFF)), false, 0,
         "the fake server produced no reply"},
        {"garbage fault", "smbrpc://any.host:139/frame", negotiate, false, 1, "fake reply too short"},
    };
    for (bool want_error : {true, false}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (want_error ? "" : " (no error pointer)"));
            ASSERT_EQ(vnb_fake_load(c.unload ? nullptr : kSmallFakeTree), c.unload ? -1 : 0);
            if (c.garbage) {
                ASSERT_EQ(vnb_fake_fault("garbage", c.garbage), 0);
            }
            PostResult r = post(&g_sio_fake, c.url, c.body ? c.body->c_str() : nullptr, want_error);
            EXPECT_EQ(r.rc, -1);
            EXPECT_EQ(r.status, kUntouchedStatus);
            EXPECT_FALSE(r.body);
            if (want_error) {
                EXPECT_EQ(r.error, std::optional<std::string>(c.text));
            } else {
                EXPECT_FALSE(r.error);
            }
        }
    }
}

// What the connection holds between posts: the first leg of a logon needs the
// NEGOTIATE that came before it on the same connection.
TEST_F(FakePost, TheConnectionLastsAcrossPosts)
{
    ByteBuffer type1{};
    vnb_ntlm_build_type1(&type1);
    const fk::Req setup = fk::session_setup_ext(fk::buf_bytes(type1));
    vnb_buf_free(&type1);
    for (int round = 0; round < 2; round++) {  // the second NEGOTIATE starts over
        SCOPED_TRACE(round);
        PostResult n = post(&g_sio_fake, "smbrpc://fake:445/frame", b64_text(fk::build(fk::negotiate_req())).c_str());
        ASSERT_EQ(n.rc, 0) << n.error.value_or("");
        PostResult r = post(&g_sio_fake, "smbrpc://fake:445/frame", b64_text(fk::build(setup)).c_str());
        ASSERT_EQ(r.rc, 0) << r.error.value_or("");
        Bytes reply = b64_bytes(r.body->c_str());
        ASSERT_GE(reply.size(), 32u);
        EXPECT_EQ(fk::r32(reply, 5), STATUS_MORE_PROCESSING_REQUIRED);
    }
}

TEST_F(FakePost, PostsAndFakeTransportsReachTheSameServer)
{
    const Bytes req = negotiate_request(3);
    ASSERT_EQ(post(&g_sio_fake, "smbrpc://fake:445/frame", b64_text(req).c_str()).rc, 0);
    std::unique_ptr<MsgTransport> t = vnb_fake_transport();
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->open("fake", 445, 1000), 0);
    ByteBuffer reply{};
    ASSERT_EQ(t->send(req), 0);
    ASSERT_EQ(t->recv(reply, 1000), 0) << vnb_error();
    vnb_buf_free(&reply);
    EXPECT_EQ(vnb_fake_count(kNegotiate), 2);
}

// The relay transport with the fake-backed object as the host's relay.
TEST_F(FakePost, RelayedNegotiate)
{
    std::unique_ptr<MsgTransport> t = vnb_transport_relay(&g_sio_fake);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->open("fake", 0, 1000), 0);
    const Bytes req = negotiate_request(0x3333);
    ByteBuffer reply{};
    ASSERT_EQ(t->send(req), 0);
    ASSERT_EQ(t->recv(reply, 1000), 0) << vnb_error();
    expect_negotiate_reply(Bytes(reply.data, reply.data + reply.len), 0x3333);

    // A broken fake answer is a failed post, which the relay words its own way.
    ASSERT_EQ(vnb_fake_fault("garbage", 1), 0);
    ASSERT_EQ(t->send(req), 0);
    EXPECT_EQ(t->recv(reply, 1000), -1);
    EXPECT_STREQ(vnb_error(), "transport failure");
    vnb_buf_free(&reply);
}

}  // namespace
