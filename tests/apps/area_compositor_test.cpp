// The runner converts only the part of a frame the filter can change and
// runs the filter on a bitmap of that part with the mask moved. Whatever
// the settings, the result must be what the filter makes when it is handed
// the whole frame, pixel for pixel, and nothing outside that part may move.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "apps/quillmere/pipeline/area_compositor.h"
#include "apps/quillmere/overlay/filter_host.h"
#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/media/frame_picture.h"
#include "apps/quillmere/run/synthetic_clip.h"
#include "render/changed_area.h"
#include "filter/filter_data.h"
#include "render/random_generator.h"
#include "tests/apps/runner_harness.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr long kFrames = 5;
constexpr std::uint32_t kSeed = 20261207u;

struct AreaCase {
    const char* name;
    std::int32_t left, top, right, bottom;
    bool overlay;
    std::function<void(FilterData&)> tune;
};

void Shadow(FilterData& settings, int style, int size, int shift) {
    settings.shadowOn = 1;
    settings.shadowType = style;
    settings.shadowSize = size;
    settings.shadowShift = shift;
}

void Border(FilterData& settings, int size) {
    settings.borderOn = 1;
    settings.borderSize = size;
    settings.borderColor = 0x3366CC;
}

const AreaCase kAreaCases[] = {
    {"CopyWithBorder", 20, 10, 83, 57, true, [](FilterData& s) { Border(s, 2); }},
    {"FlatShadowStyle0", 30, 20, 109, 79, true, [](FilterData& s) { Shadow(s, 0, 12, 5); }},
    {"RandomShadowStyle1", 30, 20, 109, 79, true,
     [](FilterData& s) { Shadow(s, 1, 12, 5); s.fitToFrame = 1; }},
    {"GradientStyle2Bilinear", 30, 20, 109, 79, true,
     [](FilterData& s) { Shadow(s, 2, 14, 5); s.fitToFrame = 1; s.bilinear = 1; }},
    {"RandomFixedStyle3NegativeShift", 40, 30, 109, 79, true,
     [](FilterData& s) { Shadow(s, 3, 10, -6); Border(s, 3); s.fitToFrame = 1; }},
    {"GradientFixedStyle4", 40, 30, 109, 79, true,
     [](FilterData& s) { Shadow(s, 4, 10, 4); s.fitToFrame = 1; }},
    {"FlatFixedStyle5NegativeShift", 40, 30, 109, 79, true,
     [](FilterData& s) { Shadow(s, 5, 12, -12); s.shadowColor = 0x0000FF; }},
    {"OffLeftEdge", -30, 20, 40, 70, true,
     [](FilterData& s) { Shadow(s, 3, 10, -4); Border(s, 2); s.fitToFrame = 1; }},
    {"OffTopEdge", 50, -40, 120, 30, true,
     [](FilterData& s) { Shadow(s, 1, 10, 0); s.fitToFrame = 1; s.bilinear = 1; }},
    {"OffRightEdge", 130, 20, 220, 90, true, [](FilterData& s) { Shadow(s, 2, 20, 0); }},
    {"OffBottomEdge", 10, 100, 90, 160, true,
     [](FilterData& s) { Shadow(s, 4, 16, 6); Border(s, 1); s.fitToFrame = 1; }},
    {"ShadowOnlyInsideFrame", 150, 110, 400, 300, true, [](FilterData& s) { Shadow(s, 1, 25, 3); }},
    {"WhollyOffTheFrame", 500, 500, 600, 600, true,
     [](FilterData& s) { Shadow(s, 1, 10, 3); Border(s, 2); }},
    {"CoveringTheFrame", -1000000, -1000000, 1000000, 1000000, true,
     [](FilterData& s) { Shadow(s, 3, 8, -3); s.fitToFrame = 1; }},
    {"ExtremeCorners", INT_MIN, INT_MIN, INT_MAX, INT_MAX, true,
     [](FilterData& s) { Shadow(s, 1, 8, 2); Border(s, 1); }},
    {"RightCornerWrapsAround", 100, 10, INT_MIN + 50, 60, true,
     [](FilterData& s) { Shadow(s, 1, 8, 2); Border(s, 1); }},
    {"InvertedCorners", 100, 90, 20, 10, true, [](FilterData& s) { Border(s, 2); }},
    {"PlaceholderWithoutOverlay", 25, 25, 85, 65, false,
     [](FilterData& s) { Shadow(s, 3, 10, 3); Border(s, 2); }},
    {"RangeLeavesOtherFramesAlone", 20, 20, 90, 80, true,
     [](FilterData& s) {
         Shadow(s, 1, 10, 3);
         s.useFrameRange = 1;
         s.rangeStart = 1;
         s.rangeEnd = 3;
     }},
};

FilterData SettingsOf(const AreaCase& test) {
    FilterData settings = DialogDefaultSettings();
    settings.maskLeft = test.left;
    settings.maskTop = test.top;
    settings.maskRight = test.right;
    settings.maskBottom = test.bottom;
    settings.borderOn = 0;
    settings.shadowOn = 0;
    test.tune(settings);
    return settings;
}

class AreaEquivalence : public testing::TestWithParam<AreaCase> {
protected:
    static void SetUpTestSuite() { TestClips(); }
};

