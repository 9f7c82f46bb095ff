// NetBIOS names: the first-level encoding and the called name of a host.
#include <gtest/gtest.h>

#include <string>

#include "util/netbios_name.h"

namespace {

std::string encoded(const char *name, uint8_t type)
{
    uint8_t out[kNetbiosEncodedLen];
    if (vnb_netbios_encode(name, type, out) != 0)
        return "<fail>";
    EXPECT_EQ(out[0], 32);
    EXPECT_EQ(out[33], 0);
    return std::string(reinterpret_cast<const char *>(out + 1), 32);
}

TEST(NetbiosName, FirstLevelEncoding)
{
    // RFC 1001 14.1's example, and the names a session request carries.
    EXPECT_EQ(encoded("FRED", 0x20), "EGFCEFEECACACACACACACACACACACACA");
    EXPECT_EQ(encoded("*SMBSERVER", 0x20), "CKFDENECFDEFFCFGEFFCCACACACACACA");
    EXPECT_EQ(encoded("nas", 0x20), encoded("NAS", 0x20)) << "upper-cased";
    EXPECT_EQ(encoded("VANTRELVIEWER", 0x00), "FGEBEOFEFCEFEMFGEJEFFHEFFCCACAAA");
    EXPECT_EQ(encoded("ABCDEFGHIJKLMNO", 0x20).size(), 32u);
    for (const char *bad : {"", "ABCDEFGHIJKLMNOP", "A\tB", "A\x7F"})
        EXPECT_EQ(encoded(bad, 0x20), "<fail>") << bad;
}

TEST(NetbiosName, DecodeRoundTripAndRefusals)
{
    uint8_t enc[kNetbiosEncodedLen];
    ASSERT_EQ(vnb_netbios_encode("*SMBSERVER", 0x20, enc), 0);
    char name[kNetbiosNameChars + 1];
    uint8_t type = 0;
    EXPECT_EQ(vnb_netbios_decode(enc, sizeof enc, name, &type), 34);
    EXPECT_STREQ(name, "*SMBSERVER");
    EXPECT_EQ(type, 0x20);

    EXPECT_EQ(vnb_netbios_decode(enc, sizeof enc - 1, name, &type), -1) << "cut short";
    uint8_t bad[kNetbiosEncodedLen];
    std::copy(std::begin(enc), std::end(enc), bad);
    bad[5] = 'Q';  // a half-byte above 15
    EXPECT_EQ(vnb_netbios_decode(bad, sizeof bad, name, &type), -1);
    std::copy(std::begin(enc), std::end(enc), bad);
    bad[0] = 31;
    EXPECT_EQ(vnb_netbios_decode(bad, sizeof bad, name, &type), -1);
    std::copy(std::begin(enc), std::end(enc), bad);
    bad[33] = 3;  // a scope
    EXPECT_EQ(vnb_netbios_decode(bad, sizeof bad, name, &type), -1);
    EXPECT_EQ(vnb_netbios_decode(nullptr, 34, name, &type), -1);
}

TEST(NetbiosName, CalledNameFromTheHost)
{
    struct Case {
        const char *host;
        const char *called;
    } cases[] = {
        {"nas.local", "NAS"},
        {"MyCloud", "MYCLOUD"},
        {"linkstation-ls220d.fritz.box", "LINKSTATION-LS2"},
        {"192.168.1.20", "*SMBSERVER"},
        {"127.0.0.1", "*SMBSERVER"},
        {"::1", "*SMBSERVER"},
        {"fe80::1%eth0", "*SMBSERVER"},
        {"", "*SMBSERVER"},
        {".hidden", "*SMBSERVER"},
        {"a\x01" "b", "*SMBSERVER"},
    };
    for (const Case &c : cases) {
        char name[kNetbiosNameChars + 1];
        vnb_netbios_called_name(c.host, name);
        EXPECT_STREQ(name, c.called) << c.host;
    }
}

}  // namespace
