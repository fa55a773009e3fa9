// A mask that moves by keys (--key): the rectangles between keys, worked
// out by hand for each easing, and renders of a slow move measured in the
// decoded output.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "apps/quillmere/pipeline/mask_motion.h"
#include "tests/apps/runner_harness.h"

namespace {

// From (0,0)-(100,50) at frame 10 to (100,40)-(300,90) at frame 20.
MaskMotion TwoKeys(Ease ease, MaskRounding rounding = MaskRounding::SubPixel) {
    return MaskMotion({MaskKey{10, 0, 0, 100, 50, Ease::Linear},
                       MaskKey{20, 100, 40, 300, 90, ease}},
                      rounding);
}

struct EasedCase {
    const char* name;
    Ease ease;
    std::int64_t frame;
    double share;  // of the way from the first key to the second, by hand
};

class EasedRectangle : public testing::TestWithParam<EasedCase> {};

TEST_P(EasedRectangle, LiesWhereTheCurveSays) {
    const EasedCase& test = GetParam();
    const ExactMask mask = TwoKeys(test.ease).ExactAt(test.frame);
    EXPECT_NEAR(mask.left, 100 * test.share, 1e-9);
    EXPECT_NEAR(mask.top, 40 * test.share, 1e-9);
    EXPECT_NEAR(mask.right, 100 + 200 * test.share, 1e-9);
    EXPECT_NEAR(mask.bottom, 50 + 40 * test.share, 1e-9);
}

// Cubic curves: in t^3, out 1-(1-t)^3, in-out 4t^3 below a half and
// 1-(2-2t)^3/2 above; before the first key and after the last the mask holds.
const EasedCase kEasedCases[] = {
    {"BeforeTheFirstKeyHolds", Ease::InOut, 0, 0.0},
    {"AtTheFirstKey", Ease::Out, 10, 0.0},
    {"LinearAFifthIn", Ease::Linear, 12, 0.2},
    {"LinearHalfway", Ease::Linear, 15, 0.5},
    {"InAFifthIn", Ease::In, 12, 0.008},
    {"InFourFifthsIn", Ease::In, 18, 0.512},
    {"OutAFifthIn", Ease::Out, 12, 0.488},
    {"OutFourFifthsIn", Ease::Out, 18, 0.992},
    {"InOutAFifthIn", Ease::InOut, 12, 0.032},
    {"InOutHalfway", Ease::InOut, 15, 0.5},
    {"InOutFourFifthsIn", Ease::InOut, 18, 0.968},
    {"AtTheLastKey", Ease::In, 20, 1.0},
    {"AfterTheLastKeyHolds", Ease::Linear, 500, 1.0},
};

INSTANTIATE_TEST_SUITE_P(Keys, EasedRectangle, testing::ValuesIn(kEasedCases),
                         [](const testing::TestParamInfo<EasedCase>& info) {
                             return std::string(info.param.name);
                         });

// Easing applies to the segment that arrives at its key, not the one after.
TEST(MaskKeys, EachKeysEasingShapesTheMoveArrivingAtIt) {
    const MaskMotion motion({MaskKey{0, 0, 0, 10, 10, Ease::Linear},
                             MaskKey{10, 10, 0, 20, 10, Ease::In},
                             MaskKey{20, 20, 0, 30, 10, Ease::Linear}},
                            MaskRounding::SubPixel);
    EXPECT_NEAR(motion.ExactAt(5).left, 10 * 0.125, 1e-9);
    EXPECT_NEAR(motion.ExactAt(15).left, 10 + 10 * 0.5, 1e-9);
}

TEST(MaskKeys, BetweenPixelsTheFilterGetsEveryPixelTouched) {
    const FrameMask mask = TwoKeys(Ease::Linear).MaskAt(13);  // 30, 12, 160, 62: whole
    EXPECT_FALSE(mask.partial());
    const FrameMask between = TwoKeys(Ease::In).MaskAt(12);  // 0.8, 0.32, 101.6, 50.32
    EXPECT_TRUE(between.partial());
    EXPECT_EQ((std::vector<int>{between.left, between.top, between.right, between.bottom}),
              (std::vector<int>{0, 0, 102, 51}));
}

// Whole pixels: a move that keeps its size keeps it on every frame, and
// each corner goes one way only.
TEST(MaskKeys, InWholePixelsAMoveKeepsItsSize) {
    const MaskMotion motion({MaskKey{0, 3, 7, 36, 28, Ease::Linear},
                             MaskKey{90, 46, 30, 79, 51, Ease::InOut}},
                            MaskRounding::WholePixels);
    FrameMask before = motion.MaskAt(0);
    for (std::int64_t frame = 0; frame <= 100; ++frame) {
        const FrameMask mask = motion.MaskAt(frame);
        EXPECT_EQ(mask.right - mask.left, 33) << "frame " << frame;
        EXPECT_EQ(mask.bottom - mask.top, 21) << "frame " << frame;
        EXPECT_GE(mask.left, before.left) << "frame " << frame;
        EXPECT_GE(mask.top, before.top) << "frame " << frame;
        before = mask;
    }
    EXPECT_EQ(before.left, 46);
    EXPECT_EQ(before.top, 30);
}

// A white overlay moving over black, 40 pixels to the right in 100 frames.
constexpr int kWidth = 160;
constexpr int kHeight = 64;
constexpr double kStartLeft = 10;
constexpr double kTravel = 40;
constexpr int kMoveFrames = 100;
constexpr int kOverlayTop = 16;
constexpr int kOverlayBottom = 48;
constexpr double kOverlayWidth = 64;

struct MoveCase {
    const char* name;
    std::vector<std::string> options;
    bool wholePixels;
    int border;  // white, as the overlay: it widens what is measured
};

// Where the white lies in one row: its amount in pixels and the left edge
// of a block of that amount with the same centre.
struct Measured {
    double width = 0;
    double left = 0;
};

Measured MeasureRow(const Picture& picture, int y) {
    double mass = 0;
    double moment = 0;
    const std::uint8_t* row = picture.row(y);
    for (int x = 0; x < picture.width; ++x) {
        const double green = row[4 * x + 1] / 255.0;
        mass += green;
        moment += (x + 0.5) * green;
    }
    return Measured{mass, mass > 0 ? moment / mass - mass / 2 : 0};
}

const ScratchFolder& MoveClips() {
    static ScratchFolder folder;
    static const bool made = [] {
        const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
        RunFfmpeg("-f lavfi -i color=c=black:size=" + size + ":rate=25 -frames:v " +
                  std::to_string(kMoveFrames + 1) + " -c:v ffv1 -pix_fmt bgr0 " +
                  folder / "black.mkv");
        RunFfmpeg("-f lavfi -i color=c=white:size=64x32:rate=25 -frames:v " +
                  std::to_string(kMoveFrames + 1) + " -c:v ffv1 -pix_fmt bgr0 " +
                  folder / "white.mkv");
        return true;
    }();
    static_cast<void>(made);
    return folder;
}

class SlowMove : public testing::TestWithParam<MoveCase> {};

TEST_P(SlowMove, NeverStepsBackAndLeavesTheRestUntouched) {
    const MoveCase& test = GetParam();
    const ScratchFolder& clips = MoveClips();
    ScratchFolder scratch;
    std::vector<std::string> arguments{"render", clips / "black.mkv", "--overlay",
                                       clips / "white.mkv", "--key", "0=10,16,74,48", "--key",
                                       "100=50,16,114,48", "-o", scratch / "out.mkv", "-q"};
    arguments.insert(arguments.end(), test.options.begin(), test.options.end());
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const std::vector<Picture> frames = DecodeAll(scratch / "out.mkv");
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kMoveFrames + 1));
    double previous = kStartLeft - test.border;
    for (int frame = 0; frame <= kMoveFrames; ++frame) {
        const Picture& picture = frames[static_cast<std::size_t>(frame)];
        const Measured row = MeasureRow(picture, (kOverlayTop + kOverlayBottom) / 2);
        const double expected = kStartLeft - test.border + kTravel * frame / kMoveFrames;
        const double width = kOverlayWidth + 2 * test.border;
        if (test.wholePixels) {
            EXPECT_EQ(row.width, width) << "frame " << frame;
            EXPECT_NEAR(row.left, expected, 0.5 + 1e-9) << "frame " << frame;
            EXPECT_EQ(row.left, std::round(row.left)) << "frame " << frame;
        } else {
            // A glide: the edge within a rounding of where it belongs, and
            // never a whole pixel at once.
            EXPECT_NEAR(row.width, width, 0.02) << "frame " << frame;
            EXPECT_NEAR(row.left, expected, 0.02) << "frame " << frame;
            EXPECT_LT(row.left - previous, 0.5) << "frame " << frame;
        }
        EXPECT_GE(row.left, previous - 1e-6) << "frame " << frame << " went backwards";
        previous = row.left;
        // Above and below the overlay the main is as it was.
        for (const int y : {0, kOverlayTop - test.border - 1, kOverlayBottom + test.border,
                            kHeight - 1}) {
            EXPECT_EQ(MeasureRow(picture, y).width, 0) << "frame " << frame << " row " << y;
        }
    }
}

