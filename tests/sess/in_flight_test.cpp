// Several requests in flight on one session: replies matched to their
// requests by MID in whatever order the peer sends them.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "sess/exchange.h"
#include "sess/support/sess_fixture.h"

namespace {

using sp::Bytes;

// The peer keeps every request unanswered; the test queues the replies.
class InFlight : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        peer.respond = [](const Bytes &) { return std::vector<Bytes>{}; };
    }
    int32_t send(uint32_t command, SmbRequest &req) { return req_send(s, command, {}, {}, 0, true, req); }
    // A reply to the index-th request, carrying one byte so that replies
    // can be told apart.
    Bytes reply(size_t index, uint8_t tag) { return sp::reply_to(peer.requests.at(index), 0, {}, {tag}); }
};

TEST_F(InFlight, RepliesInAnyOrderReachTheirRequests)
{
    struct Case {
        const char *what;
        std::vector<size_t> reply_order;  // indexes of the requests, in the order answered
        size_t awaited;                   // the request awaited first
    } cases[] = {
        {"in order", {0, 1, 2}, 0},
        {"reversed", {2, 1, 0}, 0},
        {"the last one awaited first", {0, 2, 1}, 2},
        {"middle first", {1, 0, 2}, 1},
    };
    for (const Case &c : cases) {
        fresh_peer();
        peer.respond = [](const Bytes &) { return std::vector<Bytes>{}; };
        SmbRequest reqs[3];
        for (SmbRequest &r : reqs)
            ASSERT_EQ(send(smb::READ_ANDX, r), 0) << c.what;
        EXPECT_EQ(s.in_flight.size(), 3u) << c.what;
        for (size_t i : c.reply_order)
            peer.out.push_back(reply(i, static_cast<uint8_t>(0xA0 + i)));

        ASSERT_EQ(req_await(s, reqs[c.awaited]), 0) << c.what << ": " << vnb_error();
        for (size_t i = 0; i < 3; i++) {
            ASSERT_EQ(req_await(s, reqs[i]), 0) << c.what << ": " << vnb_error();
            EXPECT_EQ(reqs[i].header.mid, reqs[i].mid) << c.what;
            EXPECT_EQ(reqs[i].message().back(), 0xA0 + i) << c.what;
        }
        EXPECT_TRUE(s.in_flight.empty()) << c.what;
        EXPECT_TRUE(peer.out.empty()) << c.what;
    }
}

TEST_F(InFlight, StrayRepliesFail)
{
    struct Case {
        const char *what;
        int stray;  // 0: a MID never sent, 1: a second reply for an answered request
    } cases[] = {{"no such request", 0}, {"duplicate", 1}};
    for (const Case &c : cases) {
        fresh_peer();
        peer.respond = [](const Bytes &) { return std::vector<Bytes>{}; };
        SmbRequest first;
        SmbRequest second;
        ASSERT_EQ(send(smb::CLOSE, first), 0);
        ASSERT_EQ(send(smb::CLOSE, second), 0);
        peer.out.push_back(reply(0, 1));
        ASSERT_EQ(req_await(s, first), 0);
        Bytes stray = reply(0, 2);
        if (c.stray == 0) {
            stray[30] = 0x77;
            stray[31] = 0x77;
        }
        peer.out.push_back(stray);
        EXPECT_EQ(req_await(s, second), -2) << c.what;
        EXPECT_STREQ(vnb_error(), ("the reply mid " + std::to_string(sp::get16(stray, 30)) +
                                   " answers another request (" + std::to_string(second.mid) + ")")
                                      .c_str())
            << c.what;
        EXPECT_EQ(first.message().back(), 1) << c.what << ": the answered request keeps its reply";
        EXPECT_FALSE(second.answered) << c.what;

        // The right reply still reaches the request afterwards.
        peer.out.push_back(reply(1, 3));
        ASSERT_EQ(req_await(s, second), 0) << c.what;
        EXPECT_EQ(second.message().back(), 3) << c.what;
    }
}

