// The blending variant of the bitmap operations. Expected pixels come from
// the blend formula computed here in floating point; clipping and mapping
// are checked against the plain operations, which an opaque source must
// reproduce exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "hostkit/bitmap_operations.h"
#include "hostkit/blending_bitmap_operations.h"
#include "tests/hostkit/stretch_reference.h"

namespace {

struct Canvas {
    Canvas(int w, int h) : pixels(static_cast<std::size_t>(w) * h) {
        bitmap = MakeBitmap32(pixels.data(), w, h, 4L * w);
    }
    // A copy draws on its own pixels.
    Canvas(const Canvas& other) : pixels(other.pixels), bitmap(other.bitmap) {
        bitmap.data = pixels.data();
    }
    Canvas& operator=(const Canvas&) = delete;
    Pixel32& at(int x, int y) { return pixels[Index(x, y)]; }
    Pixel32 at(int x, int y) const { return pixels[Index(x, y)]; }
    std::size_t Index(int x, int y) const {
        return static_cast<std::size_t>(bitmap.h - 1 - y) * bitmap.w + x;
    }
    std::vector<Pixel32> pixels;
    VBitmap bitmap;
};

std::uint32_t Channel(Pixel32 pixel, int shift) { return (pixel >> shift) & 0xFF; }

void FillRandom(Canvas& canvas, std::mt19937& random) {
    for (Pixel32& pixel : canvas.pixels) {
        pixel = random();
    }
}

// The destination colour after laying `over` (straight or premultiplied
// colour, alpha in the top byte) at `opacity` over `under`.
double Expected(Pixel32 over, Pixel32 under, int shift, const BlendSettings& settings) {
    const double alpha =
        (settings.useSourceAlpha ? Channel(over, 24) : 255.0) / 255.0 * settings.opacity / 255.0;
    const double colour = Channel(over, shift);
    const double laid = settings.premultiplied && settings.useSourceAlpha
                            ? colour * settings.opacity / 255.0
                            : colour * alpha;
    return laid + Channel(under, shift) * (1.0 - alpha);
}

struct BlendCase {
    const char* name;
    BlendSettings settings;
};

class BlendedCopy : public testing::TestWithParam<BlendCase> {};

TEST_P(BlendedCopy, FollowsTheBlendFormulaWithinOneCodeValue) {
    const BlendSettings settings = GetParam().settings;
    std::mt19937 random(7);
    Canvas source(37, 23);
    FillRandom(source, random);
    if (settings.premultiplied) {
        // Valid premultiplied pixels: no colour above its alpha.
        for (Pixel32& pixel : source.pixels) {
            const std::uint32_t alpha = pixel >> 24;
            Pixel32 fixed = pixel & 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                fixed |= (Channel(pixel, shift) * alpha / 255) << shift;
            }
            pixel = fixed;
        }
    }
    Canvas destination(50, 40);
    FillRandom(destination, random);
    const Canvas before = destination;
    const BlendingBitmapOperations blending(settings);
    destination.bitmap.operations = &blending.table;
    destination.bitmap.operations->BitBlt(&destination.bitmap, 5, 6, &source.bitmap, 0, 0, -1, -1);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 50; ++x) {
            const Canvas& was = before;
            const Pixel32 result = destination.at(x, y);
            const bool inside = x >= 5 && x < 5 + 37 && y >= 6 && y < 6 + 23;
            if (!inside) {
                ASSERT_EQ(result, was.at(x, y)) << x << "," << y << " outside is untouched";
                continue;
            }
            const Pixel32 over = source.at(x - 5, y - 6);
            for (int shift = 0; shift < 24; shift += 8) {
                EXPECT_NEAR(Channel(result, shift), Expected(over, was.at(x, y), shift, settings),
                            1.0)
                    << x << "," << y << " byte " << shift / 8;
            }
            EXPECT_EQ(Channel(result, 24), Channel(was.at(x, y), 24)) << "top byte kept";
        }
    }
}