const MoveCase kMoveCases[] = {
    {"BilinearGlides", {"--fit", "--bilinear"}, false, 0},
    {"BilinearOnSeveralFilterThreadsGlidesAlike", {"--fit", "--bilinear", "--filter-threads", "3"},
     false, 0},
    {"BilinearGlidesWithItsBorder", {"--fit", "--bilinear", "--border", "3"}, false, 3},
    {"NearestKeepsItsSize", {"--fit"}, true, 0},
    {"CopyKeepsItsSize", {}, true, 0},
    {"CopyKeepsItsSizeWithItsBorder", {"--border", "3"}, true, 3},
};

INSTANTIATE_TEST_SUITE_P(Keys, SlowMove, testing::ValuesIn(kMoveCases),
                         [](const testing::TestParamInfo<MoveCase>& info) {
                             return std::string(info.param.name);
                         });

// Keys that hold one mask go the moving path (each frame's own area and
// mask) and must draw, byte for byte, what that mask given by --mask draws.
TEST(HeldKeys, DrawExactlyWhatTheMaskDraws) {
    const std::vector<std::vector<std::string>> looks = {
        {"--fit", "--bilinear", "--border", "3", "--shadow", "gradient-random", "--seed", "3"},
        {"--border", "2", "--shadow", "flat", "--filter-threads", "1"},
    };
    for (const std::vector<std::string>& look : looks) {
        ScratchFolder scratch;
        std::vector<std::string> base{"render", Clip("main.mkv"), "--overlay", Clip("overlay.avi"),
                                      "-q"};
        base.insert(base.end(), look.begin(), look.end());
        std::vector<std::string> masked = base;
        masked.insert(masked.end(), {"--mask", "20,30,100,90", "-o", scratch / "masked.mkv"});
        std::vector<std::string> keyed = base;
        keyed.insert(keyed.end(), {"--key", "0=20,30,100,90", "--key", "20=20,30,100,90", "-o",
                                   scratch / "keyed.mkv"});
        for (const auto& arguments : {masked, keyed}) {
            const RunResult run = RunQuillmere(arguments);
            ASSERT_EQ(run.exitCode, 0) << run.errorText;
        }
        const std::vector<Picture> expected = DecodeAll(scratch / "masked.mkv");
        const std::vector<Picture> actual = DecodeAll(scratch / "keyed.mkv");
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t frame = 0; frame < expected.size(); ++frame) {
            EXPECT_EQ(ColorChecksum(actual[frame]), ColorChecksum(expected[frame]))
                << "frame " << frame << " of " << look.front();
        }
    }
}

}  // namespace
