#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "apps/quillmere/command_line.h"
#include "apps/quillmere/edit/command_text.h"
#include "hostkit/script_line.h"

namespace {

CommandLine Parsed(const std::vector<std::string>& words) {
    std::vector<const char*> argv;
    for (const std::string& word : words) {
        argv.push_back(word.c_str());
    }
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

struct RoundTripCase {
    const char* name;
    void (*edit)(EditSettings&);
};

class RenderCommandTest : public ::testing::TestWithParam<RoundTripCase> {};

// What the runner's own parser makes of the words is what the page holds,
// in every field that changes the picture.
TEST_P(RenderCommandTest, ParsesBackToTheSettings) {
    EditSettings settings;
    settings.placement.reset();
    settings.filter.maskLeft = 10;
    settings.filter.maskTop = 20;
    settings.filter.maskRight = 330;
    settings.filter.maskBottom = 260;
    GetParam().edit(settings);
    const std::vector<std::string> words =
        RenderCommandWords(settings, "-main.mp4", "out put.mkv", {"--crf", "18"});
    const CommandLine line = Parsed(words);
    const FilterData& filter = settings.filter;
    const FilterData& parsed = line.settings;

    EXPECT_EQ(line.command, Command::Render);
    EXPECT_EQ(line.input, "./-main.mp4");
    EXPECT_EQ(line.output, "out put.mkv");
    EXPECT_EQ(line.encoding.crf, "18");
    EXPECT_EQ(line.overlayPath, settings.overlayPath);
    EXPECT_EQ(line.maskGiven, !settings.placement.has_value());
    if (settings.placement) {
        EXPECT_EQ(line.placement.anchor, settings.placement->anchor);
        EXPECT_EQ(line.placement.margin.has_value(), settings.placement->margin.has_value());
        if (line.placement.margin && settings.placement->margin) {
            EXPECT_EQ(line.placement.margin->value, settings.placement->margin->value);
            EXPECT_EQ(line.placement.margin->percent, settings.placement->margin->percent);
        }
        EXPECT_EQ(line.placement.width.has_value(), settings.placement->width.has_value());
        EXPECT_EQ(line.placement.height.has_value(), settings.placement->height.has_value());
    } else {
        EXPECT_EQ(parsed.maskLeft, filter.maskLeft);
        EXPECT_EQ(parsed.maskTop, filter.maskTop);
        EXPECT_EQ(parsed.maskRight, filter.maskRight);
        EXPECT_EQ(parsed.maskBottom, filter.maskBottom);
        EXPECT_EQ(parsed.fitToFrame, filter.fitToFrame);
    }
    if (settings.scaler == OverlayScaler::Filter) {
        EXPECT_EQ(parsed.bilinear, filter.bilinear);
    }
    EXPECT_EQ(line.scaler, settings.scaler);
    EXPECT_EQ(line.alpha, settings.alpha);
    EXPECT_EQ(line.opacityPercent, settings.opacityPercent);
    EXPECT_EQ(line.timing, settings.timing);
    const bool border = filter.borderOn != 0 && filter.borderSize > 0;
    EXPECT_EQ(parsed.borderOn != 0, border);
    if (border) {
        EXPECT_EQ(parsed.borderSize, filter.borderSize);
        EXPECT_EQ(parsed.borderColor, filter.borderColor);
    }
    EXPECT_EQ(parsed.shadowOn, filter.shadowOn);
    if (filter.shadowOn != 0) {
        EXPECT_EQ(parsed.shadowType, filter.shadowType);
        EXPECT_EQ(parsed.shadowSize, filter.shadowSize);
        EXPECT_EQ(parsed.shadowPercent, filter.shadowPercent);
        EXPECT_EQ(parsed.shadowShift, filter.shadowShift);
        EXPECT_EQ(parsed.shadowColor, filter.shadowColor);
    }
    EXPECT_EQ(parsed.useFrameRange, filter.useFrameRange);
    if (filter.useFrameRange != 0) {
        EXPECT_EQ(parsed.rangeStart, filter.rangeStart);
        EXPECT_EQ(parsed.rangeEnd, filter.rangeEnd);
    }
    EXPECT_EQ(parsed.frameOffset, filter.frameOffset);
    EXPECT_EQ(parsed.repeatVideo, filter.repeatVideo);
    EXPECT_EQ(parsed.reverse, filter.reverse);
    EXPECT_EQ(parsed.maintainBlack, filter.maintainBlack);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RenderCommandTest,
    ::testing::Values(
        RoundTripCase{"Defaults", [](EditSettings&) {}},
        RoundTripCase{"DefaultPlacement", [](EditSettings& s) { s.placement.emplace(); }},
        RoundTripCase{"Placement",
                      [](EditSettings& s) {
                          s.placement.emplace();
                          s.placement->anchor = Anchor::Left;
                          s.placement->margin = PlacementLength{100.0 / 3.0, true};
                          s.placement->height = PlacementLength{25, true};
                      }},
        RoundTripCase{"FitBilinearWithOverlay",
                      [](EditSettings& s) {
                          s.filter.fitToFrame = 1;
                          s.filter.bilinear = 1;
                          s.overlayPath = "clips/it's here.mov";
                      }},
        RoundTripCase{"FilteredScaler",
                      [](EditSettings& s) {
                          s.filter.fitToFrame = 1;
                          s.scaler = OverlayScaler::Bicubic;
                      }},
        RoundTripCase{"BorderAndColour",
                      [](EditSettings& s) {
                          s.filter.borderOn = 1;
                          s.filter.borderSize = 6;
                          s.filter.borderColor = 0x00A5FF;  // orange, red in the low byte
                      }},
        RoundTripCase{"BorderOnButNoWidth",
                      [](EditSettings& s) {
                          s.filter.borderOn = 1;
                          s.filter.borderSize = 0;
                      }},
        RoundTripCase{"ShadowEveryField",
                      [](EditSettings& s) {
                          s.filter.shadowOn = 1;
                          s.filter.shadowType = 4;
                          s.filter.shadowSize = 12;
                          s.filter.shadowPercent = 70;
                          s.filter.shadowShift = -3;
                          s.filter.shadowColor = 0x202020;
                      }},
        RoundTripCase{"ShadowDefaults",
                      [](EditSettings& s) { s.filter.shadowOn = 1; }},
        RoundTripCase{"RangeToTheEnd",
                      [](EditSettings& s) {
                          s.filter.useFrameRange = 1;
                          s.filter.rangeStart = 30;
                          s.filter.rangeEnd = 0;
                      }},
        RoundTripCase{"RangeOffsetFlags",
                      [](EditSettings& s) {
                          s.filter.useFrameRange = 1;
                          s.filter.rangeStart = 5;
                          s.filter.rangeEnd = 50;
                          s.filter.frameOffset = -9;
                          s.filter.repeatVideo = 1;
                          s.filter.reverse = 1;
                          s.filter.maintainBlack = 1;
                      }},
        RoundTripCase{"Blending",
                      [](EditSettings& s) {
                          s.alpha = AlphaMode::Ignore;
                          s.opacityPercent = 40;
                          s.timing = OverlayTiming::Frames;
                      }}),
    [](const ::testing::TestParamInfo<RoundTripCase>& info) {
        return std::string(info.param.name);
    });

// The shell, not our own reading, splits the line back into the words.
TEST(ShellCommandLine, TheShellSplitsItIntoTheWords) {
    const std::vector<std::string> words = {"quillmere", "a b", "it's", "$HOME", "`x`",
                                            "tab\there", "plain-word_1.mp4", "", "*"};
    const std::string command =
        "for word in " + ShellCommandLine(words) + "; do printf '[%s]' \"$word\"; done";
    std::string script = "/bin/sh -c " + ShellCommandLine({command});
    std::FILE* shell = popen(script.c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, shell) != nullptr) {
        output += buffer;
    }
    pclose(shell);
    std::string expected;
    for (const std::string& word : words) {
        expected += "[" + word + "]";
    }
    EXPECT_EQ(output, expected);
}

// The host reads the line back into the same four corners.
TEST(ConfigLine, TheHostsScriptReaderReadsBackTheMask) {
    FilterData mask{};
    mask.maskLeft = -5;
    mask.maskTop = 0;
    mask.maskRight = 1919;
    mask.maskBottom = 1079;
    ScriptCall call;
    std::string error;
    ASSERT_TRUE(ParseScriptLine(ConfigLine(mask), call, error)) << error;
    EXPECT_EQ(call.function, "Config");
    EXPECT_EQ(call.arguments, (std::vector<int>{-5, 0, 1919, 1079}));
}

}  // namespace
