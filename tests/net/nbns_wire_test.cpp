// NetBIOS names and name service packets: the 16-byte names and their
// encoding, the requests as they go out, and the reply reader fed good,
// truncated and hostile packets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake/fake_netbios.h"
#include "net/nb_name.h"
#include "net/nbns_wire.h"
#include "net/node_status.h"

namespace {

std::vector<uint8_t> bytes_of(const ByteBuffer &b)
{
    return std::vector<uint8_t>(b.data, b.data + b.len);
}

std::vector<uint8_t> request(uint16_t id, NbnsAsk ask, const char *name, uint8_t suffix)
{
    NbName n;
    if (ask != NbnsAsk::node_status) {
        EXPECT_TRUE(nb_name_make(name, suffix, &n));
    }
    ByteBuffer b{};
    nbns_build_request(&b, id, ask, n);
    std::vector<uint8_t> out = bytes_of(b);
    vnb_buf_free(&b);
    return out;
}

FakeNetbiosNode node()
{
    FakeNetbiosNode n;
    n.name = "MEDIABOX";
    n.workgroup = "HOME";
    n.address = 0xC0000205;  // 192.0.2.5
    n.mac = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
    n.master = true;
    return n;
}

// The node's answer to a request.
std::vector<uint8_t> answer(const std::vector<uint8_t> &req, const FakeNetbiosNode &n = node())
{
    ByteBuffer b{};
    bool answered = vnb_fake_nbns_answer(n, req, &b);
    std::vector<uint8_t> out = answered ? bytes_of(b) : std::vector<uint8_t>{};
    vnb_buf_free(&b);
    return out;
}

TEST(NbName, MakesPaddedUpperCaseNames)
{
    struct Case {
        const char *text;
        bool ok;
        const char *padded;
    };
    const Case cases[] = {
        {"mediabox", true, "MEDIABOX       "},
        {"NAS-1_x", true, "NAS-1_X        "},
        {"ABCDEFGHIJKLMNO", true, "ABCDEFGHIJKLMNO"},
        {"my.nas", true, "MY.NAS         "},
        {"ABCDEFGHIJKLMNOP", false, ""},
        {"", false, ""},
        {"two words", false, ""},
        {"star*", false, ""},
        {"back\\slash", false, ""},
        {"a/b", false, ""},
        {"colon:", false, ""},
        {"caf\xc3\xa9", false, ""},
        {"tab\t", false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        NbName n;
        ASSERT_EQ(nb_name_make(c.text, 0x20, &n), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(std::string(n.bytes.begin(), n.bytes.begin() + 15), c.padded);
        EXPECT_EQ(n.suffix(), 0x20);
    }
}

TEST(NbName, FirstLevelEncodingRoundTrips)
{
    NbName fred;
    ASSERT_TRUE(nb_name_make("FRED", 0x20, &fred));
    auto encoded = nb_encode_first_level(fred);
    // RFC 1001 14.1: "FRED" padded with spaces: EGFCEFEE then CA for each space.
    EXPECT_EQ(std::string(encoded.begin(), encoded.end()), "EGFCEFEECACACACACACACACACACACACA");
    NbName back;
    ASSERT_TRUE(nb_decode_first_level(encoded, &back));
    EXPECT_EQ(back, fred);
    EXPECT_EQ(nb_name_text(back), "FRED");

    encoded[7] = 'Q';  // outside 'A'..'P'
    EXPECT_FALSE(nb_decode_first_level(encoded, &back));
    encoded[7] = 'a';
    EXPECT_FALSE(nb_decode_first_level(encoded, &back));
}

TEST(NbName, SpecialNamesAndTheirText)
{
    NbName star = nb_name_wildcard();
    EXPECT_EQ(star.bytes[0], '*');
    for (size_t i = 1; i < 16; i++)
        EXPECT_EQ(star.bytes[i], 0);
    EXPECT_EQ(nb_name_text(star), "*");
    NbName browse = nb_name_msbrowse();
    EXPECT_EQ(browse.suffix(), 0x01);
    EXPECT_EQ(nb_name_text(browse), "??__MSBROWSE__?");
    const uint8_t oem[] = {'B', 0x81, 'r', 'o', 0x07, 0, 'x'};
    EXPECT_EQ(nb_oem_text(oem), "B?ro?");
}

TEST(NbnsRequest, NameQueryAndNodeStatusLayouts)
{
    std::vector<uint8_t> b = request(0x1234, NbnsAsk::broadcast, "fred", 0x20);
    ASSERT_EQ(b.size(), kNbnsRequestLen);
    const std::vector<uint8_t> head = {0x12, 0x34, 0x01, 0x10, 0, 1, 0, 0, 0, 0, 0, 0, 0x20};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), b.begin()));
    EXPECT_EQ(std::string(b.begin() + 13, b.begin() + 45), "EGFCEFEECACACACACACACACACACACACA");
    const std::vector<uint8_t> tail = {0x00, 0x00, 0x20, 0x00, 0x01};
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), b.begin() + 45));

    std::vector<uint8_t> w = request(7, NbnsAsk::name_server, "fred", 0x20);
    EXPECT_EQ(w[2], 0x01);  // recursion desired, no broadcast bit
    EXPECT_EQ(w[3], 0x00);

    std::vector<uint8_t> s = request(9, NbnsAsk::node_status, "", 0);
    EXPECT_EQ(s[2], 0x00);
    EXPECT_EQ(s[3], 0x00);
    EXPECT_EQ(std::string(s.begin() + 13, s.begin() + 15), "CK");  // '*'
    EXPECT_EQ(std::string(s.begin() + 15, s.begin() + 45), std::string(30, 'A'));
    EXPECT_EQ(s[47], 0x21);  // NBSTAT
}

