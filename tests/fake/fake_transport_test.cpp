// The fake server as a message transport: requests go to one connection of
// the in-process fake server and its checked answers wait to be received.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fake/fake.h"
#include "fake/fake_transport.h"
#include "net/support/smb_frames.h"
#include "util/error.h"
#include "support/test_env.h"

namespace {

Bytes bytes_of(const ByteBuffer &b)
{
    return Bytes(b.data, b.data + b.len);
}

Bytes file_bytes(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// A fake transport over a freshly loaded small tree; the tree is unloaded
// afterwards (a failed load leaves none), so no test sees another's server.
class FakeExchange : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(vnb_fake_load(kSmallFakeTree), 0);
        t = vnb_fake_transport();
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->open("fake", 445, 1000), 0);
    }
    void TearDown() override
    {
        vnb_buf_free(&reply);
        t.reset();  // drops answers a test left uncollected
        vnb_fake_load(nullptr);
    }
    int32_t exchange(const Bytes &req)
    {
        int32_t rc = t->send(req);
        return rc != 0 ? rc : t->recv(reply, 1000);
    }
    std::unique_ptr<MsgTransport> t;
    ByteBuffer reply{};
};

TEST(FakeKind, AnsweredInOrderSoRequestsMayGoAhead)
{
    std::unique_ptr<MsgTransport> t = vnb_fake_transport();
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->pipelines());
}

TEST(FakeKind, ConnectsOnlyToTheHostFakeWithATreeLoaded)
{
    struct Case {
        const char *host;
        bool loaded;
        int rc;
        std::string text;  // the error text afterwards
    };
    const std::string long_host(300, 'h');
    const std::vector<Case> cases = {
        {"fake", true, 0, "untouched"},
        {"FAKE", true, 0, "untouched"},
        {"FaKe", true, 0, "untouched"},
        {"fake", false, -1, "untouched"},  // no tree: refused without a text
        {"10.0.0.1", true, -1, "no fake server for 10.0.0.1"},
        {"10.0.0.1", false, -1, "no fake server for 10.0.0.1"},
        {"fake.example", true, -1, "no fake server for fake.example"},
        {"", true, -1, "no fake server for "},
        {nullptr, true, -1, "no fake server for "},
        {long_host.c_str(), true, -1, "no fake server for " + long_host.substr(0, 200)},
    };
    std::unique_ptr<MsgTransport> t = vnb_fake_transport();
    ASSERT_NE(t, nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.host ? c.host : "(null)") << (c.loaded ? " loaded" : " empty"));
        if (c.loaded) {
            ASSERT_EQ(vnb_fake_load(kSmallFakeTree), 0);
        } else {
            vnb_fake_load(nullptr);
        }
        ASSERT_EQ(vnb_fake_loaded(), c.loaded ? 1 : 0);
        vnb_set_error("untouched");
        EXPECT_EQ(t->open(c.host, 0, 0), c.rc);
        EXPECT_EQ(vnb_error(), c.text);
    }
    t.reset();
    vnb_fake_load(nullptr);
}

TEST(FakeKind, NothingIsSentBeforeAnOpen)
{
    ASSERT_EQ(vnb_fake_load(kSmallFakeTree), 0);
    std::unique_ptr<MsgTransport> t = vnb_fake_transport();
    ASSERT_NE(t, nullptr);
    const Bytes req = negotiate_request(1);
    EXPECT_EQ(t->send(req), -1);
    EXPECT_STREQ(vnb_error(), "not connected to the fake server");
    ASSERT_EQ(t->open("fake", 0, 0), 0);
    t->close();
    EXPECT_EQ(t->send(req), -1);
    EXPECT_EQ(vnb_fake_count(kNegotiate), 0);
    vnb_fake_load(nullptr);
}

TEST_F(FakeExchange, NegotiateIsAnsweredFromTheTree)
{
    const Bytes req = negotiate_request(0x1234);
    ASSERT_EQ(exchange(req), 0) << vnb_error();
    expect_negotiate_reply(bytes_of(reply), 0x1234);
    EXPECT_EQ(reply.data[reply.len], 0);
    EXPECT_EQ(vnb_fake_count(kNegotiate), 1);
}

TEST_F(FakeExchange, AnswersThatAreMissingOrBroken)
{
    struct Case {
        const char *name;
        Bytes req;
        bool unload;
        int garbage;
        const char *text;
    };
    Bytes not_smb = negotiate_request(1);
    not_smb[0] = 0xFE;
    const std::vector<Case> cases = {
        {"no tree loaded", negotiate_request(1), true, 0, "the fake server produced no reply"},
        {"empty request", {}, false, 0, "the fake server produced no reply"},
        {"shorter than an SMB1 header", Bytes(20, 0xFF), false, 0, "the fake server produced no reply"},
        {"not an SMB1 message", not_smb, false, 0, "the fake server produced no reply"},
        {"garbage fault", negotiate_request(1), false, 1, "fake reply too short"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(vnb_fake_load(c.unload ? nullptr : kSmallFakeTree), c.unload ? -1 : 0);
        if (c.garbage) {
            ASSERT_EQ(vnb_fake_fault("garbage", c.garbage), 0);
        }
        EXPECT_EQ(exchange(c.req), -2);
        EXPECT_STREQ(vnb_error(), c.text);
        EXPECT_EQ(reply.len, 0u);
    }
}

TEST_F(FakeExchange, GarbageFaultLastsForItsCount)
{
    ASSERT_EQ(vnb_fake_fault("garbage", 2), 0);
    const Bytes req = negotiate_request(7);
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(exchange(req), -2);
        EXPECT_STREQ(vnb_error(), "fake reply too short");
    }
    ASSERT_EQ(exchange(req), 0) << vnb_error();
    expect_negotiate_reply(bytes_of(reply), 7);
}

