// The runner converts only the part of a frame the filter can change and
// runs the filter on a bitmap of that part with the mask moved; where an
// opaque overlay replaces the mask's inside, it converts only the bands
// around it. Whatever the settings, the result must be what the filter
// makes when it is handed the whole frame, pixel for pixel, and nothing
// outside that part may move.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <functional>
#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "apps/quillmere/pipeline/area_compositor.h"
#include "apps/quillmere/overlay/filter_host.h"
#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/media/frame_picture.h"
#include "apps/quillmere/run/synthetic_clip.h"
#include "hostkit/blending_bitmap_operations.h"
#include "render/changed_area.h"
#include "filter/filter_data.h"
#include "render/random_generator.h"
#include "tests/apps/runner_harness.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr long kFrames = 5;
constexpr std::uint32_t kSeed = 20261207u;

// Which overlay a case lays in.
enum class Overlay {
    None,     // the black placeholder
    Opaque,   // overlay.avi, 64 x 48, copied
    Alpha,    // a 64 x 48 overlay with graded alpha, blended by it
    Faded,    // overlay.avi at 60% opacity
};

// Whether the mask's inside goes unconverted on a case's frames.
enum class Inside {
    Converted,
    Skipped,
    // Expected to be replaced (the overlay's size is misreported to the
    // compositor), but not: every frame must be run again with it converted.
    SkippedWrongly,
};

struct AreaCase {
    const char* name;
    std::int32_t left, top, right, bottom;
    Overlay overlay;
    std::function<void(FilterData&)> tune;
    Inside inside = Inside::Converted;
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
    {"CopyWithBorder", 20, 10, 83, 57, Overlay::Opaque, [](FilterData& s) { Border(s, 2); },
     Inside::Skipped},
    {"FlatShadowStyle0", 30, 20, 109, 79, Overlay::Opaque, [](FilterData& s) { Shadow(s, 0, 12, 5); }},
    {"RandomShadowStyle1", 30, 20, 109, 79, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 12, 5); s.fitToFrame = 1; }, Inside::Skipped},
    {"GradientStyle2Bilinear", 30, 20, 109, 79, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 2, 14, 5); s.fitToFrame = 1; s.bilinear = 1; }, Inside::Skipped},
    {"RandomFixedStyle3NegativeShift", 40, 30, 109, 79, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 3, 10, -6); Border(s, 3); s.fitToFrame = 1; }, Inside::Skipped},
    {"GradientFixedStyle4", 40, 30, 109, 79, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 4, 10, 4); s.fitToFrame = 1; }, Inside::Skipped},
    {"FlatFixedStyle5NegativeShift", 40, 30, 109, 79, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 5, 12, -12); s.shadowColor = 0x0000FF; }},
    {"OffLeftEdge", -30, 20, 40, 70, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 3, 10, -4); Border(s, 2); s.fitToFrame = 1; }, Inside::Skipped},
    {"OffTopEdge", 50, -40, 120, 30, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 10, 0); s.fitToFrame = 1; s.bilinear = 1; }, Inside::Skipped},
    {"OffRightEdge", 130, 20, 220, 90, Overlay::Opaque, [](FilterData& s) { Shadow(s, 2, 20, 0); }},
    {"OffBottomEdge", 10, 100, 90, 160, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 4, 16, 6); Border(s, 1); s.fitToFrame = 1; }, Inside::Skipped},
    {"ShadowOnlyInsideFrame", 150, 110, 400, 300, Overlay::Opaque, [](FilterData& s) { Shadow(s, 1, 25, 3); }},
    {"WhollyOffTheFrame", 500, 500, 600, 600, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 10, 3); Border(s, 2); }},
    {"CoveringTheFrame", -1000000, -1000000, 1000000, 1000000, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 3, 8, -3); s.fitToFrame = 1; }, Inside::Skipped},
    {"ExtremeCorners", INT_MIN, INT_MIN, INT_MAX, INT_MAX, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 8, 2); Border(s, 1); }},
    {"RightCornerWrapsAround", 100, 10, INT_MIN + 50, 60, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 8, 2); Border(s, 1); }},
    {"InvertedCorners", 100, 90, 20, 10, Overlay::Opaque, [](FilterData& s) { Border(s, 2); }},
    {"PlaceholderWithoutOverlay", 25, 25, 85, 65, Overlay::None,
     [](FilterData& s) { Shadow(s, 3, 10, 3); Border(s, 2); }, Inside::Skipped},
    {"RangeLeavesOtherFramesAlone", 20, 20, 90, 80, Overlay::Opaque,
     [](FilterData& s) {
         Shadow(s, 1, 10, 3);
         s.useFrameRange = 1;
         s.rangeStart = 1;
         s.rangeEnd = 3;
     }},
    // The overlay is 64 x 48, as large as the mask "30,20,w64,h48".
    {"OneToOneAsLarge", 30, 20, 94, 68, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 9, 4); Border(s, 2); }, Inside::Skipped},
    {"OneToOneLargerThanTheMask", 31, 21, 70, 50, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 3, 8, -5); }, Inside::Skipped},
    {"OneToOneSmallerThanTheMask", 30, 20, 130, 100, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 9, 4); Border(s, 1); }},
    {"OneToOneSmallerMisreported", 30, 20, 130, 100, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 9, 4); Border(s, 1); }, Inside::SkippedWrongly},
    {"StretchedWithAlpha", 30, 20, 109, 79, Overlay::Alpha,
     [](FilterData& s) { Shadow(s, 1, 12, 5); s.fitToFrame = 1; s.bilinear = 1; }},
    {"OneToOneWithAlpha", 30, 20, 94, 68, Overlay::Alpha, [](FilterData& s) { Border(s, 2); }},
    {"StretchedAtOpacity", 30, 20, 109, 79, Overlay::Faded,
     [](FilterData& s) { Shadow(s, 3, 10, -4); Border(s, 2); s.fitToFrame = 1; }},
    // Overlay frames 9 to 11 show on frames 0 to 2; the later ones have none.
    {"OverlayRunsOutShowingTheMain", 30, 20, 109, 79, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 12, 5); s.fitToFrame = 1; s.frameOffset = 9; s.maintainBlack = 0; },
     Inside::Skipped},
    {"OverlayRunsOutShowingBlack", 30, 20, 109, 79, Overlay::Opaque,
     [](FilterData& s) { Shadow(s, 1, 12, 5); s.fitToFrame = 1; s.frameOffset = 9; s.maintainBlack = 1; },
     Inside::Skipped},
};

