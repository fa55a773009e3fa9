#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "filter/filter_data.h"
#include "ui/mask_text.h"
#include "ui/text_scan.h"

namespace {

constexpr std::int32_t kKept = 777;  // the value a field holds before the read

struct NumberCase {
    const char* text;
    std::int32_t expected;
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ReadNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ReadNumberTest, ReadsLikePercentDWithoutOverflow) {
    std::int32_t field = kKept;
    ReadNumber(GetParam().text, field);
    EXPECT_EQ(field, GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadNumberTest,
    ::testing::Values(NumberCase{"12abc", 12}, NumberCase{"abc", kKept}, NumberCase{"", kKept},
                      NumberCase{"-3", -3}, NumberCase{"  \t+7", 7}, NumberCase{"-", kKept},
                      NumberCase{"- 5", kKept}, NumberCase{"0", 0},
                      NumberCase{"2147483647", 2147483647},
                      NumberCase{"-2147483648", std::numeric_limits<std::int32_t>::min()},
                      // Beyond the int32 range the field keeps its value.
                      NumberCase{"99999999999", kKept}, NumberCase{"2147483648", kKept},
                      NumberCase{"-2147483649", kKept},
                      NumberCase{"99999999999999999999999999999999", kKept},
                      // Leading zeros do not count towards the range.
                      NumberCase{"000000000000000000000042", 42}));

struct PairCase {
    const char* text;
    std::int32_t first;
    std::int32_t second;
};

void PrintTo(const PairCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ReadNumberPairTest : public ::testing::TestWithParam<PairCase> {};

TEST_P(ReadNumberPairTest, StopsAtTheFirstUnreadableItem) {
    std::int32_t first = kKept;
    std::int32_t second = kKept;
    ReadNumberPair(GetParam().text, first, second);
    EXPECT_EQ(first, GetParam().first) << GetParam().text;
    EXPECT_EQ(second, GetParam().second) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, ReadNumberPairTest,
                         ::testing::Values(PairCase{"5 9", 5, 9}, PairCase{"5", 5, kKept},
                                           PairCase{"x 9", kKept, kKept},
                                           PairCase{"5 x", 5, kKept}, PairCase{"3abc 4", 3, kKept},
                                           PairCase{"-1-2", -1, -2},
                                           PairCase{"99999999999 7", kKept, kKept},
                                           PairCase{"7 99999999999", 7, kKept}));

struct MaskCase {
    const char* text;
    std::int32_t left, top, right, bottom;
};

void PrintTo(const MaskCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

constexpr std::int32_t kL = -11, kT = -22, kR = -33, kB = -44;  // the mask before the read

class MaskTextTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskTextTest, AppliesNumbersAndWords) {
    FilterData record{};
    record.maskLeft = kL;
    record.maskTop = kT;
    record.maskRight = kR;
    record.maskBottom = kB;
    ReadMaskText(GetParam().text, record);
    EXPECT_EQ(record.maskLeft, GetParam().left) << GetParam().text;
    EXPECT_EQ(record.maskTop, GetParam().top) << GetParam().text;
    EXPECT_EQ(record.maskRight, GetParam().right) << GetParam().text;
    EXPECT_EQ(record.maskBottom, GetParam().bottom) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MaskTextTest,
    ::testing::Values(
        MaskCase{"10 20 110 220", 10, 20, 110, 220}, MaskCase{"10 20 w100 h50", 10, 20, 109, 69},
        MaskCase{"10 20 h50 w100", 10, 20, 109, 69}, MaskCase{"10 20 h50 300", 10, 20, kR, 300},
        MaskCase{"10 20 30 w5", 10, 20, 14, kB}, MaskCase{"5 5", 5, 5, kR, kB},
        MaskCase{"x 5 6 7", kL, kT, kR, kB},
        // A blank matches no white space too.
        MaskCase{"10 20w100", 10, 20, 109, kB},
        // Only the lower-case letters count; a bare letter changes nothing.
        MaskCase{"10 20 W100 H50", 10, 20, kR, kB}, MaskCase{"10 20 w h", 10, 20, kR, kB},
        MaskCase{"10 20 wx5 7", 10, 20, kR, 7}, MaskCase{"10 20 w-5 h0", 10, 20, 4, 19},
        MaskCase{"10 20 30 40 50", 10, 20, 30, 40}, MaskCase{"10 20abc 30 40", 10, 20, kR, 30},
        MaskCase{"10", 10, kT, kR, kB}, MaskCase{"", kL, kT, kR, kB},
        // Words longer than their 20-character buffers: the rest of the word is
        // passed over, and a number cut by the buffer's end is not used.
        MaskCase{"10 20 123456789012345678901234567890 7", 10, 20, kR, 7},
        MaskCase{"10 20 w0000000000000000000000005 h3", 10, 20, kR, 22},
        MaskCase{"10 20 w5abcdefghijklmnopqrstuvwxyz 7", 10, 20, 14, 7},
        MaskCase{"10 20 30 h000000000000000000000000000000000000000000000000000000000000000009",
                 10, 20, 30, kB},
        // Numbers beyond the int32 range, read or worked out, keep the corner.
        MaskCase{"10 99999999999 30 40", 10, kT, kR, kB},
        MaskCase{"10 20 99999999999 40", 10, 20, kR, 40},
        MaskCase{"2147483647 0 w2 h1", 2147483647, 0, kR, 0},
        MaskCase{"-2147483648 0 w0 5", std::numeric_limits<std::int32_t>::min(), 0, kR, 5}));

TEST(MaskTextTest, FormattedMaskReadsBackUnchanged) {
    FilterData record{};
    record.maskLeft = std::numeric_limits<std::int32_t>::min();
    record.maskTop = -1;
    record.maskRight = std::numeric_limits<std::int32_t>::max();
    record.maskBottom = 239;
    char text[256];
    FormatMaskText(record, text, sizeof text);
    EXPECT_STREQ(text, "-2147483648 -1 2147483647 239");
    FilterData readBack{};
    ReadMaskText(text, readBack);
    EXPECT_EQ(readBack.maskLeft, record.maskLeft);
    EXPECT_EQ(readBack.maskTop, record.maskTop);
    EXPECT_EQ(readBack.maskRight, record.maskRight);
    EXPECT_EQ(readBack.maskBottom, record.maskBottom);
}

}  // namespace
