// Overlay frames from real files through the run procedure, as the host runs
// it: which overlay frame each output frame shows (offset, repeat, reverse,
// frame range, black picture, the retry at the start of the cycle), and how
// it lands in the mask (copied, nearest, bilinear, 24 and 32 bits).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "filter/filter_data.h"
#include "filter/module_entry.h"
#include "hostkit/host_services.h"
#include "hostkit/processing_driver.h"
#include "source/handle_registry.h"
#include "source/overlay_source.h"
#include "tests/source/test_clips.h"

namespace {

constexpr int kFrameWidth = 400;
constexpr int kFrameHeight = 300;
constexpr Pixel32 kSourceGray = 0x00808080;
constexpr int kMaskLeft = 20;
constexpr int kMaskTop = 30;

// What the mask shows after a run.
constexpr int kShowsSource = -10;
constexpr int kShowsBlack = -11;

int Luma(Pixel32 pixel) {
    return (static_cast<int>(pixel & 0xFF) * 29 + static_cast<int>((pixel >> 8) & 0xFF) * 150 +
            static_cast<int>((pixel >> 16) & 0xFF) * 77) >> 8;
}

class OverlayFramesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        int version = 0;
        int compatible = 0;
        ASSERT_EQ(VirtualdubFilterModuleInit2(&module_, &HostFilterFunctions(), version, compatible),
                  0);
    }
    static void TearDownTestSuite() {
        VirtualdubFilterModuleDeinit(&module_, &HostFilterFunctions());
    }

    void Open(const std::string& path) {
        OpenOverlayFile(path.c_str(), record());
        ASSERT_NE(record().frameGetter, nullptr) << path;
        record().maskLeft = kMaskLeft;
        record().maskTop = kMaskTop;
        record().maskRight = kMaskLeft + kClipWidth;
        record().maskBottom = kMaskTop + kClipHeight;
    }

    FilterData& record() { return instance_.recordAs<FilterData>(); }

    // Runs output frame `frame` over a gray source frame and returns the
    // output, top-down.
    std::vector<Pixel32> Run(long frame) {
        ProcessingPass pass(instance_, kFrameWidth, kFrameHeight);
        const std::vector<Pixel32> gray(kFrameWidth * kFrameHeight, kSourceGray);
        pass.LoadSource(gray.data());
        pass.RunFrame(frame);
        std::vector<Pixel32> output(kFrameWidth * kFrameHeight);
        pass.StoreOutput(output.data());
        return output;
    }

    static Pixel32 At(const std::vector<Pixel32>& picture, int x, int y) {
        return picture[static_cast<std::size_t>(y) * kFrameWidth + x];
    }

    // The overlay frame number shown in the mask, drawn at `scale` times
    // its size; or whether the mask shows the source or black.
    static int Shown(const std::vector<Pixel32>& picture, int scale = 1) {
        const Pixel32 inside = At(picture, kMaskLeft + 100 * scale, kMaskTop + 90 * scale) & 0xFFFFFF;
        if (inside == kSourceGray) return kShowsSource;
        if (inside == 0) return kShowsBlack;
        int number = 0;
        for (int bit = 0; bit < kNumberBits; ++bit) {
            const int x = kMaskLeft + (bit * kNumberBlock + kNumberBlock / 2) * scale;
            const int y = kMaskTop + (kNumberBlock / 2) * scale;
            const int luma = Luma(At(picture, x, y));
            if (luma > 96 && luma < 160) return -1;
            if (luma >= 160) number |= 1 << bit;
        }
        return number;
    }

    static FilterModule module_;
    FilterInstance instance_{*g_registeredDefinition};
};

FilterModule OverlayFramesTest::module_{};

struct Selection {
    const char* name;
    int frameOffset;
    int repeat;
    int reverse;
    int useRange;
    int rangeStart;
    int rangeEnd;
    int maintainBlack;
    long outputFrame;
    int shows;  // overlay frame number, kShowsSource or kShowsBlack
};