void PrintTo(const AreaCase& test, std::ostream* os) { *os << test.name; }

// The dialog's defaults with the mask at left, top, right, bottom, and
// neither border nor shadow.
FilterData MaskOnly(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
    FilterData settings = DialogDefaultSettings();
    settings.maskLeft = left;
    settings.maskTop = top;
    settings.maskRight = right;
    settings.maskBottom = bottom;
    settings.borderOn = 0;
    settings.shadowOn = 0;
    return settings;
}

FilterData SettingsOf(const AreaCase& test) {
    FilterData settings = MaskOnly(test.left, test.top, test.right, test.bottom);
    test.tune(settings);
    return settings;
}

// A 64 x 48 overlay whose alpha grows from transparent at the left to
// opaque at the right, over changing colours.
std::string AlphaOverlayClip() {
    static const ScratchFolder folder;
    static const std::string path = [] {
        const std::string made = folder / "alpha.mov";
        RunFfmpeg("-f lavfi -i \"testsrc2=s=64x48:r=25:d=0.48,format=rgba,geq=r='r(X,Y)':"
                  "g='g(X,Y)':b='b(X,Y)':a='X*4'\" -c:v png '" + made + "'");
        return made;
    }();
    return path;
}

std::string OverlayPath(Overlay overlay) {
    switch (overlay) {
    case Overlay::None:
        return "";
    case Overlay::Alpha:
        return AlphaOverlayClip();
    case Overlay::Opaque:
    case Overlay::Faded:
        break;
    }
    return Clip("overlay.avi");
}