TEST(NbnsReply, ReadsPositiveNegativeAndNodeStatusAnswers)
{
    NbnsReply r;
    ASSERT_EQ(nbns_parse_reply(answer(request(0x0102, NbnsAsk::broadcast, "mediabox", 0x20)), &r), 0);
    EXPECT_EQ(r.trn_id, 0x0102);
    EXPECT_TRUE(r.response());
    EXPECT_EQ(r.rcode, 0);
    ASSERT_TRUE(r.has_answer);
    EXPECT_EQ(nb_name_text(r.rr_name), "MEDIABOX");
    EXPECT_EQ(r.rr_type, kNbnsTypeNb);
    ASSERT_EQ(r.addresses.size(), 1u);
    EXPECT_EQ(r.addresses[0].ipv4, 0xC0000205u);
    EXPECT_EQ(r.addresses[0].flags & kNbGroupName, 0);

    ASSERT_EQ(nbns_parse_reply(answer(request(3, NbnsAsk::broadcast, "home", 0x00)), &r), 0);
    ASSERT_EQ(r.addresses.size(), 1u);
    EXPECT_NE(r.addresses[0].flags & kNbGroupName, 0);  // a workgroup is a group name

    FakeNetbiosNode wins = node();
    wins.wins_server = true;
    ASSERT_EQ(nbns_parse_reply(answer(request(4, NbnsAsk::name_server, "nobody", 0x20), wins), &r), 0);
    EXPECT_EQ(r.rcode, 3);
    EXPECT_TRUE(r.addresses.empty());

    ASSERT_EQ(nbns_parse_reply(answer(request(5, NbnsAsk::node_status, "", 0)), &r), 0);
    EXPECT_EQ(r.rr_type, kNbnsTypeNbstat);
    NodeInfo info = vnb_node_info(r);
    EXPECT_EQ(info.name, "MEDIABOX");
    EXPECT_EQ(info.workgroup, "HOME");
    EXPECT_TRUE(info.file_server);
    EXPECT_EQ(info.master_of, std::vector<std::string>{"HOME"});
    EXPECT_EQ(info.mac_text(), "02:00:5e:10:20:30");
}

TEST(NbnsReply, TheNodeAnswersOnlyWhatItHolds)
{
    EXPECT_TRUE(answer(request(1, NbnsAsk::broadcast, "stranger", 0x20)).empty());
    EXPECT_FALSE(answer(request(1, NbnsAsk::broadcast, "mediabox", 0x00)).empty());
    ByteBuffer star{};
    nbns_build_request(&star, 2, NbnsAsk::broadcast, nb_name_wildcard());
    EXPECT_FALSE(answer(bytes_of(star)).empty());  // as nmbd answers "*"
    vnb_buf_free(&star);
    // Not a WINS server: a unicast query for a name it does not hold gets nothing.
    EXPECT_TRUE(answer(request(1, NbnsAsk::name_server, "stranger", 0x20)).empty());
    // A reply is never answered.
    std::vector<uint8_t> reply = answer(request(1, NbnsAsk::broadcast, "mediabox", 0x20));
    EXPECT_TRUE(answer(reply).empty());
}

TEST(NbnsReply, EveryTruncationIsRefusedOrReadSafely)
{
    std::vector<uint8_t> full = answer(request(5, NbnsAsk::node_status, "", 0));
    for (size_t n = 0; n < full.size(); n++) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<long>(n));
        NbnsReply r;
        int rc = nbns_parse_reply(cut, &r);
        // Only the statistics after the names may be cut: the names stay whole.
        if (rc == 0) {
            EXPECT_TRUE(r.has_answer);
            EXPECT_EQ(r.names.size(), 7u);
        }
    }
}

