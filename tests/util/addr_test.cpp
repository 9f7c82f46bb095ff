#include "util/addr.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

namespace {

using Addr16 = std::array<uint8_t, 16>;

IpAddress make(int32_t family, Addr16 bytes)
{
    IpAddress a{};
    a.family = family;
    std::memcpy(a.bytes, bytes.data(), 16);
    return a;
}

IpAddress v6_groups(std::array<uint16_t, 8> groups)
{
    IpAddress a{};
    a.family = 6;
    for (size_t k = 0; k < 8; k++) {
        a.bytes[2 * k] = static_cast<uint8_t>(groups[k] >> 8);
        a.bytes[2 * k + 1] = static_cast<uint8_t>(groups[k] & 0xFF);
    }
    return a;
}

std::string format(const IpAddress &a, int32_t size = 64)
{
    char out[64];
    std::memset(out, 'X', sizeof out);
    vnb_ip_format(&a, out, size);
    return out;
}

IpAddress parsed(const char *text)
{
    IpAddress a{};
    EXPECT_EQ(vnb_ip_parse(text, &a), 0) << text;
    return a;
}

struct V4Case {
    const char *text;
    int result;
    std::array<uint8_t, 4> bytes;
};

TEST(ParseV4, Table)
{
    const V4Case cases[] = {
        {"255.255.255.255", 0, {255, 255, 255, 255}},
        {"0.0.0.0", 0, {0, 0, 0, 0}},
        {"010.0.0.1", 0, {10, 0, 0, 1}},  // leading zeros read in decimal
        {"1.2.3.4", 0, {1, 2, 3, 4}},
        {"256.1.1.1", -1, {}},
        {"1.1.1.256", -1, {}},
        {"1.2.3", -1, {}},
        {"1.2.3.4.5", -1, {}},
        {"1.2.3.4.", -1, {}},
        {"1.2.3.4 ", -1, {}},
        {" 1.2.3.4", -1, {}},
        {"1..2.3", -1, {}},
        {".1.2.3", -1, {}},
        {"0001.1.1.1", -1, {}},
        {"1.2.3.a", -1, {}},
        {"1.2.3.-4", -1, {}},
        {"", -1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        uint8_t out[4] = {9, 9, 9, 9};
        EXPECT_EQ(parse_v4(c.text, std::strlen(c.text), out), c.result);
        if (c.result == 0) {
            EXPECT_EQ(std::memcmp(out, c.bytes.data(), 4), 0);
        }
    }
}

TEST(ParseV4, UsesExactlyTheGivenLength)
{
    uint8_t out[4];
    EXPECT_EQ(parse_v4("1.2.3.4xyz", 7, out), 0);
    EXPECT_EQ(out[3], 4);
    EXPECT_EQ(parse_v4("1.2.3.45", 7, out), 0);
    EXPECT_EQ(out[3], 4);
    EXPECT_EQ(parse_v4("1.2.3.4", 6, out), -1);
}

struct IpCase {
    const char *text;
    int result;
    int32_t family;
    Addr16 bytes;
};

TEST(IpParse, Table)
{
    const IpCase cases[] = {
        {"127.0.0.1", 0, 4, {127, 0, 0, 1}},
        {"[fe80::1%3]", 0, 6, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"fe80::1%eth0", 0, 6, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"[::1]", 0, 6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"::", 0, 6, {}},
        {"::1", 0, 6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
        {"1::", 0, 6, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"1:2:3:4:5:6:7:8", 0, 6, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8}},
        {"ABCD:ef01::2", 0, 6, {0xab, 0xcd, 0xef, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}},
        {"1:2:3:4:5:6:7::", 0, 6, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 0}},
        {"::2:3:4:5:6:7:8", 0, 6, {0, 0, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8}},
        {"1:2:3:4:5:6:1.2.3.4", 0, 6, {0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 1, 2, 3, 4}},
        {"64:ff9b::1.2.3.4", 0, 6, {0, 0x64, 0xff, 0x9b, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}},
        {"::1.2.3.4", 0, 6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}},
        // IPv4-mapped comes back as family 4, dotted or hexadecimal.
        {"::ffff:10.1.2.3", 0, 4, {10, 1, 2, 3}},
        {"::FFFF:a01:203", 0, 4, {10, 1, 2, 3}},
        {"0:0:0:0:0:ffff:7f00:1", 0, 4, {127, 0, 0, 1}},
        {"[::ffff:10.1.2.3]", 0, 4, {10, 1, 2, 3}},
        {"::fffe:10.1.2.3", 0, 6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xfe, 10, 1, 2, 3}},
        {"1::ffff:10.1.2.3", 0, 6, {0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 1, 2, 3}},
        {":1::2", -1, 0, {}},
        {"1::2:", -1, 0, {}},
        {":", -1, 0, {}},
        {":::", -1, 0, {}},
        {"1:::2", -1, 0, {}},
        {"1:2:3:4:5:6:7:8::", -1, 0, {}},
        {"::1:2:3:4:5:6:7:8", -1, 0, {}},
        {"1:2:3:4:5:6:7", -1, 0, {}},
        {"1:2:3:4:5:6:7:8:9", -1, 0, {}},
        {"1::2::3", -1, 0, {}},
        {"12345::", -1, 0, {}},
        {"g::1", -1, 0, {}},
        {"1:2:3:4:5:6:7:1.2.3.4", -1, 0, {}},
        {"1:2:3:4:5:6::1.2.3.4", -1, 0, {}},
        {"1.2.3.4::", -1, 0, {}},
        {"::1.2.3", -1, 0, {}},
        {"::256.1.1.1", -1, 0, {}},
        {"[1.2.3.4", -1, 0, {}},
        {"[]", -1, 0, {}},
        {"%3", -1, 0, {}},
        {"", -1, 0, {}},
        {"1.2.3.4 ", -1, 0, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        IpAddress a;
        std::memset(&a, 0x5A, sizeof a);
        EXPECT_EQ(vnb_ip_parse(c.text, &a), c.result);
        // A failed parse leaves a zeroed record.
        EXPECT_EQ(a.family, c.family);
        EXPECT_EQ(std::memcmp(a.bytes, c.bytes.data(), 16), 0);
    }
}

