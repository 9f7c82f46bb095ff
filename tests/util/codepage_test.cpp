// The 8-bit code pages of servers without Unicode.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/codepage.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes to_oem(CodePage cp, const char *text, int *rc = nullptr)
{
    uint8_t out[64];
    size_t n = 0;
    int r = vnb_utf8_to_oem(cp, text, out, sizeof out, &n);
    if (rc)
        *rc = r;
    return r == 0 ? Bytes(out, out + n) : Bytes{};
}

std::string from_oem(CodePage cp, const Bytes &in)
{
    char out[256];
    return vnb_oem_to_utf8(cp, in.data(), in.size(), out, sizeof out) == 0 ? std::string(out) : "<fail>";
}

TEST(CodePage, NamesAndAliases)
{
    struct Case {
        const char *name;
        CodePage page;
        const char *reported;
    } cases[] = {
        {"CP850", CodePage::cp850, "CP850"},       {"cp850", CodePage::cp850, "CP850"},
        {"850", CodePage::cp850, "CP850"},         {"IBM850", CodePage::cp850, "CP850"},
        {"CP437", CodePage::cp437, "CP437"},       {"cp858", CodePage::cp858, "CP858"},
        {"Windows-1252", CodePage::cp1252, "CP1252"}, {"1252", CodePage::cp1252, "CP1252"},
        {"latin1", CodePage::latin1, "ISO-8859-1"},   {"ISO-8859-15", CodePage::latin9, "ISO-8859-15"},
    };
    for (const Case &c : cases) {
        CodePage got = CodePage::cp437;
        ASSERT_TRUE(vnb_code_page_by_name(c.name, &got)) << c.name;
        EXPECT_EQ(got, c.page) << c.name;
        EXPECT_STREQ(vnb_code_page_name(got), c.reported) << c.name;
    }
    CodePage untouched = CodePage::cp437;
    for (const char *bad : {"", "UTF-8", "CP85", "CP8500", "KOI8-R"})
        EXPECT_FALSE(vnb_code_page_by_name(bad, &untouched)) << bad;
    EXPECT_FALSE(vnb_code_page_by_name(nullptr, &untouched));
    EXPECT_EQ(untouched, CodePage::cp437);
    EXPECT_EQ(kDefaultCodePage, CodePage::cp850);
}

TEST(CodePage, WesternLettersInEachPage)
{
    // "é", "Ü", "€" and "ß" where each page has them.
    struct Case {
        CodePage page;
        const char *text;
        Bytes bytes;  // empty: the page lacks a character
    } cases[] = {
        {CodePage::cp850, "\xC3\xA9", {0x82}},   {CodePage::cp850, "\xC3\x9C", {0x9A}},
        {CodePage::cp850, "\xC3\x9F", {0xE1}},   {CodePage::cp850, "\xE2\x82\xAC", {}},
        {CodePage::cp858, "\xE2\x82\xAC", {0xD5}}, {CodePage::cp437, "\xC3\xA9", {0x82}},
        {CodePage::cp437, "\xC3\x81", {}},       {CodePage::cp1252, "\xC3\xA9", {0xE9}},
        {CodePage::cp1252, "\xE2\x82\xAC", {0x80}}, {CodePage::latin1, "\xC3\xA9", {0xE9}},
        {CodePage::latin1, "\xE2\x82\xAC", {}},  {CodePage::latin9, "\xE2\x82\xAC", {0xA4}},
        {CodePage::cp850, "abc", {'a', 'b', 'c'}},
    };
    for (const Case &c : cases) {
        int rc = 0;
        Bytes got = to_oem(c.page, c.text, &rc);
        EXPECT_EQ(rc, c.bytes.empty() ? -1 : 0) << vnb_code_page_name(c.page) << " " << c.text;
        EXPECT_EQ(got, c.bytes) << vnb_code_page_name(c.page) << " " << c.text;
        if (!c.bytes.empty()) {
            EXPECT_EQ(from_oem(c.page, c.bytes), c.text) << vnb_code_page_name(c.page);
        }
    }
}

TEST(CodePage, EveryByteReadsBackAsItself)
{
    for (CodePage cp : {CodePage::cp850, CodePage::cp437, CodePage::cp858, CodePage::cp1252, CodePage::latin1,
                        CodePage::latin9}) {
        for (int b = 1; b < 256; b++) {
            std::string text = from_oem(cp, Bytes{static_cast<uint8_t>(b)});
            ASSERT_NE(text, "<fail>") << vnb_code_page_name(cp) << " " << b;
            EXPECT_EQ(to_oem(cp, text.c_str()), Bytes{static_cast<uint8_t>(b)}) << vnb_code_page_name(cp) << " " << b;
        }
    }
}

TEST(CodePage, RefusesWhatItCannotWrite)
{
    int rc = 0;
    to_oem(CodePage::cp850, "\xE6\x97\xA5\xE6\x9C\xAC", &rc);  // CJK
    EXPECT_EQ(rc, -1);
    for (const char *bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF"}) {
        to_oem(CodePage::cp850, bad, &rc);
        EXPECT_EQ(rc, -1) << "malformed UTF-8";
    }
    uint8_t small[2];
    size_t n = 0;
    EXPECT_EQ(vnb_utf8_to_oem(CodePage::cp850, "abc", small, sizeof small, &n), -1);
    char out[4];
    const uint8_t with_nul[3] = {'a', 0, 'b'};
    EXPECT_EQ(vnb_oem_to_utf8(CodePage::cp850, with_nul, 3, out, sizeof out), -1);
    const uint8_t three[3] = {0x82, 0x82, 0x82};  // six UTF-8 bytes do not fit four
    EXPECT_EQ(vnb_oem_to_utf8(CodePage::cp850, three, 3, out, sizeof out), -1);
}

TEST(CodePage, UpperCaseForTheLanManagerHash)
{
    uint8_t out[16];
    size_t n = 0;
    ASSERT_EQ(vnb_utf8_to_oem_upper(CodePage::cp850, "\xC3\xA9lan-1", out, sizeof out, &n), 0);
    EXPECT_EQ(Bytes(out, out + n), (Bytes{0x90, 'L', 'A', 'N', '-', '1'}));
    // ß has no upper-case letter of its own here and stays.
    ASSERT_EQ(vnb_utf8_to_oem_upper(CodePage::cp850, "\xC3\x9F", out, sizeof out, &n), 0);
    EXPECT_EQ(Bytes(out, out + n), Bytes{0xE1});
}

TEST(CodePage, WireFormFollowsTheUnicodeFlag)
{
    uint8_t out[16];
    size_t n = 0;
    ASSERT_EQ(vnb_utf8_to_wire("\xC3\xA9", true, CodePage::cp850, out, sizeof out, &n), 0);
    EXPECT_EQ(Bytes(out, out + n), (Bytes{0xE9, 0x00}));
    ASSERT_EQ(vnb_utf8_to_wire("\xC3\xA9", false, CodePage::cp850, out, sizeof out, &n), 0);
    EXPECT_EQ(Bytes(out, out + n), Bytes{0x82});
    EXPECT_EQ(vnb_utf8_to_wire("\xE6\x97\xA5", false, CodePage::cp850, out, sizeof out, &n), -1);
    ASSERT_EQ(vnb_utf8_to_wire("\xE6\x97\xA5", true, CodePage::cp850, out, sizeof out, &n), 0);
}

}  // namespace
