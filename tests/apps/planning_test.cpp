// The planner's cross-option rules, with the facts of the inputs made up:
// no media file is opened.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "apps/quillmere/cli/command_line.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/runner_error.h"

namespace {

CommandLine Parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "quillmere");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

std::vector<std::string> Render(std::vector<std::string> options) {
    std::vector<std::string> arguments = {"render", "main.mkv", "-o", "out.mkv"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return arguments;
}

// A 1920x1080 main at 25 frames a second, square pixels, no overlay.
InputFacts FullHd() {
    InputFacts facts;
    facts.main.width = 1920;
    facts.main.height = 1080;
    facts.mainRate = AVRational{25, 1};
    return facts;
}

InputFacts WithOverlay(int width, int height, bool alpha = false) {
    InputFacts facts = FullHd();
    PictureShape overlay;
    overlay.width = width;
    overlay.height = height;
    overlay.hasAlpha = alpha;
    facts.overlay = overlay;
    return facts;
}

InputFacts WithStreams(std::vector<CarriableStream> streams) {
    InputFacts facts = FullHd();
    facts.mainStreams = std::move(streams);
    return facts;
}

// A phone's 1920x1080 picture whose display matrix turns it a quarter
// clockwise, shown 1080x1920, with a 640x360 overlay.
InputFacts PhoneWithOverlay() {
    InputFacts facts = WithOverlay(640, 360);
    facts.main.display.present = true;
    facts.main.display.orientation = Orientation{true, true, false};
    facts.main.display.clockwiseDegrees = 90;
    return facts;
}

struct PlanCase {
    const char* name;
    std::vector<std::string> arguments;
    InputFacts facts;
    // Either a part of the usage error's text, or a check of the job.
    const char* error;
    std::function<void(const RenderJob&)> check;
};

void PrintTo(const PlanCase& test, std::ostream* out) { *out << test.name; }

void ExpectMask(const RenderJob& job, int left, int top, int right, int bottom) {
    EXPECT_EQ(job.settings.maskLeft, left);
    EXPECT_EQ(job.settings.maskTop, top);
    EXPECT_EQ(job.settings.maskRight, right);
    EXPECT_EQ(job.settings.maskBottom, bottom);
}

// The default placement: a third of 1920 wide (640), a margin of 2% of
// 1920 (38.4, so 38) from the bottom-right corner, as high as the overlay's
// aspect makes it.
const PlanCase kCases[] = {
    {"DefaultPlacementFollowsTheOverlaysAspect", Render({"--overlay", "o.mkv"}),
     WithOverlay(640, 480), nullptr,
     [](const RenderJob& job) {
         ExpectMask(job, 1882 - 640, 1042 - 480, 1882, 1042);
         EXPECT_EQ(job.settings.fitToFrame, 1);
         EXPECT_EQ(job.maskOrigin, "the default placement");
     }},
    {"DefaultPlacementOfAWideOverlay", Render({"--overlay", "o.mkv"}), WithOverlay(320, 180),
     nullptr, [](const RenderJob& job) { ExpectMask(job, 1242, 1042 - 360, 1882, 1042); }},
    {"ScriptSetsTheMask", Render({"--script", "s.txt"}),
     [] {
         InputFacts facts = FullHd();
         facts.scriptMask = MaskCorners{100, 200, 300, 400};
         return facts;
     }(),
     nullptr, [](const RenderJob& job) { ExpectMask(job, 100, 200, 300, 400); }},
    {"MaskOutsideThePictureIsRefused", Render({"--mask", "1920,0,2000,100"}), FullHd(),
     "from --mask draws nothing", nullptr},
    {"ScriptMaskOutsideThePictureIsRefused", Render({"--script", "s.txt"}),
     [] {
         InputFacts facts = FullHd();
         facts.scriptMask = MaskCorners{0, 2000, 100, 2100};
         return facts;
     }(),
     "from 's.txt' draws nothing", nullptr},
    {"RangeInSecondsBecomesFrames", Render({"--mask", "0,0,9,9", "--range", "2s-4s"}),
     FullHd(), nullptr,
     [](const RenderJob& job) {
         EXPECT_EQ(job.settings.useFrameRange, 1);
         EXPECT_EQ(job.settings.rangeStart, 2 * 25);
         EXPECT_EQ(job.settings.rangeEnd, 4 * 25);
     }},
    {"RangeEndingBeforeItStartsIsRefused", Render({"--mask", "0,0,9,9", "--range", "4s-2s"}),
     FullHd(), "before it starts", nullptr},
    {"OffsetInSecondsAtTheMainsRate", Render({"--mask", "0,0,9,9", "--offset", "1.5s"}),
     [] {
         InputFacts facts = FullHd();
         facts.mainRate = AVRational{50, 1};
         return facts;
     }(),
     nullptr, [](const RenderJob& job) { EXPECT_EQ(job.settings.frameOffset, 75); }},
    {"FrameAtATime", {"frame", "main.mkv", "--at", "2s", "-o", "f.png", "--mask", "0,0,9,9"},
     FullHd(), nullptr,
     [](const RenderJob& job) {
         EXPECT_EQ(job.output.kind, OutputKind::Picture);
         EXPECT_EQ(job.window.first, 50);
         EXPECT_EQ(job.window.last, 50);
     }},
    {"StandardOutputNeedsAStreamableContainer",
     {"render", "main.mkv", "-o", "-", "--format", "mp4", "--mask", "0,0,9,9"}, FullHd(),
     "standard output (-o -) cannot do", nullptr},
    {"StandardOutputThatIsATerminalIsRefused",
     {"render", "main.mkv", "-o", "-", "--format", "matroska", "--mask", "0,0,9,9"},
     [] {
         InputFacts facts = FullHd();
         facts.standardOutputIsTerminal = true;
         return facts;
     }(),
     "standard output is a terminal", nullptr},
    {"StandardOutputIntoAPipe",
     {"render", "main.mkv", "-o", "-", "--format", "nut", "--mask", "0,0,9,9"}, FullHd(),
     nullptr,
     [](const RenderJob& job) {
         EXPECT_EQ(job.output.kind, OutputKind::StandardOutput);
         EXPECT_STREQ(job.output.format->muxer, "nut");
     }},
    {"NullFormatKeepsNothing", Render({"--format", "null", "--mask", "0,0,9,9"}), FullHd(),
     nullptr, [](const RenderJob& job) { EXPECT_EQ(job.output.kind, OutputKind::Discard); }},
    {"UnknownExtensionIsRefused", {"render", "main.mkv", "-o", "out.xyz", "--mask", "0,0,9,9"},
     FullHd(), "cannot tell the output format", nullptr},
    {"UnknownCodecIsRefused", Render({"--codec", "nonsense", "--mask", "0,0,9,9"}), FullHd(),
     "unknown codec 'nonsense'", nullptr},
    {"QualityAboveTheEncodersScale",
     {"render", "main.mkv", "-o", "out.mp4", "--crf", "99", "--mask", "0,0,9,9"}, FullHd(),
     "scale is 0-51", nullptr},
    {"QualityBelowTheEncodersScale",
     {"render", "main.mkv", "-o", "out.mp4", "--crf", "-1", "--mask", "0,0,9,9"}, FullHd(),
     "scale is 0-51", nullptr},
    {"FilteredScalerNeedsTheMaskFilled",
     Render({"--overlay", "o.mkv", "--mask", "0,0,99,99", "--scaler", "lanczos"}),
     WithOverlay(64, 48), "--scaler scales the overlay to the mask", nullptr},
    {"FilteredScalerScalesToTheMask",
     Render({"--overlay", "o.mkv", "--mask", "10,20,110,70", "--fit", "--scaler", "lanczos"}),
     WithOverlay(64, 48), nullptr,
     [](const RenderJob& job) {
         EXPECT_EQ(job.overlay.adaptation.scaledWidth, 100);
         EXPECT_EQ(job.overlay.adaptation.scaledHeight, 50);
     }},
    {"OpaqueOverlayIsCopied", Render({"--overlay", "o.mkv"}), WithOverlay(64, 48), nullptr,
     [](const RenderJob& job) { EXPECT_FALSE(job.overlay.blend); }},
    {"OpacityBlends", Render({"--overlay", "o.mkv", "--opacity", "60"}), WithOverlay(64, 48),
     nullptr,
     [](const RenderJob& job) {
         ASSERT_TRUE(job.overlay.blend);
         EXPECT_FALSE(job.overlay.blend->useSourceAlpha);
         EXPECT_LT(job.overlay.blend->opacity, 255);
     }},
    {"AlphaIgnoredIsCopied", Render({"--overlay", "o.mkv", "--alpha", "ignore"}),
     WithOverlay(64, 48, true), nullptr,
     [](const RenderJob& job) { EXPECT_FALSE(job.overlay.blend); }},
    // On the upright 1080x1920: 360 wide (a third), 360 x 9 / 16 = 202.5 ->
    // 203 high, 2% of 1080 = 21.6 -> 22 in from the top-left corner.
    {"PhonePlacedUpright", Render({"--overlay", "o.mkv", "--position", "top-left"}),
     PhoneWithOverlay(), nullptr,
     [](const RenderJob& job) {
         EXPECT_EQ(job.main.turn, (Orientation{true, true, false}));
         ExpectMask(job, 22, 22, 382, 225);
     }},
    {"PhoneKeptAsStored",
     Render({"--overlay", "o.mkv", "--position", "top-left", "--keep-rotation"}),
     PhoneWithOverlay(), nullptr,
     [](const RenderJob& job) {
         EXPECT_TRUE(job.main.turn.identity());
         ExpectMask(job, 38, 38, 678, 398);
     }},
    {"OverlayTurnedByItsOwnMatrix",
     Render({"--overlay", "o.mkv", "--position", "top-left", "--size", "x25%"}),
     [] {
         InputFacts facts = WithOverlay(640, 360);
         facts.overlay->display.present = true;
         facts.overlay->display.orientation = Orientation{true, false, true};
         return facts;
     }(),
     nullptr,
     [](const RenderJob& job) {
         EXPECT_EQ(job.overlay.adaptation.turn, (Orientation{true, false, true}));
         // 360x640 upright: 270 high (25%), 270 x 9 / 16 = 151.9 -> 152 wide.
         ExpectMask(job, 38, 38, 38 + 152, 38 + 270);
         EXPECT_TRUE(job.notes.empty());
     }},
    {"OddAngleIsKeptAndSaid", Render({"--mask", "0,0,9,9"}),
     [] {
         InputFacts facts = FullHd();
         facts.main.display.present = true;
         facts.main.display.clockwiseDegrees = 30;
         return facts;
     }(),
     nullptr,
     [](const RenderJob& job) {
         EXPECT_TRUE(job.main.turn.identity());
         ASSERT_EQ(job.notes.size(), 1u);
         EXPECT_NE(job.notes[0].find("turns it by 30 degrees"), std::string::npos);
     }},
    {"FadeOutWithoutAnEnd", Render({"--overlay", "o.mkv", "--repeat", "--fade-out", "1s"}),
     WithOverlay(64, 48), "--fade-out needs to know the last frame", nullptr},
    {"FadeOutBeforeTheMainsEnd", Render({"--overlay", "o.mkv", "--repeat", "--fade-out", "1s"}),
     [] {
         InputFacts facts = WithOverlay(64, 48);
         facts.mainFrames = 250;
         return facts;
     }(),
     nullptr,
     [](const RenderJob& job) {
         EXPECT_EQ(job.fade.ramp.last, 249);
         EXPECT_EQ(job.fade.ramp.outFrames, 25);
     }},
    // Keys in any order and of either kind become frames in order; the job
    // starts from the first key's mask, and only a bilinear stretch draws
    // between pixels.
    {"KeysBecomeFramesInOrder",
     Render({"--overlay", "o.mkv", "--fit", "--bilinear", "--key", "3s=10,10,50,50:in",
             "--key", "1s=0,0,100,100"}),
     WithOverlay(640, 360), nullptr,
     [](const RenderJob& job) {
         ASSERT_EQ(job.motion.keys().size(), 2u);
         EXPECT_EQ(job.motion.keys()[0].frame, 25);
         EXPECT_EQ(job.motion.keys()[1].frame, 75);
         EXPECT_EQ(job.motion.keys()[1].ease, Ease::In);
         EXPECT_EQ(job.motion.rounding(), MaskRounding::SubPixel);
         ExpectMask(job, 0, 0, 100, 100);
         EXPECT_EQ(job.maskOrigin, "--key");
         EXPECT_TRUE(job.notes.empty());
     }},
    {"KeysWithNearestAreWholePixelsAndSaySizeIsCut",
     Render({"--overlay", "o.mkv", "--key", "0=0,0,100,100", "--key", "50=0,0,50,50"}),
     WithOverlay(640, 360), nullptr,
     [](const RenderJob& job) {
         EXPECT_EQ(job.motion.rounding(), MaskRounding::WholePixels);
         ASSERT_EQ(job.notes.size(), 1u);
         EXPECT_NE(job.notes[0].find("without --fit"), std::string::npos);
     }},
    {"TwoKeysOnOneFrameAreRefused",
     Render({"--key", "1s=0,0,100,100", "--key", "25=10,0,100,100"}), FullHd(),
     "two keys (--key) fall on frame 25", nullptr},
    {"KeysThatAllMissThePictureAreRefused",
     Render({"--key", "0=-300,0,-200,100", "--key", "10=-150,0,-50,100"}), FullHd(),
     "draws nothing", nullptr},
    {"KeysWithAFilteredScalerAreRefused",
     Render({"--overlay", "o.mkv", "--fit", "--scaler", "lanczos", "--key", "0=0,0,100,100"}),
     WithOverlay(640, 360), "--scaler scales the overlay to one size", nullptr},
    {"StreamsAreLeftOutOnRequest", Render({"--mask", "0,0,9,9", "--no-audio"}),
     WithStreams({{1, AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, {".mkv"}, ""},
                  {2, AVMEDIA_TYPE_SUBTITLE, AV_CODEC_ID_SUBRIP, {".mkv"}, ""}}),
     nullptr,
     [](const RenderJob& job) {
         ASSERT_EQ(job.output.kept.size(), 1u);
         EXPECT_EQ(job.output.kept[0].index, 2);
     }},
};

class Planning : public testing::TestWithParam<PlanCase> {};

TEST_P(Planning, SettlesTheJobOrRefusesIt) {
    const PlanCase& test = GetParam();
    const CommandLine line = Parse(test.arguments);
    if (test.error != nullptr) {
        try {
            PlanJob(line, test.facts);
            FAIL() << "planned a job that should be refused";
        } catch (const UsageError& error) {
            EXPECT_NE(std::string(error.what()).find(test.error), std::string::npos)
                << error.what();
        }
        return;
    }
    test.check(PlanJob(line, test.facts));
}

INSTANTIATE_TEST_SUITE_P(Cases, Planning, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<PlanCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
