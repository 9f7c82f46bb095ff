#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "net/msg_transport.h"
#include "crypto/crypto.h"
#include "sess/exchange.h"
#include "sess/support/sess_fixture.h"
#include "util/text.h"

namespace {

using sp::Bytes;

std::vector<Bytes> echo(const Bytes &req)
{
    return {sp::reply_to(req, 0)};
}

class Exchange : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        peer.respond = echo;
    }
    int32_t send(uint32_t command, ParsedHeader *h = nullptr, int sign = 1, uint32_t tid = 0)
    {
        SmbRequest req;
        int32_t rc = exchange(s, command, {}, {}, tid, sign != 0, req);
        if (h)
            *h = req.header;
        return rc;
    }
};

TEST_F(Exchange, MidsRunFromOneAndSkipZero)
{
    struct Case {
        uint64_t counter;
        std::vector<uint16_t> mids;
    } cases[] = {
        {0, {1, 2, 3}},
        {65534, {65534, 65535, 1, 2}},
        {65535, {65535, 1, 2}},
        {0x30000, {1, 2}},
    };
    for (const Case &c : cases) {
        peer.requests.clear();
        s.mid_counter = c.counter;
        for (size_t i = 0; i < c.mids.size(); i++) {
            ASSERT_EQ(send(smb::CLOSE), 0) << vnb_error();
        }
        std::vector<uint16_t> seen;
        for (const Bytes &r : peer.requests)
            seen.push_back(sp::mid_of(r));
        EXPECT_EQ(seen, c.mids) << "counter " << c.counter;
    }
}

TEST_F(Exchange, RequestLayoutOnTheWire)
{
    const uint8_t words[4] = {0x11, 0x22, 0x33, 0x44};
    const uint8_t bytes[3] = {'a', 'b', 'c'};
    s.uid = 0x4001;
    SmbRequest req;
    ASSERT_EQ(exchange(s, smb::TRANSACTION2, words, bytes, 9, true, req), 0);
    ASSERT_EQ(peer.requests.size(), 1u);
    const Bytes &r = peer.requests[0];
    ASSERT_EQ(r.size(), 32u + 1 + 4 + 2 + 3);
    EXPECT_EQ(r[4], smb::TRANSACTION2);
    EXPECT_EQ(sp::tid_of(r), 9);
    EXPECT_EQ(sp::uid_of(r), 0x4001);
    EXPECT_EQ(r[32], 2);  // WordCount
    EXPECT_EQ(Bytes(r.begin() + 33, r.begin() + 37), Bytes(words, words + 4));
    EXPECT_EQ(sp::get16(r, 37), 3);
    EXPECT_EQ(Bytes(r.begin() + 39, r.end()), Bytes(bytes, bytes + 3));
    EXPECT_EQ(sp::get16(r, 10) & 0x0004, 0) << "an unsigned session signs nothing";
}

TEST_F(Exchange, OversizedRequestsFailBeforeAnythingIsSent)
{
    static uint8_t big[65533];
    struct Case {
        size_t words_len;
        size_t bytes_len;
        int32_t rc;
    } cases[] = {
        {65533, 0, -7}, {0, 65281, -7}, {65532, 0, 0}, {0, 65280, 0},
    };
    for (const Case &c : cases) {
        peer.requests.clear();
        uint64_t frames = vnb_frames_sent();
        uint64_t counter = s.mid_counter;
        SmbRequest req;
        int32_t rc = exchange(s, smb::TRANSACTION, std::span(big, c.words_len), std::span(big, c.bytes_len), 0,
                              true, req);
        EXPECT_EQ(rc, c.rc) << c.words_len << "/" << c.bytes_len;
        if (c.rc != 0) {
            EXPECT_STREQ(vnb_error(), "a request does not fit one SMB1 frame");
            EXPECT_EQ(vnb_frames_sent(), frames);
            EXPECT_EQ(s.mid_counter, counter);
            EXPECT_TRUE(peer.requests.empty());
        } else {
            EXPECT_EQ(vnb_frames_sent(), frames + 1);
            EXPECT_EQ(peer.requests.size(), 1u);
        }
    }
}

TEST_F(Exchange, NoTransport)
{
    s.transport.reset();
    uint64_t frames = vnb_frames_sent();
    EXPECT_EQ(send(smb::CLOSE), -5);
    EXPECT_STREQ(vnb_error(), "no transport");
    EXPECT_EQ(vnb_frames_sent(), frames);
}

TEST_F(Exchange, FailedSendsCountAsSent)
{
    peer.write_rc = -1;
    uint64_t frames = vnb_frames_sent();
    EXPECT_EQ(send(smb::CLOSE), -1);
    EXPECT_EQ(vnb_frames_sent(), frames + 1);
    EXPECT_TRUE(s.in_flight.empty()) << "a request that was not sent waits for nothing";
}

