// Overlays with an alpha channel through whole runs: a PNG-in-MOV overlay
// half or fully transparent over the known main picture, compared with the
// blend formula computed here; transparency over the shadow; --alpha ignore.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/apps/runner_harness.h"

namespace {

// The overlay's stored colour.
constexpr int kRed = 200;
constexpr int kGreen = 40;
constexpr int kBlue = 90;
// The mask: the overlay copied 1:1 at (20, 20), 32 x 32.
constexpr int kLeft = 20;
constexpr int kTop = 20;
constexpr int kSide = 32;

class AlphaOverlay : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }

    // A 32 x 32 PNG-in-MOV overlay of the stored colour at alpha `alpha`.
    std::string MakeOverlay(int alpha) {
        const std::string path = folder_ / ("alpha" + std::to_string(alpha) + ".mov");
        RunFfmpeg("-f lavfi -i \"color=c=black:s=32x32:r=25:d=1.2,format=rgba,geq=r=" +
                  std::to_string(kRed) + ":g=" + std::to_string(kGreen) + ":b=" +
                  std::to_string(kBlue) + ":a=" + std::to_string(alpha) + "\" -c:v png '" +
                  path + "'");
        return path;
    }

    std::vector<Picture> Render(const std::string& name, std::vector<std::string> options) {
        std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o", folder_ / name,
                                              "--quiet"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const RunResult run = RunQuillmere(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        return DecodeAll(folder_ / name);
    }

    ScratchFolder folder_;
};

struct AlphaCase {
    const char* name;
    int alpha;
    int opacityPercent;
};

class AlphaBlend : public AlphaOverlay, public testing::WithParamInterface<AlphaCase> {};

TEST_P(AlphaBlend, FollowsTheBlendFormulaOverTheMain) {
    const AlphaCase& test = GetParam();
    const std::string overlay = MakeOverlay(test.alpha);
    const std::vector<Picture> frames =
        Render("out.mkv", {"--overlay", overlay, "--mask", "20,20,w32,h32", "--opacity",
                           std::to_string(test.opacityPercent)});
    const std::vector<Picture> main = DecodeAll(Clip("main.mkv"));
    ASSERT_EQ(frames.size(), main.size());
    // "w32" is the dialog's inclusive width: the filter draws 31 columns.
    const double weight = test.alpha / 255.0 * test.opacityPercent / 100.0;
    const int stored[3] = {kBlue, kGreen, kRed};
    for (std::size_t n = 0; n < frames.size(); n += 7) {
        for (int y = kTop; y < kTop + kSide - 1; ++y) {
            for (int x = kLeft; x < kLeft + kSide - 1; ++x) {
                const std::uint8_t* out = frames[n].row(y) + 4 * x;
                const std::uint8_t* under = main[n].row(y) + 4 * x;
                for (int byte = 0; byte < 3; ++byte) {
                    const double expected = stored[byte] * weight + under[byte] * (1 - weight);
                    ASSERT_NEAR(out[byte], expected, 1.0)
                        << "frame " << n << " at " << x << "," << y << " byte " << byte;
                }
            }
        }
    }
}

const AlphaCase kAlphaCases[] = {
    {"HalfTransparent", 128, 100},
    {"FullyTransparent", 0, 100},
    {"Opaque", 255, 100},
    {"OpaqueAtSixtyPercent", 255, 60},
    {"QuarterAlphaHalfOpacity", 64, 50},
};

INSTANTIATE_TEST_SUITE_P(Table, AlphaBlend, testing::ValuesIn(kAlphaCases),
                         [](const testing::TestParamInfo<AlphaCase>& info) {
                             return info.param.name;
                         });

