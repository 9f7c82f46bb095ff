// The host-io relay kind: each request is one POST of Base64 text through a
// host-supplied HostIo, read back by its HTTP status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/msg_transport.h"
#include "util/error.h"
#include "util/text.h"
#include "support/test_env.h"

namespace {

using HostIo = vnsmb1c_HostIo;

// A scripted host relay that records what it was given.
struct TestRelay {
    int rc = 0;
    long status = 200;
    std::optional<std::string> body;   // handed out as a heap copy
    std::optional<std::string> error;  // likewise
    bool echo = false;                 // answer with the request body itself

    int posts = 0;
    int frees = 0;
    std::string url;
    std::string sent;
    std::string content_type;
};

char *heap_copy(const std::string &s)
{
    char *p = static_cast<char *>(std::malloc(s.size() + 1));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

int relay_post(void *ctx, const char *url, const char *body, const char *content_type, char **out_body,
               long *out_status, char **out_error)
{
    auto *r = static_cast<TestRelay *>(ctx);
    r->posts++;
    r->url = url;
    r->sent = body;
    r->content_type = content_type;
    if (r->echo)
        *out_body = heap_copy(body);
    else if (r->body)
        *out_body = heap_copy(*r->body);
    if (r->error)
        *out_error = heap_copy(*r->error);
    *out_status = r->status;
    return r->rc;
}

void counting_free(void *ctx, void *p)
{
    static_cast<TestRelay *>(ctx)->frees++;
    std::free(p);
}

std::string b64(const std::vector<uint8_t> &bytes)
{
    char *text = vnb_b64enc(bytes.data(), bytes.size());
    std::string s(text);
    std::free(text);
    return s;
}

std::vector<uint8_t> message(size_t len, uint8_t seed)
{
    std::vector<uint8_t> m(len);
    for (size_t i = 0; i < len; i++)
        m[i] = uint8_t(seed + i);
    return m;
}

// A relay transport opened to host:port, and one message sent and received.
struct Relay {
    explicit Relay(const HostIo *io, const char *host = "h", int port = 445) : t(vnb_transport_relay(io))
    {
        EXPECT_NE(t, nullptr);
        if (t) {
            EXPECT_EQ(t->open(host, port, 1000), 0);
        }
    }
    ~Relay() { vnb_buf_free(&reply); }
    int32_t exchange(const std::vector<uint8_t> &req)
    {
        int32_t rc = t->send(req);
        return rc != 0 ? rc : t->recv(reply, 1000);
    }
    std::vector<uint8_t> reply_bytes() const { return std::vector<uint8_t>(reply.data, reply.data + reply.len); }
    std::unique_ptr<MsgTransport> t;
    ByteBuffer reply{};
};

struct StatusCase {
    const char *name;
    int rc;
    long status;
    std::optional<std::string> body;
    std::optional<std::string> error;
    int32_t code;
    const char *text;                    // nullptr on success
    std::optional<std::vector<uint8_t>> reply;
};

TEST(Relay, StatusesBodiesAndTheReleaseRule)
{
    const std::vector<uint8_t> reply32 = message(32, 0x10);
    const std::vector<StatusCase> cases = {
        {"200 with a reply", 0, 200, b64(reply32), std::nullopt, 0, nullptr, reply32},
        {"200 with an empty body", 0, 200, "", std::nullopt, 0, nullptr, std::vector<uint8_t>{}},
        {"error text with 200 is ignored", 0, 200, b64(reply32), "ignored", 0, nullptr, reply32},
        {"200 without a body", 0, 200, std::nullopt, std::nullopt, -2,
         "transport returned a body that is not base64 NBSS", std::nullopt},
        {"200 with a body that is not Base64", 0, 200, "not*base64!", "x", -2,
         "transport returned a body that is not base64 NBSS", std::nullopt},
        {"401", 0, 401, "denied", std::nullopt, -3, "transport refused credentials (HTTP 401)", std::nullopt},
        {"403", 0, 403, std::nullopt, "forbidden", -3, "transport refused credentials (HTTP 403)", std::nullopt},
        {"500", 0, 500, "oops", "server error", -1, "transport status 500", std::nullopt},
        {"no status", 0, 0, std::nullopt, std::nullopt, -1, "transport status 0", std::nullopt},
        {"transport failure", -1, 200, b64(reply32), "refused", -1, "transport failure", std::nullopt},
        {"any non-zero return", 7, 200, std::nullopt, std::nullopt, -1, "transport failure", std::nullopt},
    };
    const std::vector<uint8_t> req = message(40, 0xA0);
    for (bool own_free : {true, false}) {
        for (const StatusCase &c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (own_free ? " (own free)" : " (C heap free)"));
            TestRelay relay;
            relay.rc = c.rc;
            relay.status = c.status;
            relay.body = c.body;
            relay.error = c.error;
            // Without a free of its own the texts go to free(): the leak checker sees a miss.
            HostIo io{&relay, nullptr, relay_post, own_free ? counting_free : nullptr};
            Relay rt(&io, "10.0.0.5", 0);
            ASSERT_NE(rt.t, nullptr);
            int32_t rc = rt.exchange(req);
            EXPECT_EQ(rc, c.code) << vnb_error();
            if (c.text) {
                EXPECT_STREQ(vnb_error(), c.text);
            }
            if (c.reply) {
                EXPECT_EQ(rt.reply_bytes(), *c.reply);
            }
            EXPECT_EQ(relay.posts, 1);
            EXPECT_EQ(relay.sent, b64(req));
            EXPECT_EQ(relay.content_type, "application/x-smb1-nbss+base64");
            EXPECT_EQ(relay.frees, own_free ? int(c.body.has_value()) + int(c.error.has_value()) : 0);
        }
    }
}

TEST(Relay, UrlNamesTheConnectedHostAndPort)
{
    struct Case {
        std::string host;
        int port;
        std::string url;
    };
    const std::string long_host(300, 'h');
    const std::vector<Case> cases = {
        {"10.0.0.5", 0, "smbrpc://10.0.0.5:445/frame"},
        {"files.example", 139, "smbrpc://files.example:139/frame"},
        {"::1", 445, "smbrpc://[::1]:445/frame"},
        {"[::1]", 1445, "smbrpc://[::1]:1445/frame"},
        {"fe80::1", 0, "smbrpc://[fe80::1]:445/frame"},
        {long_host, 65535, "smbrpc://" + long_host.substr(0, 255) + ":65535/frame"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        TestRelay relay;
        relay.echo = true;
        HostIo io{&relay, nullptr, relay_post, counting_free};
        Relay rt(&io, c.host.c_str(), c.port);
        ASSERT_NE(rt.t, nullptr);
        ASSERT_EQ(rt.exchange(std::vector<uint8_t>(32)), 0) << vnb_error();
        EXPECT_EQ(relay.url, c.url);
        EXPECT_LE(relay.url.size(), 319u);
    }
}

TEST(Relay, RefusesAnUnusableHostIo)
{
    TestRelay relay;
    HostIo good{&relay, nullptr, relay_post, nullptr};
    HostIo no_post{&relay, nullptr, nullptr, nullptr};
    for (const HostIo *io : {static_cast<const HostIo *>(nullptr), static_cast<const HostIo *>(&no_post)}) {
        vnb_set_error("untouched");
        EXPECT_EQ(vnb_transport_relay(io), nullptr);
        EXPECT_STREQ(vnb_error(), "io without http_post");
    }

    // Opening only names the URL: nothing is posted, any host will do.
    std::unique_ptr<MsgTransport> t = vnb_transport_relay(&good);
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(t->pipelines());
    EXPECT_EQ(t->open(nullptr, 0, 0), 0);
    EXPECT_EQ(t->open("h", 445, 0), 0);
    EXPECT_EQ(relay.posts, 0);
}

TEST(Relay, PostsBeforeAnOpenGoToAnEmptyHost)
{
    TestRelay relay;
    relay.echo = true;
    HostIo io{&relay, nullptr, relay_post, counting_free};
    std::unique_ptr<MsgTransport> t = vnb_transport_relay(&io);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->send(message(32, 0)), 0);
    EXPECT_EQ(relay.url, "smbrpc://:445/frame");
    ByteBuffer reply{};
    EXPECT_EQ(t->recv(reply, 100), 0);
    vnb_buf_free(&reply);
}

TEST(Relay, OutcomesWaitForTheReceiveInOrder)
{
    TestRelay relay;
    relay.echo = true;
    HostIo io{&relay, nullptr, relay_post, counting_free};
    Relay rt(&io);
    ASSERT_NE(rt.t, nullptr);
    ByteBuffer &reply = rt.reply;

    EXPECT_EQ(rt.t->recv(reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "no relayed reply is pending");

    const std::vector<uint8_t> a = message(32, 1);
    const std::vector<uint8_t> b = message(48, 2);
    ASSERT_EQ(rt.t->send(a), 0);
    relay.echo = false;
    relay.status = 500;
    vnb_set_error("untouched");
    ASSERT_EQ(rt.t->send(b), 0);
    EXPECT_STREQ(vnb_error(), "untouched");  // the failure shows when it is collected
    EXPECT_EQ(relay.posts, 2);

    ASSERT_EQ(rt.t->recv(reply, 100), 0);
    EXPECT_EQ(rt.reply_bytes(), a);
    EXPECT_EQ(rt.t->recv(reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "transport status 500");
    EXPECT_EQ(reply.len, 0u);
    EXPECT_EQ(rt.t->recv(reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "no relayed reply is pending");
}

TEST(Relay, CloseAndReopenDropUncollectedReplies)
{
    TestRelay relay;
    relay.echo = true;
    HostIo io{&relay, nullptr, relay_post, nullptr};
    const std::vector<uint8_t> req = message(64, 3);
    ByteBuffer reply{};
    {
        Relay rt(&io);
        ASSERT_NE(rt.t, nullptr);
        for (int i = 0; i < 3; i++)
            ASSERT_EQ(rt.t->send(req), 0);
        rt.t->close();
        EXPECT_EQ(rt.t->recv(reply, 100), -1);
        ASSERT_EQ(rt.t->send(req), 0);
        ASSERT_EQ(rt.t->open("other", 139, 100), 0);
        EXPECT_EQ(rt.t->recv(reply, 100), -1);
        EXPECT_STREQ(vnb_error(), "no relayed reply is pending");
        ASSERT_EQ(rt.t->send(req), 0);
        ASSERT_EQ(rt.t->send(req), 0);
    }  // destroyed with two replies waiting: the leak checker sees anything left behind
    EXPECT_EQ(relay.posts, 6);
    vnb_buf_free(&reply);
}

TEST(Relay, BothDumpsWorkOnTheRelay)
{
    std::string base = ::testing::TempDir() + "vnsmb1c_relay_dump_" + std::to_string(::getpid());
    std::string req_file = base + "_req";
    std::string rep_file = base + "_rep";
    std::remove(req_file.c_str());
    std::remove(rep_file.c_str());
    setenv("VNSMB1C_DUMP", req_file.c_str(), 1);
    setenv("VNSMB1C_DUMPREP", rep_file.c_str(), 1);

    TestRelay relay;
    relay.echo = true;
    HostIo io{&relay, nullptr, relay_post, nullptr};
    Relay rt(&io);
    ASSERT_NE(rt.t, nullptr);
    const std::vector<uint8_t> req = message(40, 5);
    EXPECT_EQ(rt.exchange(req), 0);
    // A failed post leaves no reply dump.
    relay.status = 500;
    EXPECT_EQ(rt.exchange(message(33, 6)), -1);
    unsetenv("VNSMB1C_DUMP");
    unsetenv("VNSMB1C_DUMPREP");

    auto file_bytes = [](const std::string &path) {
        std::ifstream f(path, std::ios::binary);
        return std::vector<uint8_t>{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    };
    std::vector<uint8_t> dumped = file_bytes(req_file);
    ASSERT_EQ(dumped.size(), 44u + 37u);
    EXPECT_EQ(std::vector<uint8_t>(dumped.begin(), dumped.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 0x28}));
    EXPECT_EQ(std::vector<uint8_t>(dumped.begin() + 4, dumped.begin() + 44), req);
    std::vector<uint8_t> rep = file_bytes(rep_file);  // the echoed reply behind a header of its length
    ASSERT_EQ(rep.size(), 44u);
    EXPECT_EQ(std::vector<uint8_t>(rep.begin(), rep.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 0x28}));
    EXPECT_EQ(std::vector<uint8_t>(rep.begin() + 4, rep.end()), req);
    std::remove(req_file.c_str());
    std::remove(rep_file.c_str());
}

}  // namespace
