// Choosing the transport, the library's own HostIo objects and the fake
// server's controls, through the exported calls.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fake_session.h"
#include "api/own_io.h"
#include "api/session_ops.h"
#include "net/net.h"
#include "support/heap_text.h"
#include "util/error.h"
#include "vnsmb1c.h"

namespace {

int g_posts;

// Counts the posts and relays them to the library's fake-backed HostIo.
int counting_post(void *, const char *url, const char *body, const char *type, char **out_body, long *out_status,
                  char **out_error)
{
    ++g_posts;
    const vnsmb1c_HostIo *io = vnsmb1c_io_fake();
    return io->http_post(io->context, url, body, type, out_body, out_status, out_error);
}

const vnsmb1c_HostIo kCounting{nullptr, nullptr, counting_post, nullptr};
const vnsmb1c_HostIo kNoPost{nullptr, nullptr, nullptr, nullptr};

struct Selected {
    int32_t mode;
    const vnsmb1c_HostIo *io;
    bool operator==(const Selected &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Selected &s)
{
    return os << "mode " << s.mode << " io " << static_cast<const void *>(s.io);
}

Selected selected()
{
    TransportChoice c = vnb_selected_transport();
    return Selected{c.mode, c.io};
}

class Selection : public ::testing::Test {
protected:
    void SetUp() override { g_posts = 0; }
    void TearDown() override { vnsmb1c_use_sockets(); }
};

// The selections a refused call must leave in place.
struct Previous {
    const char *what;
    std::function<void()> select;
    Selected expect;
};

std::vector<Previous> previous_selections()
{
    return {
        {"sockets", [] { vnsmb1c_use_sockets(); }, {0, nullptr}},
        {"host io", [] { vnsmb1c_use_io(&kCounting); }, {1, &kCounting}},
        {"fake", [] { vnsmb1c_use_sockets(); vnsmb1c_use_fake(kMediaTree); }, {2, nullptr}},
        {"fake after host io", [] { vnsmb1c_use_io(&kCounting); vnsmb1c_use_fake(kMediaTree); }, {2, &kCounting}},
    };
}

TEST_F(Selection, UseIoNeedsHttpPost)
{
    for (const Previous &p : previous_selections()) {
        for (const vnsmb1c_HostIo *bad : {static_cast<const vnsmb1c_HostIo *>(nullptr), &kNoPost}) {
            p.select();
            ASSERT_EQ(selected(), p.expect) << p.what;
            EXPECT_EQ(vnsmb1c_use_io(bad), -6) << p.what;
            EXPECT_STREQ(vnsmb1c_last_error(), "io without http_post");
            EXPECT_EQ(selected(), p.expect) << p.what << ": the previous selection stays";
        }
    }
}

TEST_F(Selection, UseFakeRefusesTreesTheLoaderRefuses)
{
    const std::string long_name = R"({"shares":[{"name":")" + std::string(81, 'n') + R"("}]})";
    const char *refused[] = {
        nullptr,
        "",
        "shares",
        "[]",
        "{}",
        R"({"users":[]})",
        R"({"shares":{}})",
        R"({"shares":[5]})",
        R"({"shares":[{}]})",
        R"({"shares":[{"name":""}]})",
        R"({"shares":[{"name":7}]})",
        long_name.c_str(),
        // Texts that end inside a UTF-8 sequence: nothing past the end is read.
        "{\"shares\":[{\"name\":\"\xF1",
        "{\"\xF4\x8F\xBF",
    };
    for (const Previous &p : previous_selections()) {
        for (const char *text : refused) {
            p.select();
            EXPECT_EQ(vnsmb1c_use_fake(heap_text(text).get()), -6) << p.what << ": " << (text ? text : "NULL");
            EXPECT_STREQ(vnsmb1c_last_error(), "fake tree JSON is invalid");
            EXPECT_EQ(selected(), p.expect) << p.what << ": " << (text ? text : "NULL");
        }
    }
}

TEST_F(Selection, UseFakeKeepsTheIo)
{
    ASSERT_EQ(vnsmb1c_use_io(&kCounting), 0);
    ASSERT_EQ(vnsmb1c_use_fake(R"({"shares":[]})"), 0);
    EXPECT_EQ(selected(), (Selected{2, &kCounting}));
    ASSERT_EQ(vnsmb1c_use_sockets(), 0);
    EXPECT_EQ(selected(), (Selected{0, nullptr}));
}

TEST_F(Selection, RefusedTreeLeavesNoFakeServer)
{
    ASSERT_EQ(open_fake_session(Road::fake, kMediaTree), 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_use_fake("{}"), -6);
    EXPECT_EQ(selected().mode, 2);
    EXPECT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), -1);
    EXPECT_EQ(std::string(vnsmb1c_last_error()).rfind("cannot connect to fake:445", 0), 0u) << vnsmb1c_last_error();
}