const BlendCase kBlendCases[] = {
    {"Straight", {true, false, 255}},
    {"StraightHalfOpacity", {true, false, 128}},
    {"Premultiplied", {true, true, 255}},
    {"PremultipliedThirdOpacity", {true, true, 85}},
    {"OpaqueSourceFaded", {false, false, 191}},
    {"OpaqueSourceFaint", {false, false, 4}},
};

INSTANTIATE_TEST_SUITE_P(Table, BlendedCopy, testing::ValuesIn(kBlendCases),
                         [](const testing::TestParamInfo<BlendCase>& info) {
                             return info.param.name;
                         });

TEST(BlendedCopyExtremes, TransparentLeavesAndOpaqueCopiesExactly) {
    Canvas source(2, 1);
    source.at(0, 0) = 0x00FF00FFu;  // transparent, stored magenta
    source.at(1, 0) = 0xFF123456u;  // opaque
    Canvas destination(2, 1);
    destination.at(0, 0) = 0x7F808182u;
    destination.at(1, 0) = 0x7F808182u;
    const BlendingBitmapOperations blending(BlendSettings{});
    destination.bitmap.operations = &blending.table;
    blending.table.BitBlt(&destination.bitmap, 0, 0, &source.bitmap, 0, 0, -1, -1);
    EXPECT_EQ(destination.at(0, 0), 0x7F808182u);
    EXPECT_EQ(destination.at(1, 0), 0x7F123456u);
}

// The stretches lay what they sample in the same pass. Expected pixels: the
// source made premultiplied as the header states, sampled by the stretch
// rule, laid by the premultiplied formula
//     out = P * o + D * (1 - A * o)
// in floating point; nothing changes outside the clipped rectangle.
struct StretchedBlendCase {
    const char* name;
    long x, y, dx, dy;
};

const StretchedBlendCase kStretchedBlendCases[] = {
    {"Enlarged", 3, 2, 47, 31},
    {"Reduced", 6, 5, 21, 13},
    {"ClippedAtEveryEdge", -9, -4, 70, 50},
};

void PrintTo(const BlendCase& blend, std::ostream* out) { *out << blend.name; }
void PrintTo(const StretchedBlendCase& test, std::ostream* out) { *out << test.name; }

using StretchedBlendParameters = std::tuple<BlendCase, bool, StretchedBlendCase>;

class BlendedStretch : public testing::TestWithParam<StretchedBlendParameters> {};

Pixel32 PremultipliedByFormula(Pixel32 pixel, const BlendSettings& settings) {
    if (!settings.useSourceAlpha) {
        return pixel | 0xFF000000u;
    }
    const std::uint32_t alpha = Channel(pixel, 24);
    Pixel32 result = alpha << 24;
    for (int shift = 0; shift < 24; shift += 8) {
        const std::uint32_t colour = Channel(pixel, shift);
        const std::uint32_t premultiplied =
            settings.premultiplied
                ? std::min(colour, alpha)
                : static_cast<std::uint32_t>(std::lround(colour * alpha / 255.0));
        result |= premultiplied << shift;
    }
    return result;
}

