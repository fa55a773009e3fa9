// Known colour patches through the converter, checked against the matrix
// arithmetic of the standards computed here: each matrix x range x layout x
// depth, both directions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "convert/picture_converter.h"
#include "tests/convert/convert_test_formats.h"
#include "tests/convert/test_picture.h"

namespace {

constexpr int kPatchSize = 8;

struct Patch {
    const char* name;
    RgbValue rgb;
};

// 75% colour bars, the extremes, and fully saturated primaries.
const Patch kPatches[] = {
    {"white75", {191, 191, 191}}, {"yellow75", {191, 191, 0}}, {"cyan75", {0, 191, 191}},
    {"green75", {0, 191, 0}},     {"magenta75", {191, 0, 191}}, {"red75", {191, 0, 0}},
    {"blue75", {0, 0, 191}},      {"black", {0, 0, 0}},         {"white", {255, 255, 255}},
    {"green", {0, 255, 0}},       {"nearGreen", {0, 253, 0}},   {"red", {255, 0, 0}},
    {"blue", {0, 0, 255}},        {"grey", {128, 128, 128}},
};

struct YuvPatchCase {
    AVPixelFormat format;
    MatrixUnderTest matrix;
    bool fullRange;
};

void PrintTo(const YuvPatchCase& c, std::ostream* os) {
    *os << FormatName(c.format) << "_" << c.matrix.name << (c.fullRange ? "_full" : "_limited");
}

std::vector<YuvPatchCase> YuvPatchCases() {
    std::vector<YuvPatchCase> cases;
    for (AVPixelFormat format : YuvFormats()) {
        for (const MatrixUnderTest& matrix : MatricesUnderTest()) {
            if (!NamedAsJpegFormat(format)) {
                cases.push_back({format, matrix, false});
            }
            cases.push_back({format, matrix, true});
        }
    }
    return cases;
}

int RoundToCode(double value, int maximum) {
    return static_cast<int>(std::clamp<long>(std::lround(value), 0, maximum));
}

class YuvPatches : public ::testing::TestWithParam<YuvPatchCase> {
protected:
    PictureConverter MakeConverter() const {
        const YuvPatchCase& c = GetParam();
        return PictureConverter(c.format, c.matrix.colorspace,
                                c.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG,
                                AVCHROMA_LOC_LEFT, kPatchSize, kPatchSize);
    }
    CodeRange Range() const {
        return CodeRangeFor(DepthOf(GetParam().format), GetParam().fullRange);
    }
};

TEST_P(YuvPatches, ToBgraMatchesTheMatrix) {
    const YuvPatchCase& c = GetParam();
    const PictureConverter converter = MakeConverter();
    for (const Patch& patch : kPatches) {
        SCOPED_TRACE(patch.name);
        TestPicture picture(c.format, kPatchSize, kPatchSize);
        const YuvValue exact = RgbToYuv(patch.rgb, c.matrix, Range());
        const YuvValue coded = {static_cast<double>(RoundToCode(exact.y, picture.maximum())),
                                static_cast<double>(RoundToCode(exact.cb, picture.maximum())),
                                static_cast<double>(RoundToCode(exact.cr, picture.maximum()))};
        picture.FillPlane(0, static_cast<int>(coded.y));
        picture.FillPlane(1, static_cast<int>(coded.cb));
        picture.FillPlane(2, static_cast<int>(coded.cr));
        if (picture.planeCount() > 3) {
            picture.FillPlane(3, picture.maximum());
        }
        std::vector<std::uint8_t> pixels(kPatchSize * kPatchSize * 4);
        converter.ToBgra(picture.planes(), picture.linesizes(), {0, 0, kPatchSize, kPatchSize},
                         pixels.data(), kPatchSize * 4);

        const RgbValue expected = YuvToRgb(coded, c.matrix, Range());
        const int red = RoundToCode(expected.r, 255), green = RoundToCode(expected.g, 255);
        const int blue = RoundToCode(expected.b, 255);
        for (std::size_t i = 0; i < pixels.size(); i += 4) {
            ASSERT_NEAR(pixels[i + 0], blue, 1) << "pixel " << i / 4;
            ASSERT_NEAR(pixels[i + 1], green, 1) << "pixel " << i / 4;
            ASSERT_NEAR(pixels[i + 2], red, 1) << "pixel " << i / 4;
            ASSERT_EQ(pixels[i + 3], 255) << "pixel " << i / 4;
        }
    }
}

TEST_P(YuvPatches, FromBgraMatchesTheMatrixAtTheDepth) {
    const YuvPatchCase& c = GetParam();
    const PictureConverter converter = MakeConverter();
    for (const Patch& patch : kPatches) {
        SCOPED_TRACE(patch.name);
        TestPicture picture(c.format, kPatchSize, kPatchSize);
        std::vector<std::uint8_t> pixels(kPatchSize * kPatchSize * 4);
        for (std::size_t i = 0; i < pixels.size(); i += 4) {
            pixels[i + 0] = static_cast<std::uint8_t>(patch.rgb.b);
            pixels[i + 1] = static_cast<std::uint8_t>(patch.rgb.g);
            pixels[i + 2] = static_cast<std::uint8_t>(patch.rgb.r);
            pixels[i + 3] = 0x5A;
        }
        converter.FromBgra(pixels.data(), kPatchSize * 4, nullptr, 0,
                           {0, 0, kPatchSize, kPatchSize}, picture.planes(), picture.linesizes());

        const YuvValue expected = RgbToYuv(patch.rgb, c.matrix, Range());
        const double expectedPlanes[3] = {expected.y, expected.cb, expected.cr};
        for (int plane = 0; plane < 3; ++plane) {
            for (int y = 0; y < picture.rows(plane); ++y) {
                for (int x = 0; x < picture.elementsPerRow(plane); ++x) {
                    ASSERT_NEAR(picture.Sample(plane, x, y), expectedPlanes[plane], 1.0)
                        << "plane " << plane << " at " << x << "," << y;
                }
            }
        }
        if (picture.planeCount() > 3) {
            EXPECT_EQ(picture.Sample(3, 0, 0), 0) << "alpha plane written";
        }
        EXPECT_TRUE(picture.GuardsIntact());
    }
}

INSTANTIATE_TEST_SUITE_P(EveryLayoutDepthMatrixRange, YuvPatches,
                         ::testing::ValuesIn(YuvPatchCases()),
                         [](const ::testing::TestParamInfo<YuvPatchCase>& info) {
                             std::ostringstream name;
                             PrintTo(info.param, &name);
                             return name.str();
                         });

// Gray: the luma alone, in all three colours; written back as the matrix's
// luma of the colour.
struct GrayCase {
    AVPixelFormat format;
    bool fullRange;
};

class GrayLevels : public ::testing::TestWithParam<GrayCase> {};

TEST_P(GrayLevels, ToBgraScalesLumaToEightBits) {
    const GrayCase& c = GetParam();
    const int depth = DepthOf(c.format);
    const int maximum = (1 << depth) - 1;
    const CodeRange range = CodeRangeFor(depth, c.fullRange);
    const PictureConverter converter(c.format, AVCOL_SPC_UNSPECIFIED,
                                     c.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_UNSPECIFIED,
                                     AVCHROMA_LOC_UNSPECIFIED, kPatchSize, 1);
    for (int step = 0; step <= 16; ++step) {
        const int level = maximum * step / 16;
        TestPicture picture(c.format, kPatchSize, 1);
        for (int x = 0; x < kPatchSize; ++x) {
            picture.SetSample(0, x * (HasAlpha(c.format) ? 2 : 1), 0, level);
        }
        std::vector<std::uint8_t> pixels(kPatchSize * 4);
        converter.ToBgra(picture.planes(), picture.linesizes(), {0, 0, kPatchSize, 1},
                         pixels.data(), 0);
        const int expected =
            RoundToCode((level - range.lumaOffset) * 255 / range.lumaScale, 255);
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_NEAR(pixels[static_cast<std::size_t>(channel)], expected, 1)
                << "level " << level << " channel " << channel;
        }
    }
}

