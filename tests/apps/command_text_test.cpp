#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "apps/quillmere/cli/command_line.h"
#include "apps/quillmere/cli/command_text.h"
#include "apps/quillmere/plan/planning.h"
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
    void (*edit)(CommandLine&);
};

class RenderCommandTest : public ::testing::TestWithParam<RoundTripCase> {};

// What the runner's own parser makes of the words is what the page holds,
// in every field that changes the picture.
TEST_P(RenderCommandTest, ParsesBackToTheSettings) {
    CommandLine settings;
    settings.command = Command::Render;
    settings.input = "-main.mp4";
    settings.output = "out put.mkv";
    settings.maskGiven = true;
    settings.settings.maskLeft = 10;
    settings.settings.maskTop = 20;
    settings.settings.maskRight = 330;
    settings.settings.maskBottom = 260;
    GetParam().edit(settings);
    const CommandLine line = Parsed(RenderCommandWords(settings));
    const FilterData& filter = settings.settings;
    const FilterData& parsed = line.settings;

    EXPECT_EQ(line.command, Command::Render);
    EXPECT_EQ(line.input, "./-main.mp4");
    EXPECT_EQ(line.output, "out put.mkv");
    EXPECT_EQ(line.overlayPath, settings.overlayPath);
    EXPECT_EQ(PlacesOverlay(line), PlacesOverlay(settings));
    if (PlacesOverlay(settings)) {
        EXPECT_EQ(line.placement.anchor, settings.placement.anchor);
        EXPECT_EQ(line.placement.margin.has_value(), settings.placement.margin.has_value());
        if (line.placement.margin && settings.placement.margin) {
            EXPECT_EQ(line.placement.margin->value, settings.placement.margin->value);
            EXPECT_EQ(line.placement.margin->percent, settings.placement.margin->percent);
        }
        EXPECT_EQ(line.placement.width.has_value(), settings.placement.width.has_value());
        EXPECT_EQ(line.placement.height.has_value(), settings.placement.height.has_value());
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
    // Only the random styles (1 and 3) draw from the seed; for any other
    // look the line leaves it out.
    const bool random = filter.shadowOn != 0 && (filter.shadowType == 1 || filter.shadowType == 3);
    EXPECT_EQ(line.seed, random ? settings.seed : std::nullopt);
    // The render options that are not settings.
    EXPECT_EQ(line.videoStream, settings.videoStream);
    EXPECT_EQ(line.overlayStream, settings.overlayStream);
    EXPECT_EQ(line.pictureLimit.maxPixels, settings.pictureLimit.maxPixels);
    EXPECT_EQ(line.strict, settings.strict);
    EXPECT_EQ(line.filterPixels, settings.filterPixels);
    EXPECT_EQ(line.format, settings.format);
    EXPECT_EQ(line.noAudio, settings.noAudio);
    EXPECT_EQ(line.noSubtitles, settings.noSubtitles);
    EXPECT_EQ(line.encoding.codec, settings.encoding.codec);
    EXPECT_EQ(line.encoding.crf, settings.encoding.crf);
    EXPECT_EQ(line.encoding.preset, settings.encoding.preset);
    EXPECT_EQ(line.encoding.threads, settings.encoding.threads);
    EXPECT_EQ(line.encoding.options, settings.encoding.options);
    EXPECT_EQ(line.muxing.options, settings.muxing.options);
    EXPECT_EQ(line.muxing.videoTag, settings.muxing.videoTag);
    EXPECT_EQ(line.audioCodec, settings.audioCodec);
    EXPECT_EQ(line.audioBitRate, settings.audioBitRate);
    EXPECT_EQ(line.keepRotation, settings.keepRotation);
    EXPECT_EQ(line.times.fadeIn, settings.times.fadeIn);
    EXPECT_EQ(line.times.fadeOut, settings.times.fadeOut);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RenderCommandTest,
    ::testing::Values(
        RoundTripCase{"Defaults", [](CommandLine&) {}},
        RoundTripCase{"DefaultPlacement", [](CommandLine& s) { s.maskGiven = false; }},
        RoundTripCase{"Placement",
                      [](CommandLine& s) {
                          s.maskGiven = false;
                          s.placement.anchor = Anchor::Left;
                          s.placement.margin = PlacementLength{100.0 / 3.0, true};
                          s.placement.height = PlacementLength{25, true};
                      }},
        RoundTripCase{"FitBilinearWithOverlay",
                      [](CommandLine& s) {
                          s.settings.fitToFrame = 1;
                          s.settings.bilinear = 1;
                          s.overlayPath = "clips/it's here.mov";
                      }},
        RoundTripCase{"FilteredScaler",
                      [](CommandLine& s) {
                          s.settings.fitToFrame = 1;
                          s.scaler = OverlayScaler::Bicubic;
                      }},
        RoundTripCase{"BorderAndColour",
                      [](CommandLine& s) {
                          s.settings.borderOn = 1;
                          s.settings.borderSize = 6;
                          s.settings.borderColor = 0x00A5FF;  // orange, red in the low byte
                      }},
        RoundTripCase{"BorderOnButNoWidth",
                      [](CommandLine& s) {
                          s.settings.borderOn = 1;
                          s.settings.borderSize = 0;
                      }},
        RoundTripCase{"ShadowEveryField",
                      [](CommandLine& s) {
                          s.settings.shadowOn = 1;
                          s.settings.shadowType = 4;
                          s.settings.shadowSize = 12;
                          s.settings.shadowPercent = 70;
                          s.settings.shadowShift = -3;
                          s.settings.shadowColor = 0x202020;
                      }},
        RoundTripCase{"RandomShadowSeeded",
                      [](CommandLine& s) {
                          s.settings.shadowOn = 1;
                          s.settings.shadowType = 3;
                          s.seed = 4000000000u;
                      }},
        RoundTripCase{"ShadowDefaults",
                      [](CommandLine& s) { s.settings.shadowOn = 1; }},
        RoundTripCase{"RangeToTheEnd",
                      [](CommandLine& s) {
                          s.settings.useFrameRange = 1;
                          s.settings.rangeStart = 30;
                          s.settings.rangeEnd = 0;
                      }},
        RoundTripCase{"RangeOffsetFlags",
                      [](CommandLine& s) {
                          s.settings.useFrameRange = 1;
                          s.settings.rangeStart = 5;
                          s.settings.rangeEnd = 50;
                          s.settings.frameOffset = -9;
                          s.settings.repeatVideo = 1;
                          s.settings.reverse = 1;
                          s.settings.maintainBlack = 1;
                      }},
        RoundTripCase{"Blending",
                      [](CommandLine& s) {
                          s.alpha = AlphaMode::Ignore;
                          s.opacityPercent = 40;
                          s.timing = OverlayTiming::Frames;
                          s.seed = 77;
                      }},
        RoundTripCase{"EncodingStreamsAndLimits",
                      [](CommandLine& s) {
                          s.videoStream = 1;
                          s.overlayStream = 2;
                          s.pictureLimit.maxPixels = s.pictureLimit.maxSide = 4096;
                          s.strict = true;
                          s.filterPixels = true;
                          s.format = "matroska";
                          s.noAudio = true;
                          s.noSubtitles = true;
                          s.encoding.codec = "libx264";
                          s.encoding.crf = "20";
                          s.encoding.preset = "fast";
                          s.encoding.threads = 3;
                          s.encoding.options = {{"g", "50"}, {"x264-params", "ref=2:bframes=1"}};
                          s.muxing.options = {{"movflags", "+faststart"}};
                          s.muxing.videoTag = "hvc1";
                          s.audioCodec = "aac";
                          s.audioBitRate = 128000;
                          s.keepRotation = true;
                      }},
        RoundTripCase{"Fades",
                      [](CommandLine& s) {
                          s.times.fadeIn = FrameOrTime::Microseconds(1500000);
                          s.times.fadeOut = FrameOrTime::Frames(12);
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
