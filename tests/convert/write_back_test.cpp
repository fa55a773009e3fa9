// Writing pixels back: unchanged pixels keep their decoded samples exactly,
// a changed pixel writes only the samples made from it, and nothing outside
// the rectangle (or in the alpha plane) is touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "convert/picture_converter.h"
#include "tests/convert/convert_test_formats.h"
#include "tests/convert/test_picture.h"

namespace {

constexpr int kFrameWidth = 37;
constexpr int kFrameHeight = 23;

// Which component of the format, and which pixel (or chroma block) of it, a
// plane sample belongs to.
struct SampleOwner {
    int component = -1;
    int column = 0;
    int row = 0;
    bool subsampled = false;
};

SampleOwner OwnerOf(AVPixelFormat format, const SamplePosition& position, int bytesPerElement) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    const bool rgb = (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    for (int i = 0; i < descriptor->nb_components; ++i) {
        const AVComponentDescriptor& component = descriptor->comp[i];
        const int byte = position.x * bytesPerElement - component.offset;
        if (component.plane != position.plane || byte < 0 || byte % component.step != 0) {
            continue;
        }
        SampleOwner owner;
        owner.component = i;
        owner.column = byte / component.step;
        owner.row = position.y;
        owner.subsampled = !rgb && (i == 1 || i == 2);
        return owner;
    }
    return {};
}

bool IsAlphaComponent(AVPixelFormat format, int component) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return HasAlpha(format) && component == descriptor->nb_components - 1;
}

bool OwnerInside(AVPixelFormat format, const SampleOwner& owner, PictureRect rect) {
    if (!owner.subsampled) {
        return owner.column >= rect.x && owner.column < rect.right() && owner.row >= rect.y &&
               owner.row < rect.bottom();
    }
    const int shiftX = ChromaShiftX(format), shiftY = ChromaShiftY(format);
    return owner.column >= rect.x >> shiftX && owner.column <= (rect.right() - 1) >> shiftX &&
           owner.row >= rect.y >> shiftY && owner.row <= (rect.bottom() - 1) >> shiftY;
}

PictureConverter MakeConverter(AVPixelFormat format) {
    return PictureConverter(format, AVCOL_SPC_BT709, AVCOL_RANGE_UNSPECIFIED,
                            AVCHROMA_LOC_UNSPECIFIED, kFrameWidth, kFrameHeight);
}

std::vector<std::uint8_t> ToBgra(const PictureConverter& converter, const TestPicture& picture,
                                 PictureRect rect) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(rect.width * rect.height * 4));
    converter.ToBgra(picture.planes(), picture.linesizes(), rect, pixels.data(), rect.width * 4);
    return pixels;
}

class WriteBack : public ::testing::TestWithParam<AVPixelFormat> {};

TEST_P(WriteBack, UnchangedPixelsWriteNothing) {
    const AVPixelFormat format = GetParam();
    const PictureConverter converter = MakeConverter(format);
    std::mt19937 random(5);
    TestPicture picture(format, kFrameWidth, kFrameHeight);
    picture.FillRandom(random);
    const TestPicture before(picture);
    for (PictureRect rect : {PictureRect{0, 0, kFrameWidth, kFrameHeight},
                             converter.AlignToChromaGrid({7, 3, 13, 11})}) {
        const std::vector<std::uint8_t> original = ToBgra(converter, picture, rect);
        std::vector<std::uint8_t> pixels = original;
        // Alpha is not part of the comparison.
        for (std::size_t i = 3; i < pixels.size(); i += 4) {
            pixels[i] = static_cast<std::uint8_t>(~pixels[i]);
        }
        converter.FromBgra(pixels.data(), rect.width * 4, original.data(), rect.width * 4, rect,
                           picture.planes(), picture.linesizes());
        EXPECT_TRUE(picture.DifferencesFrom(before).empty()) << rect.width << "x" << rect.height;
        EXPECT_TRUE(picture.GuardsIntact());
    }
}

TEST_P(WriteBack, OneChangedPixelWritesOnlyItsSamples) {
    const AVPixelFormat format = GetParam();
    const PictureConverter converter = MakeConverter(format);
    std::mt19937 random(9);
    TestPicture picture(format, kFrameWidth, kFrameHeight);
    picture.FillRandom(random);
    const TestPicture before(picture);
    const PictureRect rect = converter.AlignToChromaGrid({5, 3, 25, 17});
    const std::vector<std::uint8_t> original = ToBgra(converter, picture, rect);
    std::vector<std::uint8_t> pixels = original;
    const int changedX = 13, changedY = 9;  // odd: the last pixel of its chroma blocks
    std::uint8_t* pixel = &pixels[static_cast<std::size_t>(
        ((changedY - rect.y) * rect.width + (changedX - rect.x)) * 4)];
    // Far from what was there: black where it was light, white where dark.
    const std::uint8_t replacement = pixel[1] > 127 ? 0 : 255;
    pixel[0] = pixel[1] = pixel[2] = replacement;
    converter.FromBgra(pixels.data(), rect.width * 4, original.data(), rect.width * 4, rect,
                       picture.planes(), picture.linesizes());

    bool firstComponentWritten = false;
    for (const SamplePosition& position : picture.DifferencesFrom(before)) {
        const SampleOwner owner = OwnerOf(format, position, picture.bytesPerElement());
        ASSERT_GE(owner.component, 0) << "plane " << position.plane << " element " << position.x;
        EXPECT_FALSE(IsAlphaComponent(format, owner.component)) << "alpha written";
        const int shiftX = owner.subsampled ? ChromaShiftX(format) : 0;
        const int shiftY = owner.subsampled ? ChromaShiftY(format) : 0;
        EXPECT_EQ(owner.column, changedX >> shiftX) << "component " << owner.component;
        EXPECT_EQ(owner.row, changedY >> shiftY) << "component " << owner.component;
        firstComponentWritten = firstComponentWritten || owner.component == 0;
    }
    EXPECT_TRUE(firstComponentWritten);
    EXPECT_TRUE(picture.GuardsIntact());
}