TEST_P(AreaEquivalence, EqualsTheWholeFrameRunAndLeavesTheRestAlone) {
    const AreaCase& test = GetParam();
    const OverlaySetup setup{SettingsOf(test), test.overlay ? Clip("overlay.avi") : "", ""};
    FilterModuleSession module;

    // The filter handed whole frames, as a host would.
    std::vector<Picture> inputs;
    std::vector<Picture> expected;
    {
        SyntheticClip clip(kWidth, kHeight, kFrames, AVRational{25, 1}, ClipPattern::Landscape);
        OverlayFilter filter(module, setup);
        ProcessingPass pass(filter.instance(), kWidth, kHeight);
        SeedRandom(kSeed);
        FramePtr frame = NewFrame();
        long number = 0;
        while (clip.Next(*frame, number)) {
            Picture picture = PictureOfFrame(*frame);
            inputs.push_back(picture);
            pass.LoadSource(reinterpret_cast<const Pixel32*>(picture.top()),
                            picture.topDownStride());
            pass.RunFrame(number);
            pass.StoreOutput(reinterpret_cast<Pixel32*>(picture.top()), picture.topDownStride());
            expected.push_back(picture);
            av_frame_unref(frame.get());
        }
    }

    SyntheticClip clip(kWidth, kHeight, kFrames, AVRational{25, 1}, ClipPattern::Landscape);
    OverlayFilter filter(module, setup);
    PictureRect area;
    {
        AreaCompositor compositor(filter.instance(), clip.format());
        compositor.Start();
        SeedRandom(kSeed);
        area = compositor.area();
        FramePtr frame = NewFrame();
        long number = 0;
        while (clip.Next(*frame, number)) {
            compositor.Composite(*frame, number);
            const Picture result = PictureOfFrame(*frame);
            std::string where;
            EXPECT_TRUE(SameColors(result, expected[static_cast<std::size_t>(number)], where))
                << "frame " << number << ": " << where;
            // Outside the area, the frame is the input.
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    const bool inside = x >= area.x && x < area.x + area.width && y >= area.y &&
                                        y < area.y + area.height;
                    if (!inside) {
                        const auto* in = reinterpret_cast<const std::uint32_t*>(
                            inputs[static_cast<std::size_t>(number)].row(y));
                        const auto* out = reinterpret_cast<const std::uint32_t*>(result.row(y));
                        ASSERT_EQ(in[x] & 0xFFFFFFu, out[x] & 0xFFFFFFu)
                            << "frame " << number << " pixel (" << x << ", " << y << ")";
                    }
                }
            }
            av_frame_unref(frame.get());
        }
    }
    // The instance gets its own mask back.
    const FilterData& record = filter.record();
    EXPECT_EQ(record.maskLeft, test.left);
    EXPECT_EQ(record.maskTop, test.top);
    EXPECT_EQ(record.maskRight, test.right);
    EXPECT_EQ(record.maskBottom, test.bottom);
}

INSTANTIATE_TEST_SUITE_P(Settings, AreaEquivalence, testing::ValuesIn(kAreaCases),
                         [](const testing::TestParamInfo<AreaCase>& info) {
                             return info.param.name;
                         });

// The area, worked out here from the drawing's geometry: the border around
// the mask and the shadow's L of bands to its right and below.
struct AreaExpectation {
    const char* name;
    std::int32_t left, top, right, bottom;
    int border, shadowSize, shadowShift;
    PictureRect area;
};

const AreaExpectation kAreaExpectations[] = {
    // Mask 40..98 x 30..68 (w60 h40 as corners), border 3: 37..101 x 27..71.
    // Shadow bands from column/row corner + border on, 10 wide: to 111 x 81.
    {"BorderAndShadow", 40, 30, 99, 69, 3, 10, 4, {37, 27, 112 - 37, 82 - 27}},
    {"MaskOnly", 10, 20, 50, 60, 0, 0, 0, {10, 20, 40, 40}},
    {"NegativeShiftReachesUpAndLeft", 40, 30, 99, 69, 0, 10, -6, {40 - 1 - 6, 30 - 1 - 6, 0, 0}},
    {"ClippedAtTheFrame", -10, -10, 200, 200, 2, 5, 2, {0, 0, kWidth, kHeight}},
};

TEST(ChangedAreaTest, HoldsBorderAndShadowBands) {
    for (const AreaExpectation& test : kAreaExpectations) {
        FilterData settings = DialogDefaultSettings();
        settings.maskLeft = test.left;
        settings.maskTop = test.top;
        settings.maskRight = test.right;
        settings.maskBottom = test.bottom;
        settings.borderOn = test.border > 0 ? 1 : 0;
        settings.borderSize = test.border;
        settings.shadowOn = test.shadowSize > 0 ? 1 : 0;
        settings.shadowType = 4;  // fixed shift
        settings.shadowSize = test.shadowSize;
        settings.shadowShift = test.shadowShift;
        const ChangedArea area = ChangedAreaOf(settings, kWidth, kHeight);
        EXPECT_EQ(area.left, test.area.x) << test.name;
        EXPECT_EQ(area.top, test.area.y) << test.name;
        if (test.area.width > 0) {
            EXPECT_EQ(area.right, test.area.x + test.area.width) << test.name;
            EXPECT_EQ(area.bottom, test.area.y + test.area.height) << test.name;
        }
    }
}

}  // namespace
