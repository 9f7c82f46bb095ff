// The library's own HostIo objects: relay URL parsing, the socket-backed and
// fake-backed posts, and whole exchanges relayed through them.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "fake/fake.h"
#include "net/net.h"
#include "net/support/script_peer.h"
#include "net/support/smb_frames.h"
#include "util/error.h"

namespace {

constexpr int kUntouchedPort = -12345;
constexpr long kUntouchedStatus = 777;

TEST(SmbrpcUrl, HostAndPortOfTheAuthority)
{
    struct Case {
        std::string url;
        int rc;
        std::string host;  // when rc is 0
        int port;          // as stored, kUntouchedPort when none was read
    };
    const std::string h253(253, 'a');
    const std::string h255(255, 'b');
    const std::string h256(256, 'c');
    const std::vector<Case> cases = {
        {"smbrpc://10.0.0.5:445/frame", 0, "10.0.0.5", 445},
        {"smbrpc://[::1]:445/frame", 0, "::1", 445},
        {"smbrpc://[fe80::1%eth0]:139/frame", 0, "fe80::1%eth0", 139},
        {"smbrpc://a:b:139/x", 0, "a:b", 139},  // the last colon separates
        {"smbrpc://h:1/", 0, "h", 1},
        {"smbrpc://h:65535/any/path:99", 0, "h", 65535},
        {"smbrpc://h: +445/frame", 0, "h", 445},  // read the way atoi reads
        {"smbrpc://h:445junk/frame", 0, "h", 445},
        {"smbrpc://[]:445/frame", 0, "", 445},  // brackets alone leave an empty host
        {"smbrpc://" + h255 + ":445/frame", 0, h255, 445},
        {"smbrpc://[" + h253 + "]:445/frame", 0, h253, 445},
        {"smbrpc://h:0/frame", -1, "", 0},
        {"smbrpc://h:70000/frame", -1, "", 70000},
        {"smbrpc://h:65536/frame", -1, "", 65536},
        {"smbrpc://h:-445/frame", -1, "", -445},
        {"smbrpc://h:/frame", -1, "", 0},
        {"smbrpc://h:99999999999999999999/frame", -1, "", 1000000},
        {"smbrpc://" + h256 + ":445/frame", -1, "", kUntouchedPort},
        {"smbrpc://[" + h253 + "x]:445/frame", -1, "", kUntouchedPort},
        {"smbrpc://:445/frame", -1, "", kUntouchedPort},
        {"smbrpc://h445/frame", -1, "", kUntouchedPort},
        {"smbrpc://h/frame:445", -1, "", kUntouchedPort},  // only the authority counts
        {"smbrpc://h:445", -1, "", kUntouchedPort},
        {"smbrpc:///h:445/frame", -1, "", kUntouchedPort},
        {"smbrpc://", -1, "", kUntouchedPort},
        {"smbrpc://[::1:445/frame", -1, "", kUntouchedPort},
        {"smbrpc://[:445/frame", -1, "", kUntouchedPort},
        {"SMBRPC://h:445/frame", -1, "", kUntouchedPort},
        {"http://h:445/frame", -1, "", kUntouchedPort},
        {"", -1, "", kUntouchedPort},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url.size() > 80 ? c.url.substr(0, 80) + "..." : c.url);
        char host[256] = "untouched";
        int port = kUntouchedPort;
        EXPECT_EQ(parse_smb_url(c.url.c_str(), host, &port), c.rc);
        EXPECT_EQ(port, c.port);
        if (c.rc == 0) {
            EXPECT_EQ(std::string(host), c.host);
        }
    }
    char host[256];
    int port = kUntouchedPort;
    EXPECT_EQ(parse_smb_url(nullptr, host, &port), -1);
    EXPECT_EQ(port, kUntouchedPort);
}

