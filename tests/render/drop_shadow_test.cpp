#include "render/drop_shadow.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "render/random_generator.h"
#include "render/shadow_levels.h"
#include "render_test_support.h"

namespace {

// Not a grey, and with the fourth byte 0 so that shaded greys compare whole.
constexpr Pixel32 kUntouched = 0x00123456u;

// The frame and arguments of the worked example: mask (100, 100)-(300, 200),
// border off, size 20, percent 45.
struct WorkedExample : ::testing::Test {
    WorkedExample() : frames(330, 230) {
        frames.source.FillWith(Grey(200));
        frames.output.FillWith(kUntouched);
    }
    std::int32_t Draw(std::int32_t style, std::int32_t shift = 7) {
        return DrawShadow(100, 100, 201, 101, 20, style, 45, shift, -1, frames.activation);
    }
    // The index whose level turns a channel of 200 into `value`.
    static int IndexOf(Pixel32 pixel) {
        const float u = ShadowStartLevel(45);
        const float v = ShadowLevelStep(u, 20);
        for (int index = 0; index <= 20; ++index) {
            if (Grey(static_cast<std::uint32_t>(200 * static_cast<double>(ShadowLevel(index, u, v)))) ==
                pixel) {
                return index;
            }
        }
        return -1;
    }
    int IndexAt(int x, int y) const { return IndexOf(frames.output.At(x, y)); }

