// Rounded corners: the corner weights against the circle's area worked out
// here (the cut-off area of a corner square is r^2 (1 - pi/4)) and against
// sampling each pixel densely; whole runs against square corners and the
// untouched main.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "apps/quillmere/pipeline/rounded_corners.h"
#include "tests/apps/runner_harness.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

class CornerWeights : public testing::TestWithParam<int> {};

TEST_P(CornerWeights, CutOffAreaIsTheCircles) {
    const int r = GetParam();
    const std::vector<std::uint16_t> table = CornerCoverage(r);
    ASSERT_EQ(table.size(), static_cast<std::size_t>(r) * r);
    double cutOff = 0;
    for (const std::uint16_t weight : table) {
        cutOff += (256.0 - weight) / 256.0;
    }
    // Each weight is rounded to 1/256: at most half of that per pixel.
    EXPECT_NEAR(cutOff, r * r * (1 - kPi / 4), r * r / 512.0 + 1e-9);
}

TEST_P(CornerWeights, EachPixelMatchesDenseSampling) {
    const int r = GetParam();
    const std::vector<std::uint16_t> table = CornerCoverage(r);
    constexpr int kSamples = 32;
    // Pixel (a, b) from the corner pixel; the circle's centre is at (r, r).
    for (int b = 0; b < r; ++b) {
        for (int a = 0; a < r; ++a) {
            int inside = 0;
            for (int j = 0; j < kSamples; ++j) {
                for (int i = 0; i < kSamples; ++i) {
                    const double x = a + (i + 0.5) / kSamples - r;
                    const double y = b + (j + 0.5) / kSamples - r;
                    inside += x * x + y * y <= double(r) * r ? 1 : 0;
                }
            }
            const double sampled = double(inside) / (kSamples * kSamples);
            // Sampling errs by at most the arc's length through the pixel
            // over the samples per side.
            EXPECT_NEAR(table[b * r + a] / 256.0, sampled, 1.5 / kSamples + 1 / 512.0)
                << "pixel " << a << "," << b;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Radii, CornerWeights, testing::Values(1, 2, 3, 7, 16, 41),
                         [](const testing::TestParamInfo<int>& info) {
                             return "Radius" + std::to_string(info.param);
                         });

TEST(RoundedShape, RadiusIsCutToHalfTheShorterSideAndTheCentreIsWhole) {
    const RoundedRect shape = Rounded(10, 20, 40, 30, 99);
    EXPECT_EQ(shape.radius, 5);
    const std::vector<std::uint16_t> table = CornerCoverage(shape.radius);
    EXPECT_EQ(CoverageAt(shape, table, 25, 25), 256u);
    EXPECT_EQ(CoverageAt(shape, table, 9, 25), 0u);
    // The four corner pixels mirror each other.
    const std::uint32_t corner = CoverageAt(shape, table, 10, 20);
    EXPECT_LT(corner, 128u);
    EXPECT_EQ(CoverageAt(shape, table, 39, 20), corner);
    EXPECT_EQ(CoverageAt(shape, table, 10, 29), corner);
    EXPECT_EQ(CoverageAt(shape, table, 39, 29), corner);
}

// Whole renders of the lossless main with the overlay in a fixed mask.
constexpr int kLeft = 40, kTop = 30, kRight = 112, kBottom = 84;

struct LookCase {
    const char* name;
    int border;
    std::vector<std::string> shadow;  // the shadow's options
};

class RoundedRender : public testing::TestWithParam<LookCase> {
protected:
    static void SetUpTestSuite() { TestClips(); }

    std::vector<Picture> Render(const std::string& name, const std::vector<std::string>& extra) {
        std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o", out_ / name,
                                              "--quiet", "--overlay", Clip("overlay.avi"),
                                              "--mask", "40,30,112,84", "--fit"};
        const LookCase& look = GetParam();
        if (look.border > 0) {
            arguments.insert(arguments.end(), {"--border", std::to_string(look.border)});
        }
        arguments.insert(arguments.end(), look.shadow.begin(), look.shadow.end());
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const RunResult run = RunQuillmere(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        return DecodeAll(out_ / name);
    }

    ScratchFolder out_;
};

bool SamePixel(const Picture& a, const Picture& b, int x, int y) {
    return std::equal(a.row(y) + 4 * x, a.row(y) + 4 * x + 3, b.row(y) + 4 * x);
}

// Whether no part of pixel (x, y) lies inside the rectangle with corners of
// radius r: it lies in a corner square and its nearest point is past the arc.
bool WhollyOutside(int x, int y, int left, int top, int right, int bottom, int r) {
    if (x < left || x >= right || y < top || y >= bottom) {
        return true;
    }
    const int a = std::min(x - left, right - 1 - x);
    const int b = std::min(y - top, bottom - 1 - y);
    if (a >= r || b >= r) {
        return false;
    }
    const double dx = r - a - 1;
    const double dy = r - b - 1;
    return dx * dx + dy * dy >= double(r) * r;
}

TEST_P(RoundedRender, RadiusZeroIsTheSquarePicture) {
    const std::vector<Picture> square = Render("square.mkv", {});
    const std::vector<Picture> zero = Render("zero.mkv", {"--corner-radius", "0"});
    ASSERT_EQ(square.size(), zero.size());
    for (std::size_t frame = 0; frame < square.size(); ++frame) {
        EXPECT_EQ(square[frame].pixels, zero[frame].pixels) << "frame " << frame;
    }
}

TEST_P(RoundedRender, CornersShowTheMainAndTheRestIsAsSquare) {
    constexpr int kRadius = 12;
    const LookCase& look = GetParam();
    const std::vector<Picture> main = DecodeAll(Clip("main.mkv"));
    const std::vector<Picture> square = Render("square.mkv", {});
    const std::vector<Picture> round =
        Render("round.mkv", {"--corner-radius", std::to_string(kRadius)});
    ASSERT_EQ(round.size(), main.size());
    ASSERT_EQ(round.size(), square.size());
    const int b = look.border;
    const int outerRadius = kRadius + b;
    // The overlay (without --repeat) shows on its own frames only.
    for (std::size_t frame = 0; frame < static_cast<std::size_t>(kOverlayFrames); frame += 5) {
        // The shadow's extent: where the square picture differs from the
        // main outside the border's rectangle.
        int shadowLeft = kRight + b, shadowTop = kBottom + b;
        int shadowRight = 0, shadowBottom = 0;
        for (int y = 0; y < kMainHeight; ++y) {
            for (int x = 0; x < kMainWidth; ++x) {
                const bool inOuter =
                    x >= kLeft - b && x < kRight + b && y >= kTop - b && y < kBottom + b;
                if (!inOuter && !SamePixel(square[frame], main[frame], x, y)) {
                    shadowLeft = std::min(shadowLeft, x);
                    shadowTop = std::min(shadowTop, y);
                    shadowRight = std::max(shadowRight, x + 1);
                    shadowBottom = std::max(shadowBottom, y + 1);
                }
            }
        }
        int cornerPixels = 0;
        int outsidePixels = 0;
        for (int y = 0; y < kMainHeight; ++y) {
            for (int x = 0; x < kMainWidth; ++x) {
                const bool outsideOuter = WhollyOutside(x, y, kLeft - b, kTop - b, kRight + b,
                                                        kBottom + b, outerRadius);
                const bool outsideShadow =
                    shadowRight == 0 || WhollyOutside(x, y, shadowLeft, shadowTop, shadowRight,
                                                      shadowBottom, outerRadius);
                if (outsideOuter && outsideShadow) {
                    ++outsidePixels;
                    EXPECT_TRUE(SamePixel(round[frame], main[frame], x, y))
                        << "frame " << frame << " pixel " << x << "," << y;
                }
                // Away from every corner square the picture is the square one.
                const bool nearCorner = [&] {
                    const int xs[] = {kLeft - b, kRight + b, shadowLeft, shadowRight};
                    const int ys[] = {kTop - b, kBottom + b, shadowTop, shadowBottom};
                    for (const int cx : xs) {
                        for (const int cy : ys) {
                            if (std::abs(x - cx) <= outerRadius &&
                                std::abs(y - cy) <= outerRadius) {
                                return true;
                            }
                        }
                    }
                    return false;
                }();
                if (!nearCorner) {
                    EXPECT_TRUE(SamePixel(round[frame], square[frame], x, y))
                        << "frame " << frame << " pixel " << x << "," << y;
                } else if (!SamePixel(round[frame], square[frame], x, y)) {
                    ++cornerPixels;
                }
            }
        }
        EXPECT_GT(cornerPixels, 4 * kRadius) << "frame " << frame;
        EXPECT_GT(outsidePixels, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Looks, RoundedRender,
    testing::Values(LookCase{"Plain", 0, {}},
                    LookCase{"BorderAndShadow", 4, {"--shadow", "0", "--shadow-size", "6"}},
                    LookCase{"GradedShadow", 2, {"--shadow", "2", "--shadow-size", "8"}}),
    [](const testing::TestParamInfo<LookCase>& info) { return std::string(info.param.name); });

}  // namespace
