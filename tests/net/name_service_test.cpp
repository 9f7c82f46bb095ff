// The name service client and the resolver against the fake node answering
// on a loopback UDP port. The host's name service is redirected there for
// every test, so nothing is ever broadcast; the system's resolver is asked
// only for "localhost".
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "net/clock.h"
#include "net/name_resolve.h"
#include "net/nbns_client.h"
#include "net/node_status.h"
#include "support/fake_name_responder.h"
#include "util/error.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr NbTiming kQuick{2, 100, 400};

FakeNetbiosNode box()
{
    FakeNetbiosNode n;
    n.name = "MEDIABOX";
    n.workgroup = "HOME";
    n.comment = "Media box";
    n.mac = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    n.master = true;
    n.wins_server = true;
    n.wins_names.push_back({"FARAWAY", kLoopback});
    return n;
}

class NameServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(responder.start());
        vnb_name_service_redirect(responder.port(), {{"dnsbox", "127.0.0.1"}, {"nas.example", "127.0.0.1"},
                                                     {"MEDIABOX", "127.0.0.3"}});
        ns = vnb_host_name_service();
    }
    void TearDown() override { vnb_name_service_redirect(0); }

    NbQuery query(NbnsAsk ask, const char *name, uint8_t suffix = kNbFileServer)
    {
        NbQuery q;
        q.ask = ask;
        if (ask != NbnsAsk::node_status) {
            EXPECT_TRUE(nb_name_make(name, suffix, &q.name));
        }
        q.to = kLoopback;
        return q;
    }
    int32_t run(NbQuery &q, const NbTiming &t = kQuick)
    {
        return vnb_nbns_run(ns, std::span<NbQuery>(&q, 1), t, vnb_now_ms() + 5000);
    }

    FakeNameResponder responder{box()};
    NameService ns;
};

using Clock = std::chrono::steady_clock;

