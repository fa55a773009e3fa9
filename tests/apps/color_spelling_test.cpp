// The spellings the colour options accept. Expected values are written
// here from the CSS colour table and checked against libavutil's own colour
// parser, which knows most of the same names.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "apps/quillmere/cli/css_colors.h"
#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/runner_error.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/parseutils.h>
}

namespace {

struct SpellingCase {
    const char* name;
    const char* text;
    std::uint32_t rgb;  // 0xRRGGBB
};

// A COLORREF holds red in its low byte.
std::uint32_t AsColorref(std::uint32_t rgb) {
    return ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);
}

void PrintTo(const SpellingCase& test, std::ostream* out) { *out << test.name; }

class ColorSpelling : public testing::TestWithParam<SpellingCase> {};

TEST_P(ColorSpelling, GivesThatColour) {
    EXPECT_EQ(ParseColor("--border-color", GetParam().text), AsColorref(GetParam().rgb));
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, ColorSpelling,
    testing::Values(SpellingCase{"Bare", "3366cc", 0x3366CC},
                    SpellingCase{"BareUpperCase", "3366CC", 0x3366CC},
                    SpellingCase{"Hash", "#a0b1c2", 0xA0B1C2},
                    SpellingCase{"ZeroX", "0xffffff", 0xFFFFFF},
                    SpellingCase{"ZeroXUpperCase", "0XFF8000", 0xFF8000},
                    // Six digits after 0x: the 0 is a prefix, not a digit.
                    SpellingCase{"ZeroXBlack", "0x000000", 0x000000},
                    SpellingCase{"NameWhite", "white", 0xFFFFFF},
                    SpellingCase{"NameRed", "red", 0xFF0000},
                    SpellingCase{"NameMixedCase", "LightGoldenRodYellow", 0xFAFAD2},
                    SpellingCase{"NameGreenIsNotLime", "green", 0x008000},
                    SpellingCase{"NameGrey", "grey", 0x808080},
                    SpellingCase{"NameGray", "gray", 0x808080},
                    SpellingCase{"NameNewest", "rebeccapurple", 0x663399},
                    SpellingCase{"NameFirst", "aliceblue", 0xF0F8FF},
                    SpellingCase{"NameLast", "yellowgreen", 0x9ACD32}),
    [](const testing::TestParamInfo<SpellingCase>& info) { return info.param.name; });

class RefusedColor : public testing::TestWithParam<const char*> {};

TEST_P(RefusedColor, IsAUsageErrorNamingTheSpellings) {
    try {
        ParseColor("--shadow-color", GetParam());
        FAIL() << "accepted '" << GetParam() << "'";
    } catch (const UsageError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("for --shadow-color"), std::string::npos) << message;
        EXPECT_NE(message.find("0xRRGGBB"), std::string::npos) << message;
        EXPECT_NE(message.find("CSS colour name"), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Refused, RefusedColor,
                         testing::Values("", "#", "0x", "fff", "#fff", "1234567", "0x12345",
                                         "##123456", "#0x123456", "x123456", "12 456",
                                         "reddish", "red ", "-12345", "+12345", "12345g"));

// Where libavutil keeps the older X11 value, CSS's own.
struct CssValue {
    const char* name;
    std::uint32_t rgb;
};
const CssValue kCssOwnValues[] = {{"mediumpurple", 0x9370DB}, {"palevioletred", 0xDB7093}};

// The whole table against libavutil's parser: for every name both know, the
// same colour (but for the two above); and libavutil knows nearly all of them.
TEST(CssColorTable, AgreesWithLibavutil) {
    av_log_set_level(AV_LOG_QUIET);  // it logs each name it does not know
    std::size_t known = 0;
    for (std::size_t index = 0; index < kCssColorCount; ++index) {
        const NamedColor& color = kCssColors[index];
        std::uint8_t rgba[4] = {};
        if (av_parse_color(rgba, color.name, -1, nullptr) < 0) {
            continue;
        }
        ++known;
        std::uint32_t expected = (rgba[0] << 16) | (rgba[1] << 8) | rgba[2];
        for (const CssValue& own : kCssOwnValues) {
            if (std::string(own.name) == color.name) {
                expected = own.rgb;
            }
        }
        EXPECT_EQ(color.rgb, expected) << color.name;
        EXPECT_EQ(ParseColor("--border-color", color.name), AsColorref(expected)) << color.name;
    }
    EXPECT_GE(known, 140u);
    // CSS names 148 colours (with both spellings of grey).
    EXPECT_EQ(kCssColorCount, 148u);
}

}  // namespace
