#include "hostkit/quoted_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct QuotingCase {
    const char* name;
    std::string value;
    std::string quoted;
};

class QuotedTest : public ::testing::TestWithParam<QuotingCase> {};

TEST_P(QuotedTest, EscapesControlCharactersOnly) {
    EXPECT_EQ(Quoted(GetParam().value), GetParam().quoted);
}

const QuotingCase kCases[] = {
    {"Plain", "clip.mkv", "'clip.mkv'"},
    {"Empty", "", "''"},
    {"LineBreak", "a\nb", "'a\\nb'"},
    {"CarriageReturnAndTab", "\r\t", "'\\r\\t'"},
    {"OtherControls", std::string("\x01\x1b\x7f", 3), "'\\x01\\x1b\\x7f'"},
    {"NulInside", std::string("a\0b", 3), "'a\\x00b'"},
    {"SpacesQuotesBackslashesKept", "a b'c\\d", "'a b'c\\d'"},
    {"Utf8Kept", "caf\xc3\xa9", "'caf\xc3\xa9'"},
};

INSTANTIATE_TEST_SUITE_P(Values, QuotedTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
