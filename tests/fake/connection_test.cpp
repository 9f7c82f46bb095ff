// Connections to the fake server: each keeps its own session, handles,
// searches and signing sequence; a new tree drops what they had open; several
// requests may be answered before any reply is read.
#include <gtest/gtest.h>

#include <string>

#include "fake_client.h"

using namespace fk;

namespace {

constexpr const char *kTree = R"({"shares":[{"name":"media","root":[
    {"name":"a.txt","text":"hello world"},
    {"name":"b.txt","text":"second"},
    {"name":"c.txt","text":"third"},
    {"name":"docs","children":[]}]}],
    "users":[{"name":"bob","pass":"secret"}]})";

constexpr const char *kOtherTree = R"({"shares":[{"name":"media","root":[
    {"name":"new.txt","text":"fresh bytes"}]}],
    "users":[{"name":"bob","pass":"secret"}]})";

class FakeConnections : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, vnb_fake_load(kTree));
        a.conn = vnb_fake_open();
        b.conn = vnb_fake_open();
        ASSERT_NE(nullptr, a.conn);
        ASSERT_NE(nullptr, b.conn);
    }
    void TearDown() override
    {
        vnb_fake_close(a.conn);
        vnb_fake_close(b.conn);
    }

    static void log_on(Client &c)
    {
        ASSERT_EQ(0u, c.negotiate().status());
        Reply fin = c.logon("bob", "secret");
        ASSERT_EQ(0u, fin.status());
        if (fin.flags2() & 0x0004)
            c.start_signing(fin, c.session_key);
    }

    // The bytes a READ_ANDX of the file returns, or the error status as text.
    static std::string read_text(Client &c, uint16_t tid, uint16_t fid, uint16_t max = 64)
    {
        Reply r = c.send(read_req(tid, fid, 0, max));
        if (r.status() != 0)
            return "status " + std::to_string(r.status());
        Bytes d = r.slice(r.word(6), r.word(5));
        return std::string(d.begin(), d.end());
    }

    // A search left open after its first entry: its id, or 0.
    static uint16_t open_search(Client &c, uint16_t tid)
    {
        Reply r = c.send(trans2_req(tid, 1, find_first_params("\\*", 1)));
        EXPECT_EQ(0u, r.status());
        return r16(r.params(), 0);
    }

    Client a;
    Client b;
};

TEST_F(FakeConnections, SessionsHandlesAndSearchesAreTheirOwn)
{
    log_on(a);
    uint16_t tid = a.connect("media");
    uint16_t fid = a.open(tid, "a.txt", false);
    ASSERT_NE(0, fid);
    uint16_t sid = open_search(a, tid);
    ASSERT_NE(0, sid);

    // B has only negotiated: A's UID means nothing there, and B's NEGOTIATE
    // did not end A's session.
    ASSERT_EQ(0u, b.negotiate().status());
    Req tc = tree_connect_req("\\\\fake\\media");
    tc.uid = a.uid;
    EXPECT_EQ(STATUS_USER_SESSION_DELETED, b.send(tc).status());
    Req rd = read_req(tid, fid, 0, 5);
    rd.uid = a.uid;
    EXPECT_EQ(STATUS_USER_SESSION_DELETED, b.send(rd).status());
    EXPECT_EQ("hello world", read_text(a, tid, fid));

    // Logged on, B still knows neither A's FID nor A's search.
    Reply fin = b.logon("bob", "secret");
    ASSERT_EQ(0u, fin.status());
    uint16_t b_tid = b.connect("media");
    EXPECT_EQ("status " + std::to_string(STATUS_INVALID_HANDLE), read_text(b, tid, fid));
    EXPECT_EQ(STATUS_INVALID_HANDLE, b.send(close_req(tid, fid)).status());
    EXPECT_EQ(STATUS_INVALID_HANDLE, b.send(trans2_req(tid, 2, find_next_params(sid, 1))).status());

    // B's FID is B's own: A cannot read it, B can.
    uint16_t b_fid = b.open(b_tid, "b.txt", false);
    ASSERT_NE(0, b_fid);
    EXPECT_EQ("status " + std::to_string(STATUS_INVALID_HANDLE), read_text(a, tid, b_fid));
    EXPECT_EQ("second", read_text(b, b_tid, b_fid));

    // Ending B's tree and session leaves A's file and search open.
    EXPECT_EQ(0u, b.send([&] {
                       Req r;
                       r.cmd = 0x71;
                       r.tid = b_tid;
                       return r;
                   }()).status());
    EXPECT_EQ(0u, b.send(logoff_req()).status());
    EXPECT_EQ("hello world", read_text(a, tid, fid));
    Reply next = a.send(trans2_req(tid, 2, find_next_params(sid, 1)));
    EXPECT_EQ(0u, next.status());
    EXPECT_EQ(1, r16(next.params(), 0));  // SearchCount
}