TEST_F(Selection, EverySelectionCallEndsTheSession)
{
    struct Case {
        const char *what;
        std::function<int()> call;
        int rc;
    } cases[] = {
        {"use_sockets", [] { return vnsmb1c_use_sockets(); }, 0},
        {"use_io", [] { return vnsmb1c_use_io(vnsmb1c_io_fake()); }, 0},
        {"use_io refused", [] { return vnsmb1c_use_io(&kNoPost); }, -6},
        {"use_fake", [] { return vnsmb1c_use_fake(kMediaTree); }, 0},
        {"use_fake refused", [] { return vnsmb1c_use_fake("{}"); }, -6},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(open_fake_session(Road::fake, kMediaTree), 0) << vnsmb1c_last_error();
        int h = vnsmb1c_open("Media/Movies", "hello.txt");
        ASSERT_GT(h, 0) << vnsmb1c_last_error();
        uint64_t frames = vnsmb1c_frame_count();
        EXPECT_EQ(c.call(), c.rc) << c.what;
        EXPECT_EQ(vnsmb1c_frame_count() - frames, 2u) << c.what << ": LOGOFF and one TREE_DISCONNECT";
        EXPECT_EQ(vnsmb1c_size(h), -6) << c.what;
        EXPECT_EQ(vnsmb1c_list("Media", nullptr), -5) << c.what;
    }
}

TEST_F(Selection, TakesEffectWhenTheNextTransportIsBuilt)
{
    ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);
    ASSERT_EQ(vnsmb1c_use_io(&kCounting), 0);
    EXPECT_EQ(g_posts, 0) << "selecting sends nothing";

    // The next connect relays every frame through the selected io.
    uint64_t frames = vnsmb1c_frame_count();
    ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    ASSERT_EQ(vnsmb1c_list("Media", "Movies"), 5) << vnsmb1c_last_error();
    EXPECT_GT(g_posts, 0);
    EXPECT_EQ(static_cast<uint64_t>(g_posts), vnsmb1c_frame_count() - frames);
}

TEST(OwnHostIo, TwoConstantObjects)
{
    const vnsmb1c_HostIo *sock = vnsmb1c_io_socket();
    const vnsmb1c_HostIo *fake = vnsmb1c_io_fake();
    ASSERT_NE(sock, nullptr);
    ASSERT_NE(fake, nullptr);
    EXPECT_NE(sock, fake);
    EXPECT_EQ(vnsmb1c_io_socket(), sock);
    EXPECT_EQ(vnsmb1c_io_fake(), fake);
    EXPECT_NE(sock->http_post, nullptr);
    EXPECT_NE(fake->http_post, nullptr);
    EXPECT_EQ(vnb_io_own_face(sock), 1);
    EXPECT_EQ(vnb_io_own_face(fake), 2);

    // Selecting the socket-backed object touches no network.
    ASSERT_EQ(vnsmb1c_use_io(sock), 0);
    EXPECT_EQ(selected(), (Selected{1, sock}));
    vnsmb1c_use_sockets();
}

TEST(FakeControls, FaultNames)
{
    ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);
    vnb_set_error("before");
    struct Case {
        const char *name;
        int rc;
    } cases[] = {
        {"sign_required", 0}, {"refuse_nt1", 0}, {"garbage", 0}, {"logon_fail", 0},
        {"no_ipc", 0},        {"no_extsec", 0},  {"no_unicode", 0}, {"page", 0},    {"reset_counts", 0},
        {"Garbage", -6},      {"nope", -6},      {"", -6},       {nullptr, -6},
    };
    for (const Case &c : cases)
        EXPECT_EQ(vnsmb1c_fake_set_fault(c.name, 0), c.rc) << (c.name ? c.name : "NULL");
    EXPECT_STREQ(vnsmb1c_last_error(), "before") << "no error text is written";
    vnsmb1c_use_sockets();
}