TEST_F(FakeExchange, AnswersWaitForTheReceiveInOrder)
{
    EXPECT_EQ(t->recv(reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "no fake reply is pending");

    const Bytes first = negotiate_request(1);
    const Bytes third = negotiate_request(3);
    vnb_set_error("untouched");
    ASSERT_EQ(t->send(first), 0);
    ASSERT_EQ(t->send({}), 0);  // its failure shows when collected
    ASSERT_EQ(t->send(third), 0);
    EXPECT_STREQ(vnb_error(), "untouched");

    ASSERT_EQ(t->recv(reply, 100), 0);
    EXPECT_EQ(mid_of(bytes_of(reply)), 1);
    EXPECT_EQ(t->recv(reply, 100), -2);
    EXPECT_STREQ(vnb_error(), "the fake server produced no reply");
    EXPECT_EQ(reply.len, 0u);
    ASSERT_EQ(t->recv(reply, 100), 0);
    EXPECT_EQ(mid_of(bytes_of(reply)), 3);
    EXPECT_EQ(t->recv(reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "no fake reply is pending");
}

TEST_F(FakeExchange, ReopeningDropsUncollectedAnswers)
{
    const Bytes req = negotiate_request(9);
    ASSERT_EQ(t->send(req), 0);
    ASSERT_EQ(t->send(req), 0);
    ASSERT_EQ(t->open("fake", 445, 1000), 0);  // the leak checker sees anything left behind
    EXPECT_EQ(t->recv(reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "no fake reply is pending");
    ASSERT_EQ(t->send(req), 0);
    t->close();
    EXPECT_EQ(t->recv(reply, 100), -1);
}

TEST_F(FakeExchange, EachTransportIsAConnectionOfItsOwn)
{
    std::unique_ptr<MsgTransport> other = vnb_fake_transport();
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(other->open("fake", 445, 1000), 0);
    const Bytes a = negotiate_request(11);
    const Bytes b = negotiate_request(12);
    ASSERT_EQ(t->send(a), 0);
    ASSERT_EQ(other->send(b), 0);
    ByteBuffer other_reply{};
    ASSERT_EQ(other->recv(other_reply, 100), 0) << vnb_error();
    EXPECT_EQ(mid_of(bytes_of(other_reply)), 12);
    ASSERT_EQ(t->recv(reply, 100), 0) << vnb_error();
    EXPECT_EQ(mid_of(bytes_of(reply)), 11);
    vnb_buf_free(&other_reply);
    EXPECT_EQ(vnb_fake_count(kNegotiate), 2);
}

// The dump switches are read at every frame, so each test sets and clears them.
class FakeDumps : public FakeExchange {
protected:
    void SetUp() override
    {
        FakeExchange::SetUp();
        std::string base = ::testing::TempDir() + "vnsmb1c_fake_dump_" + std::to_string(::getpid());
        for (int i = 0; i < 3; i++) {
            files[i] = base + "_" + kVariables[i];
            std::remove(files[i].c_str());
            setenv(kVariables[i], files[i].c_str(), 1);
        }
    }
    void TearDown() override
    {
        for (int i = 0; i < 3; i++) {
            unsetenv(kVariables[i]);
            std::remove(files[i].c_str());
        }
        FakeExchange::TearDown();
    }
    static constexpr const char *kVariables[3] = {"VNSMB1C_DUMP", "VNSMB1C_DUMPREQ", "VNSMB1C_DUMPREP"};
    std::string files[3];  // in the order of kVariables
};

TEST_F(FakeDumps, RequestBareAndTheFakesFrameAsProduced)
{
    const Bytes req = negotiate_request(0x40, "NT1");
    ASSERT_EQ(req.size(), 40u);
    ASSERT_EQ(exchange(req), 0) << vnb_error();

    Bytes dumped = file_bytes(files[0]);
    ASSERT_EQ(dumped.size(), 44u);
    EXPECT_EQ(dumped, with_nbss_header(req));
    EXPECT_EQ(file_bytes(files[1]), req);  // exactly the 40 request bytes
    Bytes rep = file_bytes(files[2]);
    ASSERT_GT(reply.len, 32u);
    ASSERT_EQ(rep.size(), 4 + reply.len);
    EXPECT_EQ(Bytes(rep.begin(), rep.begin() + 4), (Bytes{0x00, 0x00, 0x00, uint8_t(reply.len)}));
    EXPECT_EQ(rep, with_nbss_header(bytes_of(reply)));

    // Switched off between frames: the files stay as they are.
    for (const char *v : kVariables)
        unsetenv(v);
    ASSERT_EQ(exchange(req), 0) << vnb_error();
    EXPECT_EQ(file_bytes(files[0]).size(), 44u);
    EXPECT_EQ(file_bytes(files[1]).size(), 40u);
    EXPECT_EQ(file_bytes(files[2]).size(), rep.size());
}

TEST_F(FakeDumps, ABrokenAnswerDumpsOnlyTheRequestFrame)
{
    ASSERT_EQ(vnb_fake_fault("garbage", 1), 0);
    const Bytes req = negotiate_request(0x41, "NT1");
    EXPECT_EQ(exchange(req), -2);
    EXPECT_EQ(file_bytes(files[0]), with_nbss_header(req));
    EXPECT_FALSE(std::ifstream(files[1]).good());
    EXPECT_FALSE(std::ifstream(files[2]).good());
}

}  // namespace
