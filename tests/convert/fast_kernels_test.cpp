// The fastest kernels (narrow arithmetic, specialised layouts) against the
// plain 64-bit reference kernels, byte for byte, on random pictures whose rows
// start at odd addresses, for rects at odd positions, both directions.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "convert/conversion_kernels.h"
#include "convert/conversion_plan.h"
#include "tests/convert/convert_test_formats.h"
#include "tests/convert/test_picture.h"

namespace {

constexpr int kFrameWidth = 613;  // more than two kernel chunks, odd
constexpr int kFrameHeight = 19;

struct KernelCase {
    AVPixelFormat format;
    AVChromaLocation location;
    bool fullRange;
};

std::string CaseName(const KernelCase& c) {
    return FormatName(c.format) + "_" + av_chroma_location_name(c.location) +
           (c.fullRange ? "_full" : "_limited");
}

std::vector<KernelCase> KernelCases() {
    std::vector<KernelCase> cases;
    for (AVPixelFormat format : YuvFormats()) {
        cases.push_back({format, AVCHROMA_LOC_LEFT, false});
        cases.push_back({format, AVCHROMA_LOC_CENTER, true});
        cases.push_back({format, AVCHROMA_LOC_TOPLEFT, false});
    }
    return cases;
}

const PictureRect kRects[] = {
    {0, 0, kFrameWidth, kFrameHeight},
    {3, 1, 517, 15},
    {256, 4, 300, 9},
    {kFrameWidth - 5, kFrameHeight - 3, 5, 3},
};

class FastKernels : public ::testing::TestWithParam<KernelCase> {
protected:
    ConversionPlan Plan() const {
        const KernelCase& c = GetParam();
        return BuildConversionPlan(c.format, AVCOL_SPC_BT709,
                                   c.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG, c.location,
                                   kFrameWidth, kFrameHeight);
    }
};

// Pixel rows `stride` bytes apart starting one byte into the buffer.
struct PixelBuffer {
    explicit PixelBuffer(PictureRect rect)
        : stride(rect.width * 4 + 5),
          bytes(static_cast<std::size_t>(stride) * static_cast<std::size_t>(rect.height) + 1, 0) {}
    std::uint8_t* first() { return bytes.data() + 1; }
    int stride;
    std::vector<std::uint8_t> bytes;
};

TEST_P(FastKernels, ToBgraEqualsReference) {
    const ConversionPlan plan = Plan();
    const ToBgraKernel fastest = SelectYuvToBgra(plan, KernelChoice::Fastest);
    const ToBgraKernel reference = SelectYuvToBgra(plan, KernelChoice::Reference);
    std::mt19937 random(21);
    TestPicture picture(GetParam().format, kFrameWidth, kFrameHeight);
    picture.FillRandom(random);
    for (const PictureRect& rect : kRects) {
        SCOPED_TRACE(::testing::Message() << rect.width << "x" << rect.height << " at " << rect.x
                                          << "," << rect.y);
        PixelBuffer fast(rect), expected(rect);
        fastest(plan, picture.planes(), picture.linesizes(), rect, fast.first(), fast.stride);
        reference(plan, picture.planes(), picture.linesizes(), rect, expected.first(),
                  expected.stride);
        ASSERT_EQ(fast.bytes, expected.bytes);
    }
}

TEST_P(FastKernels, FromBgraEqualsReference) {
    const ConversionPlan plan = Plan();
    const FromBgraKernel fastest = SelectBgraToYuv(plan, KernelChoice::Fastest);
    const FromBgraKernel reference = SelectBgraToYuv(plan, KernelChoice::Reference);
    std::mt19937 random(23);
    TestPicture start(GetParam().format, kFrameWidth, kFrameHeight);
    start.FillRandom(random);
    for (PictureRect rect : kRects) {
        // On the chroma grid, as the converter hands rects to the kernels.
        const int maskX = (1 << ChromaShiftX(GetParam().format)) - 1;
        const int maskY = (1 << ChromaShiftY(GetParam().format)) - 1;
        rect.width += rect.x & maskX;
        rect.x &= ~maskX;
        rect.height += rect.y & maskY;
        rect.y &= ~maskY;
        SCOPED_TRACE(::testing::Message() << rect.width << "x" << rect.height << " at " << rect.x
                                          << "," << rect.y);
        PixelBuffer pixels(rect), original(rect);
        for (std::size_t i = 0; i < pixels.bytes.size(); ++i) {
            pixels.bytes[i] = static_cast<std::uint8_t>(random());
            // About one pixel in four differs from the original.
            original.bytes[i] = random() % 16 == 0 ? static_cast<std::uint8_t>(random())
                                                   : pixels.bytes[i];
        }
        for (const bool withOriginal : {false, true}) {
            TestPicture fast(start), expected(start);
            const std::uint8_t* before = withOriginal ? original.first() : nullptr;
            fastest(plan, pixels.first(), pixels.stride, before, original.stride, rect,
                    fast.planes(), fast.linesizes());
            reference(plan, pixels.first(), pixels.stride, before, original.stride, rect,
                      expected.planes(), expected.linesizes());
            ASSERT_TRUE(fast.DifferencesFrom(expected).empty()) << "original " << withOriginal;
            ASSERT_TRUE(fast.GuardsIntact());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryYuvLayout, FastKernels, ::testing::ValuesIn(KernelCases()),
                         [](const ::testing::TestParamInfo<KernelCase>& info) {
                             return CaseName(info.param);
                         });

}  // namespace