TEST_P(GrayLevels, FromBgraWritesTheLuma) {
    const GrayCase& c = GetParam();
    const int depth = DepthOf(c.format);
    const MatrixUnderTest& bt601 = MatricesUnderTest()[0];
    const CodeRange range = CodeRangeFor(depth, c.fullRange);
    // Untagged and under 720 lines: BT.601's luma weights.
    const PictureConverter converter(c.format, AVCOL_SPC_UNSPECIFIED,
                                     c.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_UNSPECIFIED,
                                     AVCHROMA_LOC_UNSPECIFIED, kPatchSize, 1);
    for (const Patch& patch : kPatches) {
        TestPicture picture(c.format, kPatchSize, 1);
        std::vector<std::uint8_t> pixels;
        for (int x = 0; x < kPatchSize; ++x) {
            pixels.insert(pixels.end(), {static_cast<std::uint8_t>(patch.rgb.b),
                                         static_cast<std::uint8_t>(patch.rgb.g),
                                         static_cast<std::uint8_t>(patch.rgb.r), 0});
        }
        converter.FromBgra(pixels.data(), 0, nullptr, 0, {0, 0, kPatchSize, 1}, picture.planes(),
                           picture.linesizes());
        const double expected = RgbToYuv(patch.rgb, bt601, range).y;
        EXPECT_NEAR(picture.Sample(0, 0, 0), expected, 1.0) << patch.name;
        if (HasAlpha(c.format)) {
            EXPECT_EQ(picture.Sample(0, 1, 0), 0) << "alpha written for " << patch.name;
        }
    }
}