int64_t ms_since(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST_F(NameServiceTest, TheRedirectIsLoopbackOnly)
{
    ASSERT_EQ(ns.nets.size(), 1u);
    EXPECT_EQ(ns.nets[0].address, kLoopback);
    EXPECT_EQ(ns.nets[0].broadcast, kLoopback);
    EXPECT_EQ(ns.port, responder.port());
    vnb_name_service_redirect(0);
    EXPECT_NE(vnb_host_name_service().port, responder.port());
}

TEST_F(NameServiceTest, ABroadcastQueryFindsTheNode)
{
    NbQuery q = query(NbnsAsk::broadcast, "mediabox");
    ASSERT_EQ(run(q), 0);
    ASSERT_EQ(q.answers.size(), 1u);
    EXPECT_EQ(q.answers[0].from, kLoopback);
    EXPECT_EQ(q.answers[0].reply.addresses[0].ipv4, kLoopback);
    EXPECT_TRUE(q.done());
}

TEST_F(NameServiceTest, AnswersThatDoNotMatchAreIgnored)
{
    struct Case {
        const char *what;
        int id_offset;
        bool rogue;
        bool junk;
        size_t answers;
    };
    const Case cases[] = {
        {"another transaction id", 1, false, false, 0},
        {"an address that was not asked", 0, true, false, 0},
        {"a malformed datagram first", 0, false, true, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.rogue && !responder.can_be_rogue())
            continue;
        responder.id_offset = c.id_offset;
        responder.rogue = c.rogue;
        responder.junk_first = c.junk;
        NbQuery q = query(NbnsAsk::broadcast, "mediabox");
        ASSERT_EQ(run(q), 0);
        EXPECT_EQ(q.answers.size(), c.answers);
        EXPECT_TRUE(q.sent);
    }
}

TEST_F(NameServiceTest, ANameServerSaysNoAtOnce)
{
    NbQuery q = query(NbnsAsk::name_server, "nobody");
    auto t0 = Clock::now();
    ASSERT_EQ(run(q, kNameQueryTiming), 0);
    EXPECT_TRUE(q.negative);
    EXPECT_TRUE(q.answers.empty());
    EXPECT_LT(ms_since(t0), 1500);  // generous: the answer comes at once, the window is 2 s

    NbQuery known = query(NbnsAsk::name_server, "faraway");
    ASSERT_EQ(run(known), 0);
    ASSERT_EQ(known.answers.size(), 1u);
}

TEST_F(NameServiceTest, NodeStatusGivesNamesWorkgroupAndMac)
{
    NodeInfo info;
    ASSERT_EQ(vnb_node_status(ns, kLoopback, vnb_now_ms() + 3000, &info), 0) << vnb_error();
    EXPECT_EQ(info.name, "MEDIABOX");
    EXPECT_EQ(info.workgroup, "HOME");
    EXPECT_TRUE(info.file_server);
    EXPECT_EQ(info.mac_text(), "02:11:22:33:44:55");
    EXPECT_EQ(info.names.size(), 7u);

    responder.silent = true;
    auto t0 = Clock::now();
    EXPECT_EQ(vnb_node_status(ns, kLoopback, vnb_now_ms() + 3000, &info), -1);
    EXPECT_EQ(std::string(vnb_error()), "no node status from 127.0.0.1");
    EXPECT_LT(ms_since(t0), 3000);
    EXPECT_GE(responder.requests(), 4);  // three sends this time
}

TEST_F(NameServiceTest, NothingGoesToAddressesNoOneCanBeAsked)
{
    for (uint32_t to : {0u, 0xFFFFFFFFu, 0xE00000FBu}) {
        NbQuery q = query(NbnsAsk::node_status, "");
        q.to = to;
        ASSERT_EQ(run(q), 0);
        EXPECT_FALSE(q.sent);
        EXPECT_NE(q.send_error.find("not an address to send to"), std::string::npos);
    }
    EXPECT_EQ(responder.requests(), 0);
}

TEST_F(NameServiceTest, StopEndsTheRunEarly)
{
    responder.silent = true;
    NbQuery q = query(NbnsAsk::broadcast, "mediabox");
    auto t0 = Clock::now();
    int calls = 0;
    ASSERT_EQ(vnb_nbns_run(ns, std::span<NbQuery>(&q, 1), kNameQueryTiming, vnb_now_ms() + 5000,
                           [&] { return ++calls >= 3; }),
              0);
    EXPECT_LT(ms_since(t0), 1000);
}

// ---- resolution ----

NameSettings settings(const char *order, bool broadcast = true, uint32_t wins = 0)
{
    NameSettings s;
    EXPECT_EQ(vnb_name_order_parse(order, &s), 0);
    s.broadcast = broadcast;
    s.wins = wins;
    return s;
}

TEST(NameOrder, ParsesAndWrites)
{
    struct Case {
        const char *text;
        int rc;
        const char *back;
    };
    const Case cases[] = {
        {"netbios,dns", 0, "netbios,dns"}, {"dns,netbios", 0, "dns,netbios"}, {" DNS , NetBIOS ", 0, "dns,netbios"},
        {"netbios", 0, "netbios"},         {"dns", 0, "dns"},                 {"", -1, ""},
        {"dns,dns", -1, ""},               {"wins", -1, ""},                  {"netbios,", -1, ""},
        {"netbios,dns,dns", -1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        NameSettings s;
        ASSERT_EQ(vnb_name_order_parse(c.text, &s), c.rc);
        EXPECT_EQ(vnb_name_order_text(s), c.rc == 0 ? c.back : "netbios,dns");
    }
}

TEST_F(NameServiceTest, AddressesAreUsedAsTheyAre)
{
    for (const char *host : {"192.0.2.7", "::1", "fe80::1%lo", "2001:db8::5"}) {
        ResolvedHost r;
        ASSERT_EQ(vnb_resolve_host(host, settings("netbios,dns"), ns, 1000, &r), 0) << host;
        EXPECT_EQ(r.address, host);
        EXPECT_EQ(r.method, "address");
    }
    EXPECT_EQ(responder.requests(), 0);
}

TEST_F(NameServiceTest, ASingleLabelNameGoesByTheFirstGoodAnswer)
{
    struct Case {
        const char *what;
        const char *host;
        const char *order;
        bool silent;
        const char *address;
        const char *method;
        bool netbios_asked;
    };
    const Case cases[] = {
        {"netbios answers first", "mediabox", "netbios,dns", false, "127.0.0.1", "broadcast", true},
        {"dns has its head start", "mediabox", "dns,netbios", false, "127.0.0.3", "dns", false},
        {"netbios silent, dns joins", "dnsbox", "netbios,dns", true, "127.0.0.1", "dns", true},
        {"dns knows nothing, netbios follows", "MEDIABOX2", "dns,netbios", false, nullptr, nullptr, true},
        {"netbios alone", "mediabox", "netbios", false, "127.0.0.1", "broadcast", true},
        {"dns alone", "dnsbox", "dns", false, "127.0.0.1", "dns", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        responder.silent = c.silent;
        int before = responder.requests();
        ResolvedHost r;
        int32_t rc = vnb_resolve_host(c.host, settings(c.order), ns, 5000, &r);
        if (c.address == nullptr) {
            EXPECT_EQ(rc, -1);
        } else {
            ASSERT_EQ(rc, 0) << vnb_error();
            EXPECT_EQ(r.address, c.address);
            EXPECT_EQ(r.method, c.method);
        }
        EXPECT_EQ(responder.requests() > before, c.netbios_asked);
    }
}

TEST_F(NameServiceTest, WinsIsAskedBeforeBroadcastsAndBroadcastsCanBeOff)
{
    ResolvedHost r;
    ASSERT_EQ(vnb_resolve_host("faraway", settings("netbios", false, kLoopback), ns, 5000, &r), 0) << vnb_error();
    EXPECT_EQ(r.method, "WINS");
    ASSERT_EQ(vnb_resolve_host("mediabox", settings("netbios", true, kLoopback), ns, 5000, &r), 0);
    EXPECT_EQ(r.method, "WINS");

    // Off means off: with no WINS server nothing is sent at all.
    int before = responder.requests();
    EXPECT_EQ(vnb_resolve_host("mediabox", settings("netbios", false), ns, 5000, &r), -1);
    EXPECT_EQ(responder.requests(), before);
    EXPECT_EQ(std::string(vnb_error()), "cannot resolve mediabox: tried netbios (broadcast switched off)");
}

TEST_F(NameServiceTest, ANameFoundNowhereSaysWhatWasTried)
{
    responder.silent = true;
    ResolvedHost r;
    auto t0 = Clock::now();
    EXPECT_EQ(vnb_resolve_host("ghost", settings("netbios,dns", true, kLoopback), ns, 10000, &r), -1);
    EXPECT_EQ(std::string(vnb_error()),
              "cannot resolve ghost: tried netbios (WINS 127.0.0.1: no answer; broadcast on loopback: no answer), "
              "dns (not found)");
    EXPECT_LT(ms_since(t0), 8000);

    responder.silent = false;
    EXPECT_EQ(vnb_resolve_host("ghost", settings("dns,netbios", true, kLoopback), ns, 10000, &r), -1);
    EXPECT_EQ(std::string(vnb_error()),
              "cannot resolve ghost: tried dns (not found), netbios (WINS 127.0.0.1: does not know the name; "
              "broadcast on loopback: no answer)");
    EXPECT_EQ(vnb_resolve_host("bad*name", settings("netbios"), ns, 1000, &r), -1);
    EXPECT_EQ(std::string(vnb_error()), "cannot resolve bad*name: tried netbios (not a NetBIOS name)");
}

TEST_F(NameServiceTest, TheTimeOutBoundsTheLookUp)
{
    responder.silent = true;
    ResolvedHost r;
    auto t0 = Clock::now();
    EXPECT_EQ(vnb_resolve_host("ghost", settings("netbios"), ns, 300, &r), -1);
    EXPECT_LT(ms_since(t0), 1500);
}

TEST_F(NameServiceTest, ADottedNameGoesToDnsFirst)
{
    int before = responder.requests();
    ResolvedHost r;
    ASSERT_EQ(vnb_resolve_host("nas.example", settings("netbios,dns"), ns, 5000, &r), 0);
    EXPECT_EQ(r.method, "dns");
    EXPECT_EQ(responder.requests(), before);
    // Not known to dns: a NetBIOS name with a dot is asked for next.
    EXPECT_EQ(vnb_resolve_host("nas.other", settings("netbios,dns"), ns, 5000, &r), -1);
    EXPECT_GT(responder.requests(), before);
}

TEST(NameResolveSystem, LocalhostThroughTheSystemResolver)
{
    // Order "dns" only: the host's name service sends nothing, and
    // "localhost" comes from the hosts file.
    NameSettings dns_only;
    ASSERT_EQ(vnb_name_order_parse("dns", &dns_only), 0);
    dns_only.broadcast = false;
    ResolvedHost r;
    ASSERT_EQ(vnb_resolve_host("localhost", dns_only, vnb_host_name_service(), 5000, &r), 0) << vnb_error();
    EXPECT_TRUE(r.address == "127.0.0.1" || r.address == "::1") << r.address;
    EXPECT_EQ(r.method, "dns");
}

}  // namespace