TEST_P(BlendedStretch, LaysTheSampledPixelsByTheFormula) {
    const auto& [blend, bilinear, test] = GetParam();
    const BlendSettings settings = blend.settings;
    std::mt19937 random(23);
    Canvas source(29, 19);
    FillRandom(source, random);
    // Runs of transparent and opaque pixels beside the random ones.
    for (int y = 0; y < 19; ++y) {
        for (int x = 0; x < 10; ++x) source.at(x, y) &= 0x00FFFFFFu;
        for (int x = 10; x < 20; ++x) source.at(x, y) |= 0xFF000000u;
    }
    constexpr int kWidth = 50, kHeight = 40;
    GuardedBuffer buffer(4u * kWidth * kHeight, 4);
    for (std::size_t i = 0; i < 4u * kWidth * kHeight; ++i) buffer.data()[i] = random();
    VBitmap destination = MakeBitmap32(reinterpret_cast<Pixel32*>(buffer.data()), kWidth,
                                       kHeight, 4L * kWidth);
    const std::vector<std::uint8_t> before(buffer.data(), buffer.data() + 4u * kWidth * kHeight);
    const BlendingBitmapOperations blending(settings);
    destination.operations = &blending.table;
    const auto stretch = bilinear ? blending.table.StretchBltBilinearFast
                                  : blending.table.StretchBltNearestFast;
    ASSERT_TRUE(stretch(&destination, test.x, test.y, test.dx, test.dy, &source.bitmap, 0, 0, 29,
                        19));
    ASSERT_TRUE(buffer.GuardsIntact());

    const auto premultipliedAt = [&](int x, int y) {
        return PremultipliedByFormula(source.at(x, y), settings);
    };
    const double opacity = settings.opacity / 255.0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            Pixel32 was, result;
            std::memcpy(&was, before.data() + 4 * ((kHeight - 1 - y) * kWidth + x), 4);
            std::memcpy(&result, PictureRow(destination, y) + x, 4);
            const bool inside =
                x >= test.x && x < test.x + test.dx && y >= test.y && y < test.y + test.dy;
            if (!inside) {
                ASSERT_EQ(result, was) << x << "," << y << " outside is untouched";
                continue;
            }
            const double u = (x - test.x + 0.5) * 29.0 / test.dx;
            const double v = (y - test.y + 0.5) * 19.0 / test.dy;
            const Pixel32 laid = SampleByRule(premultipliedAt, 29, 19, u, v, bilinear);
            const double weight = Channel(laid, 24) / 255.0 * opacity;
            for (int shift = 0; shift < 24; shift += 8) {
                const double expected =
                    Channel(laid, shift) * opacity + Channel(was, shift) * (1.0 - weight);
                ASSERT_NEAR(Channel(result, shift), expected, 1.0)
                    << x << "," << y << " byte " << shift / 8;
            }
            ASSERT_EQ(Channel(result, 24), Channel(was, 24)) << "top byte kept";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BlendedStretch,
    testing::Combine(testing::ValuesIn(kBlendCases), testing::Bool(),
                     testing::ValuesIn(kStretchedBlendCases)),
    [](const testing::TestParamInfo<StretchedBlendParameters>& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "Bilinear" : "Nearest") + std::get<2>(info.param).name;
    });

// An opaque source at full opacity gives what the plain operations give,
// byte for byte, for rectangles in and beyond the destination: clipping and
// the stretches' mapping are theirs.
struct GeometryCase {
    const char* name;
    long x, y, dx, dy;
    double sourceX, sourceY, sourceWidth, sourceHeight;
};

class OpaqueGeometry : public testing::TestWithParam<GeometryCase> {};

TEST_P(OpaqueGeometry, EqualsThePlainOperations) {
    const GeometryCase& test = GetParam();
    std::mt19937 random(11);
    Canvas source(21, 17);
    FillRandom(source, random);
    for (Pixel32& pixel : source.pixels) {
        pixel |= 0xFF000000u;
    }
    Canvas plain(40, 30);
    FillRandom(plain, random);
    Canvas blended = plain;
    const BlendingBitmapOperations blending(BlendSettings{});
    blended.bitmap.operations = &blending.table;
    for (const char* operation : {"copy", "nearest", "bilinear"}) {
        const std::string which = operation;
        if (which == "copy") {
            HostBitmapOperations().BitBlt(&plain.bitmap, test.x, test.y, &source.bitmap,
                                          static_cast<long>(test.sourceX),
                                          static_cast<long>(test.sourceY), test.dx, test.dy);
            blending.table.BitBlt(&blended.bitmap, test.x, test.y, &source.bitmap,
                                  static_cast<long>(test.sourceX), static_cast<long>(test.sourceY),
                                  test.dx, test.dy);
        } else {
            const auto plainStretch = which == "nearest"
                                          ? HostBitmapOperations().StretchBltNearestFast
                                          : HostBitmapOperations().StretchBltBilinearFast;
            const auto blendStretch = which == "nearest" ? blending.table.StretchBltNearestFast
                                                         : blending.table.StretchBltBilinearFast;
            const bool drew = plainStretch(&plain.bitmap, test.x, test.y, test.dx, test.dy,
                                           &source.bitmap, test.sourceX, test.sourceY,
                                           test.sourceWidth, test.sourceHeight);
            EXPECT_EQ(blendStretch(&blended.bitmap, test.x, test.y, test.dx, test.dy,
                                   &source.bitmap, test.sourceX, test.sourceY, test.sourceWidth,
                                   test.sourceHeight),
                      drew)
                << which;
        }
        // The top byte: plain copies the source's, blending keeps the
        // destination's; the colours must agree.
        for (std::size_t i = 0; i < plain.pixels.size(); ++i) {
            ASSERT_EQ(plain.pixels[i] & 0xFFFFFF, blended.pixels[i] & 0xFFFFFF)
                << which << " at pixel " << i;
        }
    }
}