    TestFrames frames;
};

TEST_F(WorkedExample, LevelsByIndexToTheDigit) {
    const float u = ShadowStartLevel(45);
    const float v = ShadowLevelStep(u, 20);
    EXPECT_EQ(u, 0.449999988f);
    EXPECT_EQ(v, 0.0274999998f);
    const std::pair<int, float> levels[] = {
        {0, 0.449999988f},  {1, 0.477499992f},  {2, 0.504999995f},  {10, 0.724999964f},
        {14, 0.834999979f}, {15, 0.862500012f}, {19, 0.972499967f}, {20, 1.0f},
    };
    for (const auto& [index, level] : levels) {
        EXPECT_EQ(ShadowLevel(index, u, v), level) << "index " << index;
    }
    // The 21 levels turn 200 into 21 distinct values, so a value names its index.
    std::set<Pixel32> values;
    for (int index = 0; index <= 20; ++index) {
        values.insert(Grey(static_cast<std::uint32_t>(200 * double(ShadowLevel(index, u, v)))));
    }
    EXPECT_EQ(values.size(), 21u);
}

TEST_F(WorkedExample, ShadesWithFloatLevels) {
    frames.source.Set(300, 160, Grey(100));
    EXPECT_EQ(Draw(2), 1);
    EXPECT_EQ(frames.output.At(300, 150), Grey(89));
    EXPECT_EQ(frames.output.At(310, 150), Grey(144));
    EXPECT_EQ(frames.output.At(319, 150), Grey(194));
    EXPECT_EQ(frames.output.At(300, 160), Grey(44));
}

TEST_F(WorkedExample, BandsCoverExactlyTheirRectangles) {
    Draw(2);
    for (int y = 0; y < frames.output.height(); ++y) {
        for (int x = 0; x < frames.output.width(); ++x) {
            const bool right = x >= 300 && x <= 319 && y >= 119 && y <= 199;
            const bool bottom = x >= 119 && x <= 319 && y >= 200 && y <= 219;
            ASSERT_EQ(frames.output.At(x, y) != kUntouched, right || bottom)
                << "at " << x << "," << y;
        }
    }
    EXPECT_TRUE(frames.output.GuardsIntact());
}

TEST_F(WorkedExample, IndicesOfTheTaperedEndsAndCorner) {
    Draw(2);
    struct Expectation {
        int firstColumn, lastColumn, row, firstIndex, indexStep;
    };
    const Expectation expectations[] = {
        {300, 318, 119, 20, 0}, {319, 319, 119, 19, 0},  // right band, first row
        {300, 313, 124, 15, 0}, {314, 314, 124, 14, 0},  // row 124: the diagonal
        {315, 319, 124, 15, 1},                          //
        {119, 119, 200, 20, 0}, {128, 128, 200, 11, 0},  // bottom band, first row
        {137, 137, 200, 2, 0},  {138, 300, 200, 0, 0},   //
        {301, 319, 200, 1, 1},                           // corner square
        {303, 303, 205, 5, 0},  {308, 308, 205, 8, 0},   // its rings
    };
    for (const Expectation& e : expectations) {
        for (int x = e.firstColumn; x <= e.lastColumn; ++x) {
            EXPECT_EQ(IndexAt(x, e.row), e.firstIndex + e.indexStep * (x - e.firstColumn))
                << "at " << x << "," << e.row;
        }
    }
}

TEST_F(WorkedExample, ShadowColourIsMixedIn) {
    frames.record.shadowColor = 0x000080FF;  // red 255, green 128, blue 0
    Draw(2);
    EXPECT_EQ(frames.output.At(300, 150), 0x00E59F59u);  // red 229, green 159, blue 89
}

// A generator seed whose first draw is `draw`.
std::uint32_t SeedForFirstDraw(std::int32_t draw) {
    std::uint32_t inverse = RandomStep::kMultiplier;  // Newton's iteration modulo 2^32
    for (int i = 0; i < 5; ++i) {
        inverse *= 2u - RandomStep::kMultiplier * inverse;
    }
    const std::uint32_t state = static_cast<std::uint32_t>(draw) << 16;
    return (state - RandomStep::kIncrement) * inverse;
}

TEST(RandomVariation, ExtremesOfTheWorkedExample) {
    const float u = ShadowStartLevel(45);
    EXPECT_EQ(VaryShadowLevel(u, 0), 0.366666645f);
    EXPECT_EQ(VaryShadowLevel(u, 16384), u);
    EXPECT_EQ(VaryShadowLevel(u, 32767), 0.533328235f);

    const float level19 = ShadowLevel(19, u, ShadowLevelStep(u, 20));
    EXPECT_LT(VaryShadowLevel(level19, 21790), 1.0f);
    for (std::int32_t draw = 21791; draw <= kRandomMaximum; ++draw) {
        ASSERT_EQ(VaryShadowLevel(level19, draw), 1.0f) << "draw " << draw;
    }
}

TEST(RandomVariation, ScaledRandIsExactAndMatchesTheLevelArithmetic) {
    FilterData record{};
    record.randScale = kRandomScale;
    for (std::int32_t draw : {0, 1, 16384, 21791, kRandomMaximum}) {
        SeedRandom(SeedForFirstDraw(draw));
        EXPECT_EQ(ScaledRand(100, record), draw * 100.0f / 32768.0f);
    }
    for (std::int32_t draw = 0; draw <= kRandomMaximum; ++draw) {
        const double r = ScaleDraw(draw, 100, kRandomScale);
        ASSERT_EQ(ShadowLevelVariation(draw), (50.0 - r) / 600.0) << "draw " << draw;
    }
}

class RandomStyleFirstPosition
    : public WorkedExample,
      public ::testing::WithParamInterface<std::pair<std::int32_t, std::uint32_t>> {};

// With style 3 (F = 7) the walk starts at the right band's last row, inner
// edge: pixel (300, 199), index 0.
TEST_P(RandomStyleFirstPosition, TakesTheFirstDraw) {
    const auto [draw, expected] = GetParam();
    SeedRandom(SeedForFirstDraw(draw));
    Draw(3);
    EXPECT_EQ(frames.output.At(300, 199), Grey(expected));
}

INSTANTIATE_TEST_SUITE_P(Draws, RandomStyleFirstPosition,
                         ::testing::Values(std::make_pair(0, 73u), std::make_pair(16384, 89u),
                                           std::make_pair(32767, 106u)));

TEST_F(WorkedExample, FixedShiftStylesStartTheBandsShiftIn) {
    Draw(4);
    EXPECT_EQ(frames.output.At(300, 105), kUntouched);
    EXPECT_NE(frames.output.At(300, 106), kUntouched);
    EXPECT_EQ(frames.output.At(105, 200), kUntouched);
    EXPECT_NE(frames.output.At(106, 200), kUntouched);
}

struct FlatCase {
    std::int32_t style;
    std::int32_t shift;
    int rightFirstRow;
    int bottomFirstColumn;
};

class FlatStyles : public WorkedExample, public ::testing::WithParamInterface<FlatCase> {};

TEST_P(FlatStyles, EveryBandPixelTakesTheStartLevel) {
    const FlatCase& c = GetParam();
    Draw(c.style, c.shift);
    for (int y = 0; y < frames.output.height(); ++y) {
        for (int x = 0; x < frames.output.width(); ++x) {
            const bool right = x >= 300 && x <= 319 && y >= c.rightFirstRow && y <= 199;
            const bool bottom = x >= c.bottomFirstColumn && x <= 319 && y >= 200 && y <= 219;
            ASSERT_EQ(frames.output.At(x, y), right || bottom ? Grey(89) : kUntouched)
                << "at " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Styles, FlatStyles,
                         ::testing::Values(FlatCase{0, 7, 119, 119},   // shift ignored
                                           FlatCase{5, 7, 106, 106},   //
                                           FlatCase{5, 0, 99, 99}));   // from the box's corner

TEST_F(WorkedExample, NegativeShiftAddsLeftAndTopBandsDarkestAtTheMask) {
    Draw(4, -20);  // F = -S, no border
    // Left band: the 20 columns left of maskLeft; top band: the 20 rows above maskTop.
    EXPECT_EQ(frames.output.At(99, 150), Grey(89));
    EXPECT_EQ(IndexAt(80, 150), 19);
    EXPECT_EQ(frames.output.At(79, 150), kUntouched);
    EXPECT_EQ(frames.output.At(150, 99), Grey(89));
    EXPECT_EQ(IndexAt(150, 80), 19);
    EXPECT_EQ(frames.output.At(150, 79), kUntouched);
    // The right band grows upward and the bottom band leftward by 20.
    EXPECT_NE(frames.output.At(300, 79), kUntouched);
    EXPECT_EQ(frames.output.At(300, 78), kUntouched);
    EXPECT_NE(frames.output.At(79, 200), kUntouched);
    EXPECT_EQ(frames.output.At(78, 200), kUntouched);
    // The mask itself is not shaded.
    EXPECT_EQ(frames.output.At(150, 150), kUntouched);
}

TEST_F(WorkedExample, ShiftOfAtLeastTheHeightLeavesOnlyTheBottomBand) {
    Draw(4, 101);
    for (int y = 0; y < 200; ++y) {
        for (int x = 300; x < 320; ++x) {
            ASSERT_EQ(frames.output.At(x, y), kUntouched);
        }
    }
    EXPECT_NE(frames.output.At(319, 210), kUntouched);
}

TEST(DropShadow, OverlappingBandsShowTheLaterLevelNotTheProduct) {
    TestFrames frames(40, 40);
    frames.source.FillWith(Grey(200));
    frames.output.FillWith(kUntouched);
    // Box (10, 10), 5 x 20, S 10, F -2: the left band reaches over the right one.
    DrawShadow(10, 10, 5, 20, 10, 4, 45, -2, 0, frames.activation);
    const float u = ShadowStartLevel(45);
    const float v = ShadowLevelStep(u, 10);
    // Column 15 is the right band's inner edge (index 0) and the left band's k = 3.
    EXPECT_EQ(frames.output.At(15, 25),
              Grey(static_cast<std::uint32_t>(200 * double(ShadowLevel(3, u, v)))));
}

struct PercentCase {
    std::int32_t style;
    std::int32_t percent;
    COLORREF colour;
    Pixel32 innerEdge;  // the pixel at (300, 150) after shading
    bool bandsUnchanged;
};

class ShadowPercent : public WorkedExample, public ::testing::WithParamInterface<PercentCase> {};

TEST_P(ShadowPercent, LevelsStayWithinZeroToOne) {
    const PercentCase& c = GetParam();
    frames.record.shadowColor = c.colour;
    frames.output.CopyPictureFrom(frames.source);
    DrawShadow(100, 100, 201, 101, 20, c.style, c.percent, 7, -1, frames.activation);
    EXPECT_EQ(frames.output.At(300, 150), c.innerEdge);
    if (c.bandsUnchanged) {
        EXPECT_TRUE(frames.output.SamePicture(frames.source));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Percents, ShadowPercent,
    ::testing::Values(PercentCase{2, 100, 0, Grey(200), true},
                      PercentCase{2, 100, 0x000080FF, Grey(200), true},
                      PercentCase{0, 100, 0x000080FF, Grey(200), true},
                      PercentCase{2, 0, 0, Grey(0), false},
                      PercentCase{2, 0, 0x000080FF, 0x00FF8000u, false},
                      PercentCase{5, 0, 0x000080FF, 0x00FF8000u, false},
                      // Outside 0..100 the level is held at the nearer end.
                      PercentCase{0, 300, 0x000080FF, Grey(200), true},
                      PercentCase{2, 250, 0, Grey(200), false},
                      PercentCase{0, -50, 0, Grey(0), false},
                      PercentCase{2, INT_MIN, 0x00FFFFFF, Grey(255), false},
                      PercentCase{4, INT_MAX, 0, Grey(200), true}));

TEST_F(WorkedExample, RandomVariationAtPercent100LiftsOnlyLowDraws) {
    frames.output.CopyPictureFrom(frames.source);
    SeedRandom(4242);
    DrawShadow(100, 100, 201, 101, 20, 1, 100, 7, -1, frames.activation);
    int lowered = 0;
    for (int y = 0; y < frames.output.height(); ++y) {
        for (int x = 0; x < frames.output.width(); ++x) {
            const Pixel32 pixel = frames.output.At(x, y);
            const std::uint32_t blue = pixel & 0xFF;
            ASSERT_EQ(pixel, Grey(blue));
            ASSERT_GE(blue, 183u);  // 200 * 11/12
            lowered += blue < 200;
        }
    }
    EXPECT_GT(lowered, 1000);
}

TEST(DropShadow, KeepsTheFourthByte) {
    TestFrames frames(60, 60);
    frames.source.FillWith(0x7FC8C8C8u);
    frames.output.CopyPictureFrom(frames.source);
    frames.record.shadowColor = 0x00102030;
    DrawShadow(10, 10, 20, 20, 8, 1, 45, 7, 0, frames.activation);
    EXPECT_EQ(frames.output.At(31, 20) >> 24, 0x7Fu);
    EXPECT_NE(frames.output.At(31, 20), frames.source.At(31, 20));
}

TEST(DropShadow, AreasNarrowerThanTwoDrawNothing) {
    for (const auto& [W, H] : {std::make_pair(1, 50), std::make_pair(50, 1),
                               std::make_pair(0, 50), std::make_pair(-40, 50),
                               std::make_pair(INT_MIN, INT_MAX)}) {
        TestFrames frames(60, 60);
        frames.output.FillWith(kUntouched);
        EXPECT_EQ(DrawShadow(5, 5, W, H, 10, 2, 45, 7, 0, frames.activation), 0);
        GuardedBitmap blank(60, 60);
        blank.FillWith(kUntouched);
        EXPECT_TRUE(frames.output.SamePicture(blank)) << W << " x " << H;
    }
}

// The renderer transcribed literally: every position of every band walked in
// order, its level worked out (drawing a random number where the style
// varies levels) before the position is tested against the frame.
void ReferenceShadow(std::int64_t x, std::int64_t y, std::int64_t W, std::int64_t H,
                     std::int64_t S, std::int32_t style, std::int32_t P, std::int64_t shift,
                     std::int64_t E, TestFrames& frames) {
    if (W < 2 || H < 2) {
        return;
    }
    const std::int64_t bx = x + E;
    const std::int64_t by = y + E;
    const std::int64_t F = style < 3 ? S : shift;
    const float u = static_cast<float>(P / 100.0);
    const float v = static_cast<float>((1.0 - u) / S);
    const bool gradient = style != 0 && style != 5;
    const bool random = style == 1 || style == 3;
    const COLORREF colour = frames.record.shadowColor;

    auto level = [&](std::int64_t i) {
        float m = gradient ? static_cast<float>(i * static_cast<double>(v) + u) : u;
        if (random) {
            const float r = static_cast<float>(NextRandom() * 100.0 / frames.record.randScale);
            m = static_cast<float>(m - (50.0 - r) / 600.0);
        }
        return m < 0 ? 0.0f : (m > 1 ? 1.0f : m);
    };
    auto shade = [&](std::int64_t X, std::int64_t Y, float m) {
        if (X < 0 || X >= frames.output.width() || Y < 0 || Y >= frames.output.height()) {
            return;
        }
        const Pixel32 s = frames.source.At(int(X), int(Y));
        Pixel32 d = frames.output.At(int(X), int(Y)) & 0xFF000000u;
        const std::uint32_t channels[3] = {(colour >> 16) & 0xFF, (colour >> 8) & 0xFF,
                                           colour & 0xFF};
        for (int byte = 0; byte < 3; ++byte) {
            std::uint32_t value = static_cast<std::uint32_t>(((s >> (8 * byte)) & 0xFF) * double(m));
            if (colour != 0) {
                value += static_cast<std::uint32_t>((1.0 - m) * channels[byte]);
            }
            d |= (value & 0xFF) << (8 * byte);
        }
        frames.output.Set(int(X), int(Y), d);
    };

    for (std::int64_t j = H - F - 1; j >= 0; --j) {  // right
        for (std::int64_t k = 0; k <= S - 1; ++k) {
            shade(bx + W + k, by + F + j, level(j + k < S - 1 ? S - j : k));
        }
    }
    for (std::int64_t j = S - 1; j >= 0; --j) {  // bottom
        for (std::int64_t k = 0; k <= W - F + S - 1; ++k) {
            std::int64_t i = j;
            if (k < S) {
                i = j + k < S - 1 ? S - k : j;
            } else if (k > W - F) {
                const std::int64_t c = k - (W - F);
                i = j < c ? c : j;
            }
            shade(bx + F + k, by + H + j, level(i));
        }
    }
    if (F >= 0) {
        return;
    }
    for (std::int64_t j = H - F - 1; j >= 0; --j) {  // left
        for (std::int64_t k = 0; k <= S - 1; ++k) {
            shade(bx + F + S - k, by + F + j, level(j + k < S - 1 ? S - j : k));
        }
    }
    for (std::int64_t j = S - 1; j >= 0; --j) {  // top
        for (std::int64_t k = 0; k <= W - F - S - 1; ++k) {
            shade(bx + F + S + k, by + F + 1 + j, level(S - 1 - j));
        }
    }
}

struct WalkCase {
    const char* name;
    std::int32_t x, y, W, H, S, style, P, shift, E;
    COLORREF colour;
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class ClippedWalk : public ::testing::TestWithParam<WalkCase> {};

// Only positions inside the frame are visited, yet every pixel, and the
// generator's state afterwards, must be what the full walk gives.
TEST_P(ClippedWalk, MatchesTheFullWalk) {
    const WalkCase& c = GetParam();
    TestFrames fast(48, 40);
    TestFrames reference(48, 40);
    for (TestFrames* frames : {&fast, &reference}) {
        frames->source.Fill([](int x, int y) {
            return static_cast<Pixel32>(0x3F000000u | ((x * 37 + y * 11) & 0xFF) << 16 |
                                        ((x * 5 + y * 29) & 0xFF) << 8 | ((x * y + 91) & 0xFF));
        });
        frames->output.CopyPictureFrom(frames->source);
        frames->record.shadowColor = c.colour;
    }
    SeedRandom(20261207u);
    EXPECT_EQ(DrawShadow(c.x, c.y, c.W, c.H, c.S, c.style, c.P, c.shift, c.E, fast.activation),
              c.W >= 2 && c.H >= 2 ? 1 : 0);
    const std::int32_t nextAfterFast = NextRandom();
    SeedRandom(20261207u);
    ReferenceShadow(c.x, c.y, c.W, c.H, c.S, c.style, c.P, c.shift, c.E, reference);
    const std::int32_t nextAfterReference = NextRandom();

    EXPECT_EQ(nextAfterFast, nextAfterReference) << "random sequence out of step";
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 48; ++x) {
            ASSERT_EQ(fast.output.At(x, y), reference.output.At(x, y)) << "at " << x << "," << y;
        }
    }
    EXPECT_TRUE(fast.output.GuardsIntact());
    EXPECT_FALSE(fast.output.SamePicture(fast.source)) << "the case should draw something";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClippedWalk,
    ::testing::Values(
        WalkCase{"InsideRandom", 5, 5, 20, 15, 8, 1, 45, 7, 0, 0},
        WalkCase{"OffRightEdge", 30, 4, 15, 20, 10, 3, 45, 3, 1, 0},
        WalkCase{"OffBottomEdge", 4, 25, 20, 15, 10, 1, 30, 7, 2, 0x00406080},
        WalkCase{"OffLeftEdgeNegativeShift", -12, 6, 20, 15, 9, 3, 45, -14, 0, 0},
        WalkCase{"OffTopEdgeNegativeShift", 8, -10, 20, 18, 9, 3, 60, -12, -1, 0},
        WalkCase{"OffEveryEdge", -8, -7, 45, 37, 12, 3, 45, -4, 3, 0x00FF00FF},
        WalkCase{"BandsWiderThanTheBox", 10, 10, 4, 5, 12, 3, 45, -3, 0, 0},
        WalkCase{"RightBandOnlyInFrame", -60, 5, 80, 20, 6, 1, 45, 7, -1, 0},
        WalkCase{"BottomBandOnlyInFrame", 4, -70, 20, 85, 6, 1, 45, 7, -1, 0},
        WalkCase{"GradientColour", 3, 3, 25, 20, 11, 2, 45, 7, 0, 0x000080FF},
        WalkCase{"GradientNegativeShift", 12, 12, 18, 14, 8, 4, 45, -5, -1, 0},
        WalkCase{"FlatNegativeShift", 12, 12, 18, 14, 8, 5, 20, -9, 2, 0x00123456},
        WalkCase{"WideGradientColour", -3, -3, 20, 15, 100, 4, 45, -90, 0, 0x00203040},
        WalkCase{"BigSizeOnTheFly", 2, 2, 20, 15, 1500, 3, 45, -1400, 0, 0},
        WalkCase{"BigSizeGradient", -3, -3, 20, 15, 2000, 4, 45, -1990, 0, 0}),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return std::string(info.param.name); });

TEST(DropShadow, ExtremeArgumentsStayInsideTheFrame) {
    const std::int32_t values[] = {INT_MIN, INT_MIN + 1, -1000000, -1, 0, 1, 7, 1000000,
                                   INT_MAX - 1, INT_MAX};
    TestFrames frames(32, 24);
    frames.source.FillWith(Grey(120));
    int drawn = 0;
    for (std::int32_t big : values) {
        // The value negated as 32-bit arithmetic wraps (INT_MIN stays).
        const std::int32_t flipped =
            static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(big));
        for (int style = 0; style < kShadowStyleCount; ++style) {
            const std::int32_t argumentSets[][9] = {
                {big, 4, 20, 10, 6, style, 45, 7, 0},
                {4, big, 20, 10, 6, style, 45, 7, 0},
                {4, 4, big, 10, 6, style, 45, 7, 0},
                {4, 4, 20, big, 6, style, 45, 7, 0},
                {4, 4, 20, 10, big, style, 45, 7, 0},
                {4, 4, 20, 10, 6, style, big, 7, 0},
                {4, 4, 20, 10, 6, style, 45, big, 0},
                {4, 4, 20, 10, 6, style, 45, 7, big},
                {big, big, big, big, big, style, big, big, big},
                {flipped, big, INT_MAX, INT_MAX, 30, style, 45, flipped, big},
            };
            for (const auto& a : argumentSets) {
                frames.output.CopyPictureFrom(frames.source);
                DrawShadow(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8],
                           frames.activation);
                ASSERT_TRUE(frames.output.GuardsIntact());
                drawn += !frames.output.SamePicture(frames.source);
            }
        }
    }
    EXPECT_GT(drawn, 100);
}

}  // namespace
