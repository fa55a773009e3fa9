// A rectangle converted on its own equals the same rectangle cut out of the
// whole frame's conversion, wherever it lies: the chroma around it is read
// from the frame, not replicated from the rectangle's edge.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
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

struct RectCase {
    const char* name;
    PictureRect rect;
};

const RectCase kRects[] = {
    {"TopLeftPixel", {0, 0, 1, 1}},
    {"OddInterior", {3, 5, 7, 9}},
    {"OneOddColumn", {11, 0, 1, kFrameHeight}},
    {"OneOddRow", {0, 7, kFrameWidth, 1}},
    {"TouchesRightEdge", {30, 4, 7, 6}},
    {"TouchesBottomEdge", {5, 18, 9, 5}},
    {"BottomRightPixel", {kFrameWidth - 1, kFrameHeight - 1, 1, 1}},
    {"TouchesLeftAndTop", {0, 0, 5, 3}},
    {"EveryEdge", {0, 0, kFrameWidth, kFrameHeight}},
    {"WideOffsetByOne", {1, 1, kFrameWidth - 2, kFrameHeight - 2}},
};

struct CropCase {
    AVPixelFormat format;
    AVChromaLocation location;
    RectCase rect;
    bool bottomUp;
};

std::string CaseName(const CropCase& c) {
    std::ostringstream name;
    name << FormatName(c.format) << "_" << av_chroma_location_name(c.location) << "_"
         << c.rect.name << (c.bottomUp ? "_BottomUp" : "");
    return name.str();
}

std::vector<CropCase> CropCases() {
    std::vector<CropCase> cases;
    const AVPixelFormat formats[] = {
        AV_PIX_FMT_YUV420P,     AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV420P16LE, AV_PIX_FMT_YUV422P,
        AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV444P,     AV_PIX_FMT_YUV440P,     AV_PIX_FMT_YUV411P,
        AV_PIX_FMT_YUVJ420P,    AV_PIX_FMT_YUVA420P10LE, AV_PIX_FMT_GBRP10LE,   AV_PIX_FMT_GRAY10LE,
        AV_PIX_FMT_YA8,         AV_PIX_FMT_RGB24,       AV_PIX_FMT_ARGB,
    };
    for (AVPixelFormat format : formats) {
        for (const RectCase& rect : kRects) {
            cases.push_back({format, AVCHROMA_LOC_UNSPECIFIED, rect, false});
        }
    }
    // Every siting on the subsampled layouts, and bottom-up output.
    const AVChromaLocation locations[] = {AVCHROMA_LOC_LEFT, AVCHROMA_LOC_CENTER,
                                          AVCHROMA_LOC_TOPLEFT, AVCHROMA_LOC_TOP,
                                          AVCHROMA_LOC_BOTTOMLEFT, AVCHROMA_LOC_BOTTOM};
    for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV440P}) {
        for (AVChromaLocation location : locations) {
            cases.push_back({format, location, kRects[1], false});
            cases.push_back({format, location, kRects[4], true});
        }
    }
    return cases;
}

class RectConversion : public ::testing::TestWithParam<CropCase> {};

