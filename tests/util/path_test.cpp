#include "util/path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "util/error.h"

namespace {

constexpr int32_t kUrlPathSize = 1026;
constexpr int32_t kListingSize = 2054;

// n components of `width` bytes each, joined by "/".
std::string components(int n, size_t width, char fill = 'a')
{
    std::string s;
    for (int k = 0; k < n; k++) {
        if (k)
            s += '/';
        s += std::string(width, fill);
    }
    return s;
}

struct VpathCase {
    const char *what;
    std::string in;
    int32_t result;
    std::string out;  // canonical form, or the error text
};

TEST(Vpath, Table)
{
    const VpathCase cases[] = {
        {"mixed and doubled separators, trailing slash", "a//b\\c/", 0, "a/b/c"},
        {"leading backslashes", "\\share\\dir", 0, "share/dir"},
        {"empty", "", 0, ""},
        {"only separators", "///", 0, ""},
        {"only backslashes", "\\\\", 0, ""},
        {"one component", "file.mkv", 0, "file.mkv"},
        {"hidden name", ".hidden", 0, ".hidden"},
        {"two dots inside", "a..b", 0, "a..b"},
        {"leading space", " name", 0, " name"},
        {"inner spaces", "My Movies/a b.mkv", 0, "My Movies/a b.mkv"},
        {"UTF-8 and punctuation pass", "/\xC3\xA9t\xC3\xA9/a:b*c?d|e\xFF", 0, "\xC3\xA9t\xC3\xA9/a:b*c?d|e\xFF"},
        {"dot", "a/./b", -6, "\".\" is not a valid name component"},
        {"dot dot", "a/../b", -6, "\"..\" is not a valid name component"},
        {"dot dot alone", "..", -6, "\"..\" is not a valid name component"},
        {"three dots", "...", -6, "name component ends in a dot or a space"},
        {"trailing dot", "a/b.", -6, "name component ends in a dot or a space"},
        {"trailing space", "name /x", -6, "name component ends in a dot or a space"},
        {"tab", "a/b\tc", -6, "control byte in a name component"},
        {"DEL", "a\x7F", -6, "control byte in a name component"},
        {"0x1F", "\x1F" "a", -6, "control byte in a name component"},
        {"255-byte component", components(1, 255), 0, components(1, 255)},
        {"256-byte component", "x/" + components(1, 256), -6, "name component longer than 255 bytes"},
        {"64 components", components(64, 1), 0, components(64, 1)},
        {"65 components", components(65, 1), -6, "deeper than 64 components"},
        {"65 components with separators around", "//" + components(65, 1) + "\\", -6,
         "deeper than 64 components"},
        // 4 components of 254 bytes and 3 slashes: 1019 bytes.
        {"canonical 1024 bytes", components(4, 254) + "/abcd", 0, components(4, 254) + "/abcd"},
        {"canonical 1025 bytes", components(4, 254) + "/abcde", -6, "path longer than 1024 bytes"},
        {"canonical 1024 bytes from a longer input", "//" + components(4, 254) + "\\\\/abcd//", 0,
         components(4, 254) + "/abcd"},
        {"2048-byte input of slashes", std::string(2048, '/'), 0, ""},
        {"2049-byte input of slashes", std::string(2049, '/'), -6, "name longer than 2048 bytes"},
        {"2049-byte input with a bad component", "../" + std::string(2046, '/'), -6,
         "name longer than 2048 bytes"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        vnb_set_error("untouched");
        char out[kListingSize];
        std::memset(out, 'X', sizeof out);
        int32_t r = vnb_vpath(c.in.c_str(), out, kListingSize);
        EXPECT_EQ(r, c.result);
        if (c.result == 0) {
            EXPECT_EQ(std::string(out), c.out);
            EXPECT_STREQ(vnb_error(), "untouched");  // success leaves the text alone
        } else {
            EXPECT_EQ(std::string(vnb_error()), c.out);
            EXPECT_EQ(out[0], 'X');  // nothing written on failure
        }
    }
}

// The rules run in order for each component, and components left to right.
TEST(Vpath, FirstFailingRuleDecides)
{
    const struct {
        std::string in;
        const char *error;
    } cases[] = {
        {"a./..", "name component ends in a dot or a space"},
        {"a\t./..", "control byte in a name component"},
        {"..\t", "control byte in a name component"},
        {std::string(256, '.'), "name component longer than 255 bytes"},
        {std::string(300, '\t'), "name component longer than 255 bytes"},
        {"a\t /..", "control byte in a name component"},
        {"a /\t", "name component ends in a dot or a space"},
        {components(64, 1) + "/..", "\"..\" is not a valid name component"},
        {components(64, 1) + "/a\t", "control byte in a name component"},
        // The 65th component counts before the length of the path.
        {components(64, 15) + "/b", "deeper than 64 components"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in.substr(0, 40));
        char out[kUrlPathSize];
        EXPECT_EQ(vnb_vpath(c.in.c_str(), out, sizeof out), -6);
        EXPECT_STREQ(vnb_error(), c.error);
    }
}

TEST(Vpath, OutputSize)
{
    char out[16];
    std::memset(out, 'X', sizeof out);
    EXPECT_EQ(vnb_vpath("/a/bc/", out, 4), -9);
    EXPECT_STREQ(vnb_error(), "the name needs 5 bytes");
    EXPECT_EQ(out[0], 'X');
    EXPECT_EQ(vnb_vpath("/a/bc/", out, 5), 0);
    EXPECT_STREQ(out, "a/bc");
    EXPECT_EQ(vnb_vpath("/a/bc/", nullptr, 100), -9);
    EXPECT_STREQ(vnb_error(), "the name needs 5 bytes");
    EXPECT_EQ(vnb_vpath("a", out, -1), -9);

    // The empty canonical path still needs its NUL.
    for (const char *empty : {static_cast<const char *>(nullptr), "", "///"}) {
        EXPECT_EQ(vnb_vpath(empty, out, 0), -9);
        EXPECT_STREQ(vnb_error(), "the name needs 1 bytes");
        EXPECT_EQ(vnb_vpath(empty, out, 1), 0);
        EXPECT_STREQ(out, "");
    }

    // The longest canonical path fits the URL-path size, and needs all of it.
    std::string longest = components(4, 254) + "/abcd";
    ASSERT_EQ(longest.size(), 1024u);
    char url_path[kUrlPathSize];
    EXPECT_EQ(vnb_vpath(longest.c_str(), url_path, 1025), 0);
    EXPECT_EQ(std::string(url_path), longest);
    EXPECT_EQ(vnb_vpath(longest.c_str(), url_path, 1024), -9);
    EXPECT_STREQ(vnb_error(), "the name needs 1025 bytes");
}

TEST(PatCheck, Table)
{
    const struct {
        const char *what;
        std::string pattern;
        int32_t result;
        const char *error;
    } cases[] = {
        {"wildcards", "*.mkv", 0, nullptr},
        {"question marks and spaces", "a?c .x*", 0, nullptr},
        {"UTF-8", "\xC3\xA9*", 0, nullptr},
        {"empty", "", 0, nullptr},
        {"512 bytes", std::string(512, 'p'), 0, nullptr},
        {"513 bytes", std::string(513, 'p'), -6, "pattern longer than 512 bytes"},
        {"513 slashes", std::string(513, '/'), -6, "pattern longer than 512 bytes"},
        {"slash", "dir/*.mkv", -6, "the pattern is a leaf name only"},
        {"backslash", "dir\\*.mkv", -6, "the pattern is a leaf name only"},
        {"control byte before a slash", "a\tb/c", -6, "control byte in the pattern"},
        {"slash before a control byte", "a/b\tc", -6, "the pattern is a leaf name only"},
        {"DEL", "a\x7F", -6, "control byte in the pattern"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        vnb_set_error("untouched");
        EXPECT_EQ(vnb_pat_check(c.pattern.c_str()), c.result);
        EXPECT_STREQ(vnb_error(), c.error ? c.error : "untouched");
    }
    EXPECT_EQ(vnb_pat_check(nullptr), -6);
    EXPECT_STREQ(vnb_error(), "NULL pattern");
}

}  // namespace