TEST(IpParse, LengthLimitAfterBracketsAndZone)
{
    // 45 characters pass, 46 fail.
    std::string v6_45 = "0000:0000:0000:0000:0000:ffff:255.255.255.255";
    ASSERT_EQ(v6_45.size(), 45u);
    IpAddress a{};
    EXPECT_EQ(vnb_ip_parse(v6_45.c_str(), &a), 0);
    EXPECT_EQ(vnb_ip_parse(("0" + v6_45).c_str(), &a), -1);
    EXPECT_EQ(a.family, 0);
    EXPECT_EQ(vnb_ip_parse(("[" + v6_45 + "%zone-index]").c_str(), &a), 0);
    EXPECT_EQ(vnb_ip_parse(std::string(46, '1').c_str(), &a), -1);
    EXPECT_EQ(vnb_ip_parse(nullptr, &a), -1);
    EXPECT_EQ(vnb_ip_parse("::1", nullptr), -1);
}

struct FormatCase {
    std::array<uint16_t, 8> groups;
    const char *text;
};

TEST(IpFormat, Table)
{
    const FormatCase cases[] = {
        {{0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, "::"},
        {{1, 0, 0, 0, 0, 0, 0, 0}, "1::"},
        {{1, 0, 2, 0, 0, 0, 0, 0}, "1:0:2::"},
        {{0, 0, 1, 0, 0, 0, 0, 0}, "0:0:1::"},
        {{1, 0, 0, 1, 0, 0, 1, 1}, "1::1:0:0:1:1"},
        {{1, 1, 1, 1, 1, 1, 1, 0}, "1:1:1:1:1:1:1:0"},
        {{0, 1, 1, 1, 1, 1, 1, 1}, "0:1:1:1:1:1:1:1"},
        {{1, 2, 3, 4, 5, 6, 7, 8}, "1:2:3:4:5:6:7:8"},
        {{0xfe80, 0, 0, 0, 0xABCD, 0x0010, 0, 0}, "fe80::abcd:10:0:0"},
        {{0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff, 0xffff},
         "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        // No dotted form, not even for IPv4-mapped bytes.
        {{0, 0, 0, 0, 0, 0xffff, 0x0a01, 0x0203}, "::ffff:a01:203"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(format(v6_groups(c.groups)), c.text);
    }
}

TEST(IpFormat, FamiliesAndCutting)
{
    EXPECT_EQ(format(make(4, {192, 168, 1, 255})), "192.168.1.255");
    // Any family but 4 prints as IPv6.
    EXPECT_EQ(format(make(0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})), "::1");
    IpAddress a = make(4, {192, 168, 1, 255});
    EXPECT_EQ(format(a, 8), "192.168");
    EXPECT_EQ(format(a, 1), "");
    char out[4] = {'X', 'X', 'X', 'X'};
    vnb_ip_format(&a, out, 0);
    EXPECT_EQ(out[0], 'X');
}

TEST(IpFormat, RoundTripsThroughParse)
{
    const char *texts[] = {
        "10.0.0.1", "255.255.255.255", "::", "::1", "1::", "fe80::1", "1:0:2::", "2001:db8::8:800:200c:417a",
        "1:2:3:4:5:6:7:8", "1::1:0:0:1:1", "0:0:1::", "::fffe:0:1",
    };
    for (const char *t : texts) {
        SCOPED_TRACE(t);
        IpAddress a = parsed(t);
        EXPECT_EQ(format(a), t);
        IpAddress b = parsed(format(a).c_str());
        EXPECT_EQ(vnb_ip_equal(&a, &b), 1);
    }
}

TEST(IpEqualAndLoopback, Table)
{
    IpAddress v4 = parsed("10.0.0.1");
    IpAddress v4b = parsed("::ffff:10.0.0.1");
    IpAddress v4c = parsed("10.0.0.2");
    EXPECT_EQ(vnb_ip_equal(&v4, &v4b), 1);
    EXPECT_EQ(vnb_ip_equal(&v4, &v4c), 0);
    // Family 4 compares only the first four bytes.
    IpAddress v4_noise = v4;
    v4_noise.bytes[10] = 7;
    EXPECT_EQ(vnb_ip_equal(&v4, &v4_noise), 1);
    IpAddress v6 = parsed("::a00:1");
    EXPECT_EQ(vnb_ip_equal(&v4, &v6), 0);  // same bytes would not matter
    IpAddress v6b = parsed("::a00:2");
    EXPECT_EQ(vnb_ip_equal(&v6, &v6b), 0);

    const struct {
        const char *text;
        int loopback;
    } cases[] = {
        {"127.0.0.1", 1}, {"127.255.1.2", 1}, {"::1", 1},     {"::ffff:127.0.0.1", 1},
        {"128.0.0.1", 0}, {"::", 0},          {"::2", 0},     {"1::1", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        IpAddress a = parsed(c.text);
        EXPECT_EQ(vnb_ip_is_loopback(&a), c.loopback);
    }
    IpAddress unknown = make(0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1});
    EXPECT_EQ(vnb_ip_is_loopback(&unknown), 0);
    unknown.bytes[0] = 127;
    EXPECT_EQ(vnb_ip_is_loopback(&unknown), 0);
}

struct CidrCase {
    const char *text;
    int result;
    int32_t family;
    Addr16 bytes;
    int32_t prefix;
};

TEST(CidrParse, Table)
{
    const CidrCase cases[] = {
        {"192.168.1.77/24", 0, 4, {192, 168, 1, 0}, 24},
        {"10.0.0.1", 0, 4, {10, 0, 0, 1}, 32},
        {"10.0.0.1/32", 0, 4, {10, 0, 0, 1}, 32},
        {"10.255.255.255/0", 0, 4, {}, 0},
        {"10.255.255.255/9", 0, 4, {10, 128, 0, 0}, 9},
        {"172.31.255.255/12", 0, 4, {172, 16, 0, 0}, 12},
        {"255.255.255.255/31", 0, 4, {255, 255, 255, 254}, 31},
        {"1.2.3.4/008", 0, 4, {1, 0, 0, 0}, 8},
        {"::ffff:10.0.0.0/104", 0, 4, {10, 0, 0, 0}, 8},
        {"::ffff:10.1.2.3/96", 0, 4, {}, 0},
        {"::ffff:10.1.2.3/128", 0, 4, {10, 1, 2, 3}, 32},
        {"::ffff:10.1.2.3", 0, 4, {10, 1, 2, 3}, 32},
        {"fe80::1/10", 0, 6, {0xfe, 0x80}, 10},
        {"fe80:ffff::1/17", 0, 6, {0xfe, 0x80, 0x80}, 17},
        {"2001:db8::ff/128", 0, 6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff}, 128},
        {"2001:db8::ff/127", 0, 6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xfe}, 127},
        {"ffff::/0", 0, 6, {}, 0},
        {"[::1]/128", 0, 6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128},
        {"10.0.0.1/33", -1, 0, {}, 0},
        {"10.0.0.1/", -1, 0, {}, 0},
        {"10.0.0.1/1234", -1, 0, {}, 0},
        {"10.0.0.1/8/", -1, 0, {}, 0},
        {"10.0.0.1/8 ", -1, 0, {}, 0},
        {"10.0.0.1/-8", -1, 0, {}, 0},
        {"10.0.0.1/+8", -1, 0, {}, 0},
        {"::ffff:10.0.0.0/95", -1, 0, {}, 0},
        {"::ffff:10.0.0.0/129", -1, 0, {}, 0},
        {"::/129", -1, 0, {}, 0},
        {"/8", -1, 0, {}, 0},
        {"", -1, 0, {}, 0},
        {"10.0.0/8", -1, 0, {}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        CidrBlock b;
        std::memset(&b, 0x5A, sizeof b);
        EXPECT_EQ(vnb_cidr_parse(c.text, &b), c.result);
        EXPECT_EQ(b.addr.family, c.family);
        EXPECT_EQ(std::memcmp(b.addr.bytes, c.bytes.data(), 16), 0);
        EXPECT_EQ(b.prefix, c.prefix);
    }
}

TEST(CidrParse, AddressPartLimit)
{
    CidrBlock b{};
    // 63 characters of address part reach the address parser (which then
    // drops the zone); 64 fail before it.
    std::string zone63 = "::1%" + std::string(59, 'z');
    ASSERT_EQ(zone63.size(), 63u);
    EXPECT_EQ(vnb_cidr_parse((zone63 + "/128").c_str(), &b), 0);
    EXPECT_EQ(b.prefix, 128);
    EXPECT_EQ(vnb_cidr_parse((zone63 + "z/128").c_str(), &b), -1);
    EXPECT_EQ(vnb_cidr_parse(nullptr, &b), -1);
    EXPECT_EQ(vnb_cidr_parse("10.0.0.0/8", nullptr), -1);
}

struct MatchCase {
    const char *block;
    const char *address;
    int match;
};

TEST(CidrMatch, Table)
{
    const MatchCase cases[] = {
        {"10.0.0.0/8", "10.255.0.1", 1},
        {"10.0.0.0/8", "11.0.0.1", 0},
        {"10.0.0.0/8", "::a00:1", 0},
        {"10.0.0.0/8", "::ffff:10.1.1.1", 1},
        {"0.0.0.0/0", "1.2.3.4", 1},
        {"0.0.0.0/0", "::1", 0},
        {"::/0", "::1", 1},
        {"::/0", "1.2.3.4", 0},
        {"192.168.1.128/25", "192.168.1.200", 1},
        {"192.168.1.128/25", "192.168.1.127", 0},
        {"172.16.0.0/12", "172.31.255.255", 1},
        {"172.16.0.0/12", "172.32.0.0", 0},
        {"10.0.0.1/32", "10.0.0.1", 1},
        {"10.0.0.1/32", "10.0.0.2", 0},
        {"10.0.0.1/31", "10.0.0.0", 1},
        {"fe80::/10", "febf:ffff::1", 1},
        {"fe80::/10", "fec0::1", 0},
        {"2001:db8::/127", "2001:db8::1", 1},
        {"2001:db8::/127", "2001:db8::2", 0},
        {"::1/128", "::1", 1},
        {"::1/128", "::", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.block) + " " + c.address);
        CidrBlock b{};
        ASSERT_EQ(vnb_cidr_parse(c.block, &b), 0);
        IpAddress a = parsed(c.address);
        EXPECT_EQ(vnb_cidr_match(&b, &a), c.match);
    }
}

}  // namespace