TEST_P(WriteBack, WritesStayInsideTheRect) {
    const AVPixelFormat format = GetParam();
    const PictureConverter converter = MakeConverter(format);
    std::mt19937 random(13);
    TestPicture picture(format, kFrameWidth, kFrameHeight);
    picture.FillRandom(random);
    for (PictureRect wanted : {PictureRect{5, 3, 9, 7}, PictureRect{31, 19, 6, 4}}) {
        const TestPicture before(picture);
        const PictureRect rect = converter.AlignToChromaGrid(wanted);
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(rect.width * rect.height * 4));
        for (std::uint8_t& byte : pixels) {
            byte = static_cast<std::uint8_t>(random());
        }
        converter.FromBgra(pixels.data(), rect.width * 4, nullptr, 0, rect, picture.planes(),
                           picture.linesizes());
        for (const SamplePosition& position : picture.DifferencesFrom(before)) {
            const SampleOwner owner = OwnerOf(format, position, picture.bytesPerElement());
            EXPECT_FALSE(IsAlphaComponent(format, owner.component)) << "alpha written";
            EXPECT_TRUE(OwnerInside(format, owner, rect))
                << "plane " << position.plane << " element " << position.x << " row "
                << position.y;
        }
        EXPECT_TRUE(picture.GuardsIntact());
    }
}

// Byte 3 carries the picture's alpha scaled to 8 bits, or 255 without one.
TEST_P(WriteBack, AlphaGoesToTheFourthByte) {
    const AVPixelFormat format = GetParam();
    const PictureConverter converter = MakeConverter(format);
    std::mt19937 random(17);
    TestPicture picture(format, kFrameWidth, kFrameHeight);
    picture.FillRandom(random);
    const std::vector<std::uint8_t> pixels =
        ToBgra(converter, picture, {0, 0, kFrameWidth, kFrameHeight});
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    const AVComponentDescriptor& alpha = descriptor->comp[descriptor->nb_components - 1];
    for (int y = 0; y < kFrameHeight; ++y) {
        for (int x = 0; x < kFrameWidth; ++x) {
            const int actual = pixels[static_cast<std::size_t>((y * kFrameWidth + x) * 4 + 3)];
            if (!HasAlpha(format)) {
                ASSERT_EQ(actual, 255) << x << "," << y;
                continue;
            }
            const int element = (x * alpha.step + alpha.offset) / picture.bytesPerElement();
            const int sample = picture.Sample(alpha.plane, element, y);
            ASSERT_NEAR(actual, sample * 255.0 / picture.maximum(), 0.5) << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, WriteBack, ::testing::ValuesIn(AllHandledFormats()),
                         [](const ::testing::TestParamInfo<AVPixelFormat>& info) {
                             return FormatName(info.param);
                         });

}  // namespace

namespace {

// Frames smaller than a chroma block or a vector: the round trip through
// unchanged pixels keeps every sample, and nothing outside the planes moves.
struct TinyCase {
    AVPixelFormat format;
    int width, height;
};

class TinyFrames : public ::testing::TestWithParam<TinyCase> {};

TEST_P(TinyFrames, UnchangedRoundTripKeepsEverySample) {
    const TinyCase& c = GetParam();
    const PictureConverter converter(c.format, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG,
                                     AVCHROMA_LOC_CENTER, c.width, c.height);
    std::mt19937 random(29);
    TestPicture picture(c.format, c.width, c.height);
    picture.FillRandom(random);
    const TestPicture before(picture);
    const PictureRect frame{0, 0, c.width, c.height};
    std::vector<std::uint8_t> original(static_cast<std::size_t>(c.width * c.height * 4));
    converter.ToBgra(picture.planes(), picture.linesizes(), frame, original.data(), c.width * 4);
    converter.FromBgra(original.data(), c.width * 4, original.data(), c.width * 4, frame,
                       picture.planes(), picture.linesizes());
    EXPECT_TRUE(picture.DifferencesFrom(before).empty());
    converter.FromBgra(original.data(), c.width * 4, nullptr, 0, frame, picture.planes(),
                       picture.linesizes());
    EXPECT_TRUE(picture.GuardsIntact());
}

std::vector<TinyCase> TinyCases() {
    std::vector<TinyCase> cases;
    for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV422P,
                                 AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV440P, AV_PIX_FMT_YUV444P16LE}) {
        for (const auto& [width, height] : {std::pair{1, 1}, {1, 5}, {5, 1}, {3, 3}, {9, 2}}) {
            cases.push_back({format, width, height});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(SmallerThanABlock, TinyFrames, ::testing::ValuesIn(TinyCases()),
                         [](const ::testing::TestParamInfo<TinyCase>& info) {
                             return FormatName(info.param.format) + "_" +
                                    std::to_string(info.param.width) + "x" +
                                    std::to_string(info.param.height);
                         });

}  // namespace
