// RAP requests as they go out, and the reply readers fed good and hostile
// replies: entries beyond the data, pointers outside it, statuses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sess/rap_wire.h"

namespace {

std::vector<uint8_t> bytes_of(ByteBuffer &b)
{
    std::vector<uint8_t> out(b.data, b.data + b.len);
    vnb_buf_free(&b);
    return out;
}

void put16(std::vector<uint8_t> &b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t> &b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

std::vector<uint8_t> params(uint16_t status, uint16_t converter, uint16_t entries)
{
    std::vector<uint8_t> p;
    put16(p, status);
    put16(p, converter);
    put16(p, entries);
    put16(p, entries);
    return p;
}

// One server entry (26 bytes) whose comment pointer is given.
void server_entry(std::vector<uint8_t> &d, const char *name, uint32_t type, uint32_t pointer)
{
    size_t at = d.size();
    d.resize(at + 16, 0);
    std::memcpy(d.data() + at, name, std::strlen(name));
    d.push_back(4);
    d.push_back(9);
    put32(d, type);
    put32(d, pointer);
}

TEST(RapRequest, NetShareEnumAndNetServerEnum2)
{
    ByteBuffer b{};
    rap_build_share_enum(&b);
    std::vector<uint8_t> share = bytes_of(b);
    std::vector<uint8_t> want = {0x00, 0x00};
    for (const char *t : {"WrLeh", "B13BWz"})
        want.insert(want.end(), t, t + std::strlen(t) + 1);
    want.insert(want.end(), {0x01, 0x00, 0xE0, 0xFF});
    EXPECT_EQ(share, want);

    rap_build_server_enum(&b, kSvTypeDomainEnum, "HOME");
    std::vector<uint8_t> server = bytes_of(b);
    want = {0x68, 0x00};
    for (const char *t : {"WrLehDz", "B16BBDz"})
        want.insert(want.end(), t, t + std::strlen(t) + 1);
    want.insert(want.end(), {0x01, 0x00, 0xE0, 0xFF, 0x00, 0x00, 0x00, 0x80, 'H', 'O', 'M', 'E', 0});
    EXPECT_EQ(server, want);
}

TEST(RapReply, ServersWithCommentsThroughTheConverter)
{
    const uint16_t conv = 0x0F00;
    std::vector<uint8_t> d;
    server_entry(d, "MEDIABOX", 0x00040003, conv + 52);
    server_entry(d, "OTHERBOX", 0x00000003, conv + 52 + 10);
    const char strings[] = "Media box\0Den\xe9";
    d.insert(d.end(), strings, strings + sizeof strings);
    uint16_t status = 99;
    std::vector<RapServer> out;
    ASSERT_EQ(rap_parse_servers(params(0, conv, 2), d, &status, &out), 0);
    EXPECT_EQ(status, 0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].name, "MEDIABOX");
    EXPECT_EQ(out[0].type, 0x00040003u);
    EXPECT_EQ(out[0].major, 4);
    EXPECT_EQ(out[0].comment, "Media box");
    EXPECT_EQ(out[1].comment, "Den?");
}

TEST(RapReply, HostileReplies)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> params;
        uint32_t pointer;
        size_t entries_in_data;
        int rc;
        uint16_t status;
        size_t got;
        const char *comment;
    };
    const Case cases[] = {
        {"pointer below the converter", params(0, 0x100, 1), 0x10, 1, 0, 0, 1, ""},
        {"pointer past the data", params(0, 0, 1), 5000, 1, 0, 0, 1, ""},
        {"null pointer", params(0, 0, 1), 0, 1, 0, 0, 1, ""},
        {"high bits of the pointer ignored", params(0, 0, 1), 0xABCD0000u + 26, 1, 0, 0, 1, "hi"},
        {"more entries than data", params(0, 0, 3), 26, 1, -1, 0, 0, ""},
        {"more data: the entries that came", params(kRapMoreData, 0, 1), 26, 1, 0, kRapMoreData, 1, "hi"},
        {"access denied", params(kRapAccessDenied, 0, 1), 26, 1, 0, kRapAccessDenied, 0, ""},
        {"parameters cut short", {0x00, 0x00, 0x00}, 26, 1, -1, 0, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> d;
        for (size_t i = 0; i < c.entries_in_data; i++)
            server_entry(d, "NAS", 3, c.pointer);
        d.insert(d.end(), {'h', 'i', 0});
        uint16_t status = 0;
        std::vector<RapServer> out;
        EXPECT_EQ(rap_parse_servers(c.params, d, &status, &out), c.rc);
        if (c.rc != 0)
            continue;
        EXPECT_EQ(status, c.status);
        ASSERT_EQ(out.size(), c.got);
        if (c.got) {
            EXPECT_EQ(out[0].comment, c.comment);
        }
    }
    // A comment without its NUL inside the data comes out empty.
    std::vector<uint8_t> d;
    server_entry(d, "NAS", 3, 26);
    d.insert(d.end(), {'h', 'i'});
    uint16_t status = 0;
    std::vector<RapServer> out;
    ASSERT_EQ(rap_parse_servers(params(0, 0, 1), d, &status, &out), 0);
    EXPECT_EQ(out[0].comment, "");
}

TEST(RapReply, SharesNamesAndTypes)
{
    std::vector<uint8_t> d;
    for (auto [name, type] : {std::pair{"Media", 0}, std::pair{"IPC$", 3}, std::pair{"TWELVECHARSX", 0}}) {
        size_t at = d.size();
        d.resize(at + 14, 0);
        std::memcpy(d.data() + at, name, std::strlen(name));
        put16(d, static_cast<uint32_t>(type));
        put32(d, type == 3 ? 60 : 0);
    }
    d.insert(d.end(), {'I', 'P', 'C', 0});
    uint16_t status = 0;
    std::vector<RapShare> out;
    ASSERT_EQ(rap_parse_shares(params(0, 0, 3), d, &status, &out), 0);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].name, "Media");
    EXPECT_EQ(out[1].type, 3);
    EXPECT_EQ(out[1].remark, "IPC");
    EXPECT_EQ(out[2].name, "TWELVECHARSX");
    // A 13-byte name field without its NUL ends at the field.
    d[2 * 20 + 12] = 'Z';
    out.clear();
    ASSERT_EQ(rap_parse_shares(params(0, 0, 3), d, &status, &out), 0);
    EXPECT_EQ(out[2].name, "TWELVECHARSXZ");
}

}  // namespace
