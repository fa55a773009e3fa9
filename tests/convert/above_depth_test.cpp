// Pictures of 9 to 16 bits whose 16-bit words hold values above the depth
// (raw video stores any 16 bits): each such sample reads as the depth's
// maximum, in the fastest and the reference kernels alike, and the tables
// and lanes behind the load see nothing wider (the sanitize preset turns a
// read past a table or an overflowing shift into a failure). The reference
// is the same picture with its samples clamped here, before conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "convert/conversion_kernels.h"
#include "convert/conversion_plan.h"
#include "tests/convert/convert_test_formats.h"
#include "tests/convert/test_picture.h"

namespace {

// Wider than one kernel chunk (256 pixels), so that chunk ends and the SIMD
// rows' remainders are crossed.
constexpr int kFrameWidth = 291;
constexpr int kFrameHeight = 7;

struct RectCase {
    const char* name;
    PictureRect rect;
};

const RectCase kRects[] = {
    {"WholeFrame", {0, 0, kFrameWidth, kFrameHeight}},
    {"NarrowerThanAVector", {5, 1, 3, 2}},
    {"AcrossAChunkEnd", {250, 2, 41, 5}},
};

// Every layout deeper than 8 bits.
std::vector<AVPixelFormat> DeepFormats() {
    std::vector<AVPixelFormat> formats;
    for (AVPixelFormat format : AllHandledFormats()) {
        if (DepthOf(format) > 8) {
            formats.push_back(format);
        }
    }
    return formats;
}

// Every word random, about half of them above the depth and some of those
// all ones, so that interpolation mixes samples on both sides.
void FillWithAnyWords(TestPicture& picture, std::mt19937& random) {
    const int maximum = picture.maximum();
    std::uniform_int_distribution<int> inRange(0, maximum);
    std::uniform_int_distribution<int> anyWord(0, 0xFFFF);
    for (int plane = 0; plane < picture.planeCount(); ++plane) {
        for (int y = 0; y < picture.rows(plane); ++y) {
            for (int x = 0; x < picture.elementsPerRow(plane); ++x) {
                const unsigned kind = random() % 8;
                const int value = kind < 4 ? inRange(random) : kind < 7 ? anyWord(random) : 0xFFFF;
                picture.SetSample(plane, x, y, value);
            }
        }
    }
}

TestPicture Clamped(const TestPicture& picture) {
    TestPicture clamped(picture);
    for (int plane = 0; plane < clamped.planeCount(); ++plane) {
        for (int y = 0; y < clamped.rows(plane); ++y) {
            for (int x = 0; x < clamped.elementsPerRow(plane); ++x) {
                clamped.SetSample(plane, x, y,
                                  std::min(clamped.Sample(plane, x, y), clamped.maximum()));
            }
        }
    }
    return clamped;
}

std::vector<std::uint8_t> Convert(ToBgraKernel kernel, const ConversionPlan& plan,
                                  const TestPicture& picture, PictureRect rect) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(rect.width * rect.height * 4));
    kernel(plan, picture.planes(), picture.linesizes(), rect, pixels.data(), rect.width * 4);
    return pixels;
}

class AboveDepth : public ::testing::TestWithParam<AVPixelFormat> {
protected:
    ConversionPlan Plan() const {
        return BuildConversionPlan(GetParam(), AVCOL_SPC_BT709, AVCOL_RANGE_UNSPECIFIED,
                                   AVCHROMA_LOC_UNSPECIFIED, kFrameWidth, kFrameHeight);
    }
};

TEST_P(AboveDepth, ReadsAsTheClampedPictureInBothKernels) {
    const ConversionPlan plan = Plan();
    std::mt19937 random(41);
    TestPicture picture(GetParam(), kFrameWidth, kFrameHeight);
    FillWithAnyWords(picture, random);
    const TestPicture clamped = Clamped(picture);
    if (picture.maximum() < 0xFFFF) {
        ASSERT_FALSE(clamped.DifferencesFrom(picture).empty()) << "no sample above the depth";
    }
    const ToBgraKernel reference = SelectToBgra(plan, KernelChoice::Reference);
    for (const RectCase& rect : kRects) {
        SCOPED_TRACE(rect.name);
        const std::vector<std::uint8_t> expected = Convert(reference, plan, clamped, rect.rect);
        for (const KernelChoice choice : {KernelChoice::Fastest, KernelChoice::Reference}) {
            EXPECT_EQ(Convert(SelectToBgra(plan, choice), plan, picture, rect.rect), expected)
                << (choice == KernelChoice::Fastest ? "fastest" : "reference");
        }
    }
}

// The write-back leaves the sample of an unchanged pixel as decoded, even
// one above the depth.
TEST_P(AboveDepth, UnchangedPixelsKeepTheirWords) {
    const ConversionPlan plan = Plan();
    std::mt19937 random(43);
    TestPicture picture(GetParam(), kFrameWidth, kFrameHeight);
    FillWithAnyWords(picture, random);
    const PictureRect frame = kRects[0].rect;
    for (const KernelChoice choice : {KernelChoice::Fastest, KernelChoice::Reference}) {
        const std::vector<std::uint8_t> pixels =
            Convert(SelectToBgra(plan, choice), plan, picture, frame);
        TestPicture written(picture);
        SelectFromBgra(plan, choice)(plan, pixels.data(), frame.width * 4, pixels.data(),
                                     frame.width * 4, frame, written.planes(),
                                     written.linesizes());
        EXPECT_TRUE(written.DifferencesFrom(picture).empty());
        EXPECT_TRUE(written.GuardsIntact());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryDeepLayout, AboveDepth, ::testing::ValuesIn(DeepFormats()),
                         [](const ::testing::TestParamInfo<AVPixelFormat>& info) {
                             return FormatName(info.param);
                         });

}  // namespace