// The clip has kClipFrames (40) frames.
const Selection kSelections[] = {
    {"first", 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {"last", 0, 0, 0, 0, 0, 0, 0, 39, 39},
    {"past_the_end", 0, 0, 0, 0, 0, 0, 0, 40, kShowsSource},
    {"past_the_end_black", 0, 0, 0, 0, 0, 0, 1, 40, kShowsBlack},
    {"offset", 10, 0, 0, 0, 0, 0, 0, 0, 10},
    {"offset_last", 10, 0, 0, 0, 0, 0, 0, 29, 39},
    {"offset_past_the_end", 10, 0, 0, 0, 0, 0, 1, 30, kShowsBlack},
    {"repeat_wraps_to_offset", 10, 1, 0, 0, 0, 0, 0, 30, 10},
    {"repeat_second_cycle", 10, 1, 0, 0, 0, 0, 0, 31, 11},
    {"reverse_first", 0, 0, 1, 0, 0, 0, 0, 0, 39},
    {"reverse_last", 0, 0, 1, 0, 0, 0, 0, 39, 0},
    {"reverse_past_the_start", 0, 0, 1, 0, 0, 0, 1, 40, kShowsBlack},
    {"reverse_offset", 10, 0, 1, 0, 0, 0, 0, 0, 29},
    {"reverse_offset_last", 10, 0, 1, 0, 0, 0, 0, 29, 0},
    {"reverse_repeat_wraps", 10, 1, 1, 0, 0, 0, 0, 30, 29},
    {"before_range", 0, 0, 0, 1, 5, 20, 1, 4, kShowsSource},
    {"range_start", 0, 0, 0, 1, 5, 20, 0, 5, 0},
    {"range_end", 0, 0, 0, 1, 5, 20, 0, 20, 15},
    {"after_range", 0, 0, 0, 1, 5, 20, 1, 21, kShowsSource},
    {"open_range_past_the_clip", 0, 0, 0, 1, 5, 0, 1, 100, kShowsBlack},
    {"range_with_repeat", 3, 1, 0, 1, 5, 0, 0, 42, 3},
};

class FrameSelection : public OverlayFramesTest,
                       public ::testing::WithParamInterface<Selection> {};

TEST_P(FrameSelection, ShowsTheRightOverlayFrame) {
    const Selection& selection = GetParam();
    Open(ClipPath(ClipKindNamed("mjpeg")));
    record().frameOffset = selection.frameOffset;
    record().repeatVideo = selection.repeat;
    record().reverse = selection.reverse;
    record().useFrameRange = selection.useRange;
    record().rangeStart = selection.rangeStart;
    record().rangeEnd = selection.rangeEnd;
    record().maintainBlack = selection.maintainBlack;
    EXPECT_EQ(Shown(Run(selection.outputFrame)), selection.shows);
}

INSTANTIATE_TEST_SUITE_P(Settings, FrameSelection, ::testing::ValuesIn(kSelections),
                         [](const ::testing::TestParamInfo<Selection>& info) {
                             return std::string(info.param.name);
                         });

struct Retry {
    const char* name;
    int repeat;
    int reverse;
    int maintainBlack;
    long outputFrame;
    int shows;
};

const Retry kRetries[] = {
    {"forward_repeat_shows_the_cycle_start", 1, 0, 0, 20, 0},
    {"reverse_repeat_shows_the_cycle_start", 1, 1, 0, 19, 39},
    {"without_repeat_shows_the_source", 0, 0, 0, 20, kShowsSource},
    {"without_repeat_shows_black", 0, 0, 1, 20, kShowsBlack},
    {"neighbour_unaffected", 1, 0, 0, 21, 21},
};

class UndecodableFrame : public OverlayFramesTest, public ::testing::WithParamInterface<Retry> {};

TEST_P(UndecodableFrame, FallsBackAsTheRunProcedureSays) {
    const Retry& retry = GetParam();
    Open(CorruptedMjpegClip(20));
    record().repeatVideo = retry.repeat;
    record().reverse = retry.reverse;
    record().maintainBlack = retry.maintainBlack;
    EXPECT_EQ(Shown(Run(retry.outputFrame)), retry.shows);
}

INSTANTIATE_TEST_SUITE_P(Cases, UndecodableFrame, ::testing::ValuesIn(kRetries),
                         [](const ::testing::TestParamInfo<Retry>& info) {
                             return std::string(info.param.name);
                         });

// --- How the frame lands -----------------------------------------------------

Pixel32 SourcePixel(const std::vector<std::uint8_t>& picture, int x, int y, int bytesPerPixel) {
    const std::uint8_t* p =
        &picture[(static_cast<std::size_t>(y) * kClipWidth + x) * bytesPerPixel];
    return p[0] | (p[1] << 8) | (p[2] << 16);
}

class Placement : public OverlayFramesTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(Placement, CopyPutsEveryPixelInPlace) {
    const ClipKind& kind = ClipKindNamed(GetParam());
    Open(ClipPath(kind));
    const std::vector<Pixel32> output = Run(7);
    const int bytesPerPixel = kind.withAlpha ? 4 : 3;
    const auto picture = SourcePicture(7, kClipWidth, kClipHeight, bytesPerPixel);
    for (int y = 0; y < kClipHeight; ++y) {
        for (int x = 0; x < kClipWidth; ++x) {
            ASSERT_EQ(At(output, kMaskLeft + x, kMaskTop + y) & 0xFFFFFF,
                      SourcePixel(picture, x, y, bytesPerPixel))
                << x << "," << y;
        }
    }
    // Nothing lands outside the mask.
    EXPECT_EQ(At(output, kMaskLeft - 1, kMaskTop), kSourceGray);
    EXPECT_EQ(At(output, kMaskLeft + kClipWidth, kMaskTop + kClipHeight), kSourceGray);
}

TEST_P(Placement, NearestStretchDoublesEveryPixel) {
    const ClipKind& kind = ClipKindNamed(GetParam());
    Open(ClipPath(kind));
    record().fitToFrame = 1;
    record().maskRight = kMaskLeft + 2 * kClipWidth;
    record().maskBottom = kMaskTop + 2 * kClipHeight;
    const std::vector<Pixel32> output = Run(7);
    const int bytesPerPixel = kind.withAlpha ? 4 : 3;
    const auto picture = SourcePicture(7, kClipWidth, kClipHeight, bytesPerPixel);
    for (int y = 0; y < 2 * kClipHeight - 30; ++y) {  // the frame cuts the mask's bottom
        for (int x = 0; x < 2 * kClipWidth; ++x) {
            ASSERT_EQ(At(output, kMaskLeft + x, kMaskTop + y) & 0xFFFFFF,
                      SourcePixel(picture, x / 2, y / 2, bytesPerPixel))
                << x << "," << y;
        }
    }
    EXPECT_EQ(Shown(output, 2), 7);
}

TEST_P(Placement, BilinearStretchStaysBetweenItsNeighbours) {
    const ClipKind& kind = ClipKindNamed(GetParam());
    Open(ClipPath(kind));
    record().fitToFrame = 1;
    record().bilinear = 1;
    record().maskRight = kMaskLeft + 2 * kClipWidth;
    record().maskBottom = kMaskTop + 2 * kClipHeight;
    const std::vector<Pixel32> output = Run(7);
    const int bytesPerPixel = kind.withAlpha ? 4 : 3;
    const auto picture = SourcePicture(7, kClipWidth, kClipHeight, bytesPerPixel);
    int differences = 0;
    for (int y = 2; y < 2 * kClipHeight - 32; ++y) {
        for (int x = 2; x < 2 * kClipWidth - 2; ++x) {
            const Pixel32 shown = At(output, kMaskLeft + x, kMaskTop + y);
            differences += (shown & 0xFFFFFF) != SourcePixel(picture, x / 2, y / 2, bytesPerPixel);
            for (int channel = 0; channel < 3; ++channel) {
                int low = 255;
                int high = 0;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int sx = std::clamp((x + dx) / 2, 0, kClipWidth - 1);
                        const int sy = std::clamp((y + dy) / 2, 0, kClipHeight - 1);
                        const int value = (SourcePixel(picture, sx, sy, bytesPerPixel) >> (8 * channel)) & 0xFF;
                        low = std::min(low, value);
                        high = std::max(high, value);
                    }
                }
                const int value = static_cast<int>((shown >> (8 * channel)) & 0xFF);
                ASSERT_GE(value, low) << x << "," << y;
                ASSERT_LE(value, high) << x << "," << y;
            }
        }
    }
    EXPECT_GT(differences, 0) << "bilinear blends, it does not repeat pixels";
    EXPECT_EQ(Shown(output, 2), 7);
}

// raw24 arrives as 24-bit frames (the conversion path when stretched);
// raw32 as 32-bit frames (stretched directly).
INSTANTIATE_TEST_SUITE_P(Depths, Placement, ::testing::Values("raw24", "raw32"));

TEST_F(OverlayFramesTest, SecondFileReplacesTheOverlayInTheRun) {
    Open(ClipPath(ClipKindNamed("raw24")));
    EXPECT_EQ(Shown(Run(5)), 5);
    Open(ClipPath(ClipKindNamed("h264-mp4")));
    record().reverse = 1;
    EXPECT_EQ(Shown(Run(5)), 34);
}

}  // namespace