TEST_F(FakeConnections, DefaultConnectionIsSeparate)
{
    Client def;  // through vnb_fake_handle_frame
    log_on(def);
    uint16_t tid = def.connect("media");
    uint16_t fid = def.open(tid, "a.txt", false);
    ASSERT_NE(0, fid);

    log_on(a);
    EXPECT_EQ("status " + std::to_string(STATUS_INVALID_HANDLE), read_text(a, tid, fid));
    // A NEGOTIATE on a connection resets that connection only.
    ASSERT_EQ(0u, a.negotiate().status());
    EXPECT_EQ("hello world", read_text(def, tid, fid));
}

TEST_F(FakeConnections, SigningSequenceIsPerConnection)
{
    ASSERT_EQ(0, vnb_fake_fault("sign_required", 1));
    log_on(a);
    ASSERT_TRUE(a.signing);
    uint16_t a_tid = a.connect("media");  // A at sequence 4
    uint16_t a_fid = a.open(a_tid, "a.txt", false);
    log_on(b);                            // B starts at 2 after A moved on
    ASSERT_TRUE(b.signing);
    uint16_t b_tid = b.connect("media");
    // Interleaved requests: each reply is checked against its own connection's
    // sequence by Client::send.
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ("hello world", read_text(a, a_tid, a_fid));
        EXPECT_NE(0, b.open(b_tid, "c.txt", false));
    }
    EXPECT_EQ(12u, a.seq);
    EXPECT_EQ(10u, b.seq);
    // A guest connection beside them is not signed at all.
    Client guest;
    guest.conn = vnb_fake_open();
    ASSERT_NE(nullptr, guest.conn);
    ASSERT_EQ(0u, guest.negotiate().status());
    Reply fin = guest.logon("", "");
    EXPECT_EQ(0, fin.flags2() & 0x0004);
    EXPECT_EQ(0u, guest.send(tree_connect_req("\\\\fake\\media")).status());
    EXPECT_EQ("hello world", read_text(a, a_tid, a_fid));
    vnb_fake_close(guest.conn);
}

TEST_F(FakeConnections, ClosingOneLeavesTheOtherWorking)
{
    log_on(a);
    log_on(b);
    uint16_t a_tid = a.connect("media");
    uint16_t b_tid = b.connect("media");
    ASSERT_NE(0, a.open(a_tid, "a.txt", false));
    ASSERT_NE(0, open_search(a, a_tid));
    // A pipe whose answer is still queued when the connection goes.
    ASSERT_EQ(kIpcTree, a.connect("IPC$"));
    uint16_t pipe = a.open(kIpcTree, "\\srvsvc", false);
    ASSERT_NE(0, pipe);
    ASSERT_EQ(0u, a.send(trans_pipe_req(pipe, srvsvc_bind())).status());
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, a.send(trans_pipe_req(pipe, srvsvc_request(), 32)).status());

    uint16_t b_fid = b.open(b_tid, "b.txt", false);
    vnb_fake_close(a.conn);
    a.conn = nullptr;
    EXPECT_EQ("second", read_text(b, b_tid, b_fid));
    EXPECT_NE(0, open_search(b, b_tid));

    // A missing connection answers nothing; closing it is harmless.
    ByteBuffer out{};
    Bytes req = build(negotiate_req());
    vnb_fake_answer(nullptr, req.data(), req.size(), &out);
    EXPECT_EQ(0u, out.len);
    vnb_fake_close(nullptr);
}