// A reply altered after it was built from the request.
struct ReplyCase {
    const char *what;
    uint8_t request;
    int reply_command;  // -1: the request's
    int mid_delta;
    uint32_t status;
    uint16_t flags2;
    int32_t rc;
    const char *text;  // nullptr: not checked
};

TEST_F(Exchange, RepliesMustAnswerTheRequest)
{
    const ReplyCase cases[] = {
        {"READ answered as WRITE_ANDX", 0x2E, 0x2F, 0, 0, 0xC001, 0, nullptr},
        {"SESSION_SETUP chained reply", 0x73, 0x75, 0, 0, 0xC001, 0, nullptr},
        {"LOGOFF chained reply", 0x74, 0x2E, 0, 0, 0xC001, 0, nullptr},
        {"TREE_CONNECT chained reply", 0x75, 0xA2, 0, 0, 0xC001, 0, nullptr},
        {"NT_CREATE chained reply", 0xA2, 0x2E, 0, 0, 0xC001, 0, nullptr},
        {"TRANSACTION2 answered as 0x33", 0x32, 0x33, 0, 0, 0xC001, -2, "the reply command 33 does not answer 32"},
        {"CLOSE answered as NEGOTIATE", 0x04, 0x72, 0, 0, 0xC001, -2, "the reply command 72 does not answer 04"},
        {"mid one less", 0x04, -1, -1, 0, 0xC001, -2, "the reply mid 1 answers another request (2)"},
        {"NT PENDING", 0x2E, -1, 0, 0x103, 0xC001, -2,
         "SMB1 has no async interim (PENDING status on the reply)"},
        {"DOS-form 0x103 is a status", 0x2E, -1, 0, 0x103, 0x8001, 0, nullptr},
        {"failure status is for the caller", 0x04, -1, 0, 0xC0000022, 0xC001, 0, nullptr},
    };
    for (const ReplyCase &c : cases) {
        s.mid_counter = 2;  // the request carries MID 2
        peer.respond = [&c](const Bytes &req) {
            Bytes r = sp::reply_to(req, c.status, {}, {}, c.flags2);
            if (c.reply_command >= 0)
                r[4] = static_cast<uint8_t>(c.reply_command);
            uint16_t mid = static_cast<uint16_t>(sp::mid_of(req) + c.mid_delta);
            r[30] = uint8_t(mid);
            r[31] = uint8_t(mid >> 8);
            return std::vector<Bytes>{r};
        };
        ParsedHeader h;
        EXPECT_EQ(send(c.request, &h), c.rc) << c.what << ": " << vnb_error();
        if (c.text) {
            EXPECT_STREQ(vnb_error(), c.text) << c.what;
        }
        if (c.rc == 0) {
            EXPECT_EQ(h.status, c.status) << c.what;
            EXPECT_EQ(h.status_is_nt, (c.flags2 & 0x4000) ? 1 : 0) << c.what;
        }
    }
}

TEST_F(Exchange, AcceptedReplyLandsInItsRequest)
{
    peer.respond = [](const Bytes &req) { return std::vector<Bytes>{sp::reply_to(req, 0, {1, 2}, {9, 8, 7})}; };
    SmbRequest req;
    ASSERT_EQ(exchange(s, smb::CLOSE, {}, {}, 0, true, req), 0);
    EXPECT_TRUE(req.answered);
    ASSERT_EQ(req.message().size(), 32u + 1 + 2 + 2 + 3);
    EXPECT_EQ(req.message()[32], 1);
    EXPECT_EQ(req.message().back(), 7);
    EXPECT_EQ(req.header.mid, req.mid);
    EXPECT_TRUE(s.in_flight.empty());

    // A rejected reply is not taken.
    peer.respond = [](const Bytes &req) {
        Bytes r = sp::reply_to(req, 0, {5, 5, 5, 5});
        r[4] = 0x33;
        return std::vector<Bytes>{r};
    };
    SmbRequest rejected;
    EXPECT_EQ(exchange(s, smb::CLOSE, {}, {}, 0, true, rejected), -2);
    EXPECT_FALSE(rejected.answered);
    EXPECT_TRUE(rejected.message().empty());
    EXPECT_TRUE(s.in_flight.empty());
}

