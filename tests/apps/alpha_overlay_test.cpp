// Overlays with an alpha channel through whole runs: a PNG-in-MOV overlay
// half or fully transparent over the known main picture, compared with the
// blend formula computed here, with and without a border; transparency over
// the shadow; an opacity with a border and shadow; --alpha ignore.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
    bool border;  // below full opacity the border's fill under the mask must not show
};

class AlphaBlend : public AlphaOverlay, public testing::WithParamInterface<AlphaCase> {};

TEST_P(AlphaBlend, FollowsTheBlendFormulaOverTheMain) {
    const AlphaCase& test = GetParam();
    const std::string overlay = MakeOverlay(test.alpha);
    std::vector<std::string> options = {"--overlay", overlay, "--mask", "20,20,w32,h32",
                                        "--opacity", std::to_string(test.opacityPercent)};
    if (test.border) {
        options.insert(options.end(), {"--border", "3", "--border-color", "lime"});
    }
    const std::vector<Picture> frames = Render("out.mkv", options);
    const std::vector<Picture> main = DecodeAll(Clip("main.mkv"));
    ASSERT_EQ(frames.size(), main.size());
    const double weight = test.alpha / 255.0 * test.opacityPercent / 100.0;
    const int stored[3] = {kBlue, kGreen, kRed};
    for (std::size_t n = 0; n < frames.size(); n += 7) {
        for (int y = kTop; y < kTop + kSide; ++y) {
            for (int x = kLeft; x < kLeft + kSide; ++x) {
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
    {"HalfTransparent", 128, 100, false},
    {"FullyTransparent", 0, 100, false},
    {"Opaque", 255, 100, false},
    {"OpaqueAtSixtyPercent", 255, 60, false},
    {"QuarterAlphaHalfOpacity", 64, 50, false},
    {"OpaqueAtSixtyPercentInABorder", 255, 60, true},
    {"QuarterAlphaHalfOpacityInABorder", 64, 50, true},
    {"FadedOutInABorder", 255, 0, true},
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
            const bool inMask = x >= kLeft && x < kLeft + kSide && y >= kTop &&
                                y < kTop + kSide;
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

// Magenta at 50% over a red main, in a green border and with a shadow: the
// overlay's pixels are half magenta, half red (255, 0, 127.5), worked out
// by hand; the border and shadow are those of the overlay at full opacity.
TEST_F(AlphaOverlay, OpacityFadesIntoTheVideoInsideABorder) {
    const std::string main = folder_ / "red.mkv";
    const std::string overlay = folder_ / "magenta.mkv";
    RunFfmpeg("-f lavfi -i \"color=c=black:s=160x120:r=25:d=0.2,format=rgb24,geq=r=255:g=0:b=0\" "
              "-c:v ffv1 -pix_fmt bgr0 '" + main + "'");
    RunFfmpeg("-f lavfi -i \"color=c=black:s=64x48:r=25:d=0.2,format=rgb24,geq=r=255:g=0:b=255\" "
              "-c:v ffv1 -pix_fmt bgr0 '" + overlay + "'");
    const auto frame = [&](const std::string& name, const std::string& opacity) {
        const std::string output = folder_ / name;
        const RunResult run = RunQuillmere(
            {"frame", main, "--at", "0", "-o", output, "--overlay", overlay, "--mask",
             "40,30,w64,h48", "--border", "4", "--border-color", "lime", "--shadow", "gradient",
             "--opacity", opacity});
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        return DecodeAll(output).at(0);
    };
    const Picture half = frame("half.png", "50");
    const Picture full = frame("full.png", "100");
    const double expected[3] = {127.5, 0, 255};  // blue, green, red
    int borderPixels = 0;
    for (int y = 0; y < half.height; ++y) {
        for (int x = 0; x < half.width; ++x) {
            const std::uint8_t* faded = half.row(y) + 4 * x;
            const std::uint8_t* opaque = full.row(y) + 4 * x;
            if (x >= 40 && x < 104 && y >= 30 && y < 78) {
                for (int byte = 0; byte < 3; ++byte) {
                    ASSERT_NEAR(faded[byte], expected[byte], 1.0)
                        << x << "," << y << " byte " << byte;
                }
            } else {
                ASSERT_EQ(std::memcmp(faded, opaque, 3), 0) << x << "," << y;
                borderPixels += faded[0] == 0 && faded[1] == 255 && faded[2] == 0;
            }
        }
    }
    // The 4-pixel ring around 64 x 48.
    EXPECT_EQ(borderPixels, 72 * 56 - 64 * 48);
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
