// TREE_CONNECT, NT_CREATE, READ, CLOSE and TREE_DISCONNECT.
#include <gtest/gtest.h>

#include "fake/fake_internal.h"
#include "fake_client.h"

using namespace fk;

namespace {

constexpr const char *kTree = R"({"shares":[
    {"name":"media","root":[
        {"name":"a.txt","text":"hello","mtime":1600000000},
        {"name":"docs","children":[{"name":"b.txt","size":300}]},
        {"name":"huge.bin","size":10737418240},
        {"name":"locked","deny":true,"children":[{"name":"c.txt","text":"c"}]},
        {"name":"locked.txt","deny":true,"text":"d"}]},
    {"name":"Music"}],
    "users":[{"name":"bob","pass":"secret"}]})";

class FakeFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, vnb_fake_load(kTree));
        ASSERT_EQ(0u, c.negotiate().status());
        ASSERT_EQ(0u, c.logon("bob", "secret").status());
    }
    Client c;
};

TEST_F(FakeFiles, TreeConnectNamesShares)
{
    struct {
        const char *path;
        bool unicode;
        uint32_t status;
        uint16_t tid;
    } cases[] = {
        {"\\\\fake\\MEDIA", true, 0, 1},
        {"\\\\fake\\media", false, 0, 1},
        {"//fake/music", true, 0, 2},
        {"music", true, 0, 2},
        {"\\\\fake\\ipc$", true, 0, kIpcTree},
        {"\\\\fake\\IPC$", false, 0, kIpcTree},
        {"\\\\fake\\video", true, STATUS_BAD_NETWORK_NAME, 0},
        {"\\\\fake\\", true, STATUS_BAD_NETWORK_NAME, 0},
        {"\\\\fake\\media\\docs", true, STATUS_BAD_NETWORK_NAME, 0},
    };
    for (const auto &tc : cases) {
        Reply r = c.send(tree_connect_req(tc.path, 0x000C, tc.unicode));
        EXPECT_EQ(tc.status, r.status()) << tc.path;
        if (tc.status == 0) {
            EXPECT_EQ(tc.tid, r.tid()) << tc.path;
        }
    }
}

TEST_F(FakeFiles, TreeConnectReplyForms)
{
    Reply disk = c.send(tree_connect_req("\\\\fake\\media", 0x0004));
    ASSERT_EQ(3, disk.wc());
    EXPECT_EQ(0xFF, disk.msg[33]);
    EXPECT_EQ(1, disk.word(2));  // OptionalSupport
    Bytes expected = {'A', ':', 0};
    size_t fs_at = disk.bc_offset() + 2 + 3;
    if (fs_at % 2)
        expected.push_back(0);
    for (char ch : std::string("NTFS"))
        expected.insert(expected.end(), {static_cast<uint8_t>(ch), 0});
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(expected, disk.data_bytes());

    Reply ext = c.send(tree_connect_req("\\\\fake\\media", 0x0008));
    ASSERT_EQ(7, ext.wc());
    EXPECT_EQ(0x001200A9u, r32(ext.msg, 39));
    EXPECT_EQ(0x001200A9u, r32(ext.msg, 43));

    Reply ipc = c.send(tree_connect_req("\\\\fake\\IPC$", 0x0008, false));
    ASSERT_EQ(7, ipc.wc());
    EXPECT_EQ((Bytes{'I', 'P', 'C', 0, 0}), ipc.data_bytes());
}

struct OpenCase {
    const char *what;
    uint16_t tid;
    std::string path;
    bool folder;
    uint32_t disposition;
    uint32_t status;
};