TEST_F(Exchange, NotAnSmb1HeaderOverTheByteStream)
{
    peer.respond = [](const Bytes &req) {
        Bytes r = sp::reply_to(req, 0);
        r.resize(32);
        r[0] = 0xFE;  // an SMB2 header
        return std::vector<Bytes>{r};
    };
    sp::TraceOn trace;
    testing::internal::CaptureStderr();
    EXPECT_EQ(send(smb::CLOSE), -2);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_STREQ(vnb_error(), "the reply is not an SMB1 header (32 bytes)");
    EXPECT_EQ(err.rfind("[hdr-fail] n=32: fe 53 4d 42 04 00", 0), 0u) << err;
}

// A host io whose every POST answers with the Base64 of `reply`.
struct RelayReply {
    Bytes reply;
};

int relay_post(void *ctx, const char *, const char *, const char *, char **out_body, long *out_status, char **)
{
    auto *r = static_cast<RelayReply *>(ctx);
    *out_body = vnb_b64enc(r->reply.data(), r->reply.size());
    *out_status = 200;
    return 0;
}

TEST_F(Exchange, ShortRepliesOnTheRelayPathAreTracedAndRefused)
{
    struct Case {
        size_t len;
        size_t dumped;  // bytes shown by the trace
    } cases[] = {{31, 31}, {41, 40}};
    for (const Case &c : cases) {
        RelayReply relay;
        relay.reply.resize(c.len);
        for (size_t i = 0; i < c.len; i++)
            relay.reply[i] = static_cast<uint8_t>(i);
        vnsmb1c_HostIo io{&relay, nullptr, relay_post, nullptr};
        sess_reset(s);
        s.transport = vnb_transport_relay(&io);
        ASSERT_EQ(s.transport->open("peer", 445, 1000), 0);

        sp::TraceOn trace;
        testing::internal::CaptureStderr();
        EXPECT_EQ(send(smb::CLOSE), -2);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::string(vnb_error()), "the reply is not an SMB1 header (" + std::to_string(c.len) + " bytes)");
        std::string expect = "[hdr-fail] n=" + std::to_string(c.len) + ":";
        char hex[8];
        for (size_t i = 0; i < c.dumped; i++) {
            std::snprintf(hex, sizeof hex, " %02x", static_cast<unsigned>(i));
            expect += hex;
        }
        EXPECT_EQ(err, expect + "\n");
        sess_reset(s);
    }
}

