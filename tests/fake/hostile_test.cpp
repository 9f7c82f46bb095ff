// Hostile requests: truncated frames, lying counts and offsets, bad UTF-16.
// The server must answer with an error or not at all, and every answer must
// be a well-formed reply. Meant to run under the sanitizers.
#include <gtest/gtest.h>

#include <functional>

#include "fake_client.h"

using namespace fk;

namespace {

constexpr const char *kTree = R"({"shares":[{"name":"media","root":[
    {"name":"a.txt","text":"hello"},{"name":"docs","children":[{"name":"b.txt","size":300}]},
    {"name":"many","generate":80}]}],"users":[{"name":"bob","pass":"secret"}]})";

// An answer is NBSS-framed, echoes command and MID, and its WordCount and
// ByteCount account for every byte.
void expect_well_formed(const Reply &r, const Bytes &req, const std::string &what)
{
    if (!r.present)
        return;
    ASSERT_GE(r.raw.size(), 4u) << what;
    ASSERT_EQ(0, r.raw[0]) << what;
    ASSERT_GE(r.msg.size(), 35u) << what;
    EXPECT_EQ(0xFF, r.msg[0]) << what;
    EXPECT_EQ(req[4], r.command()) << what;
    EXPECT_EQ(r16(req, 30), r.mid()) << what;
    size_t bc_at = r.bc_offset();
    ASSERT_LE(bc_at + 2, r.msg.size()) << what;
    EXPECT_EQ(r.msg.size(), bc_at + 2 + r.byte_count()) << what;
    if (r.wc() == 0 && r.command() != 0x04 && r.command() != 0x71 && r.command() != 0x34) {
        EXPECT_NE(0u, r.status()) << what;  // no words: an error reply
    }
}

class FakeHostile : public ::testing::Test {
public:
    // A fresh server with a session, a tree, an open file, an open pipe
    // bound to srvsvc and a search in progress.
    void fresh()
    {
        ASSERT_EQ(0, vnb_fake_load(kTree));
        c = Client{};
        ASSERT_EQ(0u, c.negotiate().status());
        ASSERT_EQ(0u, c.logon("bob", "secret").status());
        tid = c.connect("media");
        ASSERT_EQ(kIpcTree, c.connect("IPC$"));
        fid = c.open(tid, "a.txt", false);
        pipe = c.open(kIpcTree, "\\srvsvc", false);
        ASSERT_EQ(0u, c.send(trans_pipe_req(pipe, srvsvc_bind())).status());
        Reply ff = c.send(trans2_req(tid, 1, find_first_params("many\\*", 10)));
        ASSERT_EQ(0u, ff.status());
        sid = r16(ff.params(), 0);
    }

    // Valid requests of every command the server handles, in the current
    // session's terms.
    std::vector<std::pair<std::string, Req>> valid_requests()
    {
        ByteBuffer t1{};
        vnb_ntlm_build_type1(&t1);
        ByteBuffer tok{};
        vnb_spnego_wrap_type1(t1.data, t1.len, &tok);
        Bytes init = buf_bytes(tok);
        vnb_buf_free(&t1);
        vnb_buf_free(&tok);
        std::vector<std::pair<std::string, Req>> v = {
            {"NEGOTIATE", negotiate_req()},
            {"SESSION_SETUP", session_setup_ext(init, c.uid)},
            {"SESSION_SETUP basic", session_setup_basic(Bytes(24, 1), Bytes(60, 1), "bob", "")},
            {"TREE_CONNECT", tree_connect_req("\\\\fake\\media")},
            {"NT_CREATE", nt_create_req(tid, "docs\\b.txt", false)},
            {"NT_CREATE pipe", nt_create_req(kIpcTree, "\\srvsvc", false)},
            {"READ", read_req(tid, fid, 1, 100)},
            {"READ pipe", read_req(kIpcTree, pipe, 0, 100)},
            {"CLOSE", close_req(tid, fid)},
            {"FIND_FIRST2", trans2_req(tid, 1, find_first_params("docs\\*"))},
            {"FIND_NEXT2", trans2_req(tid, 2, find_next_params(sid, 5, 0, "f1"))},
            {"FIND_CLOSE2", find_close2_req(tid, sid)},
            {"TRANS bind", trans_pipe_req(pipe, srvsvc_bind())},
            {"TRANS request", trans_pipe_req(pipe, srvsvc_request())},
            {"LOGOFF", logoff_req()},
        };
        for (auto &[name, req] : v) {
            req.uid = c.uid;
            req.mid = 0x4242;
        }
        return v;
    }

