#include <gtest/gtest.h>

#include <cstring>

#include "sess/smb_header.h"
#include "sess/support/script_peer.h"
#include "util/le_reader.h"

namespace {

using sp::Bytes;

Bytes build(uint32_t flags2, uint32_t command, uint32_t tid, uint32_t uid, uint32_t mid, uint32_t wc)
{
    ByteBuffer b{};
    vnb_hdr_build(&b, flags2, command, tid, uid, mid, wc);
    Bytes out(b.data, b.data + b.len);
    vnb_buf_free(&b);
    return out;
}

TEST(SmbHeader, BuildWritesTheRequestHeader)
{
    const Bytes expect{0xFF, 'S',  'M',  'B',  0x75, 0, 0, 0, 0, 0x18, 0x01, 0xC8, 0, 0, 0, 0, 0,
                       0,    0,    0,    0,    0,    0, 0, 0x34, 0x12, 0, 0, 0x01, 0x40, 0xFF, 0xFF, 4};
    EXPECT_EQ(build(0, 0x75, 0x1234, 0x4001, 0xFFFF, 4), expect);
}

TEST(SmbHeader, BuildTakesTheSessionFlags2AndTheLowByteOfWordCount)
{
    Bytes h = build(0x4801, 0x72, 0, 0, 1, 0x10C);
    ASSERT_EQ(h.size(), 33u);
    EXPECT_EQ(sp::get16(h, 10), 0x4801);
    EXPECT_EQ(h[32], 0x0C);
}

TEST(SmbHeader, ParseRefusesWhatIsNoHeader)
{
    Bytes good = build(0, 0x72, 0, 0, 1, 0);
    Bytes smb2 = good;
    smb2[0] = 0xFE;
    ParsedHeader h;
    struct Case {
        const char *what;
        const uint8_t *msg;
        size_t len;
    } cases[] = {
        {"NULL message", nullptr, 40},
        {"31 bytes", good.data(), 31},
        {"SMB2 magic", smb2.data(), smb2.size()},
    };
    for (const Case &c : cases) {
        std::memset(&h, 0x5A, sizeof h);
        EXPECT_EQ(vnb_hdr_parse(std::span(c.msg, c.msg ? c.len : 0), &h), -1) << c.what;
        EXPECT_EQ(h.command, 0u) << c.what << ": record zeroed";
    }
    EXPECT_EQ(vnb_hdr_parse(good, nullptr), -1);
}

TEST(SmbHeader, ParseReadsEveryField)
{
    Bytes m{0xFF, 'S', 'M', 'B', 0x2E};
    sp::put32(m, 0xC0000022);
    sp::put8(m, 0x98);
    sp::put16(m, 0xC005);
    sp::put16(m, 0);
    for (uint8_t i = 1; i <= 8; i++)
        sp::put8(m, i);
    sp::put16(m, 0);
    sp::put16(m, 7);       // TID
    sp::put16(m, 0xBEEF);  // PID
    sp::put16(m, 0x4001);  // UID
    sp::put16(m, 513);     // MID
    sp::append(m, Bytes{2, 0xAA, 0xBB, 0xCC, 0xDD, 0, 0});
    ParsedHeader h;
    ASSERT_EQ(vnb_hdr_parse(m, &h), 0);
    EXPECT_EQ(h.command, 0x2Eu);
    EXPECT_EQ(h.status, 0xC0000022u);
    EXPECT_EQ(h.status_is_nt, 1);
    EXPECT_EQ(h.flags, 0x98u);
    EXPECT_EQ(h.flags2, 0xC005u);
    EXPECT_EQ(h.is_signed, 1);
    EXPECT_EQ(Bytes(h.signature, h.signature + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(h.tid, 7u);
    EXPECT_EQ(h.pid, 0xBEEFu);
    EXPECT_EQ(h.uid, 0x4001u);
    EXPECT_EQ(h.mid, 513u);
}

TEST(LeReader, PointerReadersAndNull)
{
    const uint8_t b[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    EXPECT_EQ(vnb_r16(b), 0x0201u);
    EXPECT_EQ(vnb_r32(b), 0x04030201u);
    EXPECT_EQ(vnb_r64(b), 0x0807060504030201ULL);
    EXPECT_EQ(vnb_r16(nullptr), 0u);
    EXPECT_EQ(vnb_r32(nullptr), 0u);
    EXPECT_EQ(vnb_r64(nullptr), 0u);
}

TEST(LeReader, FailureIsStickyAndReadsNothingPastTheEnd)
{
    const uint8_t b[5] = {0x11, 0x22, 0x33, 0x44, 0x55};
    LeReader r(b, sizeof b);
    EXPECT_EQ(r.u32(), 0x44332211u);
    EXPECT_EQ(r.u16(), 0u);  // one byte left: nothing read
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.u8(), 0u);   // still failed although a byte is there
    EXPECT_EQ(r.left(), 0u);
}

TEST(LeReader, AbsoluteReadsAreBoundsChecked)
{
    const uint8_t b[6] = {1, 2, 3, 4, 5, 6};
    struct Case {
        size_t offset;
        size_t n;
        bool ok;
    } cases[] = {
        {0, 6, true}, {5, 1, true}, {6, 0, true}, {6, 1, false}, {4, 4, false}, {SIZE_MAX, 2, false},
        {2, SIZE_MAX, false},
    };
    for (const Case &c : cases) {
        LeReader r(b, sizeof b);
        EXPECT_EQ(r.at(c.offset, c.n) != nullptr, c.ok) << c.offset << "+" << c.n;
        EXPECT_EQ(r.failed, !c.ok);
    }
    LeReader r(b, sizeof b);
    EXPECT_EQ(r.u16_at(4), 0x0605u);
    EXPECT_EQ(r.u32_at(4), 0u);
    EXPECT_TRUE(r.failed);
    LeReader none(nullptr, 10);
    EXPECT_EQ(none.size(), 0u);
    EXPECT_EQ(none.u8(), 0u);
}

TEST(SmbHeader, CommandNames)
{
    EXPECT_STREQ(smb_command_name(0x2E), "READ");
    EXPECT_STREQ(smb_command_name(0x75), "TREE_CONNECT");
    EXPECT_EQ(smb_command_name(0x2F), nullptr);
}

}  // namespace
