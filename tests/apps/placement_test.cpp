// Placement by anchor, margin and size, resolved against the main picture.
// Expected corners are worked out by hand in each row's comment: the
// overlay W x H at x, y has the mask x, y, x + W, y + H.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "apps/quillmere/plan/picture_shape.h"
#include "apps/quillmere/plan/placement.h"
#include "apps/quillmere/runner_error.h"

namespace {

constexpr double kWide = 16.0 / 9.0;

struct PlacementCase {
    const char* name;
    std::vector<std::string> position;  // {anchor or "", margin or "", size or ""}
    int mainWidth;
    int mainHeight;
    double aspect;
    MaskCorners expected;
};

PlacementRequest RequestOf(const std::vector<std::string>& parts) {
    PlacementRequest request;
    if (!parts[0].empty()) {
        request.anchor = ParseAnchor("--position", parts[0]);
    }
    if (!parts[1].empty()) {
        request.margin = ParsePlacementLength("--margin", parts[1]);
    }
    if (!parts[2].empty()) {
        ParsePlacementSize("--size", parts[2], request);
    }
    return request;
}

class Placement : public testing::TestWithParam<PlacementCase> {};

TEST_P(Placement, ResolvesToTheMask) {
    const PlacementCase& test = GetParam();
    const MaskCorners mask = ResolvePlacement(RequestOf(test.position), test.mainWidth,
                                              test.mainHeight, test.aspect);
    EXPECT_EQ(mask.left, test.expected.left);
    EXPECT_EQ(mask.top, test.expected.top);
    EXPECT_EQ(mask.right, test.expected.right);
    EXPECT_EQ(mask.bottom, test.expected.bottom);
}

// 200 x 100 with a margin of 10 on 1920 x 1080: the free space is 1720 x 980,
// halved 860 x 490.
const PlacementCase kPlacementCases[] = {
    {"TopLeft", {"top-left", "10", "200x100"}, 1920, 1080, kWide, {10, 10, 210, 110}},
    {"Top", {"top", "10", "200x100"}, 1920, 1080, kWide, {860, 10, 1060, 110}},
    {"TopRight", {"top-right", "10", "200x100"}, 1920, 1080, kWide, {1710, 10, 1910, 110}},
    {"Left", {"left", "10", "200x100"}, 1920, 1080, kWide, {10, 490, 210, 590}},
    {"Center", {"center", "10", "200x100"}, 1920, 1080, kWide, {860, 490, 1060, 590}},
    {"Right", {"right", "10", "200x100"}, 1920, 1080, kWide, {1710, 490, 1910, 590}},
    {"BottomLeft", {"bottom-left", "10", "200x100"}, 1920, 1080, kWide, {10, 970, 210, 1070}},
    {"Bottom", {"bottom", "10", "200x100"}, 1920, 1080, kWide, {860, 970, 1060, 1070}},
    {"BottomRight", {"bottom-right", "10", "200x100"}, 1920, 1080, kWide,
     {1710, 970, 1910, 1070}},
    // Default: 640 x 360 (a third of 1920, 16:9), margin 2% of 1920 = 38.4 -> 38.
    {"DefaultsOnFullHd", {"", "", ""}, 1920, 1080, kWide, {1242, 682, 1882, 1042}},
    // Margin 5% of the width = 96, on both axes.
    {"MarginPercentOfWidth", {"top-left", "5%", "200x100"}, 1920, 1080, kWide,
     {96, 96, 296, 196}},
    {"MarginZero", {"bottom-right", "0", "200x100"}, 1920, 1080, kWide,
     {1720, 980, 1920, 1080}},
    // 50% of the width = 960, aspect kept: 540.
    {"WidthPercentKeepsAspect", {"top-left", "0", "50%"}, 1920, 1080, kWide, {0, 0, 960, 540}},
    // 25% of the height = 270, aspect kept: 480.
    {"HeightPercentKeepsAspect", {"top-left", "0", "x25%"}, 1920, 1080, kWide, {0, 0, 480, 270}},
    // 300 wide: 300 / (16/9) = 168.75 -> 169.
    {"WidthPixelsRoundsHeight", {"top-left", "0", "300"}, 1920, 1080, kWide, {0, 0, 300, 169}},
    {"HeightPixels", {"top-left", "0", "x90"}, 1920, 1080, kWide, {0, 0, 160, 90}},
    // Both given in percent: 10% of 1920 and 10% of 1080; no aspect kept.
    {"BothPercent", {"top-left", "0", "10%x10%"}, 1920, 1080, kWide, {0, 0, 192, 108}},
    {"MixedPixelsAndPercent", {"top-left", "0", "100x50%"}, 1920, 1080, kWide, {0, 0, 100, 540}},
    // Odd main 641 x 361: a third is 213.67 -> 214, 214 / (16/9) = 120.375
    // -> 120, margin 12.82 -> 13: x = 641 - 13 - 214, y = 361 - 13 - 120.
    {"OddMainDefaults", {"", "", ""}, 641, 361, kWide, {414, 228, 628, 348}},
    // Centred: (641 - 214) / 2 = 213.5 -> 213, (361 - 120) / 2 = 120.5 -> 120.
    {"OddMainCentred", {"center", "", ""}, 641, 361, kWide, {213, 120, 427, 240}},
    // A 4:3 picture a third of 1920 wide: 640 x 480.
    {"FourThreeOverlay", {"", "", ""}, 1920, 1080, 4.0 / 3.0, {1242, 562, 1882, 1042}},
    // Larger than the frame, centred: it reaches out on both sides.
    {"LargerThanFrameCentred", {"center", "", "3000x2000"}, 1920, 1080, kWide,
     {-540, -460, 2460, 1540}},
};

INSTANTIATE_TEST_SUITE_P(Table, Placement, testing::ValuesIn(kPlacementCases),
                         [](const testing::TestParamInfo<PlacementCase>& info) {
                             return info.param.name;
                         });

// The default placement of overlays of every shape on 1920 x 1080: a third of
// the width (640) wide, 38 from the bottom-right edges, unless that is taller
// than the frame less both margins (1080 - 2 * 38 = 1004), when it is 1004 high.
struct DefaultShapeCase {
    const char* name;
    double aspect;
    MaskCorners expected;
};

class DefaultPlacement : public testing::TestWithParam<DefaultShapeCase> {};

TEST_P(DefaultPlacement, FitsInsideTheFrameKeepingTheAspect) {
    const DefaultShapeCase& test = GetParam();
    const MaskCorners mask = ResolvePlacement(PlacementRequest{}, 1920, 1080, test.aspect);
    EXPECT_EQ(mask.left, test.expected.left);
    EXPECT_EQ(mask.top, test.expected.top);
    EXPECT_EQ(mask.right, test.expected.right);
    EXPECT_EQ(mask.bottom, test.expected.bottom);
    EXPECT_GE(mask.left, 0);
    EXPECT_GE(mask.top, 0);
    EXPECT_LE(mask.right, 1920);
    EXPECT_LE(mask.bottom, 1080);
    // Only the rounding of one side to whole pixels may bend the shape.
    EXPECT_LE(std::abs(mask.width() - mask.height() * test.aspect), 0.5);
}

const DefaultShapeCase kDefaultShapes[] = {
    // 640 x 360.
    {"Landscape", 16.0 / 9.0, {1242, 682, 1882, 1042}},
    // 640 x 640, top 1080 - 38 - 640.
    {"Square", 1.0, {1242, 402, 1882, 1042}},
    // 640 wide would be 1137.8 high: 1004 high, 1004 * 9 / 16 = 564.75 -> 565.
    {"PortraitNineBySixteen", 9.0 / 16.0, {1317, 38, 1882, 1042}},
    // 1004 high, 1004 / 4 = 251 wide.
    {"VeryTall", 1.0 / 4.0, {1631, 38, 1882, 1042}},
};

INSTANTIATE_TEST_SUITE_P(Table, DefaultPlacement, testing::ValuesIn(kDefaultShapes),
                         [](const testing::TestParamInfo<DefaultShapeCase>& info) {
                             return info.param.name;
                         });

// The overlay's shape in main pixels, with sample aspect ratios on either side.
struct AspectCase {
    const char* name;
    PictureShape overlay;
    PictureShape main;
    double expected;
};

class AspectInMain : public testing::TestWithParam<AspectCase> {};

TEST_P(AspectInMain, AccountsForBothSampleAspects) {
    const AspectCase& test = GetParam();
    EXPECT_NEAR(AspectInMainPixels(test.overlay, test.main), test.expected, 1e-9);
}

const AspectCase kAspectCases[] = {
    {"SquarePixels", {640, 360, {1, 1}, false, {}}, {1920, 1080, {1, 1}, false, {}}, 16.0 / 9.0},
    // PAL 4:3 with 16:15 pixels: 720 * 16 / 15 / 576 = 4/3.
    {"AnamorphicOverlay", {720, 576, {16, 15}, false, {}}, {1920, 1080, {1, 1}, false, {}},
     4.0 / 3.0},
    // 16:9 seen on a main of 4:3 pixels (1440 x 1080 shown 1920 wide):
    // 16/9 / (4/3) = 4/3 in the main's pixels.
    {"AnamorphicMain", {640, 360, {1, 1}, false, {}}, {1440, 1080, {4, 3}, false, {}}, 4.0 / 3.0},
    {"BothAnamorphic", {720, 576, {64, 45}, false, {}}, {1440, 1080, {4, 3}, false, {}},
     (720.0 * 64 / 45 / 576) / (4.0 / 3.0)},
};

INSTANTIATE_TEST_SUITE_P(Table, AspectInMain, testing::ValuesIn(kAspectCases),
                         [](const testing::TestParamInfo<AspectCase>& info) {
                             return info.param.name;
                         });

TEST(PlacementOfAnamorphicOverlay, DefaultPlacementKeepsItsDisplayShape) {
    // 720 x 576 at 16:15 looks 4:3: a third of 1920 is 640 wide, 480 high.
    const PictureShape overlay{720, 576, {16, 15}, false, {}};
    const PictureShape main{1920, 1080, {1, 1}, false, {}};
    const MaskCorners mask =
        ResolvePlacement(PlacementRequest{}, 1920, 1080, AspectInMainPixels(overlay, main));
    EXPECT_EQ(mask.width(), 640);
    EXPECT_EQ(mask.height(), 480);
}

struct NothingCase {
    const char* name;
    MaskCorners mask;
    const char* reason;  // a part of the reason given
};

class MaskDrawingNothing : public testing::TestWithParam<NothingCase> {};

TEST_P(MaskDrawingNothing, IsRecognisedWithItsReason) {
    const std::string reason = WhyMaskDrawsNothing(GetParam().mask, 320, 240);
    EXPECT_NE(reason.find(GetParam().reason), std::string::npos) << reason;
}

const NothingCase kNothingCases[] = {
    {"ZeroWidth", {10, 10, 10, 50}, "empty (R equals L)"},
    {"ZeroHeight", {10, 10, 50, 10}, "empty (B equals T)"},
    {"InvertedAcross", {50, 10, 10, 50}, "inverted (R is left of L)"},
    {"InvertedDown", {10, 50, 50, 10}, "inverted (B is above T)"},
    {"LeftOfFrame", {-100, 10, 0, 50}, "wholly outside the 320x240 frame"},
    {"RightOfFrame", {320, 10, 400, 50}, "wholly outside"},
    {"AboveFrame", {10, -60, 50, 0}, "wholly outside"},
    {"BelowFrame", {10, 240, 50, 300}, "wholly outside"},
};

INSTANTIATE_TEST_SUITE_P(Table, MaskDrawingNothing, testing::ValuesIn(kNothingCases),
                         [](const testing::TestParamInfo<NothingCase>& info) {
                             return info.param.name;
                         });

TEST(MaskDrawingSomething, PartlyOnTheFrameIsAccepted) {
    for (const MaskCorners& mask :
         {MaskCorners{-10, -10, 1, 1}, MaskCorners{319, 239, 400, 400}, MaskCorners{0, 0, 320, 240}}) {
        EXPECT_EQ(WhyMaskDrawsNothing(mask, 320, 240), "");
    }
}

struct BadValueCase {
    const char* name;
    const char* option;
    const char* text;
};

class BadPlacementValue : public testing::TestWithParam<BadValueCase> {};

TEST_P(BadPlacementValue, IsAUsageErrorNamingTheOption) {
    const BadValueCase& test = GetParam();
    PlacementRequest request;
    try {
        const std::string option = test.option;
        if (option == "--position") {
            ParseAnchor(option, test.text);
        } else if (option == "--margin") {
            ParsePlacementLength(option, test.text);
        } else {
            ParsePlacementSize(option, test.text, request);
        }
        FAIL() << "accepted";
    } catch (const UsageError& error) {
        EXPECT_NE(std::string(error.what()).find(test.option), std::string::npos) << error.what();
    }
}

const BadValueCase kBadValues[] = {
    {"UnknownAnchor", "--position", "middle"},
    {"NegativeMargin", "--margin", "-5"},
    {"MarginWithUnit", "--margin", "5px"},
    {"EmptySize", "--size", "x"},
    {"ZeroWidth", "--size", "0"},
    {"ZeroHeight", "--size", "x0%"},
    {"SizeWord", "--size", "big"},
    {"SizeTwoCrosses", "--size", "10x10x10"},
};

INSTANTIATE_TEST_SUITE_P(Table, BadPlacementValue, testing::ValuesIn(kBadValues),
                         [](const testing::TestParamInfo<BadValueCase>& info) {
                             return info.param.name;
                         });

}  // namespace