    Reply send_raw(const Bytes &m, const std::string &what)
    {
        Reply r = exchange(m);
        expect_well_formed(r, m, what);
        return r;
    }

    Client c;
    uint16_t tid = 0;
    uint16_t fid = 0;
    uint16_t pipe = 0;
    uint16_t sid = 0;
};

TEST_F(FakeHostile, EveryTruncation)
{
    fresh();
    size_t kinds = valid_requests().size();
    for (size_t k = 0; k < kinds; k++) {
        fresh();
        const auto [name, req] = valid_requests()[k];
        Bytes full = build(req);
        for (size_t len = 0; len < full.size(); len++) {
            fresh();
            Bytes cut(full.begin(), full.begin() + static_cast<long>(len));
            Reply r = send_raw(cut, name + " cut to " + std::to_string(len));
            if (len < 32) {
                EXPECT_FALSE(r.present) << name << " " << len;
            }
            if (r.present && r.wc() > 0 && len < 33) {
                ADD_FAILURE() << name << " answered words to a frame without WordCount";
            }
        }
    }
}

struct HostileCase {
    const char *what;
    std::function<Req(FakeHostile &)> make;
    std::function<void(Bytes &)> spoil;  // applied to the built message, may be empty
    uint32_t status;                      // expected status; 1: no reply at all
};

