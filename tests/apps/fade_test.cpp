// Fades: the overlay, its border and its shadow come in and go out over
// the frames where the overlay shows. The weights are worked out here as a
// straight ramp read at each frame's middle ((k + 1/2) / F), and whole runs
// are measured against them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "apps/quillmere/pipeline/fade_ramp.h"
#include "apps/quillmere/plan/fades.h"
#include "tests/apps/runner_harness.h"

namespace {

double Ramp(std::int64_t k, std::int64_t frames) {
    return (static_cast<double>(k) + 0.5) / static_cast<double>(frames);
}

// The weight a ramp from `first` to `last` with the given fades gives `frame`.
double ExpectedWeight(std::int64_t frame, std::int64_t first, std::int64_t last,
                      std::int64_t in, std::int64_t out) {
    double weight = 1;
    if (in > 0 && frame >= first && frame < first + in) {
        weight = std::min(weight, Ramp(frame - first, in));
    }
    if (out > 0 && frame <= last && frame > last - out) {
        weight = std::min(weight, Ramp(last - frame, out));
    }
    return weight;
}

TEST(FadeTowardOriginal, BlendsColourAndKeepsTheFourthByte) {
    std::mt19937 random(7);
    constexpr int kWidth = 9;
    constexpr int kHeight = 4;
    std::vector<std::uint8_t> original(kWidth * kHeight * 4);
    std::vector<std::uint8_t> composite(original.size());
    for (auto& byte : original) {
        byte = static_cast<std::uint8_t>(random());
    }
    for (std::uint32_t weight : {0u, 1u, 21845u, 32768u, 65535u}) {
        for (auto& byte : composite) {
            byte = static_cast<std::uint8_t>(random());
        }
        // A pixel the filter left alone.
        std::copy(original.begin(), original.begin() + 4, composite.begin());
        const std::vector<std::uint8_t> drawn = composite;
        FadeTowardOriginal(composite.data(), kWidth * 4, original.data(), kWidth * 4, kWidth,
                           kHeight, weight);
        for (std::size_t i = 0; i < composite.size(); ++i) {
            if (i % 4 == 3) {
                EXPECT_EQ(composite[i], drawn[i]) << i;
                continue;
            }
            const double expected = original[i] + (drawn[i] - original[i]) * (weight / 65536.0);
            EXPECT_EQ(composite[i], static_cast<int>(std::floor(expected + 0.5)))
                << "byte " << i << " weight " << weight;
        }
    }
}

// Where the overlay shows, as the filter counts: from the range's start
// (later by a negative offset), to the range's end, the main's last frame,
// or the overlay's own end without --repeat.
struct ShowingCase {
    const char* name;
    bool range;
    int rangeStart, rangeEnd;  // 0: no end
    int offset;
    bool repeat;
    bool maintainBlack;
    std::int64_t mainFrames;  // 0: unknown
    int overlayLength;
    std::int64_t first;
    std::optional<std::int64_t> last;
};

const ShowingCase kShowings[] = {
    // 12 overlay frames from frame 0: frames 0-11.
    {"OverlayEnds", false, 0, 0, 0, false, false, 30, 12, 0, 11},
    // From frame 5 with 3 skipped: overlay frames 3-11 on frames 5-13.
    {"RangeAndOffset", true, 5, 0, 3, false, false, 30, 12, 5, 13},
    // The range's end comes first.
    {"RangeEnds", true, 5, 9, 0, false, false, 30, 12, 5, 9},
    // Repeated, it shows to the main's end.
    {"RepeatToMainEnd", true, 5, 0, 0, true, false, 30, 12, 5, 29},
    // Black stands in where it has run out.
    {"BlackToMainEnd", false, 0, 0, 0, false, true, 30, 12, 0, 29},
    // Two frames before the overlay's first: nothing until frame 2.
    {"NegativeOffset", false, 0, 0, -2, false, false, 30, 12, 2, 13},
    // The main is shorter than the overlay.
    {"MainEnds", false, 0, 0, 0, false, false, 8, 12, 0, 7},
    // A main of unknown length, an overlay that runs out.
    {"UnknownMain", false, 0, 0, 0, false, false, 0, 12, 0, 11},
};

class FadeShowing : public testing::TestWithParam<ShowingCase> {};

TEST_P(FadeShowing, RampSpansWhereTheOverlayShows) {
    const ShowingCase& test = GetParam();
    FilterData settings{};
    settings.useFrameRange = test.range ? 1 : 0;
    settings.rangeStart = test.rangeStart;
    settings.rangeEnd = test.rangeEnd;
    settings.frameOffset = test.offset;
    settings.repeatVideo = test.repeat ? 1 : 0;
    settings.maintainBlack = test.maintainBlack ? 1 : 0;
    const FadePlan plan = PlanFades(3, 4, settings, true, test.mainFrames);
    FilterData opened = settings;
    opened.overlayLength = test.overlayLength;
    const FadeRamp ramp = SettleFade(plan, opened);
    EXPECT_EQ(ramp.first, test.first);
    EXPECT_EQ(ramp.last, test.last);
}

INSTANTIATE_TEST_SUITE_P(Table, FadeShowing, testing::ValuesIn(kShowings),
                         [](const testing::TestParamInfo<ShowingCase>& info) {
                             return info.param.name;
                         });

TEST(FadeShowingUnknown, FadeOutWithoutAnEndIsRefused) {
    FilterData settings{};
    settings.repeatVideo = 1;
    EXPECT_THROW(PlanFades(0, 5, settings, true, 0), std::exception);
    // A fade-in alone needs no end.
    EXPECT_NO_THROW(PlanFades(5, 0, settings, true, 0));
}

// --- Whole runs -------------------------------------------------------------

constexpr int kFrames = 30;
constexpr int kMainLevel = 0x40;  // the main: grey 40 40 40
// The mask 20,16 to 60,48 and a 4-pixel border round it.
constexpr int kMaskLeft = 20;
constexpr int kMaskTop = 16;
constexpr int kMaskRight = 60;
constexpr int kMaskBottom = 48;
constexpr int kBorder = 4;

class FadeRun : public testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new ScratchFolder();
        // Flat pictures: grey 40 40 40 and white.
        RunFfmpeg("-f lavfi -i color=c=0x404040:s=96x64:r=25 -frames:v 30 -pix_fmt yuv444p "
                  "-c:v ffv1 '" + *folder_ / "main.mkv" + "'");
        RunFfmpeg("-f lavfi -i color=c=white:s=32x24:r=25 -frames:v 30 -pix_fmt yuv444p "
                  "-c:v ffv1 '" + *folder_ / "white.mkv" + "'");
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }

    std::vector<Picture> Render(const std::string& name, std::vector<std::string> options) {
        std::vector<std::string> arguments = {"render", *folder_ / "main.mkv", "-o", out_ / name,
                                              "--quiet", "--overlay", *folder_ / "white.mkv",
                                              "--mask", "20,16,60,48", "--fit"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const RunResult run = RunQuillmere(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        return DecodeAll(out_ / name);
    }

    // The mean green level of the rows top..bottom-1, columns left..right-1.
    static double Mean(const Picture& picture, int left, int top, int right, int bottom) {
        double sum = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                sum += picture.row(y)[x * 4 + 1];
            }
        }
        return sum / ((right - left) * (bottom - top));
    }

    static ScratchFolder* folder_;
    ScratchFolder out_;
};
ScratchFolder* FadeRun::folder_ = nullptr;

