// The host-io relay kind: each request is one POST of Base64 text through a
// host-supplied HostIo, read back by its HTTP status.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "net/net.h"
#include "net/net_internal.h"
#include "util/error.h"
#include "util/text.h"

namespace {

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

struct RelayTransport {
    explicit RelayTransport(const HostIo *io)
    {
        EXPECT_EQ(vnb_net_io_from_vantrelx(&t, io), 0);
    }
    ~RelayTransport()
    {
        if (t.close)
            t.close(t.context);
    }
    RelayCell *cell() const { return static_cast<RelayCell *>(t.context); }
    Transport t{};
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
            RelayTransport rt(&io);
            ASSERT_EQ(rt.t.connect(rt.t.context, "10.0.0.5", 0, 1000), 0);
            ByteBuffer reply{};
            int32_t rc = vnb_net_frame(&rt.t, req.data(), req.size(), &reply, 1000);
            EXPECT_EQ(rc, c.code) << vnb_error();
            if (c.text) {
                EXPECT_STREQ(vnb_error(), c.text);
            }
            if (c.reply) {
                EXPECT_EQ(std::vector<uint8_t>(reply.data, reply.data + reply.len), *c.reply);
            }
            vnb_buf_free(&reply);
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
        RelayTransport rt(&io);
        ASSERT_EQ(rt.t.connect(rt.t.context, c.host.c_str(), c.port, 1000), 0);
        uint8_t req[32] = {};
        ByteBuffer reply{};
        ASSERT_EQ(vnb_net_frame(&rt.t, req, sizeof req, &reply, 1000), 0) << vnb_error();
        EXPECT_EQ(relay.url, c.url);
        EXPECT_LE(relay.url.size(), 319u);
        vnb_buf_free(&reply);
    }
}

TEST(Relay, ConstructorRefusesAnUnusableHostIo)
{
    TestRelay relay;
    HostIo good{&relay, nullptr, relay_post, nullptr};
    HostIo no_post{&relay, nullptr, nullptr, nullptr};
    Transport t{};
    struct Case {
        Transport *t;
        const HostIo *io;
    };
    const Case cases[] = {{nullptr, &good}, {&t, nullptr}, {&t, &no_post}};
    for (const Case &c : cases) {
        vnb_set_error("untouched");
        EXPECT_EQ(vnb_net_io_from_vantrelx(c.t, c.io), -6);
        EXPECT_STREQ(vnb_error(), "io without http_post");
    }
    EXPECT_EQ(t.context, nullptr);

    RelayTransport rt(&good);
    EXPECT_EQ(rt.t.connect, tio_connect);
    EXPECT_EQ(rt.cell()->io, &good);
    uint8_t buf[4] = {};
    EXPECT_EQ(rt.t.write(rt.t.context, buf, sizeof buf), 0);
    EXPECT_EQ(rt.t.read(rt.t.context, buf, sizeof buf, 10), 0);
    EXPECT_EQ(rt.t.connect(rt.t.context, nullptr, 0, 0), 0);
    EXPECT_EQ(relay.posts, 0);
}

TEST(Relay, ConnectChecksTheHostIo)
{
    TestRelay relay;
    HostIo io{&relay, nullptr, relay_post, nullptr};
    RelayTransport rt(&io);
    EXPECT_EQ(rt.t.connect(rt.t.context, "h", 445, 10), 0);
    rt.cell()->io = nullptr;
    EXPECT_NE(rt.t.connect(rt.t.context, "h", 445, 10), 0);

    // Without its HostIo the exchange fails before anything is posted.
    uint8_t req[32] = {};
    ByteBuffer reply{};
    EXPECT_EQ(vnb_net_frame(&rt.t, req, sizeof req, &reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "no transport installed");
    EXPECT_EQ(relay.posts, 0);
}

TEST(Relay, OutcomesWaitForTheReceiveInOrder)
{
    TestRelay relay;
    relay.echo = true;
    HostIo io{&relay, nullptr, relay_post, counting_free};
    RelayTransport rt(&io);
    ASSERT_EQ(rt.t.connect(rt.t.context, "h", 445, 10), 0);
    ByteBuffer reply{};

    EXPECT_EQ(vnb_net_recv(&rt.t, &reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "no relayed reply is pending");

    const std::vector<uint8_t> a = message(32, 1);
    const std::vector<uint8_t> b = message(48, 2);
    ASSERT_EQ(vnb_net_send(&rt.t, a.data(), a.size()), 0);
    relay.echo = false;
    relay.status = 500;
    vnb_set_error("untouched");
    ASSERT_EQ(vnb_net_send(&rt.t, b.data(), b.size()), 0);
    EXPECT_STREQ(vnb_error(), "untouched");  // the failure shows when it is collected
    EXPECT_EQ(relay.posts, 2);

    ASSERT_EQ(vnb_net_recv(&rt.t, &reply, 100), 0);
    EXPECT_EQ(std::vector<uint8_t>(reply.data, reply.data + reply.len), a);
    EXPECT_EQ(vnb_net_recv(&rt.t, &reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "transport status 500");
    EXPECT_EQ(reply.len, 0u);
    EXPECT_EQ(vnb_net_recv(&rt.t, &reply, 100), -1);
    EXPECT_STREQ(vnb_error(), "no relayed reply is pending");
    vnb_buf_free(&reply);
}

TEST(Relay, CloseReleasesUncollectedReplies)
{
    TestRelay relay;
    relay.echo = true;
    HostIo io{&relay, nullptr, relay_post, nullptr};
    Transport t{};
    ASSERT_EQ(vnb_net_io_from_vantrelx(&t, &io), 0);
    const std::vector<uint8_t> req = message(64, 3);
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(vnb_net_send(&t, req.data(), req.size()), 0);
    t.close(t.context);  // the leak checker sees anything left behind
    tio_close(nullptr);
}

TEST(Relay, RequestDumpWorksOnTheRelayToo)
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
    RelayTransport rt(&io);
    ASSERT_EQ(rt.t.connect(rt.t.context, "h", 445, 10), 0);
    const std::vector<uint8_t> req = message(40, 5);
    ByteBuffer reply{};
    EXPECT_EQ(vnb_net_frame(&rt.t, req.data(), req.size(), &reply, 100), 0);
    vnb_buf_free(&reply);
    unsetenv("VNSMB1C_DUMP");
    unsetenv("VNSMB1C_DUMPREP");

    std::ifstream f(req_file, std::ios::binary);
    std::vector<uint8_t> dumped{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    ASSERT_EQ(dumped.size(), 44u);
    EXPECT_EQ(std::vector<uint8_t>(dumped.begin(), dumped.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 0x28}));
    EXPECT_FALSE(std::ifstream(rep_file).good());  // replies are dumped for the socket kind only
    std::remove(req_file.c_str());
}

}  // namespace
