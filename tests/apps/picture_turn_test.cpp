// Turning pictures upright, piece by piece: a display matrix read as quarter
// turns and mirrors, planes turned by it, and the chroma siting that turns
// with them. Expected values come from the matrix itself (every stored
// sample is carried to where the matrix puts it) and from sitings worked
// out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "apps/quillmere/media/chroma_siting.h"
#include "apps/quillmere/media/orientation.h"
#include "apps/quillmere/media/plane_turn.h"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace {

struct MatrixCase {
    const char* name;
    double anticlockwiseDegrees;  // as av_display_rotation_set takes it
    bool flipLeftRight;           // then av_display_matrix_flip
};

const MatrixCase kMatrices[] = {
    {"Upright", 0, false},          {"Quarter", 90, false},       {"Half", 180, false},
    {"ThreeQuarters", 270, false},  {"Mirrored", 0, true},        {"QuarterMirrored", 90, true},
    {"HalfMirrored", 180, true},    {"ThreeQuartersMirrored", 270, true},
};

// Where the matrix shows stored sample (p, q) of a `width` x `height`
// picture: libavutil's x = a p + c q, y = b p + d q, moved so that the
// picture's corners start at 0.
struct Placed {
    long x;
    long y;
};
Placed Show(const std::int32_t matrix[9], int width, int height, int p, int q) {
    const auto apply = [matrix](double px, double py, double& x, double& y) {
        x = (matrix[0] * px + matrix[3] * py) / 65536.0;
        y = (matrix[1] * px + matrix[4] * py) / 65536.0;
    };
    double minX = 1e9;
    double minY = 1e9;
    for (int corner = 0; corner < 4; ++corner) {
        double x = 0;
        double y = 0;
        apply((corner & 1) != 0 ? width - 1 : 0, (corner & 2) != 0 ? height - 1 : 0, x, y);
        minX = std::min(minX, x);
        minY = std::min(minY, y);
    }
    double x = 0;
    double y = 0;
    apply(p, q, x, y);
    return Placed{std::lround(x - minX), std::lround(y - minY)};
}

class MatrixTurn : public testing::TestWithParam<MatrixCase> {};