TEST(OwnHostIo, ObjectsAndTheFaceTheyShow)
{
    const HostIo *sock = vnb_vantrelx_io_socket();
    const HostIo *fake = vnb_vantrelx_io_fake();
    ASSERT_EQ(sock, &g_sio_socket);
    ASSERT_EQ(fake, &g_sio_fake);
    EXPECT_EQ(sock->context, nullptr);
    EXPECT_EQ(fake->context, nullptr);
    EXPECT_EQ(sock->get, sio_get);
    EXPECT_EQ(fake->get, sio_get);
    EXPECT_EQ(sock->http_post, sio_post);
    EXPECT_EQ(fake->http_post, fio_post);
    EXPECT_NE(sock->free, nullptr);
    EXPECT_EQ(fake->free, fio_free);

    const HostIo lookalike = g_sio_fake;  // same operations, not the library's object
    const HostIo host_own{nullptr, nullptr, sio_post, nullptr};
    struct Case {
        const HostIo *io;
        int face;
    };
    const Case cases[] = {{nullptr, 0}, {sock, 1}, {fake, 2}, {&lookalike, 0}, {&host_own, 0}};
    for (const Case &c : cases)
        EXPECT_EQ(vnb_io_own_face(c.io), c.face);
}

TEST(OwnHostIo, GetIsRefusedByBoth)
{
    for (const HostIo *io : {vnb_vantrelx_io_socket(), vnb_vantrelx_io_fake()}) {
        char sentinel = 0;
        char *body = &sentinel;
        char *error = nullptr;
        long status = kUntouchedStatus;
        EXPECT_EQ(io->get(io->context, "smbrpc://h:445/frame", &body, &status, &error), -1);
        EXPECT_EQ(body, nullptr);
        EXPECT_EQ(status, kUntouchedStatus);
        ASSERT_NE(error, nullptr);
        EXPECT_STREQ(error, "smbrpc transport: GET is not used");
        io->free(io->context, error);
        body = &sentinel;
        EXPECT_EQ(io->get(io->context, nullptr, &body, &status, nullptr), -1);
        EXPECT_EQ(body, nullptr);
    }
}

// One post through a HostIo: its result, its status and the texts it handed
// out, released through the object's own `free`.
struct PostResult {
    int rc = 0;
    long status = kUntouchedStatus;
    std::optional<std::string> body;
    std::optional<std::string> error;
};

PostResult post(const HostIo *io, const char *url, const char *body, bool want_error = true)
{
    PostResult r;
    char sentinel = 0;
    char *out_body = &sentinel;  // must come back NULL unless there is a reply
    char *out_error = nullptr;
    r.rc = io->http_post(io->context, url, body, "application/x-smb1-nbss+base64", &out_body, &r.status,
                         want_error ? &out_error : nullptr);
    EXPECT_NE(out_body, &sentinel);
    if (out_body) {
        r.body = out_body;
        io->free(io->context, out_body);
    }
    if (out_error) {
        r.error = out_error;
        io->free(io->context, out_error);
    }
    return r;
}

class FakePost : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(vnb_fake_load(kSmallFakeTree), 0); }
    void TearDown() override { vnb_fake_load(nullptr); }
};

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

TEST_F(FakePost, PostsAndFakeFramesShareOneServer)
{
    const Bytes req = negotiate_request(3);
    ASSERT_EQ(post(&g_sio_fake, "smbrpc://fake:445/frame", b64_text(req).c_str()).rc, 0);
    Transport t{};
    ASSERT_EQ(vnb_net_io_fake(&t), 0);
    ByteBuffer reply{};
    ASSERT_EQ(vnb_net_frame(&t, req.data(), req.size(), &reply, 1000), 0) << vnb_error();
    vnb_buf_free(&reply);
    EXPECT_EQ(vnb_fake_count(kNegotiate), 2);
}

std::string url_for(int port)
{
    return "smbrpc://127.0.0.1:" + std::to_string(port) + "/frame";
}

