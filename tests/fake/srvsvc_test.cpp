// TRANSACTION on the srvsvc pipe: bind, NetShareEnumAll and the fragmented
// answer read back with READ_ANDX.
#include <gtest/gtest.h>

#include <string>

#include "fake_client.h"

using namespace fk;

namespace {

struct Share {
    std::string name;
    uint32_t type;
    std::string remark;
};

// Decodes a level-1 NetShareEnumAll stub; fails the test on any mismatch.
std::vector<Share> decode_enum(const Bytes &stub)
{
    std::vector<Share> out;
    EXPECT_EQ(1u, r32(stub, 0));
    EXPECT_EQ(1u, r32(stub, 4));
    uint32_t count = r32(stub, 12);
    EXPECT_NE(0u, r32(stub, 16));
    EXPECT_EQ(count, r32(stub, 20));
    size_t p = 24 + 12 * size_t{count};
    auto str = [&](std::string &s) {
        uint32_t max = r32(stub, p), off = r32(stub, p + 4), actual = r32(stub, p + 8);
        EXPECT_EQ(max, actual);
        EXPECT_EQ(0u, off);
        p += 12;
        char text[200];
        EXPECT_LE(0, vnb_utf16_to_utf8(stub.data() + p, 2 * (actual - 1), text, sizeof text));
        EXPECT_EQ(0, r16(stub, p + 2 * (actual - 1)));
        s = text;
        p += 2 * actual + (actual % 2 ? 2 : 0);
    };
    for (uint32_t k = 0; k < count && p < stub.size(); k++) {
        Share s;
        s.type = r32(stub, 24 + 12 * k + 4);
        EXPECT_NE(0u, r32(stub, 24 + 12 * k));
        EXPECT_NE(0u, r32(stub, 24 + 12 * k + 8));
        str(s.name);
        str(s.remark);
        out.push_back(s);
    }
    EXPECT_EQ(count, r32(stub, p));
    EXPECT_EQ(0u, r32(stub, p + 4));  // NULL resume handle
    EXPECT_EQ(0u, r32(stub, p + 8));  // WERROR
    EXPECT_EQ(p + 12, stub.size());
    return out;
}

class FakeSrvsvc : public ::testing::Test {
protected:
    void load(const std::string &json)
    {
        ASSERT_EQ(0, vnb_fake_load(json.c_str()));
        ASSERT_EQ(0u, c.negotiate().status());
        ASSERT_EQ(0u, c.logon("", "").status());
        ASSERT_EQ(kIpcTree, c.connect("IPC$"));
        fid = c.open(kIpcTree, "\\srvsvc", false);
        ASSERT_NE(0, fid);
    }
    void SetUp() override { load(R"({"shares":[{"name":"media"},{"name":"music"}]})"); }

    Reply bind()
    {
        Reply r = c.send(trans_pipe_req(fid, srvsvc_bind()));
        EXPECT_EQ(0u, r.status());
        return r;
    }

    // The response PDUs: the TRANSACTION answer, then READ_ANDX until the
    // last fragment.
    std::vector<Bytes> enum_fragments(uint16_t read_size = 16580, std::vector<uint32_t> *statuses = nullptr)
    {
        std::vector<Bytes> frags;
        Reply r = c.send(trans_pipe_req(fid, srvsvc_request()));
        EXPECT_LE(r.msg.size(), 16644u);
        if (statuses)
            statuses->push_back(r.status());
        Bytes pending = r.data();
        for (int reads = 0; reads < 1000; reads++) {
            while (pending.size() >= 16 && pending.size() >= r16(pending, 8)) {
                size_t n = r16(pending, 8);
                frags.emplace_back(pending.begin(), pending.begin() + static_cast<long>(n));
                pending.erase(pending.begin(), pending.begin() + static_cast<long>(n));
                if (frags.back()[3] & 0x02)
                    return frags;
            }
            Reply more = c.send(read_req(kIpcTree, fid, 0, read_size));
            if (statuses)
                statuses->push_back(more.status());
            EXPECT_TRUE(more.status() == 0 || more.status() == STATUS_BUFFER_OVERFLOW) << more.status();
            if (more.status() != 0 && more.status() != STATUS_BUFFER_OVERFLOW)
                break;
            Bytes d = more.slice(more.word(6), more.word(5));
            pending.insert(pending.end(), d.begin(), d.end());
        }
        ADD_FAILURE() << "no last fragment";
        return frags;
    }