TEST_P(RectConversion, EqualsCropOfWholeFrame) {
    const CropCase& c = GetParam();
    std::mt19937 random(42);
    TestPicture picture(c.format, kFrameWidth, kFrameHeight);
    picture.FillRandom(random);
    const PictureConverter converter(c.format, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, c.location,
                                     kFrameWidth, kFrameHeight);
    const int wholeStride = kFrameWidth * 4;
    std::vector<std::uint8_t> whole(static_cast<std::size_t>(wholeStride * kFrameHeight));
    converter.ToBgra(picture.planes(), picture.linesizes(), {0, 0, kFrameWidth, kFrameHeight},
                     whole.data(), wholeStride);

    const PictureRect rect = c.rect.rect;
    // Rows padded by a few bytes that must stay as they are.
    const int stride = rect.width * 4 + 12;
    constexpr std::uint8_t kUntouched = 0x3C;
    std::vector<std::uint8_t> part(static_cast<std::size_t>(stride * rect.height), kUntouched);
    std::uint8_t* top = c.bottomUp ? part.data() + static_cast<std::ptrdiff_t>(rect.height - 1) * stride
                                   : part.data();
    converter.ToBgra(picture.planes(), picture.linesizes(), rect, top,
                     c.bottomUp ? -stride : stride);

    for (int row = 0; row < rect.height; ++row) {
        const std::uint8_t* expected =
            whole.data() + (rect.y + row) * wholeStride + rect.x * 4;
        const std::uint8_t* actual = top + static_cast<std::ptrdiff_t>(row) * (c.bottomUp ? -stride : stride);
        ASSERT_EQ(0, std::memcmp(expected, actual, static_cast<std::size_t>(rect.width) * 4))
            << "row " << row;
        for (int padding = rect.width * 4; padding < stride; ++padding) {
            ASSERT_EQ(actual[padding], kUntouched) << "row " << row << " padding written";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OddRectsAtEveryEdge, RectConversion, ::testing::ValuesIn(CropCases()),
                         [](const ::testing::TestParamInfo<CropCase>& info) {
                             return CaseName(info.param);
                         });

TEST(RectConversionLimits, RectOutsideTheFrameIsRefused) {
    const PictureConverter converter(AV_PIX_FMT_YUV420P, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG,
                                     AVCHROMA_LOC_LEFT, 8, 8);
    TestPicture picture(AV_PIX_FMT_YUV420P, 8, 8);
    std::vector<std::uint8_t> out(16 * 16 * 4);
    EXPECT_THROW(converter.ToBgra(picture.planes(), picture.linesizes(), {4, 4, 5, 1}, out.data(), 64),
                 std::out_of_range);
    EXPECT_THROW(converter.ToBgra(picture.planes(), picture.linesizes(), {-1, 0, 2, 2}, out.data(), 64),
                 std::out_of_range);
    EXPECT_THROW(converter.FromBgra(out.data(), 64, nullptr, 0, {1, 0, 2, 2}, picture.planes(),
                                    picture.linesizes()),
                 std::invalid_argument);
}

// The grid that FromBgra needs: widened outward to the subsampling, clipped
// to the frame, and so reaching an odd frame edge.
struct AlignCase {
    const char* name;
    AVPixelFormat format;
    PictureRect rect;
    PictureRect expected;
};

void PrintTo(const AlignCase& c, std::ostream* os) { *os << c.name; }

constexpr int kOddWidth = 21;
constexpr int kOddHeight = 15;

const AlignCase kAlignCases[] = {
    {"Yuv420OddRect", AV_PIX_FMT_YUV420P, {3, 5, 4, 3}, {2, 4, 6, 4}},
    {"Yuv420AlreadyAligned", AV_PIX_FMT_YUV420P, {2, 4, 6, 4}, {2, 4, 6, 4}},
    {"Yuv420ToOddCorner", AV_PIX_FMT_YUV420P, {19, 13, 2, 2}, {18, 12, 3, 3}},
    {"Yuv420PastTheFrame", AV_PIX_FMT_YUV420P, {15, 11, 50, 50}, {14, 10, 7, 5}},
    {"Yuv420BeforeTheFrame", AV_PIX_FMT_YUV420P, {-5, -3, 8, 6}, {0, 0, 4, 4}},
    {"Yuv420OutsideIsEmpty", AV_PIX_FMT_YUV420P, {30, 2, 4, 4}, {21, 2, 0, 0}},
    {"Yuv422OddRect", AV_PIX_FMT_YUV422P10LE, {3, 5, 4, 3}, {2, 5, 6, 3}},
    {"Yuv422ToOddRightEdge", AV_PIX_FMT_YUV422P, {20, 0, 1, 1}, {20, 0, 1, 1}},
    {"Yuv444Unchanged", AV_PIX_FMT_YUV444P, {3, 5, 4, 3}, {3, 5, 4, 3}},
    {"Yuv444Clipped", AV_PIX_FMT_YUV444P, {18, 12, 9, 9}, {18, 12, 3, 3}},
    {"Yuv411OddRect", AV_PIX_FMT_YUV411P, {5, 5, 4, 3}, {4, 5, 8, 3}},
    {"Yuv411NearRightEdge", AV_PIX_FMT_YUV411P, {17, 1, 1, 1}, {16, 1, 4, 1}},
    {"Yuv411ToOddRightEdge", AV_PIX_FMT_YUV411P, {19, 1, 2, 1}, {16, 1, 5, 1}},
    {"Yuv440OddRect", AV_PIX_FMT_YUV440P, {3, 5, 4, 3}, {3, 4, 4, 4}},
    {"Yuv440ToOddBottomEdge", AV_PIX_FMT_YUV440P, {3, 14, 1, 1}, {3, 14, 1, 1}},
    {"GbrUnchanged", AV_PIX_FMT_GBRP, {3, 5, 4, 3}, {3, 5, 4, 3}},
};

class ChromaGrid : public ::testing::TestWithParam<AlignCase> {};

TEST_P(ChromaGrid, WidensOutwardAndClips) {
    const AlignCase& c = GetParam();
    const PictureConverter converter(c.format, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG,
                                     AVCHROMA_LOC_LEFT, kOddWidth, kOddHeight);
    const PictureRect aligned = converter.AlignToChromaGrid(c.rect);
    EXPECT_EQ(aligned.x, c.expected.x);
    EXPECT_EQ(aligned.y, c.expected.y);
    EXPECT_EQ(aligned.width, c.expected.width);
    EXPECT_EQ(aligned.height, c.expected.height);
}

INSTANTIATE_TEST_SUITE_P(OddFrames, ChromaGrid, ::testing::ValuesIn(kAlignCases),
                         [](const ::testing::TestParamInfo<AlignCase>& info) {
                             return std::string(info.param.name);
                         });

// Inward: what lies wholly inside, a chroma block cut by the frame's edge
// counting as whole.
const AlignCase kShrinkCases[] = {
    {"Yuv420OddRect", AV_PIX_FMT_YUV420P, {3, 5, 4, 3}, {4, 6, 2, 2}},
    {"Yuv420TooThinIsEmpty", AV_PIX_FMT_YUV420P, {3, 5, 2, 2}, {4, 6, 0, 0}},
    {"Yuv420ToOddCorner", AV_PIX_FMT_YUV420P, {17, 11, 4, 4}, {18, 12, 3, 3}},
    {"Yuv420PastTheFrame", AV_PIX_FMT_YUV420P, {15, 11, 50, 50}, {16, 12, 5, 3}},
    {"Yuv420BeforeTheFrame", AV_PIX_FMT_YUV420P, {-5, -3, 8, 6}, {0, 0, 2, 2}},
    {"Yuv411OddRect", AV_PIX_FMT_YUV411P, {5, 5, 9, 3}, {8, 5, 4, 3}},
    {"Yuv440OddRect", AV_PIX_FMT_YUV440P, {3, 5, 4, 3}, {3, 6, 4, 2}},
    {"Yuv444Unchanged", AV_PIX_FMT_YUV444P, {3, 5, 4, 3}, {3, 5, 4, 3}},
};

class ChromaGridInside : public ::testing::TestWithParam<AlignCase> {};

TEST_P(ChromaGridInside, ShrinksInwardAndClips) {
    const AlignCase& c = GetParam();
    const PictureConverter converter(c.format, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG,
                                     AVCHROMA_LOC_LEFT, kOddWidth, kOddHeight);
    const PictureRect shrunk = converter.ShrinkToChromaGrid(c.rect);
    EXPECT_EQ(shrunk.x, c.expected.x);
    EXPECT_EQ(shrunk.y, c.expected.y);
    EXPECT_EQ(shrunk.width, c.expected.width);
    EXPECT_EQ(shrunk.height, c.expected.height);
    // On the grid: aligning it again leaves it as it is.
    const PictureRect again = converter.AlignToChromaGrid(shrunk);
    if (!shrunk.empty()) {
        EXPECT_EQ(again.x, shrunk.x);
        EXPECT_EQ(again.width, shrunk.width);
        EXPECT_EQ(again.y, shrunk.y);
        EXPECT_EQ(again.height, shrunk.height);
    }
}

INSTANTIATE_TEST_SUITE_P(OddFrames, ChromaGridInside, ::testing::ValuesIn(kShrinkCases),
                         [](const ::testing::TestParamInfo<AlignCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