TEST(SocketPost, RelaysOneFrameOverItsOwnConnection)
{
    ScriptPeer peer;
    ASSERT_TRUE(peer.start(AF_INET, {peer_read(4 + 40), peer_frame(40), peer_read(1, 1500)}));
    const Bytes req = negotiate_request(0x40, "NT1");
    PostResult r = post(&g_sio_socket, url_for(peer.port()).c_str(), b64_text(req).c_str());
    ASSERT_EQ(r.rc, 0) << r.error.value_or("");
    EXPECT_EQ(r.status, 200);
    ASSERT_TRUE(r.body);
    EXPECT_EQ(b64_bytes(r.body->c_str()), frame_body(40));
    peer.finish();
    EXPECT_EQ(peer.received, with_nbss_header(req));  // and the connection was closed
}

TEST(SocketPost, Failures)
{
    struct Case {
        const char *name;
        bool listen;        // a peer that closes at once, else a closed port
        bool bad_url;
        const char *body;
        std::string text;   // prefix of the error text
    };
    const std::string negotiate = b64_text(negotiate_request(1));
    const std::vector<Case> cases = {
        {"bad URL", false, true, negotiate.c_str(), "bad smbrpc url"},
        {"body not Base64", false, false, "@@@", "bad base64 body"},
        {"nobody listening", false, false, negotiate.c_str(), "connection refused ("},
        {"peer closes without a reply", true, false, negotiate.c_str(), "no NBSS header from the peer"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ScriptPeer peer;
        int port = 0;
        if (c.listen) {
            ASSERT_TRUE(peer.start(AF_INET, {peer_read(4 + 47, 1000), peer_close()}));
            port = peer.port();
        } else {
            port = closed_port(AF_INET);
            ASSERT_NE(port, 0);
        }
        std::string url = c.bad_url ? "smbrpc://127.0.0.1/frame" : url_for(port);
        PostResult r = post(&g_sio_socket, url.c_str(), c.body);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.status, kUntouchedStatus);
        EXPECT_FALSE(r.body);
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->rfind(c.text, 0), 0u) << *r.error;
    }
}

// Whole exchanges of the host-io kind with the library's own objects as the
// host's relay.
class OwnRelay : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (t.close)
            t.close(t.context);
        vnb_buf_free(&reply);
        vnb_fake_load(nullptr);
    }
    Transport t{};
    ByteBuffer reply{};
};

TEST_F(OwnRelay, FakeBackedNegotiate)
{
    ASSERT_EQ(vnb_fake_load(kSmallFakeTree), 0);
    ASSERT_EQ(vnb_net_io_from_vantrelx(&t, vnb_vantrelx_io_fake()), 0);
    ASSERT_EQ(t.connect(t.context, "fake", 0, 1000), 0);
    const Bytes req = negotiate_request(0x3333);
    ASSERT_EQ(vnb_net_frame(&t, req.data(), req.size(), &reply, 1000), 0) << vnb_error();
    expect_negotiate_reply(Bytes(reply.data, reply.data + reply.len), 0x3333);

    // A broken fake answer is a failed post, which the relay words its own way.
    ASSERT_EQ(vnb_fake_fault("garbage", 1), 0);
    EXPECT_EQ(vnb_net_frame(&t, req.data(), req.size(), &reply, 1000), -1);
    EXPECT_STREQ(vnb_error(), "transport failure");
}

TEST_F(OwnRelay, SocketBackedFrame)
{
    ScriptPeer peer;
    ASSERT_TRUE(peer.start(AF_INET, {peer_read(4 + 47), peer_frame(64), peer_read(1, 1500)}));
    ASSERT_EQ(vnb_net_io_from_vantrelx(&t, vnb_vantrelx_io_socket()), 0);
    ASSERT_EQ(t.connect(t.context, "127.0.0.1", peer.port(), 1000), 0);
    const Bytes req = negotiate_request(1);
    ASSERT_EQ(vnb_net_frame(&t, req.data(), req.size(), &reply, 1000), 0) << vnb_error();
    EXPECT_EQ(Bytes(reply.data, reply.data + reply.len), frame_body(64));
    peer.finish();
    EXPECT_EQ(peer.received, with_nbss_header(req));

    // Nobody there any more: the post fails and so does the exchange.
    EXPECT_EQ(vnb_net_frame(&t, req.data(), req.size(), &reply, 1000), -1);
    EXPECT_STREQ(vnb_error(), "transport failure");
}

}  // namespace