TEST_F(FakeHostile, LyingFieldsAndBadNames)
{
    auto at = [](size_t off, uint8_t v) { return [=](Bytes &m) { if (off < m.size()) m[off] = v; }; };
    auto trunc_by = [](size_t n) { return [=](Bytes &m) { m.resize(m.size() - n); }; };
    const HostileCase cases[] = {
        {"WordCount beyond the frame (READ)", [](FakeHostile &h) { return read_req(h.tid, h.fid, 0, 10); },
         at(32, 200), STATUS_INVALID_HANDLE},
        {"WordCount beyond the frame (NT_CREATE)", [](FakeHostile &h) { return nt_create_req(h.tid, "a.txt", false); },
         at(32, 255), STATUS_OBJECT_NAME_NOT_FOUND},
        {"WordCount beyond the frame (TRANS2)",
         [](FakeHostile &h) { return trans2_req(h.tid, 1, find_first_params("*")); }, at(32, 100),
         STATUS_INVALID_PARAMETER},
        {"ByteCount beyond the frame (TREE_CONNECT)", [](FakeHostile &) { return tree_connect_req("\\\\f\\media"); },
         at(41, 0xFF), STATUS_BAD_NETWORK_NAME},
        {"ByteCount beyond the frame (SESSION_SETUP)",
         [](FakeHostile &h) { return session_setup_ext(Bytes(20, 'N'), h.c.uid); }, at(58, 0x7F),
         STATUS_INVALID_PARAMETER},
        {"PasswordLength beyond the bytes", [](FakeHostile &) { return tree_connect_req("\\\\f\\media"); },
         at(40, 0x40), STATUS_BAD_NETWORK_NAME},
        {"path with a lone surrogate",
         [](FakeHostile &) {
             Req r = tree_connect_req("\\\\f\\media");
             r.bytes[2] = 0xDC;
             return r;
         },
         nullptr, STATUS_BAD_NETWORK_NAME},
        {"path ending in half a code unit",
         [](FakeHostile &) {
             Req r;
             r.cmd = 0x75;
             r.words = W{}.u8(0xFF).u8(0).u16(0).u16(0).u16(1).b;
             r.bytes = W{}.u8(0).put(utf16("\\\\f\\media", false)).u8('x').b;
             return r;
         },
         nullptr, STATUS_BAD_NETWORK_NAME},
        {"NameLength beyond the frame", [](FakeHostile &h) { return nt_create_req(h.tid, "a.txt", false); },
         at(38, 0xFF), STATUS_OBJECT_NAME_NOT_FOUND},
        {"name with an unpaired high surrogate at its end",
         [](FakeHostile &h) {
             Req r = nt_create_req(h.tid, "ab", false);
             r.bytes[4] = 0xD8;
             return r;
         },
         nullptr, STATUS_OBJECT_NAME_NOT_FOUND},
        {"ParameterOffset beyond the frame",
         [](FakeHostile &h) { return trans2_req(h.tid, 1, find_first_params("*")); }, at(53, 0xF0),
         STATUS_INVALID_PARAMETER},
        {"ParameterOffset inside the words",
         [](FakeHostile &h) { return trans2_req(h.tid, 1, find_first_params("*")); }, at(53, 40),
         STATUS_INVALID_PARAMETER},
        {"ParameterCount beyond the frame",
         [](FakeHostile &h) { return trans2_req(h.tid, 1, find_first_params("*")); },
         [](Bytes &m) { m[51] = 0xF0; m[33] = 0xF0; }, STATUS_INVALID_PARAMETER},
        {"DataCount without data",
         [](FakeHostile &h) { return trans2_req(h.tid, 1, find_first_params("*")); },
         [](Bytes &m) { m[55] = 8; m[35] = 8; m[57] = 0xF8; }, STATUS_INVALID_PARAMETER},
        {"more parameters announced than sent",
         [](FakeHostile &h) { return trans2_req(h.tid, 1, find_first_params("*")); }, at(33, 0x7F),
         STATUS_INVALID_PARAMETER},
        {"SetupCount beyond the words",
         [](FakeHostile &h) { return trans2_req(h.tid, 1, find_first_params("*")); }, at(59, 9),
         STATUS_INVALID_PARAMETER},
        {"FIND_FIRST2 name of odd length",
         [](FakeHostile &h) {
             Bytes p = find_first_params("ab");
             p.resize(p.size() - 3);
             return trans2_req(h.tid, 1, p);
         },
         nullptr, STATUS_INVALID_PARAMETER},
        {"FIND_FIRST2 name with a lone low surrogate",
         [](FakeHostile &h) {
             Bytes p = find_first_params("ab");
             p[15] = 0xDC;
             return trans2_req(h.tid, 1, p);
         },
         nullptr, STATUS_INVALID_PARAMETER},
        {"FIND_NEXT2 resume name of odd length",
         [](FakeHostile &h) {
             Bytes p = find_next_params(h.sid, 5, 0, "f1");
             p.resize(p.size() - 3);
             return trans2_req(h.tid, 2, p);
         },
         nullptr, STATUS_INVALID_PARAMETER},
        {"pipe data shorter than a PDU header", [](FakeHostile &h) { return trans_pipe_req(h.pipe, Bytes(12, 5)); },
         nullptr, STATUS_OBJECT_NAME_NOT_FOUND},
        {"bind whose context list is cut off",
         [](FakeHostile &h) {
             Bytes b = srvsvc_bind();
             b.resize(40);
             b[8] = 40;
             b[24] = 5;
             return trans_pipe_req(h.pipe, b);
         },
         nullptr, 0},
        {"request PDU of 16 bytes", [](FakeHostile &h) {
             Bytes b = srvsvc_request();
             b.resize(16);
             b[8] = 16;
             return trans_pipe_req(h.pipe, b);
         },
         nullptr, 0},
        {"CLOSE cut before LastTimeModified", [](FakeHostile &h) { return close_req(h.tid, h.fid); }, trunc_by(4),
         1},
        {"SESSION_SETUP with a blob length of 0",
         [](FakeHostile &h) { return session_setup_ext(Bytes(20, 'N'), h.c.uid); }, at(47, 0),
         STATUS_INVALID_PARAMETER},
        {"FIND_CLOSE2 without words", [](FakeHostile &h) {
             Req r = find_close2_req(h.tid, h.sid);
             r.words.clear();
             return r;
         },
         nullptr, STATUS_INVALID_PARAMETER},
    };
    for (const HostileCase &tc : cases) {
        fresh();
        Req req = tc.make(*this);
        req.uid = c.uid;
        req.mid = 0x5151;
        Bytes m = build(req);
        if (tc.spoil)
            tc.spoil(m);
        Reply r = send_raw(m, tc.what);
        if (tc.status == 1) {
            EXPECT_FALSE(r.present) << tc.what;
        } else {
            ASSERT_TRUE(r.present) << tc.what;
            EXPECT_EQ(tc.status, r.status()) << tc.what;
        }
    }
}

// Random byte changes in valid requests (a fixed sequence, so a failure
// repeats): every answer must still be well formed.
TEST_F(FakeHostile, MutatedRequests)
{
    uint64_t state = 0x9E3779B97F4A7C15ull;
    auto rnd = [&state]() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    fresh();
    size_t kinds = valid_requests().size();
    for (int round = 0; round < 1500; round++) {
        if (round % 25 == 0)
            fresh();
        Req req = valid_requests()[rnd() % kinds].second;
        Bytes m = build(req);
        int flips = 1 + static_cast<int>(rnd() % 4);
        for (int i = 0; i < flips; i++) {
            size_t off = 4 + rnd() % (m.size() - 4);
            m[off] = static_cast<uint8_t>(rnd());
        }
        if (rnd() % 4 == 0)
            m.resize(32 + rnd() % (m.size() - 31));
        m[30] = 0x42;
        m[31] = 0x42;
        send_raw(m, "round " + std::to_string(round));
    }
}

}  // namespace