TEST_F(InFlight, ARequestGoneBeforeItsReplyIsForgotten)
{
    auto early = std::make_unique<SmbRequest>();
    SmbRequest kept;
    ASSERT_EQ(send(smb::CLOSE, *early), 0);
    ASSERT_EQ(send(smb::CLOSE, kept), 0);
    early.reset();
    EXPECT_EQ(s.in_flight.size(), 1u);
    peer.out.push_back(reply(0, 1));
    EXPECT_EQ(req_await(s, kept), -2) << "no request waits for that reply any more";
    peer.out.push_back(reply(1, 2));
    EXPECT_EQ(req_await(s, kept), 0);
}

TEST_F(InFlight, AwaitingARequestNeverSentFails)
{
    SmbRequest never;
    EXPECT_EQ(req_await(s, never), -6);
    EXPECT_TRUE(peer.requests.empty());
}

TEST_F(InFlight, OneAtATimeOnATransportThatDoesNotPipeline)
{
    peer.pipelines = false;
    peer.respond = [](const Bytes &req) { return std::vector<Bytes>{sp::reply_to(req, 0)}; };
    SmbRequest first;
    SmbRequest second;
    ASSERT_EQ(send(smb::CLOSE, first), 0);
    EXPECT_FALSE(first.answered);
    ASSERT_EQ(send(smb::CLOSE, second), 0);
    EXPECT_TRUE(first.answered) << "the first reply is taken before the second request goes out";
    EXPECT_EQ(s.in_flight.size(), 1u);
    ASSERT_EQ(req_await(s, second), 0);
    ASSERT_EQ(req_await(s, first), 0);
    EXPECT_EQ(first.header.mid, first.mid);
    EXPECT_EQ(second.header.mid, second.mid);
}

// With signing each request takes its own sequence number, and each reply
// is checked against its own request's.
class SignedInFlight : public InFlight {
protected:
    void SetUp() override
    {
        InFlight::SetUp();
        s.established = 1;
        s.signing = 1;
        s.ext_security = 1;
        s.sign_seq = 2;
        for (uint8_t i = 0; i < 16; i++)
            s.signing_key[i] = static_cast<uint8_t>(0x31 * i + 7);
        key.assign(s.signing_key, s.signing_key + 16);
    }
    Bytes signed_reply(size_t index, uint32_t seq)
    {
        Bytes r = reply(index, static_cast<uint8_t>(index));
        sp::sign_as_peer(key, seq, r);
        return r;
    }
    Bytes key;
};

TEST_F(SignedInFlight, EachReplyIsVerifiedAgainstItsOwnRequest)
{
    SmbRequest reqs[3];
    for (SmbRequest &r : reqs)
        ASSERT_EQ(send(smb::READ_ANDX, r), 0);
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(reqs[i].reply_seq, 3 + 2 * i);
        EXPECT_EQ(Bytes(peer.requests[i].begin() + 14, peer.requests[i].begin() + 22),
                  sp::expected_signature(key, static_cast<uint32_t>(2 + 2 * i), peer.requests[i]));
    }
    peer.out.push_back(signed_reply(2, 7));
    peer.out.push_back(signed_reply(0, 3));
    peer.out.push_back(signed_reply(1, 5));
    for (SmbRequest &r : reqs)
        ASSERT_EQ(req_await(s, r), 0) << vnb_error();
}

TEST_F(SignedInFlight, AReplySignedForAnotherRequestFails)
{
    SmbRequest first;
    SmbRequest second;
    ASSERT_EQ(send(smb::READ_ANDX, first), 0);
    ASSERT_EQ(send(smb::READ_ANDX, second), 0);
    peer.out.push_back(signed_reply(1, 3));  // the first request's number on the second's reply
    EXPECT_EQ(req_await(s, first), -2);
    EXPECT_STREQ(vnb_error(), "READ reply signature does not verify");
    EXPECT_FALSE(second.answered) << "a reply that fails its check reaches no request";
    EXPECT_FALSE(first.answered);
}

}  // namespace