std::vector<GrayCase> GrayCases() {
    std::vector<GrayCase> cases;
    for (AVPixelFormat format : GrayFormats()) {
        cases.push_back({format, false});
        cases.push_back({format, true});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryDepthAndRange, GrayLevels, ::testing::ValuesIn(GrayCases()),
                         [](const ::testing::TestParamInfo<GrayCase>& info) {
                             return FormatName(info.param.format) +
                                    (info.param.fullRange ? "_full" : "_limited");
                         });

// Planar R'G'B': each component scaled between its depth and 8 bits.
class GbrLevels : public ::testing::TestWithParam<AVPixelFormat> {};

TEST_P(GbrLevels, ComponentsScaleBothWays) {
    const AVPixelFormat format = GetParam();
    const int maximum = (1 << DepthOf(format)) - 1;
    const PictureConverter converter(format, AVCOL_SPC_RGB, AVCOL_RANGE_UNSPECIFIED,
                                     AVCHROMA_LOC_UNSPECIFIED, 3, 1);
    TestPicture picture(format, 3, 1);
    // Pixel 0: green, blue, red at a third, two thirds and all of the range.
    const int levels[3] = {maximum / 3, maximum * 2 / 3, maximum};
    for (int plane = 0; plane < 3; ++plane) {
        picture.SetSample(plane, 0, 0, levels[plane]);
    }
    std::uint8_t pixels[12] = {};
    converter.ToBgra(picture.planes(), picture.linesizes(), {0, 0, 3, 1}, pixels, 0);
    EXPECT_NEAR(pixels[1], levels[0] * 255.0 / maximum, 0.5) << "green";
    EXPECT_NEAR(pixels[0], levels[1] * 255.0 / maximum, 0.5) << "blue";
    EXPECT_NEAR(pixels[2], levels[2] * 255.0 / maximum, 0.5) << "red";

    const std::uint8_t written[12] = {10, 20, 30, 0, 200, 100, 0, 0, 255, 254, 1, 0};
    converter.FromBgra(written, 0, nullptr, 0, {0, 0, 3, 1}, picture.planes(),
                       picture.linesizes());
    for (int x = 0; x < 3; ++x) {
        EXPECT_NEAR(picture.Sample(0, x, 0), written[4 * x + 1] * maximum / 255.0, 0.5);
        EXPECT_NEAR(picture.Sample(1, x, 0), written[4 * x + 0] * maximum / 255.0, 0.5);
        EXPECT_NEAR(picture.Sample(2, x, 0), written[4 * x + 2] * maximum / 255.0, 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryDepth, GbrLevels, ::testing::ValuesIn(GbrFormats()),
                         [](const ::testing::TestParamInfo<AVPixelFormat>& info) {
                             return FormatName(info.param);
                         });

}  // namespace
