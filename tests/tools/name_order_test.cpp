// The order of names in listings: numbers by value, letters without regard
// to case or accents, and a fixed order among names alike in both.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "name_order.h"

namespace {

TEST(NameOrder, PairsInOrder)
{
    struct Case {
        const char *before;
        const char *after;
    } const cases[] = {
        {"Episode 9", "Episode 10"},
        {"Episode 2.mkv", "Episode 10.mkv"},
        {"S01E09", "S01E10"},
        {"S1E10", "S2E1"},
        {"a", "B"},
        {"B", "c"},
        {"abc", "ABD"},
        {"Ébauche", "Eclair"},          // é sorts as e
        {"eclair", "École"},             // É sorts as e
        {"Ecole", "École"},              // the plain letter first, when all else is alike
        {"école", "Zebra"},
        {"Ærø", "Azur"},                 // Æ sorts as "ae"
        {"Straße", "Strasse2"},          // ß sorts as "ss"
        {"e\xCC\x81l\xC3\xA9ve", "elf"},  // a decomposed é (e and a combining accent) sorts as e
        {"file", "file 1"},
        {"file 1", "file1a"},
        {"track 007", "track 8"},
        {"007", "7"},                    // equal numbers: by bytes, so leading zeros first
        {"2001", "10000"},
        {"99999999999999999999", "100000000000000000000"},  // beyond 64 bits
        {"x", "\xD0\x96"},               // letters without a Latin base after ASCII
        {"A", "a"},                      // same letters: upper case first, by bytes
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.before) + " < " + c.after);
        EXPECT_LT(name_order::compare(c.before, c.after), 0);
        EXPECT_GT(name_order::compare(c.after, c.before), 0);
    }
    EXPECT_EQ(name_order::compare("same", "same"), 0);
    EXPECT_EQ(name_order::compare("", ""), 0);
    EXPECT_LT(name_order::compare("", "a"), 0);
}

TEST(NameOrder, SortingAFolder)
{
    std::vector<std::string> names = {"Episode 10.mkv", "episode 2.mkv", "Zebra.txt", "Episode 9.mkv",
                                      "Ébauche.txt",    "ecole.txt",     "Eclair.txt", "Episode 1.mkv"};
    std::sort(names.begin(), names.end(),
              [](const std::string &a, const std::string &b) { return name_order::compare(a, b) < 0; });
    EXPECT_EQ(names, (std::vector<std::string>{"Ébauche.txt", "Eclair.txt", "ecole.txt", "Episode 1.mkv",
                                               "episode 2.mkv", "Episode 9.mkv", "Episode 10.mkv", "Zebra.txt"}));
}

TEST(NameOrder, BrokenUtf8StaysOrderedAndWhole)
{
    // Bytes that are no UTF-8 are kept as they are: the order stays total.
    const std::vector<std::string> names = {"\xFF", "a\xC3", "a\xC3(", "\xE2\x82", "b"};
    for (const std::string &a : names)
        for (const std::string &b : names) {
            int ab = name_order::compare(a, b);
            int ba = name_order::compare(b, a);
            EXPECT_EQ(ab, -ba);
            EXPECT_EQ(ab == 0, a == b);
        }
}

}  // namespace