TEST_F(Exchange, NoTraceWithoutTheSwitch)
{
    peer.respond = [](const Bytes &) { return std::vector<Bytes>{Bytes(32, 0)}; };
    testing::internal::CaptureStderr();
    EXPECT_EQ(send(smb::CLOSE), -2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Exchange, RememberStatus)
{
    ParsedHeader h{};
    h.status = 0x00020001;  // ERRDOS/ERRbadfile: class in the low byte, code in the upper half
    h.status_is_nt = 0;
    EXPECT_EQ(remember_status(s, &h), -4);
    EXPECT_EQ(s.last_status, 0x00020001u);
    EXPECT_EQ(s.last_status_nt, 0);
    EXPECT_EQ(s.last_code, -4);
    EXPECT_EQ(remember_status(s, nullptr), 0);
    EXPECT_EQ(s.last_status, 0u);
    EXPECT_EQ(s.last_status_nt, 1);
    EXPECT_EQ(s.last_code, 0);
}

TEST_F(Exchange, CommandWithStatusOnly)
{
    struct Case {
        uint32_t status;
        int32_t rc;
        const char *text;
    } cases[] = {
        {0, 0, nullptr},
        {0xC0000022, -3, "CLOSE: ACCESS_DENIED"},
        {0xC0000008, -5, "CLOSE: INVALID_HANDLE"},
        {0x80000005, -2, "CLOSE: BUFFER_OVERFLOW"},  // a warning class still fails the command
    };
    for (const Case &c : cases) {
        vnb_set_error("untouched");
        remember_status(s, nullptr);
        peer.respond = [&c](const Bytes &req) { return std::vector<Bytes>{sp::reply_to(req, c.status)}; };
        EXPECT_EQ(cmd_ok(s, smb::CLOSE, {}, 3, "CLOSE"), c.rc);
        if (c.text) {
            EXPECT_STREQ(vnb_error(), c.text);
            EXPECT_EQ(s.last_status, c.status);
        } else {
            EXPECT_STREQ(vnb_error(), "untouched");
            EXPECT_EQ(s.last_status, 0u);
        }
    }
    EXPECT_EQ(sp::tid_of(peer.requests.back()), 3);
}

// ---- signing ----

const Bytes kKey{0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87, 0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};

class SignedExchange : public Exchange {
protected:
    void SetUp() override
    {
        Exchange::SetUp();
        s.negotiated = 1;
        s.established = 1;
        s.signing = 1;
        s.ext_security = 1;
        s.sign_seq = 2;
        std::memcpy(s.signing_key, kKey.data(), 16);
        mac_key = kKey;
        peer.respond = [this](const Bytes &req) {
            Bytes r = sp::reply_to(req, 0);
            sp::sign_as_peer(mac_key, next_reply_seq, r);
            next_reply_seq += 2;
            return std::vector<Bytes>{r};
        };
    }
    Bytes mac_key;
    uint32_t next_reply_seq = 3;
};

TEST_F(SignedExchange, RequestsCarryEvenNumbersAndRepliesAreChecked)
{
    ASSERT_EQ(send(smb::TREE_CONNECT_ANDX), 0) << vnb_error();
    ASSERT_EQ(send(smb::READ_ANDX), 0) << vnb_error();
    ASSERT_EQ(peer.requests.size(), 2u);
    uint32_t seq = 2;
    for (const Bytes &r : peer.requests) {
        EXPECT_EQ(sp::get16(r, 10) & 0x0004, 0x0004);
        EXPECT_EQ(Bytes(r.begin() + 14, r.begin() + 22), sp::expected_signature(kKey, seq, r)) << "seq " << seq;
        seq += 2;
    }
    EXPECT_EQ(s.sign_seq, 6u);
}

TEST_F(SignedExchange, RepliesThatDoNotVerifyAreRejected)
{
    struct Case {
        const char *what;
        uint8_t command;
        int seq_delta;   // against the expected reply number
        bool sign;
        bool tamper;
        const char *text;
    } cases[] = {
        {"signed with the request's number", smb::READ_ANDX, -1, true, false,
         "READ reply signature does not verify"},
        {"signed with the next number", smb::TREE_CONNECT_ANDX, 1, true, false,
         "TREE_CONNECT reply signature does not verify"},
        {"unsigned", smb::CLOSE, 0, false, false, "CLOSE reply signature does not verify"},
        {"changed after signing", smb::TRANSACTION2, 0, true, true,
         "TRANSACTION2 reply signature does not verify"},
        {"command without a name", 0x08, 0, false, false, "command 08 reply signature does not verify"},
    };
    for (const Case &c : cases) {
        uint32_t expected = s.sign_seq + 1;
        peer.respond = [&](const Bytes &req) {
            Bytes r = sp::reply_to(req, 0, {}, {1, 2, 3});
            if (c.sign)
                sp::sign_as_peer(mac_key, static_cast<uint32_t>(static_cast<int>(expected) + c.seq_delta), r);
            if (c.tamper)
                r.back() ^= 1;
            return std::vector<Bytes>{r};
        };
        EXPECT_EQ(send(c.command), -2) << c.what;
        EXPECT_STREQ(vnb_error(), c.text) << c.what;
    }
}

TEST_F(SignedExchange, WhatIsNotSigned)
{
    struct Case {
        const char *what;
        int sign;
        int established;
        int guest;
        int signing;
    } cases[] = {
        {"request without the signing flag", 0, 1, 0, 1},
        {"during SESSION_SETUP", 1, 0, 0, 1},
        {"guest session", 1, 1, 1, 1},
        {"server does not demand it", 1, 1, 0, 0},
    };
    peer.respond = echo;
    for (const Case &c : cases) {
        peer.requests.clear();
        s.established = c.established;
        s.guest = c.guest;
        s.signing = c.signing;
        s.sign_seq = 2;
        EXPECT_EQ(send(smb::CLOSE, nullptr, c.sign), 0) << c.what << ": " << vnb_error();
        ASSERT_EQ(peer.requests.size(), 1u);
        EXPECT_EQ(sp::get16(peer.requests[0], 10) & 0x0004, 0) << c.what;
        EXPECT_EQ(Bytes(peer.requests[0].begin() + 14, peer.requests[0].begin() + 22), Bytes(8, 0)) << c.what;
        EXPECT_EQ(s.sign_seq, 2u) << c.what;
    }
}

TEST_F(SignedExchange, NonExtendedLogonSignsWithKeyAndNtResponse)
{
    s.ext_security = 0;
    Bytes nt(60);
    for (size_t i = 0; i < nt.size(); i++)
        nt[i] = static_cast<uint8_t>(3 * i + 1);
    std::memcpy(s.nt_response, nt.data(), nt.size());
    s.nt_response_len = static_cast<uint32_t>(nt.size());
    mac_key = kKey;
    sp::append(mac_key, nt);

    ASSERT_EQ(send(smb::CLOSE), 0) << vnb_error();
    const Bytes &r = peer.requests.at(0);
    EXPECT_EQ(Bytes(r.begin() + 14, r.begin() + 22), sp::expected_signature(mac_key, 2, r));
}

}  // namespace
