#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "sess/support/sess_fixture.h"
#include "sess/support/trans_reply.h"
#include "sess/trans.h"

namespace {

using sp::Bytes;

class Trans : public sp::SessTest {
protected:
    void SetUp() override
    {
        SessTest::SetUp();
        peer.respond = [this](const Bytes &req) { return std::vector<Bytes>{reply(req)}; };
    }
    std::function<Bytes(const Bytes &)> reply = [](const Bytes &req) {
        return sp::trans_reply(req, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {0xAA, 0xBB});
    };
};

TransRequest pipe_request(const uint16_t *setup, const Bytes &params, const Bytes &data)
{
    TransRequest r{};
    r.command = smb::TRANSACTION;
    r.tid = 7;
    r.setup = setup;
    r.setup_count = 2;
    r.name = "\\PIPE\\";
    r.params = params.empty() ? nullptr : params.data();
    r.params_len = params.size();
    r.data = data.empty() ? nullptr : data.data();
    r.data_len = data.size();
    r.max_param_count = 0;
    r.max_data_count = 0xFFFF;
    return r;
}

TEST_F(Trans, Trans2RequestLayout)
{
    const Bytes params{0x37, 0, 200, 0, 2, 0, 4, 1, 0, 0, 0, 0, '*', 0, 0, 0};
    for (uint32_t flags2 : {0xC801u, 0x4801u}) {
        peer.requests.clear();
        s.flags2 = flags2;
        SmbRequest h;
        ASSERT_EQ(trans2(s, 5, TRANS2_FIND_FIRST2, params, 0xFFFF, h), 0) << vnb_error();
        ASSERT_EQ(peer.requests.size(), 1u);
        const Bytes &req = peer.requests[0];
        sp::TransReq t = sp::parse_trans_req(req);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(req[4], smb::TRANSACTION2);
        EXPECT_EQ(sp::tid_of(req), 5);
        EXPECT_EQ(t.word_count, 15);
        EXPECT_EQ(t.total_params, params.size());
        EXPECT_EQ(t.total_data, 0);
        EXPECT_EQ(t.max_params, 10);
        EXPECT_EQ(t.timeout, 1000u);
        EXPECT_EQ(t.setup, std::vector<uint16_t>{TRANS2_FIND_FIRST2});
        // The byte block opens at 65: the empty Name and padding up to 68,
        // the same three zero bytes whether or not strings are Unicode.
        EXPECT_EQ(t.byte_block, 65u);
        EXPECT_EQ(t.param_offset, 68);
        EXPECT_EQ(Bytes(req.begin() + 65, req.begin() + 68), Bytes(3, 0)) << std::hex << flags2;
        EXPECT_EQ(t.params, params);
        EXPECT_EQ(t.data_count, 0);
        EXPECT_EQ(t.data_offset, 0);
        EXPECT_EQ(req.size(), 68 + params.size());
    }
}

// MaxDataCount goes out as asked, up to what the field holds: a reply
// larger than one message comes in several.
TEST_F(Trans, MaxDataCountGoesOutAsAsked)
{
    struct Case {
        uint32_t asked;
        uint32_t sent;
    } cases[] = {{0xFFFF, 0xFFFF}, {100, 100}, {0, 0}, {0x10000, 0xFFFF}};
    for (const Case &c : cases) {
        peer.requests.clear();
        const uint8_t p[2] = {1, 0};
        SmbRequest h;
        ASSERT_EQ(trans2(s, 5, 6, p, c.asked, h), 0);
        EXPECT_EQ(sp::parse_trans_req(peer.requests.at(0)).max_data, c.sent) << c.asked;
    }
}

// A transport that hands back one message per request (the host relay)
// asks only for what fits one message of the announced buffer.
TEST_F(Trans, OneMessagePerReplyKeepsTheReplyInOneMessage)
{
    peer.one_message_per_reply = true;
    constexpr uint32_t kReplyOverhead = 32 + 1 + 20 + 2;  // header, WordCount, 10 words, ByteCount
    for (uint32_t server_buffer : {16644u, 4356u, 65535u, 70000u}) {
        s.max_buffer = server_buffer;
        const uint32_t buffer = vnb_client_max_buffer(s);
        EXPECT_EQ(buffer, std::min(std::max(server_buffer, 16644u), 65535u)) << server_buffer;
        const uint32_t room10 = vnb_trans_reply_room(s, 10);
        // The largest reply the request allows (10 parameter bytes, the
        // data, worst-case padding before each block) fits the buffer.
        EXPECT_LE(kReplyOverhead + 3 + 10 + 3 + room10, buffer) << server_buffer;
        EXPECT_GT(room10, buffer - 100) << server_buffer;
        EXPECT_EQ(vnb_trans_reply_room(s, 1024) + 1024 - 10, room10) << server_buffer;
        EXPECT_EQ(vnb_trans_reply_room(s, 70000), 0u) << server_buffer;
        peer.requests.clear();
        const uint8_t p[2] = {1, 0};
        SmbRequest h;
        ASSERT_EQ(trans2(s, 5, 6, p, 0xFFFF, h), 0);
        EXPECT_EQ(sp::parse_trans_req(peer.requests.at(0)).max_data, room10) << server_buffer;
    }
    peer.one_message_per_reply = false;
    EXPECT_EQ(vnb_trans_reply_room(s, 10), 0xFFFFu);
}

TEST_F(Trans, PipeRequestAlignsNameParametersAndData)
{
    const uint16_t setup[2] = {0x0026, 0x4321};
    struct Case {
        uint32_t flags2;
        size_t params;
        size_t data;
        size_t param_offset;
        size_t data_offset;
    } cases[] = {
        // Byte block at 67: Unicode pad byte, "\PIPE\" and its NUL (14) to
        // 82, padding to 84; 8-bit: 7 bytes to 74, padding to 76.
        {0xC801, 0, 72, 84, 84},
        {0x4801, 0, 72, 76, 76},
        {0xC801, 5, 3, 84, 92},
        {0x4801, 6, 1, 76, 84},
        {0xC801, 4, 0, 84, 0},
    };
    for (const Case &c : cases) {
        peer.requests.clear();
        s.flags2 = c.flags2;
        Bytes params(c.params, 0x11);
        Bytes data(c.data, 0x22);
        TransRequest r = pipe_request(setup, params, data);
        SmbRequest h;
        ASSERT_EQ(vnb_trans_exchange(s, &r, h), 0) << vnb_error();
        const Bytes &req = peer.requests.at(0);
        sp::TransReq t = sp::parse_trans_req(req);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(req[4], smb::TRANSACTION);
        EXPECT_EQ(t.word_count, 16);
        EXPECT_EQ(t.setup, (std::vector<uint16_t>{0x0026, 0x4321}));
        EXPECT_EQ(t.byte_block, 67u);
        EXPECT_EQ(t.param_offset, c.param_offset) << c.flags2 << " " << c.params << " " << c.data;
        EXPECT_EQ(t.data_offset, c.data_offset) << c.flags2 << " " << c.params << " " << c.data;
        EXPECT_EQ(t.params, params);
        EXPECT_EQ(t.data, data);
        EXPECT_EQ(t.total_data, c.data);
        EXPECT_EQ(t.max_params, 0);
        EXPECT_EQ(t.max_data, 0xFFFF);
        Bytes name = c.flags2 & 0x8000 ? Bytes{0, '\\', 0, 'P', 0, 'I', 0, 'P', 0, 'E', 0, '\\', 0, 0, 0}
                                       : Bytes{'\\', 'P', 'I', 'P', 'E', '\\', 0};
        EXPECT_EQ(Bytes(req.begin() + 67, req.begin() + 67 + static_cast<long>(name.size())), name);
    }
}

TEST_F(Trans, MalformedRequestsSendNothing)
{
    const uint16_t setup[17] = {};
    const Bytes small{1};
    static const Bytes huge(65281, 0);
    struct Case {
        const char *what;
        std::function<void(TransRequest &)> bend;
        int32_t rc;
    } cases[] = {
        {"17 setup words", [&](TransRequest &r) { r.setup_count = 17; }, -6},
        {"setup count without words", [](TransRequest &r) { r.setup = nullptr; }, -6},
        {"parameter length without bytes", [](TransRequest &r) { r.params = nullptr; r.params_len = 4; }, -6},
        {"another command", [](TransRequest &r) { r.command = smb::READ_ANDX; }, -6},
        {"data past one frame", [&](TransRequest &r) { r.data = huge.data(); r.data_len = huge.size(); }, -7},
        {"blocks together past one frame",
         [&](TransRequest &r) {
             r.data = huge.data();
             r.data_len = 65200;
             r.params = huge.data();
             r.params_len = 100;
         },
         -7},
        {"non-ASCII name", [](TransRequest &r) { r.name = "\\PIPE\\\xC3\xA9"; }, -6},
    };
    for (const Case &c : cases) {
        TransRequest r = pipe_request(setup, small, small);
        c.bend(r);
        uint64_t sent = vnb_frames_sent();
        SmbRequest h;
        EXPECT_EQ(vnb_trans_exchange(s, &r, h), c.rc) << c.what;
        EXPECT_EQ(vnb_frames_sent(), sent) << c.what;
    }
    EXPECT_TRUE(peer.requests.empty());
}

TEST_F(Trans, ReplyBlocksAreReadWhereTheyLie)
{
    SmbRequest h;
    ASSERT_EQ(trans2(s, 5, 1, {}, 0xFFFF, h), 0);
    TransReply r;
    ASSERT_EQ(vnb_trans_reply_read(h.message(), 10, &r), TransFault::none);
    EXPECT_EQ(r.word_count, 10u);
    EXPECT_EQ(r.param_count, 10u);
    EXPECT_EQ(r.param_offset, 56u);
    EXPECT_EQ(r.data_count, 2u);
    EXPECT_EQ(r.data_offset, 68u);
    ASSERT_NE(r.params, nullptr);
    ASSERT_NE(r.data, nullptr);
    EXPECT_EQ(r.params[9], 10);
    EXPECT_EQ(r.data[1], 0xBB);
    EXPECT_EQ(r.data + 2, h.message().data() + h.message().size());
}

// Replies bent one way each, and what the reader makes of them.
TEST_F(Trans, LyingAndTruncatedReplies)
{
    using Bend = std::function<void(Bytes &)>;
    auto field = [](size_t off, uint32_t v) -> Bend { return [=](Bytes &m) { sp::set16(m, off, v); }; };
    auto cut = [](size_t n) -> Bend { return [=](Bytes &m) {
            for (size_t i = 0; i < n; i++)
                m.pop_back();
        }; };
    struct Case {
        const char *what;
        Bend bend;
        TransFault fault;
        const char *text;
    } cases[] = {
        {"as built", [](Bytes &) {}, TransFault::none, nullptr},
        {"WordCount 0", [](Bytes &m) { m.resize(35); m[32] = 0; m[33] = m[34] = 0; }, TransFault::word_count,
         "T reply WordCount 0"},
        {"WordCount 9", [](Bytes &m) { m[32] = 9; }, TransFault::word_count, "T reply WordCount 9"},
        {"no byte after the header", [](Bytes &m) { m.resize(32); }, TransFault::word_count,
         "T reply WordCount 0"},
        {"words cut short", [](Bytes &m) { m.resize(45); }, TransFault::words_outside,
         "T reply words lie outside the frame"},
        {"WordCount beyond the message", [](Bytes &m) { m[32] = 60; }, TransFault::words_outside,
         "T reply words lie outside the frame"},
        {"more data than carried", field(sp::kRepTotalData, 3), TransFault::split,
         "T reply is split over several messages (10 of 10 parameter bytes, 2 of 3 data bytes)"},
        {"more parameters than carried", field(sp::kRepTotalParams, 4000), TransFault::split,
         "T reply is split over several messages (10 of 4000 parameter bytes, 2 of 2 data bytes)"},
        {"a later part (data)", field(sp::kRepDataDisp, 2), TransFault::split, nullptr},
        {"a later part (parameters)", field(sp::kRepParamDisp, 10), TransFault::split, nullptr},
        {"fewer parameters than needed",
         [](Bytes &m) {
             sp::set16(m, sp::kRepParamCount, 8);
             sp::set16(m, sp::kRepTotalParams, 8);
         },
         TransFault::few_params, "T reply carries 8 parameter bytes"},
        {"parameter offset 0", field(sp::kRepParamOffset, 0), TransFault::params_outside,
         "T parameters lie outside the frame"},
        {"parameters past the end", field(sp::kRepParamOffset, 65530), TransFault::params_outside, nullptr},
        {"data offset 0", field(sp::kRepDataOffset, 0), TransFault::data_outside, "T data lies outside the frame"},
        {"data one byte short", cut(1), TransFault::data_outside, nullptr},
        {"data offset at the end", field(sp::kRepDataOffset, 70), TransFault::data_outside, nullptr},
        {"no data, no offset",
         [](Bytes &m) {
             sp::set16(m, sp::kRepDataCount, 0);
             sp::set16(m, sp::kRepTotalData, 0);
             sp::set16(m, sp::kRepDataOffset, 0);
         },
         TransFault::none, nullptr},
        {"fewer totals than carried", field(sp::kRepTotalData, 1), TransFault::none, nullptr},
    };
    for (const Case &c : cases) {
        reply = [&](const Bytes &req) {
            Bytes m = sp::trans_reply(req, Bytes(10, 0x5A), {0xAA, 0xBB});
            c.bend(m);
            return m;
        };
        SmbRequest h;
        ASSERT_EQ(trans2(s, 5, 1, {}, 0xFFFF, h), 0) << c.what << ": " << vnb_error();
        TransReply r;
        TransFault f = vnb_trans_reply_read(h.message(), 10, &r);
        EXPECT_EQ(f, c.fault) << c.what;
        if (f == TransFault::none) {
            EXPECT_TRUE(r.data_count == 0 ? r.data == nullptr
                                          : r.data + r.data_count <= h.message().data() + h.message().size())
                << c.what;
            continue;
        }
        EXPECT_EQ(vnb_trans_fail("T", f, &r), -2);
        if (c.text) {
            EXPECT_STREQ(vnb_error(), c.text) << c.what;
        }
    }
}

// One message of a split reply: its blocks and where they go.
struct Part {
    Bytes params;
    uint32_t param_disp;
    Bytes data;
    uint32_t data_disp;
    uint32_t total_params = 4;
    uint32_t total_data = 10;
    uint32_t status = 0;
};

Bytes part_message(const Bytes &req, const Part &p)
{
    Bytes m = sp::trans_reply(req, p.params, p.data, p.status);
    sp::set16(m, sp::kRepTotalParams, p.total_params);
    sp::set16(m, sp::kRepTotalData, p.total_data);
    sp::set16(m, sp::kRepParamDisp, p.param_disp);
    sp::set16(m, sp::kRepDataDisp, p.data_disp);
    return m;
}

// A reply sent as several messages is joined when every part continues
// where the parts before it ended; anything else fails with -2 and says
// which part went wrong.
TEST_F(Trans, SplitRepliesAreJoinedOrRefused)
{
    const Bytes p4{1, 2, 3, 4};
    const Bytes d10{10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    auto d = [&](size_t from, size_t n) { return Bytes(d10.begin() + from, d10.begin() + from + n); };
    struct Case {
        const char *what;
        std::vector<Part> parts;
        int32_t rc;
        const char *text;  // how the error text starts
    } cases[] = {
        {"two parts", {{p4, 0, d(0, 6), 0}, {{}, 4, d(6, 4), 6}}, 0, nullptr},
        {"an empty block's displacement 0, as Samba sends it", {{p4, 0, d(0, 6), 0}, {{}, 0, d(6, 4), 6}}, 0,
         nullptr},
        {"three parts, parameters split too",
         {{{1, 2}, 0, {}, 0}, {{3, 4}, 2, d(0, 3), 0}, {{}, 4, d(3, 7), 3}}, 0, nullptr},
        {"a gap", {{p4, 0, d(0, 6), 0}, {{}, 4, d(7, 3), 7}}, -2,
         "T reply part 2 does not continue where the parts before it ended (parameters 4+0, data 7+3, after 4 of 4 "
         "and 6 of 10 bytes)"},
        {"an overlap", {{p4, 0, d(0, 6), 0}, {{}, 4, d(5, 5), 5}}, -2,
         "T reply part 2 does not continue where the parts before it ended"},
        {"parameters again", {{p4, 0, d(0, 6), 0}, {p4, 0, d(6, 4), 6}}, -2,
         "T reply part 2 does not continue where the parts before it ended"},
        {"past the total", {{p4, 0, d(0, 6), 0}, {{}, 4, Bytes(6, 1), 6}}, -2,
         "T reply part 2 does not continue where the parts before it ended"},
        {"a part with nothing", {{p4, 0, d(0, 6), 0}, {{}, 4, {}, 6}}, -2,
         "T reply part 2 does not continue where the parts before it ended"},
        {"the first part starts late", {{p4, 0, d(0, 6), 2}}, -2,
         "T reply part 1 does not continue where the parts before it ended"},
        {"the total grows", {{p4, 0, d(0, 6), 0}, {{}, 4, d(6, 4), 6, 4, 11}}, -2,
         "T reply part 2 changes the totals from 4 and 10 to 4 and 11 bytes"},
        {"the total shrinks", {{p4, 0, d(0, 6), 0}, {{}, 4, d(6, 3), 6, 4, 9}}, -2,
         "T reply part 2 changes the totals from 4 and 10 to 4 and 9 bytes"},
        {"the status changes", {{p4, 0, d(0, 6), 0}, {{}, 4, d(6, 4), 6, 4, 10, 0x80000005}}, -2,
         "T reply part 2 changes the status from 00000000 to 80000005"},
        {"a part past the frame", {{p4, 0, d(0, 6), 0}, {{}, 4, d(6, 4), 6}}, -2,
         "T data lies outside the frame"},
    };
    for (const Case &c : cases) {
        const bool cut_last = std::string(c.what) == "a part past the frame";
        peer.respond = [&](const Bytes &req) {
            std::vector<Bytes> out;
            for (const Part &p : c.parts)
                out.push_back(part_message(req, p));
            if (cut_last)
                out.back().pop_back();
            return out;
        };
        SmbRequest h;
        ASSERT_EQ(trans2(s, 5, 1, {}, 0xFFFF, h), 0) << c.what;
        TransReply r;
        EXPECT_EQ(vnb_trans_reply_take(s, h, 4, "T", &r), c.rc) << c.what << ": " << vnb_error();
        if (c.rc == 0) {
            EXPECT_EQ(r.parts, c.parts.size()) << c.what;
            ASSERT_EQ(r.param_count, 4u) << c.what;
            ASSERT_EQ(r.data_count, 10u) << c.what;
            EXPECT_EQ(Bytes(r.params, r.params + 4), p4) << c.what;
            EXPECT_EQ(Bytes(r.data, r.data + 10), d10) << c.what;
        } else {
            EXPECT_EQ(std::string(vnb_error()).rfind(c.text, 0), 0u) << c.what << ": " << vnb_error();
        }
        EXPECT_TRUE(s.in_flight.empty()) << c.what;
        EXPECT_TRUE(peer.out.empty()) << c.what << ": every part was taken";
    }
}

// A split reply whose further message never arrives fails with the
// exchange's code, not as a shorter reply.
TEST_F(Trans, SplitReplyWithoutItsRest)
{
    peer.respond = [](const Bytes &req) {
        return std::vector<Bytes>{part_message(req, {{1, 2, 3, 4}, 0, Bytes(6, 1), 0})};
    };
    SmbRequest h;
    ASSERT_EQ(trans2(s, 5, 1, {}, 0xFFFF, h), 0);
    TransReply r;
    EXPECT_LT(vnb_trans_reply_take(s, h, 4, "T", &r), 0);
    EXPECT_LT(r.data_count, r.total_data_count);
    EXPECT_TRUE(s.in_flight.empty());
}

TEST_F(Trans, StatusIsLeftToTheCaller)
{
    reply = [](const Bytes &req) { return sp::reply_to(req, 0xC000003A); };
    SmbRequest h;
    s.last_status = 0;
    ASSERT_EQ(trans2(s, 5, 1, {}, 0xFFFF, h), 0);
    EXPECT_EQ(h.header.status, 0xC000003Au);
    EXPECT_EQ(s.last_status, 0u);
    TransReply r;
    EXPECT_EQ(vnb_trans_reply_read(h.message(), 0, &r), TransFault::word_count);
}

TEST_F(Trans, ExchangeFailuresComeBackUnchanged)
{
    reply = [](const Bytes &req) {
        Bytes m = sp::trans_reply(req, {}, {});
        m[4] = 0x33;  // another command
        return m;
    };
    SmbRequest h;
    EXPECT_EQ(trans2(s, 5, 1, {}, 0xFFFF, h), -2);
    EXPECT_STREQ(vnb_error(), "the reply command 33 does not answer 32");
}

}  // namespace
