// Whole frames made by the run procedure through our own host's bitmap
// operations, checked pixel by pixel.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <vector>

#include "hostkit/bitmap_operations.h"
#include "render/bitmap_objects.h"
#include "render/frame_compositor.h"
#include "render_test_support.h"

namespace {

Pixel32 Pattern(int x, int y) {
    return static_cast<Pixel32>(0x5F000000u | ((x * 29 + y * 3) & 0xFF) << 16 |
                                ((x * 7 + y * 17) & 0xFF) << 8 | ((x * y + 40) & 0xFF));
}

Pixel32 OverlayColour(int x, int y) {
    return static_cast<Pixel32>(((x * 40 + 5) & 0xFF) << 16 | ((y * 30 + 9) & 0xFF) << 8 |
                                ((x * y * 11 + 3) & 0xFF));
}

// An overlay frame record of 24 or 32 bits whose picture is `colour`.
std::vector<std::uint8_t> OverlayFrame(int width, int height, int depth,
                                       const std::function<Pixel32(int, int)>& colour) {
    std::vector<std::uint8_t> frame = MemoryOverlayLibrary::MakeFrame(width, height, depth);
    const std::size_t rowBytes = ((static_cast<std::size_t>(width) * depth + 31) / 32) * 4;
    const int bytesPerPixel = depth / 8;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = frame.data() + sizeof(BITMAPINFOHEADER) + (height - 1 - y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            const Pixel32 pixel = colour(x, y);
            std::memcpy(row + x * bytesPerPixel, &pixel, bytesPerPixel);
        }
    }
    return frame;
}

// Frames through HostBitmapOperations, with the module's own objects
// carrying that table too.
struct RealCompositor : ::testing::Test {
    RealCompositor() : frames(64, 48), previousTable(g_filterVTables.pvtblVBitmap) {
        g_filterVTables.pvtblVBitmap = &HostBitmapOperations();
        frames.source.Fill(Pattern);
        frames.output.FillWith(0);
        frames.output.frame().bitmap.operations = &HostBitmapOperations();
        frames.source.frame().bitmap.operations = &HostBitmapOperations();
        wrapper = NewBitmapObject();
        frames.record.overlayBitmap = wrapper;
        SetMask(10, 10, 50, 40);
    }
    ~RealCompositor() override {
        ReleaseBitmapObject(wrapper);
        g_filterVTables.pvtblVBitmap = previousTable;
    }
    void SetMask(std::int32_t left, std::int32_t top, std::int32_t right, std::int32_t bottom) {
        frames.record.maskLeft = left;
        frames.record.maskTop = top;
        frames.record.maskRight = right;
        frames.record.maskBottom = bottom;
    }
    void LoadOverlay(const std::vector<std::uint8_t>& frame) {
        library.ServeFrames(100, frame);
        frames.record.frameGetter = library.handle();
        frames.record.overlayLength = 100;
    }
    // Every pixel of the output against `expected`.
    void ExpectPicture(const std::function<Pixel32(int, int)>& expected) {
        for (int y = 0; y < frames.output.height(); ++y) {
            for (int x = 0; x < frames.output.width(); ++x) {
                ASSERT_EQ(frames.output.At(x, y), expected(x, y)) << "at " << x << "," << y;
            }
        }
        EXPECT_TRUE(frames.output.GuardsIntact());
    }

    TestFrames frames;
    MemoryOverlayLibrary library;
    const VBitmapOperations* previousTable;
    VBitmap* wrapper;
};

bool Inside(int x, int y, int left, int top, int right, int bottom) {
    return x >= left && x < right && y >= top && y < bottom;
}

Pixel32 Halved(Pixel32 pixel) {
    return (pixel & 0xFF000000u) | ((pixel >> 1) & 0x007F7F7Fu);
}

TEST_F(RealCompositor, PlaceholderWithBorderAndShadow) {
    FilterData& r = frames.record;
    r.borderOn = 1;
    r.borderSize = 3;
    r.borderColor = 0x0000FF;
    r.shadowOn = 1;
    r.shadowType = 0;
    r.shadowSize = 4;
    r.shadowPercent = 50;
    EXPECT_EQ(frames.RunFrame(0), 0);
    ExpectPicture([](int x, int y) -> Pixel32 {
        if (Inside(x, y, 10, 10, 50, 40)) {
            return 0;
        }
        if (Inside(x, y, 7, 7, 53, 43)) {
            return 0x00FF0000u;
        }
        // Box (12, 12), 41 x 31; flat level 0.5.
        if (Inside(x, y, 53, 16, 57, 43) || Inside(x, y, 16, 43, 57, 47)) {
            return Halved(Pattern(x, y));
        }
        return Pattern(x, y);
    });
}

