// Fault switches, request counters and the refusal of write-class requests.
#include <gtest/gtest.h>

#include "fake_client.h"

using namespace fk;

namespace {

constexpr const char *kTree = R"({"shares":[{"name":"media","root":[{"name":"a.txt","text":"hello"},
    {"name":"docs","children":[]}]}],"users":[{"name":"bob","pass":"secret"}]})";

class FakeFaults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, vnb_fake_load(kTree)); }
    void log_on()
    {
        ASSERT_EQ(0u, c.negotiate().status());
        ASSERT_EQ(0u, c.logon("bob", "secret").status());
    }
    Client c;
};

TEST_F(FakeFaults, FaultNames)
{
    for (const char *name : {"sign_required", "refuse_nt1", "garbage", "logon_fail", "no_ipc", "no_extsec", "no_unicode", "page",
                             "reset_counts"})
        EXPECT_EQ(0, vnb_fake_fault(name, 1)) << name;
    EXPECT_EQ(-1, vnb_fake_fault("Page", 1));
    EXPECT_EQ(-1, vnb_fake_fault("", 1));
    EXPECT_EQ(-1, vnb_fake_fault(nullptr, 1));
}

TEST_F(FakeFaults, RefuseNt1)
{
    ASSERT_EQ(0, vnb_fake_fault("refuse_nt1", 1));
    Reply r = c.negotiate();
    EXPECT_EQ(STATUS_REQUEST_NOT_SUPPORTED, r.status());
    EXPECT_EQ(0, r.wc());
    ASSERT_EQ(0, vnb_fake_fault("refuse_nt1", 0));
    EXPECT_EQ(0u, c.negotiate().status());
}

TEST_F(FakeFaults, GarbageAnswersTheNextFrames)
{
    ASSERT_EQ(0, vnb_fake_fault("garbage", 2));
    for (const Bytes &frame : {build(negotiate_req()), Bytes{1, 2, 3}}) {
        Reply r = exchange(frame);
        EXPECT_EQ(Bytes({'g', 'a', 'r', 'b', 'a', 'g', 'e'}), r.raw);
    }
    EXPECT_EQ(0, vnb_fake_count(0x72));
    Reply r = c.negotiate();
    EXPECT_EQ(0u, r.status());
    EXPECT_EQ(1, vnb_fake_count(0x72));
}

TEST_F(FakeFaults, LogonFailRefusesSecondLegs)
{
    ASSERT_EQ(0, vnb_fake_fault("logon_fail", 1));
    c.negotiate();
    Reply first = c.logon("bob", "secret");
    EXPECT_EQ(STATUS_LOGON_FAILURE, first.status());
    EXPECT_EQ(0x4001, first.uid());
    // The refusal keeps the exchange at its second leg: the same AUTHENTICATE
    // message now goes through.
    ByteBuffer tok{};
    vnb_spnego_wrap_type3(c.last_type3.data(), c.last_type3.size(), &tok);
    Reply again = c.send(session_setup_ext(buf_bytes(tok), c.uid));
    vnb_buf_free(&tok);
    EXPECT_EQ(0u, again.status());
}

TEST_F(FakeFaults, NoIpc)
{
    log_on();
    EXPECT_EQ(kIpcTree, c.send(tree_connect_req("\\\\fake\\ipc$")).tid());
    ASSERT_EQ(0, vnb_fake_fault("no_ipc", 1));
    Reply r = c.send(tree_connect_req("\\\\fake\\IPC$"));
    EXPECT_EQ(STATUS_BAD_NETWORK_NAME, r.status());
    EXPECT_EQ(0u, c.send(tree_connect_req("\\\\fake\\media")).status());
}