// Every stored element, each a distinct value, lands where the matrix
// shows it; sizes beyond the turn's tiles, odd on both sides, and every
// element width.
TEST_P(MatrixTurn, EverySampleLandsWhereTheMatrixShowsIt) {
    const MatrixCase& test = GetParam();
    std::int32_t matrix[9];
    av_display_rotation_set(matrix, test.anticlockwiseDegrees);
    av_display_matrix_flip(matrix, test.flipLeftRight ? 1 : 0, 0);
    const std::optional<Orientation> turn = OrientationOfMatrix(matrix);
    ASSERT_TRUE(turn.has_value());
    constexpr int kWidth = 70;
    constexpr int kHeight = 37;
    for (int bytes : {1, 2, 3, 4, 6, 8}) {
        const std::ptrdiff_t inStride = kWidth * bytes + 5;  // rows padded
        std::vector<std::uint8_t> in(static_cast<std::size_t>(inStride * kHeight));
        for (int q = 0; q < kHeight; ++q) {
            for (int p = 0; p < kWidth; ++p) {
                const std::uint32_t label =
                    static_cast<std::uint32_t>(q * kWidth + p) * 2654435761u;
                for (int b = 0; b < bytes; ++b) {
                    in[static_cast<std::size_t>(q * inStride + p * bytes + b)] =
                        static_cast<std::uint8_t>(label >> (8 * (b % 4)) ^ b);
                }
            }
        }
        const int seenWidth = turn->SeenWidth(kWidth, kHeight);
        const int seenHeight = turn->SeenHeight(kWidth, kHeight);
        const std::ptrdiff_t outStride = seenWidth * bytes + 3;
        std::vector<std::uint8_t> out(static_cast<std::size_t>(outStride * seenHeight));
        // Bottom-up storage (a negative stride) is walked like any other.
        TurnPlane(in.data() + (kHeight - 1) * inStride, -inStride, kWidth, kHeight, bytes, *turn,
                  out.data(), outStride);
        // Picture row q is stored row kHeight - 1 - q.
        for (int q = 0; q < kHeight; ++q) {
            for (int p = 0; p < kWidth; ++p) {
                const Placed seen = Show(matrix, kWidth, kHeight, p, q);
                const std::uint8_t* stored =
                    &in[static_cast<std::size_t>((kHeight - 1 - q) * inStride + p * bytes)];
                const std::uint8_t* shown =
                    &out[static_cast<std::size_t>(seen.y * outStride + seen.x * bytes)];
                ASSERT_EQ(std::memcmp(shown, stored, static_cast<std::size_t>(bytes)), 0)
                    << bytes << "-byte elements, picture (" << p << ", " << q << ")";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MatrixTurn, testing::ValuesIn(kMatrices),
                         [](const testing::TestParamInfo<MatrixCase>& info) {
                             return info.param.name;
                         });

TEST(MatrixTurnAngles, OnlyQuarterTurnsWithinADegreeAreTurns) {
    std::int32_t matrix[9];
    for (double degrees : {30.0, 45.0, 88.0, 135.0}) {
        av_display_rotation_set(matrix, degrees);
        EXPECT_FALSE(OrientationOfMatrix(matrix).has_value()) << degrees;
    }
    for (double degrees : {89.5, -90.4, 180.3}) {
        av_display_rotation_set(matrix, degrees);
        EXPECT_TRUE(OrientationOfMatrix(matrix).has_value()) << degrees;
    }
    // A matrix that shows nothing turns nothing.
    std::memset(matrix, 0, sizeof matrix);
    EXPECT_FALSE(OrientationOfMatrix(matrix).has_value());
}

// Sitings worked out by hand: a sample at half-pixel offset h from its
// block's first pixel lies, after a mirror of an axis of n pixels in
// blocks of 2, at 2 (n - 1) - h from the mirrored block's first pixel when
// n is even (h from the same side when n is odd).
struct SitingCase {
    const char* name;
    AVChromaLocation location;
    int shiftX;
    int shiftY;
    int width;
    int height;
    Orientation turn;
    AVChromaLocation expected;
    bool exact;
    bool fullRangeAlias = false;  // a yuvj* format
};

constexpr Orientation kClockwise{true, true, false};
constexpr Orientation kAnticlockwise{true, false, true};
constexpr Orientation kHalfTurn{false, true, true};
constexpr Orientation kLeftRight{false, true, false};

const SitingCase kSitings[] = {
    // 4:2:0 sited left (H.264's usual): a quarter turn moves the cosited
    // side to the top or the bottom; a half turn puts it on the right.
    {"Left420Clockwise", AVCHROMA_LOC_LEFT, 1, 1, 8, 6, kClockwise, AVCHROMA_LOC_TOP, true},
    {"Left420Anticlockwise", AVCHROMA_LOC_LEFT, 1, 1, 8, 6, kAnticlockwise, AVCHROMA_LOC_BOTTOM,
     true},
    {"Left420HalfTurn", AVCHROMA_LOC_LEFT, 1, 1, 8, 6, kHalfTurn, AVCHROMA_LOC_CENTER, false},
    {"Unspecified420Clockwise", AVCHROMA_LOC_UNSPECIFIED, 1, 1, 8, 6, kClockwise,
     AVCHROMA_LOC_TOP, true},
    // Untagged JPEG chroma is centred, as the converter reads it, and stays so.
    {"UntaggedJpeg420HalfTurn", AVCHROMA_LOC_UNSPECIFIED, 1, 1, 8, 6, kHalfTurn,
     AVCHROMA_LOC_CENTER, true, true},
    // Centred chroma stays centred whatever the turn.
    {"Center420HalfTurn", AVCHROMA_LOC_CENTER, 1, 1, 8, 6, kHalfTurn, AVCHROMA_LOC_CENTER, true},
    {"Center420Clockwise", AVCHROMA_LOC_CENTER, 1, 1, 8, 6, kClockwise, AVCHROMA_LOC_CENTER,
     true},
    // Top-left (BT.2020's usual) turned clockwise: the top becomes the right.
    {"TopLeft420Clockwise", AVCHROMA_LOC_TOPLEFT, 1, 1, 8, 6, kClockwise, AVCHROMA_LOC_TOP,
     false},
    {"TopLeft420HalfTurn", AVCHROMA_LOC_TOPLEFT, 1, 1, 8, 6, kHalfTurn, AVCHROMA_LOC_BOTTOM,
     false},
    // An odd width ends on a block of one pixel: mirrored, a left-sited
    // sample stays on its block's first pixel; a centred one does not.
    {"Left420OddWidthMirror", AVCHROMA_LOC_LEFT, 1, 1, 7, 6, kLeftRight, AVCHROMA_LOC_LEFT, true},
    {"Center420OddWidthMirror", AVCHROMA_LOC_CENTER, 1, 1, 7, 6, kLeftRight, AVCHROMA_LOC_LEFT,
     false},
    // 4:2:2 turned a quarter is chroma halved down, sited at the top or bottom.
    {"Left422Clockwise", AVCHROMA_LOC_LEFT, 1, 0, 8, 6, kClockwise, AVCHROMA_LOC_TOPLEFT, true},
    {"Left422Anticlockwise", AVCHROMA_LOC_LEFT, 1, 0, 8, 6, kAnticlockwise,
     AVCHROMA_LOC_BOTTOMLEFT, true},
    // Nothing subsampled: the tag stays as it was.
    {"Full444", AVCHROMA_LOC_UNSPECIFIED, 0, 0, 8, 6, kClockwise, AVCHROMA_LOC_UNSPECIFIED, true},
};

class TurnedSitingTable : public testing::TestWithParam<SitingCase> {};

TEST_P(TurnedSitingTable, SitesAsWorkedOut) {
    const SitingCase& test = GetParam();
    const TurnedSiting turned = TurnedChromaLocation(test.location, test.fullRangeAlias,
                                                     test.shiftX, test.shiftY, test.width,
                                                     test.height, test.turn);
    EXPECT_EQ(turned.location, test.expected) << av_chroma_location_name(turned.location);
    EXPECT_EQ(turned.exact, test.exact);
}

INSTANTIATE_TEST_SUITE_P(Table, TurnedSitingTable, testing::ValuesIn(kSitings),
                         [](const testing::TestParamInfo<SitingCase>& info) {
                             return info.param.name;
                         });

}  // namespace