std::optional<BlendingBitmapOperations> BlendOf(Overlay overlay) {
    constexpr int kOpacityPercent = 60;
    BlendSettings blend;
    switch (overlay) {
    case Overlay::Alpha:
        return BlendingBitmapOperations(blend);
    case Overlay::Faded:
        blend.useSourceAlpha = false;
        blend.opacity = OpacityFromPercent(kOpacityPercent);
        return BlendingBitmapOperations(blend);
    case Overlay::None:
    case Overlay::Opaque:
        break;
    }
    return std::nullopt;
}

class AreaEquivalence : public testing::TestWithParam<AreaCase> {
protected:
    static void SetUpTestSuite() { TestClips(); }
};

TEST_P(AreaEquivalence, EqualsTheWholeFrameRunAndLeavesTheRestAlone) {
    const AreaCase& test = GetParam();
    const OverlaySetup setup{SettingsOf(test), OverlayPath(test.overlay), ""};
    const std::optional<BlendingBitmapOperations> blend = BlendOf(test.overlay);
    const VBitmapOperations* operations = blend ? &blend->table : nullptr;
    // Below full opacity the overlay goes over the video, not the border.
    const bool overVideo = test.overlay == Overlay::Faded;
    FilterModuleSession module;

    // The filter handed whole frames, as a host would.
    std::vector<Picture> inputs;
    std::vector<Picture> expected;
    {
        SyntheticClip clip(kWidth, kHeight, kFrames, AVRational{25, 1}, ClipPattern::Landscape);
        OverlayFilter filter(module, setup);
        ProcessingPass pass(filter.instance(), kWidth, kHeight);
        FilterActivation& activation = filter.instance().activation();
        const OverVideoOperations wholeFrameOverVideo(operations, &activation.src->bitmap);
        if (overVideo) {
            activation.dst->bitmap.operations = &wholeFrameOverVideo.table;
        } else if (operations != nullptr) {
            activation.dst->bitmap.operations = operations;
        }
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
    if (test.inside == Inside::SkippedWrongly) {
        filter.record().overlayWidth = INT_MAX;
        filter.record().overlayHeight = INT_MAX;
    }
    PictureRect area;
    {
        AreaCompositor compositor(filter.instance(), clip.format());
        compositor.Start(operations, 1, false, overVideo);
        EXPECT_EQ(!compositor.skippedInside().empty(), test.inside != Inside::Converted);
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

// A frame whose buffers the decoder still holds is copied before it is
// written; where the overlay replaces the mask's inside, the copy leaves the
// inside's colour samples out, and the write-back must fill every one of
// them. So a shared frame must come out as a writable one does, every plane
// byte for byte (alpha planes, which the write-back leaves alone, kept).
struct SharedFrameCase {
    const char* name;
    AVPixelFormat format;
    // The mask, filled black (no overlay), without border or shadow: every
    // sample around it stays as it was, so none may be left out of the copy.
    std::int32_t left, top, right, bottom;
};

void PrintTo(const SharedFrameCase& test, std::ostream* os) { *os << test.name; }

const SharedFrameCase kSharedFrameCases[] = {
    {"Yuv420OddMask", AV_PIX_FMT_YUV420P, 31, 21, 100, 77},
    {"Yuv420WithAlpha", AV_PIX_FMT_YUVA420P, 30, 20, 101, 80},
    {"Yuv422TenBit", AV_PIX_FMT_YUV422P10LE, 11, 9, 150, 60},
    {"Yuv411ToTheRightEdge", AV_PIX_FMT_YUV411P, 50, 40, 170, 90},
    {"PlanarRgb", AV_PIX_FMT_GBRP, 0, 0, 70, 119},
    {"Gray", AV_PIX_FMT_GRAY8, 20, 30, 60, 90},
    {"PackedWithAlpha", AV_PIX_FMT_BGRA, 20, 30, 60, 90},
};

class SharedFrames : public testing::TestWithParam<SharedFrameCase> {};

TEST_P(SharedFrames, ComeOutAsWritableOnesDo) {
    const SharedFrameCase& test = GetParam();
    FramePtr input = NewFrame();
    input->format = test.format;
    input->width = kWidth;
    input->height = kHeight;
    ASSERT_GE(av_frame_get_buffer(input.get(), 0), 0);
    std::mt19937 random(3);
    for (int plane = 0; plane < 4 && input->buf[plane] != nullptr; ++plane) {
        for (std::size_t i = 0; i < input->buf[plane]->size; ++i) {
            // Ten-bit samples keep within their depth.
            input->buf[plane]->data[i] = static_cast<std::uint8_t>(random() & 0x3F);
        }
    }
    VideoFormat format;
    format.width = kWidth;
    format.height = kHeight;
    format.pixelFormat = test.format;

    const FilterData settings = MaskOnly(test.left, test.top, test.right, test.bottom);
    FilterModuleSession module;
    const auto composite = [&](bool shared) {
        OverlayFilter filter(module, OverlaySetup{settings, "", ""});
        AreaCompositor compositor(filter.instance(), format);
        FramePtr frame = NewFrame();
        FramePtr holder = NewFrame();
        if (shared) {
            EXPECT_GE(av_frame_ref(frame.get(), input.get()), 0);
            EXPECT_GE(av_frame_ref(holder.get(), input.get()), 0);
        } else {
            frame->format = test.format;
            frame->width = kWidth;
            frame->height = kHeight;
            EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
            EXPECT_GE(av_frame_copy(frame.get(), input.get()), 0);
        }
        compositor.Composite(*frame, 0);
        EXPECT_FALSE(compositor.skippedInside().empty());
        FramePtr result = NewFrame();
        EXPECT_GE(av_frame_ref(result.get(), frame.get()), 0);
        return result;
    };
    const FramePtr expected = composite(false);
    const FramePtr result = composite(true);
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(test.format);
    for (int plane = 0; plane < av_pix_fmt_count_planes(test.format); ++plane) {
        const bool chroma = (layout->flags & AV_PIX_FMT_FLAG_RGB) == 0 && (plane == 1 || plane == 2);
        const int rows = chroma ? AV_CEIL_RSHIFT(kHeight, layout->log2_chroma_h) : kHeight;
        const int bytes = av_image_get_linesize(test.format, kWidth, plane);
        for (int y = 0; y < rows; ++y) {
            ASSERT_EQ(std::memcmp(result->data[plane] + y * result->linesize[plane],
                                  expected->data[plane] + y * expected->linesize[plane],
                                  static_cast<std::size_t>(bytes)),
                      0)
                << "plane " << plane << " row " << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SharedFrames, testing::ValuesIn(kSharedFrameCases),
                         [](const testing::TestParamInfo<SharedFrameCase>& info) {
                             return info.param.name;
                         });

// One spare frame stands in for shared frames in turn: each comes out with
// its own side data and metadata, not with those of the frames before it.
TEST(SharedFrames, EachKeepsItsOwnSideDataAndMetadata) {
    FramePtr input = NewFrame();
    input->format = AV_PIX_FMT_YUV420P;
    input->width = kWidth;
    input->height = kHeight;
    ASSERT_GE(av_frame_get_buffer(input.get(), 0), 0);
    VideoFormat format;
    format.width = kWidth;
    format.height = kHeight;
    format.pixelFormat = AV_PIX_FMT_YUV420P;
    const FilterData settings = MaskOnly(30, 20, 100, 80);
    FilterModuleSession module;
    OverlayFilter filter(module, OverlaySetup{settings, "", ""});
    AreaCompositor compositor(filter.instance(), format);
    for (int number = 0; number < 3; ++number) {
        FramePtr frame = NewFrame();
        ASSERT_GE(av_frame_ref(frame.get(), input.get()), 0);
        AVFrameSideData* data =
            av_frame_new_side_data(frame.get(), AV_FRAME_DATA_SEI_UNREGISTERED, 17);
        ASSERT_NE(data, nullptr);
        data->data[0] = static_cast<std::uint8_t>(number);
        av_dict_set(&frame->metadata, ("frame" + std::to_string(number)).c_str(), "kept", 0);
        compositor.Composite(*frame, number);
        ASSERT_EQ(frame->nb_side_data, 1) << "frame " << number;
        EXPECT_EQ(frame->side_data[0]->data[0], number);
        EXPECT_EQ(av_dict_count(frame->metadata), 1) << "frame " << number;
    }
}

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