TEST_F(FakeFaults, CountersCountSmbFramesByCommand)
{
    EXPECT_EQ(-1, vnb_fake_count(256));
    EXPECT_EQ(0, vnb_fake_count(0x72));
    Bytes neg = build(negotiate_req());
    exchange(Bytes(neg.begin(), neg.begin() + 20));  // too short to count
    Bytes not_smb = neg;
    not_smb[0] = 0xFE;
    EXPECT_FALSE(exchange(not_smb).present);
    EXPECT_EQ(0, vnb_fake_count(0x72));
    exchange(neg);
    exchange(Bytes(neg.begin(), neg.begin() + 32));  // a bare header counts
    EXPECT_EQ(2, vnb_fake_count(0x72));
    Req unknown;
    unknown.cmd = 0xEE;
    exchange(build(unknown));  // unknown commands count too
    EXPECT_EQ(1, vnb_fake_count(0xEE));
    ASSERT_EQ(0, vnb_fake_fault("reset_counts", 0));
    EXPECT_EQ(0, vnb_fake_count(0x72));
    EXPECT_EQ(0, vnb_fake_count(0xEE));
}

TEST_F(FakeFaults, NothingAnswersWithoutATree)
{
    ASSERT_EQ(-1, vnb_fake_load("{}"));
    EXPECT_FALSE(exchange(build(negotiate_req())).present);
    EXPECT_EQ(0, vnb_fake_count(0x72));
}

TEST_F(FakeFaults, WriteClassRequestsAreRefusedAndCounted)
{
    log_on();
    uint16_t tid = c.connect("media");
    const uint8_t commands[] = {0x00, 0x01, 0x03, 0x06, 0x07, 0x09, 0x0B, 0x0E, 0x0F,
                                0x13, 0x1D, 0x1E, 0x20, 0x22, 0x2F, 0xA5, 0xC1};
    uint64_t writes = 0;
    for (uint8_t cmd : commands) {
        Reply r = c.send(Req{.cmd = cmd, .tid = tid, .words = W{}.u16(0).b, .bytes = {4, 'x', 0}});
        EXPECT_EQ(STATUS_ACCESS_DENIED, r.status()) << int(cmd);
        EXPECT_EQ(0x4000, r.flags2() & 0x4000);
        EXPECT_EQ(1, vnb_fake_count(cmd)) << int(cmd);
        EXPECT_EQ(++writes, vnb_fake_writes()) << int(cmd);
    }
    // TRANSACTION2 SET_PATH_INFORMATION, SET_FILE_INFORMATION, CREATE_DIRECTORY
    // and SET_FS_INFORMATION, even with a malformed parameter block.
    for (uint16_t sub : {6, 8, 13, 4}) {
        EXPECT_EQ(STATUS_ACCESS_DENIED, c.send(trans2_req(tid, sub, Bytes(8, 0))).status()) << sub;
        EXPECT_EQ(++writes, vnb_fake_writes());
    }
    Req lying = trans2_req(tid, 6, Bytes(8, 0));
    lying.words[20] = 0xFF;  // ParameterOffset past the frame
    EXPECT_EQ(STATUS_ACCESS_DENIED, c.send(lying).status());
    EXPECT_EQ(++writes, vnb_fake_writes());
    // Opening for writing, or to delete on close.
    EXPECT_EQ(STATUS_ACCESS_DENIED, c.send(nt_create_req(tid, "a.txt", false, 1, 0x40000000)).status());
    EXPECT_EQ(STATUS_ACCESS_DENIED, c.send(nt_create_req(tid, "a.txt", false, 1, 0x00000002)).status());
    Req doc = nt_create_req(tid, "a.txt", false);
    doc.words[40] = 0x10;  // CreateOptions FILE_DELETE_ON_CLOSE
    EXPECT_EQ(STATUS_ACCESS_DENIED, c.send(doc).status());
    EXPECT_EQ(writes + 3, vnb_fake_writes());
    // Reading stays possible, and the tree did not change.
    uint16_t fid = c.open(tid, "a.txt", false);
    EXPECT_NE(0, fid);
    ASSERT_EQ(0, vnb_fake_fault("reset_counts", 0));
    EXPECT_EQ(0u, vnb_fake_writes());
}

}  // namespace