TEST_F(RealCompositor, CopySmallerThanTheMaskKeepsTheBorderColourAround) {
    const auto frame = OverlayFrame(16, 12, 32, OverlayColour);
    LoadOverlay(frame);
    frames.record.borderOn = 1;
    frames.record.borderSize = 2;
    frames.record.borderColor = 0x00FF00;
    frames.RunFrame(0);
    ExpectPicture([](int x, int y) -> Pixel32 {
        if (Inside(x, y, 10, 10, 26, 22)) {
            return OverlayColour(x - 10, y - 10);
        }
        if (Inside(x, y, 8, 8, 52, 42)) {
            return 0x0000FF00u;
        }
        return Pattern(x, y);
    });
}

TEST_F(RealCompositor, CopySmallerThanTheMaskWithoutBorderLeavesTheSource) {
    LoadOverlay(OverlayFrame(16, 12, 24, OverlayColour));
    frames.RunFrame(0);
    ExpectPicture([](int x, int y) -> Pixel32 {
        return Inside(x, y, 10, 10, 26, 22) ? OverlayColour(x - 10, y - 10) : Pattern(x, y);
    });
}

class DepthConversion : public RealCompositor, public ::testing::WithParamInterface<int> {};

// A 24-bit frame stretched through the conversion bitmap gives exactly what
// the same picture at 32 bits gives when stretched directly.
TEST_P(DepthConversion, TwentyFourBitsStretchLikeThirtyTwo) {
    frames.record.fitToFrame = 1;
    frames.record.bilinear = GetParam();
    SetMask(10, 10, 26, 22);  // 8 x 6 doubled
    LoadOverlay(OverlayFrame(8, 6, 32, OverlayColour));
    frames.RunFrame(0);
    GuardedBitmap direct(64, 48);
    direct.CopyPictureFrom(frames.output);

    LoadOverlay(OverlayFrame(8, 6, 24, OverlayColour));
    frames.output.FillWith(0);
    frames.RunFrame(0);
    EXPECT_TRUE(frames.output.SamePicture(direct));
    EXPECT_TRUE(frames.output.GuardsIntact());
    if (GetParam() == 0) {
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 8; ++x) {
                EXPECT_EQ(frames.output.At(10 + 2 * x + 1, 10 + 2 * y + 1), OverlayColour(x, y));
            }
        }
    }
    EXPECT_EQ(frames.output.At(9, 9), Pattern(9, 9));
    EXPECT_EQ(frames.output.At(26, 22), Pattern(26, 22));
}

INSTANTIATE_TEST_SUITE_P(Stretches, DepthConversion, ::testing::Values(0, 1));

TEST_F(RealCompositor, PalettisedFrameIsReadPastItsColourTable) {
    const Pixel32 palette[4] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0x00FFFFFFu};
    std::vector<std::uint8_t> frame = MemoryOverlayLibrary::MakeFrame(8, 4, 8, 4);
    std::memcpy(frame.data() + sizeof(BITMAPINFOHEADER), palette, sizeof palette);
    std::uint8_t* bits = frame.data() + sizeof(BITMAPINFOHEADER) + sizeof palette;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            bits[(3 - y) * 8 + x] = static_cast<std::uint8_t>((x + y) % 4);
        }
    }
    LoadOverlay(frame);
    frames.RunFrame(0);
    ExpectPicture([&palette](int x, int y) -> Pixel32 {
        return Inside(x, y, 10, 10, 18, 14) ? palette[(x - 10 + y - 10) % 4] : Pattern(x, y);
    });
}

// A frame record whose header declares fewer colours than its depth can
// index: nothing past the declared table is read (the sanitizer round checks
// the record's bounds), and an index past it gives black, copied 1:1 or
// converted before a stretch.
class ShortColourTable : public RealCompositor, public ::testing::WithParamInterface<bool> {};