// A transparent overlay leaves what the filter drew before it: the shadow
// as drawn, and inside the mask what lies there (the filter's shadow keeps
// clear of the mask itself, so the main shows). The picture equals the one
// with an opaque overlay faded out entirely.
TEST_F(AlphaOverlay, TransparentPixelsShowWhatLiesBeneathWithTheShadow) {
    const std::string transparent = MakeOverlay(0);
    const std::vector<std::string> shadow = {"--mask", "20,20,w32,h32", "--shadow", "gradient",
                                             "--shadow-percent", "40"};
    std::vector<std::string> overTransparent = {"--overlay", transparent};
    overTransparent.insert(overTransparent.end(), shadow.begin(), shadow.end());
    std::vector<std::string> fadedOut = {"--overlay", Clip("overlay.avi"), "--opacity", "0",
                                         "--repeat"};
    fadedOut.insert(fadedOut.end(), shadow.begin(), shadow.end());
    const std::vector<Picture> a = Render("transparent.mkv", overTransparent);
    const std::vector<Picture> b = Render("faded.mkv", fadedOut);
    const std::vector<Picture> main = DecodeAll(Clip("main.mkv"));
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t n = 0; n < a.size(); ++n) {
        std::string where;
        EXPECT_TRUE(SameColors(a[n], b[n], where)) << "frame " << n << ": " << where;
    }
    int shadowed = 0;
    for (int y = 0; y < main[0].height; ++y) {
        for (int x = 0; x < main[0].width; ++x) {
            const std::uint8_t* shown = a[0].row(y) + 4 * x;
            const std::uint8_t* plain = main[0].row(y) + 4 * x;
            const bool inMask = x >= kLeft && x < kLeft + kSide - 1 && y >= kTop &&
                                y < kTop + kSide - 1;
            if (inMask) {
                ASSERT_EQ(shown[0] + (shown[1] << 8) + (shown[2] << 16),
                          plain[0] + (plain[1] << 8) + (plain[2] << 16))
                    << x << "," << y;
            } else {
                shadowed += shown[0] + shown[1] + shown[2] < plain[0] + plain[1] + plain[2];
            }
        }
    }
    EXPECT_GT(shadowed, 100) << "the shadow is drawn";
}

TEST_F(AlphaOverlay, IgnoreCopiesTheStoredColourOpaque) {
    const std::vector<Picture> frames = Render(
        "ignored.mkv", {"--overlay", MakeOverlay(0), "--mask", "20,20,w32,h32", "--alpha", "ignore"});
    ASSERT_FALSE(frames.empty());
    const std::uint8_t* pixel = frames[0].row(kTop + 5) + 4 * (kLeft + 5);
    EXPECT_EQ(pixel[0], kBlue);
    EXPECT_EQ(pixel[1], kGreen);
    EXPECT_EQ(pixel[2], kRed);
}

}  // namespace

namespace {

// A white disc whose transparent surroundings store black, scaled 4x down
// over a white main: weighted by alpha, every output pixel stays white.
// Scaling straight colour would darken the disc's rim with the black that
// only transparent pixels hold.
class AlphaEdgeScaled : public testing::TestWithParam<const char*> {
protected:
    ScratchFolder folder_;
};

TEST_P(AlphaEdgeScaled, ShowsNoDarkFringe) {
    const std::string disc = folder_ / "disc.png";
    const std::string main = folder_ / "white.mkv";
    RunFfmpeg("-f lavfi -i \"color=c=black:s=640x360:d=0.04,format=rgba,geq="
              "r='255*lt(hypot(X-320,Y-180),150)':g='255*lt(hypot(X-320,Y-180),150)':"
              "b='255*lt(hypot(X-320,Y-180),150)':a='255*lt(hypot(X-320,Y-180),150)'\" "
              "-frames:v 1 '" + disc + "'");
    RunFfmpeg("-f lavfi -i color=c=white:s=320x180:r=25:d=0.2 -c:v ffv1 '" + main + "'");
    const std::string output = folder_ / "out.png";
    const RunResult run = RunQuillmere({"frame", main, "--at", "0", "-o", output, "--overlay",
                                        disc, "--position", "center", "--size", "160",
                                        "--scaler", GetParam()});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const Picture picture = DecodeAll(output).at(0);
    int darkest = 255;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            for (int byte = 0; byte < 3; ++byte) {
                darkest = std::min<int>(darkest, picture.row(y)[4 * x + byte]);
            }
        }
    }
    EXPECT_GE(darkest, 252);
}

INSTANTIATE_TEST_SUITE_P(Scalers, AlphaEdgeScaled,
                         testing::Values("nearest", "bilinear", "area", "bicubic", "lanczos"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

}  // namespace