// A reply assembled by hand around one answer record.
std::vector<uint8_t> reply_with(const std::vector<uint8_t> &name, uint16_t type, const std::vector<uint8_t> &rdata,
                                uint16_t rdlength, uint16_t questions = 0)
{
    std::vector<uint8_t> b = {0x00, 0x01, 0x85, 0x00, static_cast<uint8_t>(questions >> 8),
                              static_cast<uint8_t>(questions), 0x00, 0x01, 0, 0, 0, 0};
    b.insert(b.end(), name.begin(), name.end());
    const std::vector<uint8_t> fixed = {static_cast<uint8_t>(type >> 8), static_cast<uint8_t>(type), 0x00, 0x01,
                                        0, 0, 0, 0, static_cast<uint8_t>(rdlength >> 8),
                                        static_cast<uint8_t>(rdlength)};
    b.insert(b.end(), fixed.begin(), fixed.end());
    b.insert(b.end(), rdata.begin(), rdata.end());
    return b;
}

std::vector<uint8_t> encoded_name(const char *text)
{
    NbName n;
    nb_name_make(text, 0x20, &n);
    auto e = nb_encode_first_level(n);
    std::vector<uint8_t> out(34, 0);
    out[0] = 0x20;
    std::copy(e.begin(), e.end(), out.begin() + 1);
    return out;
}

TEST(NbnsReply, HostileRecordsAreRefused)
{
    const std::vector<uint8_t> address = {0x00, 0x00, 0xC0, 0x00, 0x02, 0x05};
    struct Case {
        const char *what;
        std::vector<uint8_t> packet;
        int rc;
    };
    std::vector<uint8_t> looped = reply_with({0xC0, 0x0C}, kNbnsTypeNb, address, 6);
    std::vector<uint8_t> forward = reply_with({0xC0, 0x40}, kNbnsTypeNb, address, 6);
    std::vector<uint8_t> short_label = encoded_name("NAS");
    short_label[0] = 0x1F;
    std::vector<uint8_t> scoped = encoded_name("NAS");
    scoped.back() = 3;
    scoped.insert(scoped.end(), {'c', 'o', 'm', 0});
    std::vector<uint8_t> request_bit = reply_with(encoded_name("NAS"), kNbnsTypeNb, address, 6);
    request_bit[2] = 0x05;
    std::vector<uint8_t> many_questions = reply_with(encoded_name("NAS"), kNbnsTypeNb, address, 6, 5000);
    std::vector<uint8_t> status_overrun = reply_with(encoded_name("NAS"), kNbnsTypeNbstat, {200, 'A', 'B'}, 3);
    std::vector<uint8_t> wrong_class = reply_with(encoded_name("NAS"), kNbnsTypeNb, address, 6);
    wrong_class[12 + 34 + 3] = 0x02;
    const Case cases[] = {
        {"well formed", reply_with(encoded_name("NAS"), kNbnsTypeNb, address, 6), 0},
        {"pointer to itself", looped, -1},
        {"pointer forward", forward, -1},
        {"label not 32 bytes", reply_with(short_label, kNbnsTypeNb, address, 6), -1},
        {"a scope", reply_with(scoped, kNbnsTypeNb, address, 6), -1},
        {"rdlength past the end", reply_with(encoded_name("NAS"), kNbnsTypeNb, address, 60), -1},
        {"rdlength not whole entries", reply_with(encoded_name("NAS"), kNbnsTypeNb, {0, 0, 1, 2, 3}, 5), -1},
        {"a request", request_bit, -1},
        {"too many questions", many_questions, -1},
        {"node status names past the data", status_overrun, -1},
        {"not class IN", wrong_class, -1},
        {"header only", {0x00, 0x01, 0x85, 0x00}, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        NbnsReply r;
        EXPECT_EQ(nbns_parse_reply(c.packet, &r), c.rc);
    }
}

TEST(NbnsReply, AQuestionThenAPointerBackToItIsRead)
{
    // The question's name, then the answer naming it by a pointer to offset 12.
    std::vector<uint8_t> b = {0x00, 0x09, 0x85, 0x00, 0x00, 0x01, 0x00, 0x01, 0, 0, 0, 0};
    std::vector<uint8_t> q = encoded_name("NAS");
    b.insert(b.end(), q.begin(), q.end());
    b.insert(b.end(), {0x00, 0x20, 0x00, 0x01});
    b.insert(b.end(), {0xC0, 0x0C, 0x00, 0x20, 0x00, 0x01, 0, 0, 0, 0, 0x00, 0x06, 0x00, 0x00, 192, 0, 2, 9});
    NbnsReply r;
    ASSERT_EQ(nbns_parse_reply(b, &r), 0);
    EXPECT_EQ(nb_name_text(r.rr_name), "NAS");
    ASSERT_EQ(r.addresses.size(), 1u);
    EXPECT_EQ(r.addresses[0].ipv4, 0xC0000209u);
}

}  // namespace