TEST(FakeControls, FaultsReachTheServer)
{
    ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);
    ASSERT_EQ(vnsmb1c_fake_set_fault("garbage", 1), 0);
    EXPECT_LT(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << "the NEGOTIATE reply is garbage";
    EXPECT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();

    ASSERT_EQ(vnsmb1c_fake_set_fault("refuse_nt1", 1), 0);
    EXPECT_LT(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0);
    EXPECT_EQ(vnsmb1c_last_status(), 0xC00000A0u);
    vnsmb1c_fake_set_fault("refuse_nt1", 0);
    vnsmb1c_use_sockets();
}

TEST(FakeControls, CallCounters)
{
    for (int command : {-1, 256, INT_MIN, INT_MAX})
        EXPECT_EQ(vnsmb1c_fake_calls(command), -1) << command;

    ASSERT_EQ(vnsmb1c_use_fake(kMediaTree), 0);
    for (int command = 0; command < 256; command++)
        ASSERT_EQ(vnsmb1c_fake_calls(command), 0) << "a new tree starts every counter at 0";
    ASSERT_EQ(vnsmb1c_connect("fake", 0, nullptr, "alice", "pw"), 0) << vnsmb1c_last_error();
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdNegotiate), 1);
    ASSERT_GT(vnsmb1c_open("Media/Movies", "hello.txt"), 0);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdTreeConnect), 1);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdNtCreate), 1);
    vnsmb1c_disconnect();
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdLogoff), 1);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdTreeDisconnect), 1);

    ASSERT_EQ(vnsmb1c_fake_set_fault("reset_counts", 0), 0);
    EXPECT_EQ(vnsmb1c_fake_calls(kCmdNegotiate), 0);
    vnsmb1c_use_sockets();
}

// The same flows give the same results over the fake transport and relayed
// through the library's fake-backed HostIo.
std::string transcript(Road road)
{
    std::string out;
    auto line = [&out](const std::string &s) { out += s + "\n"; };
    if (open_fake_session(road, kMediaTree) != 0)
        return std::string("no session: ") + vnsmb1c_last_error();
    uint64_t frames = vnsmb1c_frame_count();

    int shares = vnsmb1c_shares();
    line("shares " + std::to_string(shares));
    for (int i = 0; i < shares; i++)
        line(vnsmb1c_share_name(i));
    int listed = vnsmb1c_list("Media", "Movies");
    line("list " + std::to_string(listed) + " hidden " + std::to_string(vnsmb1c_list_hidden_count()));
    line(vnsmb1c_list_json());
    line(vnsmb1c_item_json(2));
    vnsmb1c_fake_set_fault("page", 7);
    line("paged " + std::to_string(vnsmb1c_list("Media/Paged", nullptr)));
    line(vnsmb1c_list_json());
    int missing = vnsmb1c_list("Media", "nope");
    line("missing " + std::to_string(missing) + " " + vnsmb1c_last_error());

    int h = vnsmb1c_open("Media/Movies", "a.mkv");
    // The number differs between the roads (the generations count on); the slot does not.
    line("open " + (h > 0 ? "slot " + std::to_string((h - 1) % 64) : std::to_string(h)));
    line("size " + std::to_string(vnsmb1c_size(h)));
    std::vector<uint8_t> buf(70000);
    uint64_t sum = 0;
    for (int64_t at = 0;;) {
        int n = vnsmb1c_read_at(h, at, buf.data(), static_cast<int>(buf.size()));
        line("read " + std::to_string(at) + " " + std::to_string(n));
        if (n <= 0)
            break;
        for (int i = 0; i < n; i++)
            sum = sum * 31 + buf[static_cast<size_t>(i)];
        at += n;
    }
    line("sum " + std::to_string(sum));
    int big = vnsmb1c_open("Media", "big.bin");
    int got = vnsmb1c_read_at(big, 4 * (int64_t{1} << 30) + 5, buf.data(), 8);
    line("big " + std::to_string(got) + " " + std::to_string(buf[0]) + " " + std::to_string(buf[7]));
    vnsmb1c_close(h);
    int64_t closed = vnsmb1c_size(h);
    line("closed " + std::to_string(closed) + " " + vnsmb1c_last_error());
    line("frames " + std::to_string(vnsmb1c_frame_count() - frames));
    vnsmb1c_use_sockets();
    return out;
}

TEST(Roads, SameResultsEitherWay)
{
    std::string fake = transcript(Road::fake);
    std::string relay = transcript(Road::relay);
    EXPECT_EQ(fake, relay);
    EXPECT_NE(fake.find("list 5 hidden 3\n"), std::string::npos) << fake;
    EXPECT_NE(fake.find("sum "), std::string::npos) << fake;
}

}  // namespace