TEST_F(FakeConnections, NewTreeDropsWhatConnectionsHadOpen)
{
    log_on(a);
    uint16_t tid = a.connect("media");
    uint16_t fid = a.open(tid, "a.txt", false);
    uint16_t dir = a.open(tid, "docs", true);
    uint16_t sid = open_search(a, tid);
    ASSERT_NE(0, fid);
    ASSERT_NE(0, dir);
    ASSERT_NE(0, sid);

    // While no tree is loaded, nothing is answered and no connection opens.
    ASSERT_EQ(-1, vnb_fake_load("{"));
    EXPECT_EQ(nullptr, vnb_fake_open());
    EXPECT_FALSE(a.send(read_req(tid, fid, 0, 5)).present);

    ASSERT_EQ(0, vnb_fake_load(kOtherTree));
    // The old FIDs and search ids are unknown; the nodes they named are gone.
    EXPECT_EQ("status " + std::to_string(STATUS_INVALID_HANDLE), read_text(a, tid, fid));
    EXPECT_EQ(STATUS_INVALID_HANDLE, a.send(close_req(tid, dir)).status());
    EXPECT_EQ(STATUS_INVALID_HANDLE, a.send(trans2_req(tid, 2, find_next_params(sid, 1))).status());
    // The session goes on over the new tree.
    uint16_t fresh = a.open(tid, "new.txt", false);
    ASSERT_NE(0, fresh);
    EXPECT_EQ("fresh bytes", read_text(a, tid, fresh));
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, a.send(nt_create_req(tid, "a.txt", false)).status());
    Reply list = a.send(trans2_req(tid, 1, find_first_params("\\*")));
    EXPECT_EQ(0u, list.status());
    EXPECT_EQ(2, r16(list.params(), 2));  // "." and new.txt
}

TEST_F(FakeConnections, RequestsAnsweredInOrderBeforeAnyReplyIsRead)
{
    ASSERT_EQ(0, vnb_fake_fault("sign_required", 1));
    log_on(a);
    uint16_t tid = a.connect("media");
    uint16_t fid = a.open(tid, "a.txt", false);
    ASSERT_NE(0, fid);

    // Four requests arrive back to back; their replies pile up in one buffer.
    uint32_t first_seq = a.seq;
    uint16_t first_mid = static_cast<uint16_t>(a.mid + 1);
    std::vector<Bytes> reqs = {
        a.prepare(read_req(tid, fid, 0, 5)),
        a.prepare(nt_create_req(tid, "missing.txt", false)),
        a.prepare(read_req(tid, fid, 6, 5)),
        a.prepare(close_req(tid, fid)),
    };
    ByteBuffer out{};
    for (const Bytes &m : reqs)
        vnb_fake_answer(a.conn, m.data(), m.size(), &out);
    std::vector<Bytes> replies = nbss_messages(buf_bytes(out));
    vnb_buf_free(&out);
    ASSERT_EQ(reqs.size(), replies.size());

    const uint32_t statuses[] = {0, STATUS_OBJECT_NAME_NOT_FOUND, 0, 0};
    for (size_t i = 0; i < replies.size(); i++) {
        SCOPED_TRACE(i);
        Reply r;
        r.msg = replies[i];
        EXPECT_EQ(first_mid + i, r.mid());
        EXPECT_EQ(statuses[i], r.status());
        uint32_t seq = first_seq + 2 * static_cast<uint32_t>(i) + 1;
        EXPECT_EQ(1, vnb_sign_verify(a.mac_key.data(), a.mac_key.size(), seq, r.msg.data(), r.msg.size()));
    }
    Reply r0;
    r0.msg = replies[0];
    Reply r2;
    r2.msg = replies[2];
    EXPECT_EQ(Bytes({'h', 'e', 'l', 'l', 'o'}), r0.slice(r0.word(6), r0.word(5)));
    EXPECT_EQ(Bytes({'w', 'o', 'r', 'l', 'd'}), r2.slice(r2.word(6), r2.word(5)));
    // The connection goes on at the next sequence number.
    EXPECT_EQ(STATUS_INVALID_HANDLE, a.send(read_req(tid, fid, 0, 5)).status());
}

}  // namespace
