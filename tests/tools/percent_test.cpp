// The tool's one decoder of %XX escapes.
#include <gtest/gtest.h>

#include <string>

#include "percent.h"

namespace {

TEST(Percent, HexDigits)
{
    const std::string digits = "0123456789abcdefABCDEF";
    for (char c : digits) {
        int v = hex_digit(c);
        EXPECT_GE(v, 0) << c;
        EXPECT_LT(v, 16) << c;
    }
    EXPECT_EQ(hex_digit('a'), 10);
    EXPECT_EQ(hex_digit('F'), 15);
    for (char c : std::string("gG/:@`% \x80"))
        EXPECT_EQ(hex_digit(c), -1) << static_cast<int>(c);
}

TEST(Percent, DecodesAndKeepsWhatIsNoEscape)
{
    struct Case {
        std::string in;
        std::string lenient;  // percent_decode
        bool strict_ok;       // percent_decode_strict
    } cases[] = {
        {"", "", true},
        {"plain", "plain", true},
        {"a%20b", "a b", true},
        {"%41%42%43", "ABC", true},
        {"p%40ss%3Aw%2fd", "p@ss:w/d", true},
        {"%e2%82%ac", "\xe2\x82\xac", true},
        {"%00x", std::string("\0x", 2), true},
        {"%2541", "%41", true},  // decoded once, never twice
        {"100%", "100%", false},
        {"100%4", "100%4", false},
        {"%zz", "%zz", false},
        {"%4g", "%4g", false},
        {"%%41", "%A", false},
        {"a%2", "a%2", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(percent_decode(c.in), c.lenient) << c.in;
        std::string out = "left over";
        EXPECT_EQ(percent_decode_strict(c.in, out), c.strict_ok) << c.in;
        if (c.strict_ok) {
            EXPECT_EQ(out, c.lenient) << c.in;
        }
    }
    std::string out;
    EXPECT_FALSE(percent_decode_strict("ab%zzcd", out));
    EXPECT_EQ(out, "ab") << "what came before the broken escape";
}

}  // namespace