TEST_F(FakeFiles, NtCreateOpensExistingEntries)
{
    const OpenCase cases[] = {
        {"file", 1, "a.txt", false, 1, 0},
        {"folder", 1, "docs", true, 1, 0},
        {"share root", 1, "", true, 1, 0},
        {"nested, other case", 1, "DOCS\\B.TXT", false, 1, 0},
        {"forward slashes", 1, "docs/b.txt", false, 1, 0},
        {"repeated separators", 1, "\\\\docs\\\\b.txt", false, 1, 0},
        {"folder as file", 1, "docs", false, 1, STATUS_FILE_IS_A_DIRECTORY},
        {"file as folder", 1, "a.txt", true, 1, STATUS_NOT_A_DIRECTORY},
        {"missing", 1, "nope.txt", false, 1, STATUS_OBJECT_NAME_NOT_FOUND},
        {"missing folder", 1, "nope\\b.txt", false, 1, STATUS_OBJECT_NAME_NOT_FOUND},
        {"below a file", 1, "a.txt\\x", false, 1, STATUS_OBJECT_NAME_NOT_FOUND},
        {"dot-dot", 1, "docs\\..\\a.txt", false, 1, STATUS_OBJECT_NAME_NOT_FOUND},
        {"dot", 1, ".\\a.txt", false, 1, STATUS_OBJECT_NAME_NOT_FOUND},
        {"create disposition", 1, "a.txt", false, 2, STATUS_OBJECT_NAME_NOT_FOUND},
        {"open-if disposition", 1, "a.txt", false, 3, STATUS_OBJECT_NAME_NOT_FOUND},
        {"unknown tree", 9, "a.txt", false, 1, STATUS_OBJECT_NAME_NOT_FOUND},
        {"component of 256 bytes", 1, std::string(256, 'x'), false, 1, STATUS_OBJECT_NAME_NOT_FOUND},
        {"denied folder", 1, "locked", true, 1, STATUS_ACCESS_DENIED},
        {"denied file", 1, "locked.txt", false, 1, STATUS_ACCESS_DENIED},
        {"inside a denied folder", 1, "locked\\c.txt", false, 1, 0},
        {"pipe", kIpcTree, "\\srvsvc", false, 1, 0},
        {"pipe, other case", kIpcTree, "\\PIPE\\SrvSvc", false, 1, 0},
        {"other pipe", kIpcTree, "\\lsarpc", false, 1, STATUS_OBJECT_NAME_NOT_FOUND},
        {"pipe name on a disk share", 1, "srvsvc", false, 1, STATUS_OBJECT_NAME_NOT_FOUND},
    };
    for (const OpenCase &tc : cases) {
        Reply r = c.send(nt_create_req(tc.tid, tc.path, tc.folder, tc.disposition));
        EXPECT_EQ(tc.status, r.status()) << tc.what;
        if (tc.status == 0) {
            EXPECT_EQ(34, r.wc()) << tc.what;
            EXPECT_EQ(0, r.byte_count()) << tc.what;
        } else {
            EXPECT_EQ(35u, r.msg.size()) << tc.what;
        }
    }
}

TEST_F(FakeFiles, NtCreateReplyFields)
{
    Reply f = c.send(nt_create_req(1, "a.txt", false));
    ASSERT_EQ(0u, f.status());
    EXPECT_EQ(1u, r32(f.msg, 40));                                        // CreateAction
    uint64_t ft = (1600000000ull + 11644473600ull) * 10000000ull;
    for (size_t off : {44, 52, 60, 68})
        EXPECT_EQ(ft, r64(f.msg, off));
    EXPECT_EQ(0x21u, r32(f.msg, 76));
    EXPECT_EQ(65536u, r64(f.msg, 80));
    EXPECT_EQ(5u, r64(f.msg, 88));
    EXPECT_EQ(0, f.msg[100]);

    Reply d = c.send(nt_create_req(1, "docs", true));
    EXPECT_EQ(0x11u, r32(d.msg, 76));
    EXPECT_EQ(1, d.msg[100]);

    Reply p = c.send(nt_create_req(kIpcTree, "\\srvsvc", false));
    EXPECT_EQ(2, r16(p.msg, 96));  // message-mode pipe
    EXPECT_EQ(0, p.msg[100]);
}

TEST_F(FakeFiles, NtCreateNameForms)
{
    // NameLength without the terminator, an odd NameLength, a NameLength
    // beyond the frame.
    Req no_nul = nt_create_req(1, "a.txt", false);
    no_nul.words[5] = 10;
    EXPECT_EQ(0u, c.send(no_nul).status());
    Req odd = nt_create_req(1, "a.txt", false);
    odd.words[5] = 9;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, c.send(odd).status());
    Req beyond = nt_create_req(1, "a.txt", false);
    beyond.words[5] = 200;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, c.send(beyond).status());
    // Without the Unicode flag the name is 8-bit text and has no pad byte.
    Req oem = nt_create_req(1, "", false);
    oem.flags2 = kOemFlags2;
    oem.words[5] = 6;
    oem.bytes = ascii("a.txt");
    EXPECT_EQ(0u, c.send(oem).status());
    // A lone surrogate does not convert.
    Req bad = nt_create_req(1, "ab", false);
    bad.bytes[1] = 0x00;
    bad.bytes[2] = 0xD8;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, c.send(bad).status());
}

TEST_F(FakeFiles, FidsComeFromTheSharedCounterAndRunOut)
{
    // Nine nodes registered: the first FID draws counter value 10.
    EXPECT_EQ((10 << 4) | 1, c.open(1, "a.txt", false));
    EXPECT_EQ((11 << 4) | 1, c.open(1, "docs", true));
    for (int i = 2; i < 64; i++)
        ASSERT_NE(0, c.open(1, "a.txt", false)) << i;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, c.send(nt_create_req(1, "a.txt", false)).status());
    EXPECT_EQ(0u, c.send(close_req(1, (10 << 4) | 1)).status());
    EXPECT_NE(0, c.open(1, "a.txt", false));
}

