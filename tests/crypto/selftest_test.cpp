#include "crypto/crypto.h"

#include <gtest/gtest.h>

#include <cctype>
#include <deque>
#include <string>
#include <vector>

namespace {

// A copy of the built-in table that can be altered; the altered expected
// texts are kept alive by the fixture.
class SelftestTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto builtin = vnb_selftest_vectors();
        table.assign(builtin.begin(), builtin.end());
    }

    // Changes the last hex digit of vector `position` (1-based).
    void alter(size_t position)
    {
        std::string text(table[position - 1].expect);
        text.back() = text.back() == '0' ? '1' : '0';
        texts.push_back(text);
        table[position - 1].expect = texts.back();
    }

    std::vector<SelftestVector> table;
    std::deque<std::string> texts; // push_back keeps earlier elements in place
};

} // namespace

TEST(Selftest, AllVectorsPass)
{
    EXPECT_EQ(vnb_selftest_run(), 0);
    EXPECT_EQ(vnb_selftest_run_table(vnb_selftest_vectors()), 0);
}

TEST(Selftest, TableOrder)
{
    using K = SelftestKind;
    const K order[] = {K::sha256,  K::sha256, K::md5,         K::md4,         K::md4,
                       K::hmac_sha256, K::hmac_md5, K::rc4_inline, K::md4, K::md4,
                       K::kdf,     K::hmac_sha256, K::hmac_md5};
    auto table = vnb_selftest_vectors();
    ASSERT_EQ(table.size(), std::size(order));
    for (size_t k = 0; k < table.size(); k++)
        EXPECT_EQ(table[k].kind, order[k]) << "vector " << k + 1;
}

TEST_F(SelftestTable, ReportsThePositionOfTheAlteredVector)
{
    for (size_t position = 1; position <= table.size(); position++) {
        SetUp();
        alter(position);
        EXPECT_EQ(vnb_selftest_run_table(table), -static_cast<int>(position));
    }
}

TEST_F(SelftestTable, FirstFailureWinsOverLaterOnes)
{
    alter(11);
    alter(4);
    alter(13);
    EXPECT_EQ(vnb_selftest_run_table(table), -4);
}

TEST_F(SelftestTable, ComparesAsLowerCaseText)
{
    std::string upper(table[0].expect);
    for (char &ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    texts.push_back(upper);
    table[0].expect = texts.back();
    EXPECT_EQ(vnb_selftest_run_table(table), -1);
}

TEST_F(SelftestTable, ShortOrLongExpectedTextFails)
{
    table[2].expect = table[2].expect.substr(0, 30);
    EXPECT_EQ(vnb_selftest_run_table(table), -3);

    SetUp();
    texts.push_back(std::string(table[5].expect) + "00");
    table[5].expect = texts.back();
    EXPECT_EQ(vnb_selftest_run_table(table), -6);
}

TEST_F(SelftestTable, OutputLongerThanTheRunnerHoldsFails)
{
    table[10].out_len = 65; // the key derivation
    table[7].out_len = 1000; // the inline RC4
    EXPECT_EQ(vnb_selftest_run_table(table), -8);
}

TEST_F(SelftestTable, AlteredInputsAreCaught)
{
    table[9].data = table[9].data.substr(0, 14); // password shortened by one character
    EXPECT_EQ(vnb_selftest_run_table(table), -10);

    SetUp();
    table[7].key = table[7].key.substr(0, 4); // 32-bit RC4 key
    EXPECT_EQ(vnb_selftest_run_table(table), -8);

    SetUp();
    table[10].label = nullptr; // no label, no separator
    EXPECT_EQ(vnb_selftest_run_table(table), -11);
}

TEST(Selftest, EmptyTablePasses)
{
    EXPECT_EQ(vnb_selftest_run_table({}), 0);
}