    Bytes stub_of(const std::vector<Bytes> &frags)
    {
        Bytes stub;
        for (size_t i = 0; i < frags.size(); i++) {
            const Bytes &f = frags[i];
            EXPECT_EQ(5, f[0]);
            EXPECT_EQ(2, f[2]);  // response
            EXPECT_EQ((i == 0 ? 0x01 : 0) | (i + 1 == frags.size() ? 0x02 : 0), f[3]) << i;
            EXPECT_EQ(2u, r32(f, 12));
            EXPECT_EQ(f.size(), r16(f, 8));
            stub.insert(stub.end(), f.begin() + 24, f.end());
            EXPECT_EQ(r32(f, 16) + stub.size() - (f.size() - 24), r32(frags[0], 16)) << "alloc_hint " << i;
        }
        return stub;
    }

    Client c;
    uint16_t fid = 0;
};

TEST_F(FakeSrvsvc, BindAck)
{
    Reply r = bind();
    EXPECT_EQ(10, r.wc());
    EXPECT_EQ(56, r.word(7));  // DataOffset
    Bytes ack = r.data();
    ASSERT_EQ(68u, ack.size());
    EXPECT_EQ(12, ack[2]);
    EXPECT_EQ(0x03, ack[3]);
    EXPECT_EQ(68, r16(ack, 8));
    EXPECT_EQ(1u, r32(ack, 12));
    EXPECT_EQ(3344, r16(ack, 16));  // the client's max_recv_frag
    EXPECT_EQ(13, r16(ack, 24));    // "\PIPE\srvsvc" and its NUL
    EXPECT_EQ(1, ack[40]);          // one result
    EXPECT_EQ(0, r16(ack, 44));     // acceptance
    EXPECT_EQ(2u, r32(ack, 64));    // NDR version 2
}

TEST_F(FakeSrvsvc, BindRejections)
{
    Bytes other_iface = srvsvc_bind();
    other_iface[32] ^= 0xFF;
    Bytes ack = c.send(trans_pipe_req(fid, other_iface)).data();
    EXPECT_EQ(2, r16(ack, 44));
    EXPECT_EQ(1, r16(ack, 46));
    Bytes other_syntax = srvsvc_bind();
    other_syntax[52] ^= 0xFF;
    ack = c.send(trans_pipe_req(fid, other_syntax)).data();
    EXPECT_EQ(2, r16(ack, 44));
    EXPECT_EQ(2, r16(ack, 46));
    // Not bound: a request is a protocol error.
    Bytes fault = c.send(trans_pipe_req(fid, srvsvc_request())).data();
    ASSERT_EQ(32u, fault.size());
    EXPECT_EQ(3, fault[2]);
    EXPECT_EQ(0x1C01000Bu, r32(fault, 24));
}

TEST_F(FakeSrvsvc, NetShareEnumAllInOneFragment)
{
    bind();
    std::vector<uint32_t> statuses;
    std::vector<Bytes> frags = enum_fragments(16580, &statuses);
    ASSERT_EQ(1u, frags.size());
    EXPECT_EQ((std::vector<uint32_t>{0}), statuses);
    EXPECT_EQ(0x03, frags[0][3]);
    std::vector<Share> shares = decode_enum(stub_of(frags));
    ASSERT_EQ(3u, shares.size());
    EXPECT_EQ("IPC$", shares[0].name);
    EXPECT_EQ(3u, shares[0].type);
    EXPECT_EQ("IPC share", shares[0].remark);
    EXPECT_EQ("media", shares[1].name);
    EXPECT_EQ(0u, shares[1].type);
    EXPECT_EQ("read-only share", shares[1].remark);
    EXPECT_EQ("music", shares[2].name);
    // Nothing is left in the pipe.
    EXPECT_EQ(0xC00000D9u, c.send(read_req(kIpcTree, fid, 0, 100)).status());
}

TEST_F(FakeSrvsvc, ThreeHundredSharesComeInFragments)
{
    std::string json = R"({"shares":[)";
    for (int i = 0; i < 300; i++)
        json += std::string(i ? "," : "") + R"({"name":"share)" + std::to_string(i) + R"("})";
    json += "]}";
    load(json);
    bind();
    std::vector<uint32_t> statuses;
    std::vector<Bytes> frags = enum_fragments(16580, &statuses);
    ASSERT_GT(frags.size(), 2u);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, statuses[0]);  // more waits in the pipe
    for (size_t i = 1; i < statuses.size(); i++)
        EXPECT_EQ(0u, statuses[i]) << i;
    for (const Bytes &f : frags)
        EXPECT_LE(f.size(), 3344u);
    std::vector<Share> shares = decode_enum(stub_of(frags));
    ASSERT_EQ(301u, shares.size());
    EXPECT_EQ("IPC$", shares[0].name);
    for (int i = 0; i < 300; i++)
        EXPECT_EQ("share" + std::to_string(i), shares[i + 1].name);
    EXPECT_EQ(0xC00000D9u, c.send(read_req(kIpcTree, fid, 0, 100)).status());
}

