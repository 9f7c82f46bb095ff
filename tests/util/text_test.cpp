#include "util/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes le_units(std::initializer_list<uint16_t> units)
{
    Bytes out;
    for (uint16_t u : units) {
        out.push_back(static_cast<uint8_t>(u & 0xFF));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}

std::string buffer_text(const ByteBuffer &b)
{
    return b.len ? std::string(reinterpret_cast<const char *>(b.data), b.len) : std::string();
}

// Reference UTF-8 encoder for the round-trip test (shortest forms only).
std::string utf8_of(uint32_t cp)
{
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

TEST(Fnv1a64, AddsNoOffsetBasisOfItsOwn)
{
    const uint64_t basis = 0xcbf29ce484222325ULL;
    EXPECT_EQ(vnb_fnv1a64("", 0, basis), basis);
    EXPECT_EQ(vnb_fnv1a64("a", 1, basis), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(vnb_fnv1a64("foobar", 6, basis), 0x85944171f73967e8ULL);
    EXPECT_EQ(vnb_fnv1a64("a", 1, 0), 0x61ULL * 0x100000001b3ULL);
    // Hashing in two pieces chains through the start value.
    EXPECT_EQ(vnb_fnv1a64("bar", 3, vnb_fnv1a64("foo", 3, basis)), 0x85944171f73967e8ULL);
}

struct Utf16Case {
    const char *what;
    Bytes in;
    int32_t cap;
    int32_t result;
    const char *utf8;  // expected text when result >= 0
};

TEST(Utf16ToUtf8, Table)
{
    const Utf16Case cases[] = {
        {"empty input", {}, 1, 0, ""},
        {"empty input, no room for the NUL", {}, 0, -1, nullptr},
        {"ascii", le_units({'a', 'b'}), 3, 2, "ab"},
        {"ascii, one short for the NUL", le_units({'a', 'b'}), 2, -1, nullptr},
        {"two-byte form exactly fitting", le_units({0x00E9}), 3, 2, "\xC3\xA9"},
        {"two-byte form, no room for the NUL", le_units({0x00E9}), 2, -1, nullptr},
        {"two-byte form, no room for the character", le_units({0x00E9}), 1, -1, nullptr},
        {"last one-byte value", le_units({0x7F}), 2, 1, "\x7F"},
        {"first two-byte value", le_units({0x80}), 3, 2, "\xC2\x80"},
        {"last two-byte value", le_units({0x7FF}), 3, 2, "\xDF\xBF"},
        {"first three-byte value", le_units({0x800}), 4, 3, "\xE0\xA0\x80"},
        {"last BMP value", le_units({0xFFFF}), 4, 3, "\xEF\xBF\xBF"},
        {"surrogate pair", le_units({0xD83D, 0xDE00}), 5, 4, "\xF0\x9F\x98\x80"},
        {"surrogate pair, one short", le_units({0xD83D, 0xDE00}), 4, -1, nullptr},
        {"lowest pair", le_units({0xD800, 0xDC00}), 5, 4, "\xF0\x90\x80\x80"},
        {"highest pair", le_units({0xDBFF, 0xDFFF}), 5, 4, "\xF4\x8F\xBF\xBF"},
        {"high surrogate at the end", le_units({'a', 0xD800}), 10, -1, nullptr},
        {"high surrogate then a letter", le_units({0xD800, 'a'}), 10, -1, nullptr},
        {"two high surrogates", le_units({0xD800, 0xDBFF}), 10, -1, nullptr},
        {"lone low surrogate", le_units({0xDC00, 'a'}), 10, -1, nullptr},
        {"zero unit first", le_units({0, 'a'}), 10, -1, nullptr},
        {"zero unit last", le_units({'a', 0}), 10, -1, nullptr},
        {"odd length", Bytes{'a', 0, 'b'}, 10, -1, nullptr},
        {"negative capacity", le_units({'a'}), -5, -1, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        char out[16];
        std::memset(out, 'X', sizeof out);
        int32_t r = vnb_utf16_to_utf8(c.in.data(), c.in.size(), out, c.cap);
        EXPECT_EQ(r, c.result);
        if (c.result >= 0) {
            EXPECT_STREQ(out, c.utf8);
        }
    }
}

TEST(Utf16ToUtf8, NeverWritesPastTheCapacity)
{
    Bytes in = le_units({'a', 'b', 'c', 0x00E9});
    char out[8];
    std::memset(out, 'X', sizeof out);
    EXPECT_EQ(vnb_utf16_to_utf8(in.data(), in.size(), out, 4), -1);
    EXPECT_EQ(std::string(out, 3), "abc");
    EXPECT_EQ(out[3], 'X');  // the two-byte character did not fit and was not started
    EXPECT_EQ(vnb_utf16_to_utf8(in.data(), in.size(), out, 5), -1);
    EXPECT_EQ(std::string(out, 5), "abc\xC3\xA9");  // all characters but no NUL
    EXPECT_EQ(out[5], 'X');
}

struct Utf8Case {
    const char *what;
    const char *in;
    int32_t cap;
    int result;
    Bytes out;  // expected bytes when result is 0
};

TEST(Utf8ToUtf16le, Table)
{
    const Utf8Case cases[] = {
        {"empty text", "", 0, 0, {}},
        {"one letter exactly fitting, no NUL written", "A", 2, 0, {'A', 0}},
        {"one letter, one byte short", "A", 1, -1, {}},
        {"two-byte form", "\xC3\xA9", 2, 0, {0xE9, 0x00}},
        {"three-byte form", "\xE2\x82\xAC", 2, 0, {0xAC, 0x20}},
        {"four-byte form becomes a pair", "\xF0\x9F\x98\x80", 4, 0, {0x3D, 0xD8, 0x00, 0xDE}},
        {"pair one short", "\xF0\x9F\x98\x80", 3, -1, {}},
        {"overlong NUL gives a zero unit", "\xC0\x80", 2, 0, {0x00, 0x00}},
        {"overlong slash", "\xE0\x80\xAF", 2, 0, {0x2F, 0x00}},
        {"overlong four-byte form of a BMP value", "\xF0\x80\x81\x81", 2, 0, {0x41, 0x00}},
        {"value above 0x10FFFF", "\xF4\x90\x80\x80", 4, 0, {0x00, 0xDC, 0x00, 0xDC}},
        {"largest four-byte value", "\xF7\xBF\xBF\xBF", 4, 0, {0xBF, 0xDF, 0xFF, 0xDF}},
        {"encoded high surrogate", "\xED\xA0\x80", 8, -1, {}},
        {"encoded low surrogate", "\xED\xBF\xBF", 8, -1, {}},
        {"overlong encoded surrogate", "\xF0\x8D\xA0\x80", 8, -1, {}},
        {"last value before the surrogates", "\xED\x9F\xBF", 2, 0, {0xFF, 0xD7}},
        {"continuation byte in lead position", "\x80", 8, -1, {}},
        {"0xF8 in lead position", "\xF8\x88\x80\x80\x80", 8, -1, {}},
        {"0xFF in lead position", "\xFF", 8, -1, {}},
        {"cut short by the end", "a\xE2\x82", 8, -1, {}},
        {"continuation of the wrong form", "\xC3\x41", 8, -1, {}},
        {"continuation 11xxxxxx", "\xE2\xC2\xAC", 8, -1, {}},
        {"mixed text", "a\xC3\xA9\xF0\x9F\x98\x80", 8, 0, {'a', 0, 0xE9, 0, 0x3D, 0xD8, 0x00, 0xDE}},
        {"negative capacity", "a", -1, -1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t out[16];
        std::memset(out, 0xAA, sizeof out);
        int32_t out_len = 12345;
        int r = vnb_utf8_to_utf16le(c.in, out, c.cap, &out_len);
        EXPECT_EQ(r, c.result);
        if (c.result == 0) {
            EXPECT_EQ(Bytes(out, out + out_len), c.out);
            EXPECT_EQ(out[out_len], 0xAA);  // no terminator
        } else {
            EXPECT_EQ(out_len, 12345);  // the out length is untouched on failure
        }
    }
}

TEST(Utf8ToLatin1, Table)
{
    const Utf8Case cases[] = {
        {"empty text", "", 0, 0, {}},
        {"ASCII exactly fitting, no NUL written", "ab", 2, 0, {'a', 'b'}},
        {"one byte short", "ab", 1, -1, {}},
        {"lowest and highest two-byte Latin-1", "\xC2\xA0\xC3\xBF", 2, 0, {0xA0, 0xFF}},
        {"mixed", "Caf\xC3\xA9", 8, 0, {'C', 'a', 'f', 0xE9}},
        {"beyond Latin-1", "\xC4\x80", 8, -1, {}},
        {"three-byte form", "\xE2\x82\xAC", 8, -1, {}},
        {"lead byte cut short by the end", "a\xC3", 8, -1, {}},
        {"continuation of the wrong form", "\xC3\x41", 8, -1, {}},
        {"continuation byte in lead position", "\xA9", 8, -1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t out[16];
        std::memset(out, 0xAA, sizeof out);
        size_t out_len = 12345;
        int r = vnb_utf8_to_latin1(c.in, out, static_cast<size_t>(c.cap), &out_len);
        EXPECT_EQ(r, c.result);
        if (c.result == 0) {
            EXPECT_EQ(Bytes(out, out + out_len), c.out);
            EXPECT_EQ(out[out_len], 0xAA);
        } else {
            EXPECT_EQ(out_len, 12345u);
        }
    }
}

// Every code point outside the surrogate range goes to UTF-16LE and back unchanged.
TEST(Utf16RoundTrip, AllCodePoints)
{
    for (uint32_t cp = 1; cp <= 0x10FFFF; cp++) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        std::string utf8 = utf8_of(cp);
        uint8_t units[4];
        int32_t units_len = 0;
        ASSERT_EQ(vnb_utf8_to_utf16le(utf8.c_str(), units, sizeof units, &units_len), 0) << cp;
        ASSERT_EQ(units_len, cp > 0xFFFF ? 4 : 2) << cp;
        char back[5];
        ASSERT_EQ(vnb_utf16_to_utf8(units, static_cast<size_t>(units_len), back, sizeof back),
                  static_cast<int32_t>(utf8.size()))
            << cp;
        ASSERT_EQ(utf8, back) << cp;
    }
}

struct CaseCmpCase {
    const char *a;
    const char *b;
    size_t max;  // SIZE_MAX: vnb_casecmp
    int32_t result;
};

TEST(CaseCmp, Table)
{
    const CaseCmpCase cases[] = {
        {"", "", SIZE_MAX, 0},
        {"Movies", "mOVIES", SIZE_MAX, 0},
        {"abc", "abd", SIZE_MAX, 'c' - 'd'},
        {"ABD", "abc", SIZE_MAX, 'd' - 'c'},
        {"abc", "ab", SIZE_MAX, 'c'},
        {"ab", "ABC", SIZE_MAX, -'c'},
        {"Z", "[", SIZE_MAX, 'z' - '['},           // folded before comparing
        {"\xC3\xA9", "\xC3\x89", SIZE_MAX, 0x20},  // no folding from 0x80 up
        {"\xFF", "a", SIZE_MAX, 0xFF - 'a'},        // unsigned byte values
        {"abcX", "ABCy", 3, 0},
        {"abcX", "ABCy", 4, 'x' - 'y'},
        {"abc", "xyz", 0, 0},
        {"ab", "AB", 10, 0},
        {"ab", "ABc", 2, 0},
        {"ab", "ABc", 3, -'c'},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b + " max " + std::to_string(c.max));
        if (c.max == SIZE_MAX) {
            EXPECT_EQ(vnb_casecmp(c.a, c.b), c.result);
        }
        EXPECT_EQ(vnb_ncasecmp(c.a, c.b, c.max), c.result);
    }
}

struct GlobCase {
    const char *pattern;
    const char *name;
    int match;
};

TEST(GlobMatch, Table)
{
    const GlobCase cases[] = {
        {"*.MKV", "movie.mkv", 1},
        {"*.mkv", "movie.mkv.part", 0},
        {"a?c", "abc", 1},
        {"a?c", "ac", 0},
        {"a?c", "abbc", 0},
        {"*", "", 1},
        {"*", "anything", 1},
        {"**", "", 1},
        {"", "", 1},
        {"", "a", 0},
        {"a", "", 0},
        {"?", "", 0},
        {"a*", "a", 1},
        {"a*b", "a", 0},
        {"*a", "bbba", 1},
        {"*a", "bbab", 0},
        // back-tracking: the first "ab" is a false start
        {"*ab*cd", "xabyabzcd", 1},
        {"*abc", "ababc", 1},
        {"a*b*c", "aXbYbZc", 1},
        {"a*b*c", "aXbYcZ", 0},
        {"*.*", "noext", 0},
        {"*.*", "a.b.c", 1},
        {"*?", "", 0},
        {"*?", "x", 1},
        {"???", "ab", 0},
        {"[ab]", "a", 0},  // no bracket class
        {"[ab]", "[AB]", 1},
        {"a\\*", "a\\xyz", 1},  // no escape character
        {"\xC3\xA9*", "\xC3\x89t\xC3\xA9", 0},
        {"\xC3\xA9*", "\xC3\xA9t\xC3\xA9", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("pattern '") + c.pattern + "' name '" + c.name + "'");
        EXPECT_EQ(vnb_glob_match(c.pattern, c.name), c.match);
    }
}

struct HexCase {
    const char *what;
    std::string text;
    size_t cap;
    int result;
    Bytes out;
    int counted;  // result of counting only (NULL output): the count, or -1
};

TEST(HexDecode, Table)
{
    const HexCase cases[] = {
        {"empty", "", 0, 0, {}, 0},
        {"two bytes with a space", "0a 1B", 4, 0, {0x0a, 0x1b}, 2},
        {"space inside a byte", "a b", 4, 0, {0xab}, 1},
        {"tab, LF and CR skipped", "\tA\r\nf\t ", 4, 0, {0xaf}, 1},
        {"upper and lower case", "DEADbeef", 4, 0, {0xde, 0xad, 0xbe, 0xef}, 4},
        {"exactly fitting", "0102", 2, 0, {0x01, 0x02}, 2},
        {"one short", "010203", 2, -1, {}, 3},
        {"no capacity", "01", 0, -1, {}, 1},
        {"three digits", "abc", 4, -1, {}, -1},
        {"one digit", "a", 4, -1, {}, -1},
        {"non-hex character", "0g", 4, -1, {}, -1},
        {"vertical tab is no whitespace", "0a\v1b", 4, -1, {}, -1},
        {"form feed is no whitespace", "0a\f1b", 4, -1, {}, -1},
        {"NUL inside the length", std::string("0a\0" "1b", 5), 4, -1, {}, -1},
        {"0x prefix", "0x0a", 4, -1, {}, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t out[8] = {};
        size_t count = 99;
        EXPECT_EQ(vnb_hex_decode(c.text.data(), c.text.size(), out, c.cap, &count), c.result);
        if (c.result == 0) {
            EXPECT_EQ(Bytes(out, out + count), c.out);
        } else {
            EXPECT_EQ(count, 0u);
        }
        // With no output nothing is written and the capacity is ignored.
        size_t counted = 99;
        EXPECT_EQ(vnb_hex_decode(c.text.data(), c.text.size(), nullptr, 0, &counted),
                  c.counted >= 0 ? 0 : -1);
        EXPECT_EQ(counted, c.counted >= 0 ? static_cast<size_t>(c.counted) : 0u);
    }
}

TEST(HexDecode, ReadsOnlyTheGivenLengthAndKeepsPartialOutput)
{
    uint8_t out[4] = {};
    size_t count = 7;
    EXPECT_EQ(vnb_hex_decode("0a1bzz", 4, out, sizeof out, &count), 0);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(vnb_hex_decode("0a1", 3, out, sizeof out, nullptr), -1);
    // A failure leaves the bytes decoded so far.
    uint8_t partial[4] = {};
    EXPECT_EQ(vnb_hex_decode("a1b2zz", 6, partial, sizeof partial, &count), -1);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(partial[0], 0xa1);
    EXPECT_EQ(partial[1], 0xb2);
}

TEST(HexEncode, LowerCaseHighNibbleFirst)
{
    ByteBuffer b{};
    const uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    vnb_hex_encode(bytes, sizeof bytes, &b);
    EXPECT_EQ(buffer_text(b), "000fa5ff");
    vnb_hex_encode(bytes, 0, &b);
    EXPECT_EQ(buffer_text(b), "000fa5ff");
    vnb_buf_free(&b);

    ByteBuffer failed{};
    failed.failed = 1;
    vnb_hex_encode(bytes, sizeof bytes, &failed);
    EXPECT_EQ(failed.len, 0u);
    EXPECT_EQ(failed.failed, 1);
    vnb_buf_free(&failed);
}

TEST(Base64Encode, Table)
{
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"", ""},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {"abcd", "YWJjZA=="},
        {"\xFB\xFF", "+/8="},  // the standard alphabet on output
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        char *text = vnb_b64enc(c.in, std::strlen(c.in));
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.out);
        std::free(text);
    }
}

TEST(Base64, RoundTripOfLengthsZeroToTwenty)
{
    for (size_t len = 0; len <= 20; len++) {
        SCOPED_TRACE(len);
        Bytes in(len);
        for (size_t i = 0; i < len; i++)
            in[i] = static_cast<uint8_t>(i * 37 + 250);
        char *text = vnb_b64enc(in.data(), in.size());
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::strlen(text), (len + 2) / 3 * 4);
        ByteBuffer b{};
        EXPECT_EQ(vnb_b64dec(text, &b), 0);
        EXPECT_EQ(Bytes(b.data, b.data + b.len), in);
        vnb_buf_free(&b);
        std::free(text);
    }
}

struct B64DecCase {
    const char *what;
    const char *in;
    int result;
    std::string out;  // what was appended, also on failure
};

TEST(Base64Decode, Table)
{
    const B64DecCase cases[] = {
        {"empty", "", 0, ""},
        {"padded", "YWI=", 0, "ab"},
        {"space inside", "YW I", 0, "ab"},
        {"no padding", "YQ", 0, "a"},
        {"LF, CR, space and = anywhere", "\r\nY=W J\nj==", 0, "abc"},
        {"padding place not checked", "Y=Q", 0, "a"},
        {"leftover bits dropped", "YWJjZ", 0, "abc"},
        {"standard alphabet", "+/8=", 0, "\xFB\xFF"},
        {"URL-safe alphabet", "-_8", 0, "\xFB\xFF"},
        {"tab fails, earlier bytes stay", "YWJj\tZA", -1, "abc"},
        {"other character fails", "YW*I", -1, "a"},
        {"dot fails", "YWJj.", -1, "abc"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ByteBuffer b{};
        EXPECT_EQ(vnb_b64dec(c.in, &b), c.result);
        EXPECT_EQ(buffer_text(b), c.out);
        vnb_buf_free(&b);
    }
}

TEST(Base64Decode, NullTextAndFailedBuffer)
{
    ByteBuffer b{};
    EXPECT_EQ(vnb_b64dec(nullptr, &b), -1);
    EXPECT_EQ(b.len, 0u);

    // Appending keeps what was there before.
    vnb_buf_str(&b, "x");
    EXPECT_EQ(vnb_b64dec("YQ==", &b), 0);
    EXPECT_EQ(buffer_text(b), "xa");
    vnb_buf_free(&b);

    ByteBuffer failed{};
    failed.failed = 1;
    EXPECT_EQ(vnb_b64dec("YWJj", &failed), -1);
    // A text too short to complete a byte appends nothing and so cannot fail.
    EXPECT_EQ(vnb_b64dec("Y", &failed), 0);
    vnb_buf_free(&failed);
}

}  // namespace