TEST_F(FakeFiles, ReadReturnsFileBytes)
{
    uint16_t fid = c.open(1, "a.txt", false);
    struct {
        uint64_t offset;
        uint16_t max;
        std::string data;
    } cases[] = {
        {0, 100, "hello"}, {3, 100, "lo"}, {1, 2, "el"}, {5, 100, ""}, {4096, 100, ""}, {uint64_t{1} << 32, 100, ""},
    };
    for (const auto &tc : cases) {
        Reply r = c.send(read_req(1, fid, tc.offset, tc.max));
        ASSERT_EQ(0u, r.status()) << tc.offset;
        ASSERT_EQ(12, r.wc());
        EXPECT_EQ(tc.data.size(), r.word(5));           // DataLength
        EXPECT_EQ(60, r.word(6));                        // DataOffset
        EXPECT_EQ(tc.data.size() + 1, r.byte_count());
        EXPECT_EQ(Bytes(tc.data.begin(), tc.data.end()), r.slice(60, r.word(5)));
        EXPECT_EQ(60 + tc.data.size(), r.msg.size());
    }
}

TEST_F(FakeFiles, ReadAboveFourGigabytesUsesOffsetHigh)
{
    const FakeNode *node = fake_walk(F.shares[0].root, "huge.bin");
    ASSERT_NE(nullptr, node);
    uint16_t fid = c.open(1, "huge.bin", false);
    uint64_t offset = (uint64_t{5} << 30) + 250;  // 5 GiB + 250
    Reply r = c.send(read_req(1, fid, offset, 16));
    ASSERT_EQ(16, r.word(5));
    Bytes expected;
    for (uint64_t o = offset; o < offset + 16; o++)
        expected.push_back(fake_content_byte(node, o));
    EXPECT_EQ(expected, r.slice(60, 16));
    EXPECT_EQ(static_cast<uint8_t>(31 * node->id + 7 * offset + (offset >> 8)), r.msg[60]);

    // The generated bytes repeat every 4 GiB, so the end of the file shows
    // which offset was read: 10 bytes remain at 10 GiB - 10, while its low
    // 32 bits (2 GiB - 10) lie far inside the file.
    uint64_t size = 10737418240ull;
    EXPECT_EQ(10, c.send(read_req(1, fid, size - 10, 100)).word(5));
    EXPECT_EQ(0, c.send(read_req(1, fid, size, 100)).word(5));
    EXPECT_EQ(0, c.send(read_req(1, fid, size + (uint64_t{1} << 33), 100)).word(5));
    // WordCount 10 has no OffsetHigh: the same request reads at the low bits.
    Req short_form = read_req(1, fid, size - 10, 100);
    short_form.words.resize(20);
    EXPECT_EQ(100, c.send(short_form).word(5));
    Reply largest = c.send(read_req(1, fid, 0, 65535));
    EXPECT_EQ(65535, largest.word(5));
    EXPECT_EQ(60u + 65535u, largest.msg.size());
    EXPECT_EQ(0xFFFF, largest.byte_count());  // 65536 does not fit the field
}

TEST_F(FakeFiles, ReadRefusals)
{
    uint16_t dir = c.open(1, "docs", true);
    uint16_t pipe = c.open(kIpcTree, "\\srvsvc", false);
    uint16_t file = c.open(1, "a.txt", false);
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(read_req(1, dir, 0, 10)).status());
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(read_req(1, 0x7777, 0, 10)).status());
    EXPECT_EQ(0xC00000D9u, c.send(read_req(kIpcTree, pipe, 0, 10)).status());  // nothing queued
    Req short_read = read_req(1, file, 0, 10);
    short_read.words.resize(10);
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(short_read).status());
    c.send(logoff_req());
    EXPECT_EQ(STATUS_USER_SESSION_DELETED, c.send(read_req(1, file, 0, 10)).status());
}

TEST_F(FakeFiles, CloseAndTreeDisconnect)
{
    uint16_t fid = c.open(1, "a.txt", false);
    Reply r = c.send(close_req(1, fid));
    EXPECT_EQ(0u, r.status());
    EXPECT_EQ(0, r.wc());
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(close_req(1, fid)).status());
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(read_req(1, fid, 0, 1)).status());

    Req cut = close_req(1, fid);
    cut.words.resize(4);  // a frame that ends before LastTimeModified
    Bytes m = build(cut);
    m.resize(37);
    EXPECT_FALSE(exchange(m).present);

    uint16_t pipe = c.open(kIpcTree, "\\srvsvc", false);
    EXPECT_EQ(0u, c.send(close_req(kIpcTree, pipe)).status());

    // Handles of a tree go with TREE_DISCONNECT; others stay.
    uint16_t on_media = c.open(1, "a.txt", false);
    uint16_t on_ipc = c.open(kIpcTree, "\\srvsvc", false);
    Req td;
    td.cmd = 0x71;
    td.tid = 1;
    Reply d = c.send(td);
    EXPECT_EQ(0u, d.status());
    EXPECT_EQ(0, d.wc());
    EXPECT_EQ(STATUS_INVALID_HANDLE, c.send(read_req(1, on_media, 0, 1)).status());
    EXPECT_EQ(0u, c.send(close_req(kIpcTree, on_ipc)).status());
}

}  // namespace