TEST_P(ShortColourTable, IndicesPastTheTableGiveBlack) {
    const bool fit = GetParam();
    const Pixel32 palette[2] = {0x00123456u, 0x00FEDCBAu};
    std::vector<std::uint8_t> frame = MemoryOverlayLibrary::MakeFrame(8, 4, 8, 2);
    std::memcpy(frame.data() + sizeof(BITMAPINFOHEADER), palette, sizeof palette);
    std::uint8_t* bits = frame.data() + sizeof(BITMAPINFOHEADER) + sizeof palette;
    auto index = [](int x, int y) { return static_cast<std::uint8_t>((x * 37 + y * 101) % 256); };
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            bits[(3 - y) * 8 + x] = index(x, y);
        }
    }
    LoadOverlay(frame);
    frames.record.fitToFrame = fit ? 1 : 0;
    SetMask(10, 10, 18, 14);
    frames.RunFrame(0);
    ExpectPicture([&](int x, int y) -> Pixel32 {
        if (!Inside(x, y, 10, 10, 18, 14)) {
            return Pattern(x, y);
        }
        const std::uint8_t i = index(x - 10, y - 10);
        return i < 2 ? palette[i] : 0;
    });
}

INSTANTIATE_TEST_SUITE_P(CopyAndStretch, ShortColourTable, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Stretched" : "Copied"; });

struct ExtremeCase {
    const char* name;
    std::int32_t left, top, right, bottom, borderSize;
};

void PrintTo(const ExtremeCase& c, std::ostream* os) { *os << c.name; }

class RealExtremeMasks : public RealCompositor,
                         public ::testing::WithParamInterface<ExtremeCase> {};

// Any mask and border, copied or stretched from 24 or 32 bits: nothing is
// written outside the output, and the source is never written.
TEST_P(RealExtremeMasks, NeverWriteOutsideTheOutput) {
    const ExtremeCase& c = GetParam();
    GuardedBitmap sourceBefore(64, 48);
    sourceBefore.CopyPictureFrom(frames.source);
    SetMask(c.left, c.top, c.right, c.bottom);
    FilterData& r = frames.record;
    r.borderOn = 1;
    r.borderSize = c.borderSize;
    r.shadowOn = 1;
    r.shadowSize = 9;
    r.shadowShift = -5;
    r.shadowPercent = 30;
    for (int depth : {24, 32}) {
        LoadOverlay(OverlayFrame(12, 9, depth, OverlayColour));
        for (std::int32_t fit : {0, 1}) {
            for (std::int32_t style = 0; style < 6; ++style) {
                r.fitToFrame = fit;
                r.bilinear = style % 2;
                r.shadowType = style;
                ASSERT_EQ(frames.RunFrame(0), 0);
                ASSERT_TRUE(frames.output.GuardsIntact()) << depth << " bits, fit " << fit;
                ASSERT_TRUE(frames.source.GuardsIntact());
                ASSERT_TRUE(frames.source.SamePicture(sourceBefore));
            }
        }
    }
}

constexpr std::int32_t kMin = INT_MIN;
constexpr std::int32_t kMax = INT_MAX;

INSTANTIATE_TEST_SUITE_P(
    Masks, RealExtremeMasks,
    ::testing::Values(ExtremeCase{"Everything", kMin, kMin, kMax, kMax, kMax},
                      ExtremeCase{"Reversed", kMax, kMax, kMin, kMin, kMin},
                      ExtremeCase{"MinusOneSizes", 20, 20, 19, 19, 1},
                      ExtremeCase{"HugeBorder", 10, 10, 50, 40, kMax},
                      ExtremeCase{"NegativeBorder", 10, 10, 50, 40, -20},
                      ExtremeCase{"FarLeftAndUp", kMin, kMin, kMin + 40, kMin + 30, 3},
                      ExtremeCase{"WideAcross", kMin + 1, 5, kMax, 45, 3},
                      ExtremeCase{"CornerBeyond", 60, 45, kMax, kMax, 50},
                      ExtremeCase{"StraddlingEveryEdge", -5, -5, 70, 55, 2}),
    [](const ::testing::TestParamInfo<ExtremeCase>& info) { return std::string(info.param.name); });

}  // namespace