struct FadeRunCase {
    const char* name;
    std::vector<std::string> options;
    std::int64_t first, last, in, out;
    double opacity;  // --opacity as a share
};

// Durations as frames and as times (0.24 s at 25 fps is 6 frames).
const FadeRunCase kFadeRuns[] = {
    {"RangeInFramesOutByTime", {"--range", "4-25", "--fade-in", "6", "--fade-out", "0.2s"},
     4, 25, 6, 5, 1.0},
    // 30 overlay frames, 18 skipped: they run out after frame 11.
    {"OverlaysOwnEnd", {"--offset", "18", "--fade-in", "0.24s", "--fade-out", "4"}, 0, 11, 6, 4,
     1.0},
    {"WithOpacity", {"--range", "2-20", "--fade-in", "8", "--opacity", "50"}, 2, 20, 8, 0, 0.5},
    // A showing shorter than its fades: the lower of the two ramps.
    {"FadesOverlap", {"--range", "10-15", "--fade-in", "5", "--fade-out", "4"}, 10, 15, 5, 4, 1.0},
};

class FadeRunTable : public FadeRun, public testing::WithParamInterface<FadeRunCase> {};

// A white overlay over grey, in a black border: the mask shows the overlay
// at its opacity over the grey under it (not over the border's fill), and
// each frame's level is grey + (that - grey) x weight; the border's, black,
// with it.
TEST_P(FadeRunTable, LevelsFollowTheRamp) {
    const FadeRunCase& test = GetParam();
    std::vector<std::string> options = test.options;
    options.insert(options.end(), {"--border", "4", "--border-color", "black"});
    const std::vector<Picture> frames = Render("faded.mkv", options);
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kFrames));
    const double maskLevel = 255 * test.opacity + kMainLevel * (1 - test.opacity);
    for (int frame = 0; frame < kFrames; ++frame) {
        const bool shows = frame >= test.first && frame <= test.last;
        const double weight =
            shows ? ExpectedWeight(frame, test.first, test.last, test.in, test.out) : 0.0;
        EXPECT_NEAR(Mean(frames[frame], kMaskLeft, kMaskTop, kMaskRight, kMaskBottom),
                    kMainLevel + (maskLevel - kMainLevel) * weight, 1.0)
            << "mask, frame " << frame;
        EXPECT_NEAR(Mean(frames[frame], kMaskLeft, kMaskTop - kBorder, kMaskRight, kMaskTop),
                    kMainLevel * (1 - weight), 1.0)
            << "border, frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, FadeRunTable, testing::ValuesIn(kFadeRuns),
                         [](const testing::TestParamInfo<FadeRunCase>& info) {
                             return info.param.name;
                         });

// Where the weight is whole, the output is what it is without fades,
// sample for sample.
TEST_F(FadeRun, FramesOutsideTheFadesAreUnchanged) {
    const std::vector<Picture> plain = Render("plain.mkv", {"--range", "4-25", "--shadow", "2"});
    const std::vector<Picture> faded = Render(
        "faded.mkv", {"--range", "4-25", "--shadow", "2", "--fade-in", "6", "--fade-out", "5"});
    ASSERT_EQ(plain.size(), faded.size());
    for (std::size_t frame = 0; frame < plain.size(); ++frame) {
        const bool inFade = (frame >= 4 && frame < 10) || (frame > 20 && frame <= 25);
        std::string where;
        EXPECT_EQ(SameColors(plain[frame], faded[frame], where), !inFade)
            << "frame " << frame << " " << where;
    }
}

}  // namespace