const GeometryCase kGeometryCases[] = {
    {"Inside", 3, 4, 21, 17, 0, 0, 21, 17},
    {"Enlarged", 2, 2, 33, 25, 0, 0, 21, 17},
    {"Reduced", 1, 1, 9, 7, 0, 0, 21, 17},
    {"OverTheTopLeft", -6, -5, 30, 20, 0, 0, 21, 17},
    {"OverTheBottomRight", 30, 22, 25, 25, 2, 3, 15, 10},
    {"WholeSourceSizes", 10, 10, -1, -1, 0, 0, 21, 17},
    {"NegativeSizeDrawsNothing", 10, 10, -5, 8, 0, 0, 21, 17},
    {"ZeroSizeDrawsNothing", 10, 10, 0, 8, 0, 0, 21, 17},
    {"WhollyOutside", 50, 10, 8, 8, 0, 0, 21, 17},
    {"SourceOffset", 4, 4, 12, 12, 5.5, 3.25, 8, 9},
};

INSTANTIATE_TEST_SUITE_P(Table, OpaqueGeometry, testing::ValuesIn(kGeometryCases),
                         [](const testing::TestParamInfo<GeometryCase>& info) {
                             return info.param.name;
                         });

// A hard alpha edge stretched bilinearly: an opaque red pixel beside a
// transparent one that stores green. Weighting colour by alpha, every
// output pixel lies between red and the grey beneath; plain interpolation
// of straight colour would carry the hidden green into the edge.
TEST(BilinearAlphaEdge, ShowsNoFringe) {
    Canvas source(2, 1);
    source.at(0, 0) = 0xFFFF0000u;  // opaque red
    source.at(1, 0) = 0x0000FF00u;  // transparent, stored green
    Canvas destination(64, 4);
    for (Pixel32& pixel : destination.pixels) {
        pixel = 0xFF808080u;
    }
    const BlendingBitmapOperations blending(BlendSettings{});
    destination.bitmap.operations = &blending.table;
    ASSERT_TRUE(blending.table.StretchBltBilinearFast(&destination.bitmap, 0, 0, 64, 4,
                                                      &source.bitmap, 0, 0, 2, 1));
    bool sawBlend = false;
    for (int x = 0; x < 64; ++x) {
        const Pixel32 pixel = destination.at(x, 1);
        const double red = Channel(pixel, 16);
        const double green = Channel(pixel, 8);
        const double blue = Channel(pixel, 0);
        // red = 255 A + 128 (1 - A), green = blue = 128 (1 - A).
        const double alpha = (red - 128.0) / 127.0;
        EXPECT_NEAR(green, 128.0 * (1 - alpha), 2.0) << "column " << x;
        EXPECT_NEAR(blue, green, 1.0) << "column " << x;
        EXPECT_LE(green, 129.0) << "column " << x;
        sawBlend = sawBlend || (alpha > 0.1 && alpha < 0.9);
    }
    EXPECT_TRUE(sawBlend) << "the edge is blended, not cut";
}

TEST(Opacity, PercentBecomesAByteFactor) {
    EXPECT_EQ(OpacityFromPercent(0), 0);
    EXPECT_EQ(OpacityFromPercent(50), 128);
    EXPECT_EQ(OpacityFromPercent(100), 255);
    EXPECT_EQ(OpacityFromPercent(150), 255);
}

}  // namespace