TEST_F(FakeSrvsvc, ShortReadsSplitAFragment)
{
    std::string json = R"({"shares":[)";
    for (int i = 0; i < 100; i++)
        json += std::string(i ? "," : "") + R"({"name":"s)" + std::to_string(i) + R"("})";
    json += "]}";
    load(json);
    bind();
    std::vector<uint32_t> statuses;
    std::vector<Bytes> frags = enum_fragments(1000, &statuses);
    EXPECT_EQ(101u, decode_enum(stub_of(frags)).size());
    // Reads that end inside a fragment say so.
    EXPECT_NE(statuses.end(), std::find(statuses.begin() + 1, statuses.end(), STATUS_BUFFER_OVERFLOW));
    EXPECT_NE(statuses.end(), std::find(statuses.begin() + 1, statuses.end(), 0u));
}

TEST_F(FakeSrvsvc, OtherPdus)
{
    bind();
    Bytes fault = c.send(trans_pipe_req(fid, srvsvc_request(16))).data();
    ASSERT_EQ(32u, fault.size());
    EXPECT_EQ(3, fault[2]);
    EXPECT_EQ(2u, r32(fault, 12));
    EXPECT_EQ(0x1C010003u, r32(fault, 24));
    Bytes auth3 = srvsvc_bind();
    auth3[2] = 16;
    Reply r = c.send(trans_pipe_req(fid, auth3));
    EXPECT_EQ(0u, r.status());
    EXPECT_EQ(0, r.word(6));  // DataCount
}

TEST_F(FakeSrvsvc, Refusals)
{
    Bytes bind_pdu = srvsvc_bind();
    Req disk = trans_pipe_req(fid, bind_pdu);
    disk.tid = 1;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, c.send(disk).status());
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(trans_pipe_req(static_cast<uint16_t>(fid + 16), bind_pdu)).status());
    uint16_t tid = c.connect("media");
    uint16_t dir = c.open(tid, "", true);
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(trans_pipe_req(dir, bind_pdu)).status());
    Req not_pipe = trans_pipe_req(fid, bind_pdu);
    not_pipe.words[28] = 0x53;  // Setup[0]: WaitNamedPipe
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, c.send(not_pipe).status());
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, c.send(trans_pipe_req(fid, Bytes(bind_pdu.begin(), bind_pdu.begin() + 15))).status());
    Bytes long_frag = bind_pdu;
    long_frag[8] = 200;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, c.send(trans_pipe_req(fid, long_frag)).status());
    Req lying = trans_pipe_req(fid, bind_pdu);
    lying.words[24] = 0xF0;  // DataOffset beyond the frame
    EXPECT_EQ(STATUS_INVALID_PARAMETER, c.send(lying).status());
    c.send(logoff_req());
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, c.send(trans_pipe_req(fid, bind_pdu)).status());
}

}  // namespace
