#include "net/support/smb_frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "util/bytebuf.h"
#include "util/text.h"

const char kSmallFakeTree[] = R"({"shares":[{"name":"Media","root":[{"name":"a.txt","text":"hello"}]}]})";

Bytes negotiate_request(uint16_t mid, const std::string &dialect)
{
    Bytes m = {0xFF, 'S', 'M', 'B', kNegotiate};
    m.insert(m.end(), 4, 0);        // Status
    m.push_back(0x18);              // Flags: case-insensitive, canonical paths
    m.push_back(0x01);              // Flags2 0xC801: long names, NT status, Unicode
    m.push_back(0xC8);
    m.insert(m.end(), 2 + 8 + 2 + 2, 0);  // PIDHigh, SecuritySignature, Reserved, TID
    m.push_back(0xFE);              // PID
    m.push_back(0xCA);
    m.insert(m.end(), 2, 0);        // UID
    m.push_back(uint8_t(mid));
    m.push_back(uint8_t(mid >> 8));
    m.push_back(0);                 // WordCount
    size_t byte_count = dialect.size() + 2;
    m.push_back(uint8_t(byte_count));
    m.push_back(uint8_t(byte_count >> 8));
    m.push_back(0x02);              // dialect buffer format
    m.insert(m.end(), dialect.begin(), dialect.end());
    m.push_back(0);
    return m;
}

uint16_t mid_of(const Bytes &msg)
{
    return msg.size() < 32 ? 0 : uint16_t(msg[30] | (msg[31] << 8));
}

void expect_negotiate_reply(const Bytes &r, uint16_t mid)
{
    constexpr size_t kBytesAt = 32 + 1 + 2 * kNegotiateWords;  // the ByteCount field
    ASSERT_GE(r.size(), kBytesAt + 2);
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 5), (Bytes{0xFF, 'S', 'M', 'B', kNegotiate}));
    EXPECT_EQ(Bytes(r.begin() + 5, r.begin() + 9), Bytes(4, 0));  // success
    EXPECT_EQ(r[9] & 0x80, 0x80);                                  // a reply
    EXPECT_EQ(mid_of(r), mid);
    EXPECT_EQ(r[32], kNegotiateWords);
    EXPECT_EQ(Bytes(r.begin() + 33, r.begin() + 35), Bytes(2, 0));  // the one dialect offered
    size_t byte_count = r[kBytesAt] | (r[kBytesAt + 1] << 8);
    EXPECT_EQ(r.size(), kBytesAt + 2 + byte_count);
}

Bytes with_nbss_header(const Bytes &msg)
{
    size_t n = msg.size();
    Bytes out(4 + n);
    out[1] = uint8_t(n >> 16);
    out[2] = uint8_t(n >> 8);
    out[3] = uint8_t(n);
    std::copy(msg.begin(), msg.end(), out.begin() + 4);
    return out;
}

std::string b64_text(const Bytes &bytes)
{
    char *text = vnb_b64enc(bytes.data(), bytes.size());
    std::string s(text ? text : "");
    std::free(text);
    return s;
}

Bytes b64_bytes(const char *text)
{
    ByteBuffer b{};
    EXPECT_EQ(vnb_b64dec(text, &b), 0) << (text ? text : "(null)");
    Bytes out(b.data, b.data + b.len);
    vnb_buf_free(&b);
    return out;
}
