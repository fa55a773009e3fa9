#include "hostkit/bitmap_operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/hostkit/stretch_reference.h"

namespace {

const VBitmapOperations& ops = HostBitmapOperations();

BITMAPINFOHEADER Header(long w, long h, int depth) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = w;
    header.biHeight = h;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(depth);
    return header;
}

// A 32-bit bitmap over guarded memory, every pixel different.
struct Canvas {
    Canvas(int w, int h, int padPixels = 0, std::uint32_t seed = 1)
        : pitch(4L * (w + padPixels)), buffer(static_cast<std::size_t>(pitch) * h) {
        bitmap = MakeBitmap32(reinterpret_cast<Pixel32*>(buffer.data()), w, h, pitch);
        std::mt19937 random(seed);
        for (long i = 0; i < pitch * h / 4; ++i) {
            reinterpret_cast<Pixel32*>(buffer.data())[i] = static_cast<Pixel32>(random());
        }
    }
    Pixel32& at(int x, int y) { return PictureRow(bitmap, y)[x]; }
    std::vector<Pixel32> Pixels() {
        std::vector<Pixel32> all;
        for (int y = 0; y < bitmap.h; ++y) {
            all.insert(all.end(), PictureRow(bitmap, y), PictureRow(bitmap, y) + bitmap.w);
        }
        return all;
    }
    long pitch;
    GuardedBuffer buffer;
    VBitmap bitmap;
};

// ---------------------------------------------------------------------------
// init

struct HeaderLayout {
    long width, height;
    int depth;
    int w, h;
    long pitch;  // absolute
    bool palette;
};

class InitFromHeaderTest : public ::testing::TestWithParam<HeaderLayout> {};

TEST_P(InitFromHeaderTest, LaysRowsOutFromTheHeader) {
    const HeaderLayout& expected = GetParam();
    struct {
        BITMAPINFOHEADER header;
        std::uint32_t colours[2];
    } frame{Header(expected.width, expected.height, expected.depth), {0, 0}};
    std::vector<std::uint8_t> bits(4096);
    VBitmap bitmap{};
    VBitmap* result = ops.initFromHeader(&bitmap, bits.data(), &frame.header);
    ASSERT_EQ(result, &bitmap);
    EXPECT_EQ(bitmap.w, expected.w);
    EXPECT_EQ(bitmap.h, expected.h);
    EXPECT_EQ(bitmap.depth, expected.depth);
    EXPECT_EQ(std::labs(bitmap.pitch), expected.pitch);
    EXPECT_EQ(bitmap.size, expected.pitch * expected.h);
    if (expected.h > 0) {
        const long rowBytes = (static_cast<long>(expected.w) * expected.depth + 7) / 8;
        EXPECT_EQ(bitmap.modulo, bitmap.pitch - rowBytes);
        // Picture row 0 is the last stored row bottom-up, the first top-down.
        const auto* first = reinterpret_cast<std::uint8_t*>(PictureRow(bitmap, 0));
        const std::ptrdiff_t expectedOffset =
            expected.height < 0 ? 0 : (expected.h - 1) * expected.pitch;
        EXPECT_EQ(first - bits.data(), expectedOffset);
        EXPECT_EQ(reinterpret_cast<std::uint8_t*>(PictureRow(bitmap, expected.h - 1)) -
                      bits.data(),
                  expected.height < 0 ? (expected.h - 1) * expected.pitch : 0);
        EXPECT_EQ(bitmap.pitch < 0, expected.height < 0);
    }
    EXPECT_EQ(bitmap.palette, expected.palette ? frame.colours : nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, InitFromHeaderTest,
    ::testing::Values(HeaderLayout{3, 2, 24, 3, 2, 12, false},     // 9 bytes padded to 12
                      HeaderLayout{641, 2, 32, 641, 2, 2564, false},
                      HeaderLayout{5, 2, 8, 5, 2, 8, true},
                      HeaderLayout{7, 3, 16, 7, 3, 16, false},
                      HeaderLayout{9, 2, 4, 9, 2, 8, true},
                      HeaderLayout{33, 1, 1, 33, 1, 8, true},
                      HeaderLayout{3, -4, 24, 3, 4, 12, false},    // top-down
                      HeaderLayout{5, -2, 8, 5, 2, 8, true},
                      HeaderLayout{-4, 2, 32, 0, 0, 0, false},     // no valid layout
                      HeaderLayout{1 << 30, 2, 32, 0, 0, 0, false},
                      HeaderLayout{4, 2, 12, 0, 0, 0, false}));

TEST(InitFromSize, RowsFollowEachOtherForThirtyTwoBits) {
    struct Case {
        long w, h;
        int depth;
        long pitch;
    };
    for (const Case& c : {Case{5, 3, 32, 20}, Case{641, 2, 32, 2564}, Case{5, 3, 24, 16},
                          Case{3, 1, 16, 8}, Case{0, 0, 32, 0}}) {
        std::vector<Pixel32> pixels(64);
        VBitmap bitmap{};
        EXPECT_EQ(ops.initFromSize(&bitmap, pixels.data(), c.w, c.h, c.depth), &bitmap);
        EXPECT_EQ(bitmap.w, c.w);
        EXPECT_EQ(bitmap.h, c.h);
        EXPECT_EQ(bitmap.pitch, c.pitch) << c.w << "x" << c.depth;
        EXPECT_EQ(bitmap.size, c.pitch * c.h);
        EXPECT_EQ(bitmap.data, pixels.data());
    }
}

TEST(MakeBitmapHeader, DescribesTheLayoutThatInitReadsBack) {
    std::vector<std::uint8_t> bits(4096);
    for (long height : {3L, -3L}) {
        BITMAPINFOHEADER original = Header(5, height, 24);
        VBitmap bitmap{};
        ops.initFromHeader(&bitmap, bits.data(), &original);
        BITMAPINFOHEADER padded{}, unpadded{};
        ops.MakeBitmapHeader(&bitmap, &padded);
        ops.MakeBitmapHeaderNoPadding(&bitmap, &unpadded);
        EXPECT_EQ(padded.biWidth, 5);
        EXPECT_EQ(padded.biHeight, height);
        EXPECT_EQ(padded.biBitCount, 24);
        EXPECT_EQ(padded.biSizeImage, 16u * 3);
        EXPECT_EQ(unpadded.biSizeImage, 15u * 3);
        VBitmap again{};
        ops.initFromHeader(&again, bits.data(), &padded);
        EXPECT_EQ(again.data, bitmap.data);
        EXPECT_EQ(again.pitch, bitmap.pitch);
    }
}

TEST(Align, RelaysRowsOverTheSameLowestAddressKeepingTheirOrder) {
    std::vector<std::uint8_t> bits(4096);
    for (long height : {3L, -3L}) {
        BITMAPINFOHEADER header = Header(5, height, 24);
        VBitmap bitmap{};
        ops.initFromHeader(&bitmap, bits.data(), &header);
        ops.AlignTo8(&bitmap);
        EXPECT_EQ(std::labs(bitmap.pitch), 16);
        EXPECT_EQ(bitmap.pitch < 0, height < 0);
        ops.AlignTo4(&bitmap);
        BITMAPINFOHEADER odd = Header(3, height, 24);
        ops.initFromHeader(&bitmap, bits.data(), &odd);
        ops.AlignTo8(&bitmap);
        EXPECT_EQ(std::labs(bitmap.pitch), 16);
        const auto* lowest = reinterpret_cast<std::uint8_t*>(
            PictureRow(bitmap, height < 0 ? 0 : bitmap.h - 1));
        EXPECT_EQ(lowest, bits.data());
    }
}

// ---------------------------------------------------------------------------
// BitBlt: depth conversion

struct Conversion {
    const char* name;
    int depth;
    std::vector<std::uint8_t> bytes;  // one row, unpadded
    std::vector<Pixel32> expected;
};

class BitBltConversionTest : public ::testing::TestWithParam<Conversion> {};

TEST_P(BitBltConversionTest, ConvertsEveryDepthToThirtyTwoBits) {
    const Conversion& c = GetParam();
    const int width = static_cast<int>(c.expected.size());
    struct {
        BITMAPINFOHEADER header;
        Pixel32 palette[16];
    } frame{Header(width, 2, c.depth), {}};
    for (Pixel32 i = 0; i < 16; ++i) {
        frame.palette[i] = 0xEE000000u | (i * 0x00102030u);  // reserved byte set
    }
    // Two rows: picture row 0 holds the test bytes, row 1 zeros.
    const long pitch = ((width * c.depth + 31) / 32) * 4;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(pitch) * 2, 0);
    std::memcpy(bits.data() + pitch, c.bytes.data(), c.bytes.size());
    VBitmap source{};
    ops.initFromHeader(&source, bits.data(), &frame.header);

    Canvas canvas(width + 2, 3);
    const Pixel32 untouched = canvas.at(width, 0);
    ops.BitBlt(&canvas.bitmap, 0, 0, &source, 0, 0, -1, -1);
    for (int x = 0; x < width; ++x) {
        EXPECT_EQ(canvas.at(x, 0), c.expected[x]) << c.name << " pixel " << x;
    }
    EXPECT_EQ(canvas.at(width, 0), untouched);
    EXPECT_TRUE(canvas.buffer.GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Depths, BitBltConversionTest,
    ::testing::Values(
        Conversion{"32", 32, {0x11, 0x22, 0x33, 0x44, 0xFF, 0xFE, 0xFD, 0xFC},
                   {0x44332211u, 0xFCFDFEFFu}},
        Conversion{"24", 24, {0x11, 0x22, 0x33, 0xFF, 0x00, 0x80, 0x01, 0x02, 0x03},
                   {0x00332211u, 0x008000FFu, 0x00030201u}},
        Conversion{"555",
                   16,
                   {0xFF, 0x7F, 0x1F, 0x00, 0x21, 0x04, 0x94, 0x52, 0x00, 0x80},
                   {0x00FFFFFFu, 0x000000FFu, 0x00080808u, 0x00A5A5A5u, 0x00000000u}},
        Conversion{"8-bit palette", 8, {0, 1, 15, 3}, {0x0u, 0x00102030u, 0x00F1E2D0u, 0x00306090u}},
        Conversion{"4-bit palette", 4, {0x1F, 0x30}, {0x00102030u, 0x00F1E2D0u, 0x00306090u}},
        Conversion{"1-bit palette", 1, {0xA0}, {0x00102030u, 0x0u, 0x00102030u}}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        }
        return name;
    });

TEST(BitBlt, TopDownPaddedTwentyFourBitRowsLandTheRightWayUp) {
    // 3 x 2 pixels, 9 bytes a row padded to 12, stored top row first.
    BITMAPINFOHEADER header = Header(3, -2, 24);
    std::vector<std::uint8_t> bits = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE,
                                      10, 11, 12, 13, 14, 15, 16, 17, 18, 0xEE, 0xEE, 0xEE};
    VBitmap source{};
    ops.initFromHeader(&source, bits.data(), &header);
    Canvas canvas(3, 2);
    ops.BitBlt(&canvas.bitmap, 0, 0, &source, 0, 0, -1, -1);
    EXPECT_EQ(canvas.Pixels(), (std::vector<Pixel32>{0x030201, 0x060504, 0x090807, 0x0C0B0A,
                                                     0x0F0E0D, 0x121110}));
}

TEST(BitBlt, EqualDepthsCopyBytesUnchangedAndOverlapSafely) {
    Canvas canvas(6, 6, 1);
    std::vector<Pixel32> before = canvas.Pixels();
    ops.BitBlt(&canvas.bitmap, 1, 1, &canvas.bitmap, 0, 0, 5, 5);
    for (int y = 1; y < 6; ++y) {
        for (int x = 1; x < 6; ++x) {
            EXPECT_EQ(canvas.at(x, y), before[(y - 1) * 6 + x - 1]);
        }
    }
    before = canvas.Pixels();
    ops.BitBlt(&canvas.bitmap, 0, 0, &canvas.bitmap, 1, 1, 5, 5);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(canvas.at(x, y), before[(y + 1) * 6 + x + 1]);
        }
    }
    EXPECT_TRUE(canvas.buffer.GuardsIntact());
}

// ---------------------------------------------------------------------------
// BitBlt and RectFill: clipping against a per-pixel reference

struct Rectangle {
    long x, y, dx, dy;
};

// Per-pixel model of BitBlt between 32-bit bitmaps.
std::vector<Pixel32> ReferenceBlit(Canvas& target, Canvas& source, long x2, long y2, long x1,
                                   long y1, long dx, long dy) {
    using Exact = __int128;  // no sum of two arguments overflows
    const Exact width = dx == -1 ? source.bitmap.w : dx;
    const Exact height = dy == -1 ? source.bitmap.h : dy;
    std::vector<Pixel32> result = target.Pixels();
    for (Exact y = 0; y < target.bitmap.h; ++y) {
        for (Exact x = 0; x < target.bitmap.w; ++x) {
            const Exact u = x - x2, v = y - y2;  // offset inside the rectangle
            const Exact sx = x1 + u, sy = y1 + v;
            if (u >= 0 && u < width && v >= 0 && v < height && sx >= 0 && sy >= 0 &&
                sx < source.bitmap.w && sy < source.bitmap.h) {
                result[y * target.bitmap.w + x] = source.at(static_cast<int>(sx), static_cast<int>(sy));
            }
        }
    }
    return result;
}

const long kExtremes[] = {LONG_MIN, INT_MIN, INT_MIN + 1, -70000, -9, -2, -1, 0, 1, 3, 7, 9,
                          70000, INT_MAX - 1, INT_MAX, LONG_MAX};

long RandomCoordinate(std::mt19937& random) {
    std::uniform_int_distribution<int> choice(0, 3);
    if (choice(random) == 0) {
        return kExtremes[random() % (sizeof kExtremes / sizeof kExtremes[0])];
    }
    return std::uniform_int_distribution<long>(-12, 14)(random);
}

TEST(BitBlt, ClipsToBothBitmapsAtEveryEdgeWhateverTheArguments) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 3000; ++round) {
        Canvas target(9, 7, static_cast<int>(random() % 3), random());
        Canvas source(6, 8, static_cast<int>(random() % 3), random());
        const long x2 = RandomCoordinate(random), y2 = RandomCoordinate(random);
        const long x1 = RandomCoordinate(random), y1 = RandomCoordinate(random);
        const long dx = RandomCoordinate(random), dy = RandomCoordinate(random);
        const std::vector<Pixel32> expected =
            ReferenceBlit(target, source, x2, y2, x1, y1, dx, dy);
        ops.BitBlt(&target.bitmap, x2, y2, &source.bitmap, x1, y1, dx, dy);
        ASSERT_EQ(target.Pixels(), expected)
            << "x2=" << x2 << " y2=" << y2 << " x1=" << x1 << " y1=" << y1 << " dx=" << dx
            << " dy=" << dy;
        ASSERT_TRUE(target.buffer.GuardsIntact());
        ASSERT_TRUE(source.buffer.GuardsIntact());
    }
}

TEST(BitBlt, MinusOneMeansTheWholeSourceAndOtherNonPositiveSizesNothing) {
    struct Case {
        long dx, dy;
        int copiedColumns, copiedRows;
    };
    for (const Case& c : {Case{-1, -1, 4, 3}, Case{-1, 2, 4, 2}, Case{2, -1, 2, 3},
                          Case{0, -1, 0, 0}, Case{-2, 3, 0, 0}, Case{3, 0, 0, 0},
                          Case{LONG_MIN, -1, 0, 0}}) {
        Canvas target(6, 5), source(4, 3);
        const std::vector<Pixel32> before = target.Pixels();
        ops.BitBlt(&target.bitmap, 1, 1, &source.bitmap, 0, 0, c.dx, c.dy);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 6; ++x) {
                const bool copied = x >= 1 && x < 1 + c.copiedColumns && y >= 1 &&
                                    y < 1 + c.copiedRows;
                EXPECT_EQ(target.at(x, y), copied ? source.at(x - 1, y - 1) : before[y * 6 + x])
                    << c.dx << "," << c.dy << " at " << x << "," << y;
            }
        }
    }
}

TEST(RectFill, ClipsAtEveryEdgeAndTakesMinusOneAsTheWholeBitmap) {
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        Canvas target(8, 6, static_cast<int>(random() % 3), random());
        const Rectangle r{RandomCoordinate(random), RandomCoordinate(random),
                          RandomCoordinate(random), RandomCoordinate(random)};
        using Exact = __int128;
        const Exact width = r.dx == -1 ? 8 : r.dx, height = r.dy == -1 ? 6 : r.dy;
        std::vector<Pixel32> expected = target.Pixels();
        bool any = false;
        for (Exact y = 0; y < 6; ++y) {
            for (Exact x = 0; x < 8; ++x) {
                if (x >= r.x && x - r.x < width && y >= r.y && y - r.y < height) {
                    expected[y * 8 + x] = 0xC0FFEE;
                    any = true;
                }
            }
        }
        EXPECT_EQ(ops.RectFill(&target.bitmap, r.x, r.y, r.dx, r.dy, 0xC0FFEE), any);
        ASSERT_EQ(target.Pixels(), expected)
            << r.x << "," << r.y << " " << r.dx << "x" << r.dy;
        ASSERT_TRUE(target.buffer.GuardsIntact());
    }
}

TEST(RectFill, WritesTheLowBytesIntoNarrowerDepths) {
    std::vector<std::uint8_t> bits(2 * 12, 0);
    BITMAPINFOHEADER header = Header(3, 2, 24);
    VBitmap bitmap{};
    ops.initFromHeader(&bitmap, bits.data(), &header);
    EXPECT_TRUE(ops.RectFill(&bitmap, 1, 0, 5, 1, 0x00332211));
    // Picture row 0 is the second stored row; pixels 1 and 2 filled.
    EXPECT_EQ(std::vector<std::uint8_t>(bits.begin() + 12, bits.begin() + 21),
              (std::vector<std::uint8_t>{0, 0, 0, 0x11, 0x22, 0x33, 0x11, 0x22, 0x33}));
    EXPECT_EQ(std::count(bits.begin(), bits.begin() + 12, 0), 12);
}

// ---------------------------------------------------------------------------
// Stretches

TEST(Stretch, NearestDoublesEachPixel) {
    Canvas source(2, 2), target(4, 4);
    EXPECT_TRUE(ops.StretchBltNearestFast(&target.bitmap, 0, 0, 4, 4, &source.bitmap, 0.0, 0.0,
                                          2.0, 2.0));
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(target.at(x, y), source.at(x / 2, y / 2));
        }
    }
}

TEST(Stretch, BilinearAtTheSameSizeIsACopy) {
    Canvas source(7, 5, 1, 99), target(7, 5);
    EXPECT_TRUE(ops.StretchBltBilinearFast(&target.bitmap, 0, 0, 7, 5, &source.bitmap, 0.0, 0.0,
                                           7.0, 5.0));
    EXPECT_EQ(target.Pixels(), source.Pixels());
}

TEST(Stretch, BilinearClampsAtTheSourceEdges) {
    Canvas source(2, 1), target(4, 1);
    source.at(0, 0) = 0x00000000;
    source.at(1, 0) = 0xFF0000FF;
    ops.StretchBltBilinearFast(&target.bitmap, 0, 0, 4, 1, &source.bitmap, 0.0, 0.0, 2.0, 1.0);
    // Centres at 0.25, 0.75, 1.25, 1.75: the outer two lie beyond the outer
    // pixel centres and take those pixels alone.
    EXPECT_EQ(target.Pixels(),
              (std::vector<Pixel32>{0x00000000, 0x40000040, 0xBF0000BF, 0xFF0000FF}));
}

TEST(Stretch, RefusesSourcesThatAreNotThirtyTwoBitsAndNonFiniteRectangles) {
    std::vector<std::uint8_t> bits(64);
    BITMAPINFOHEADER header = Header(4, 4, 24);
    VBitmap narrow{};
    ops.initFromHeader(&narrow, bits.data(), &header);
    Canvas source(4, 4), target(4, 4);
    const std::vector<Pixel32> before = target.Pixels();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (auto stretch : {ops.StretchBltNearestFast, ops.StretchBltBilinearFast}) {
        EXPECT_FALSE(stretch(&target.bitmap, 0, 0, 4, 4, &narrow, 0, 0, 4, 4));
        EXPECT_FALSE(stretch(&target.bitmap, 0, 0, 4, 4, &source.bitmap, nan, 0, 4, 4));
        EXPECT_FALSE(stretch(&target.bitmap, 0, 0, 4, 4, &source.bitmap, 0, 0, inf, 4));
        EXPECT_FALSE(stretch(&target.bitmap, 0, 0, 0, 4, &source.bitmap, 0, 0, 4, 4));
        EXPECT_FALSE(stretch(&target.bitmap, 0, 0, 4, -3, &source.bitmap, 0, 0, 4, 4));
        EXPECT_FALSE(stretch(&target.bitmap, 4, 0, 4, 4, &source.bitmap, 0, 0, 4, 4));
    }
    EXPECT_EQ(target.Pixels(), before);
}

Pixel32 ReferenceSample(Canvas& source, double u, double v, bool bilinear) {
    return SampleByRule([&](int x, int y) { return source.at(x, y); }, source.bitmap.w,
                        source.bitmap.h, u, v, bilinear);
}

double RandomSourceValue(std::mt19937& random) {
    static const double special[] = {0.0, -0.5, 1e300, -1e300, 3.999999, 1e-9};
    if (random() % 8 == 0) {
        return special[random() % 6];
    }
    return std::uniform_real_distribution<double>(-4.0, 24.0)(random);
}

// Nearest stretches that take every source column once and in order, as a
// prescaled overlay's does, against the rule: rows copied whole must land
// exactly where sampling puts them.
struct SameWidthCase {
    const char* name;
    int sourceWidth, sourceHeight;
    long x1, y1, dx, dy;
    double x2, y2, dx1, dy1;
};

const SameWidthCase kSameWidthCases[] = {
    {"SameSize", 9, 6, 0, 0, 9, 6, 0.0, 0.0, 9.0, 6.0},
    {"TallerRowsRepeated", 9, 3, 1, 0, 9, 7, 0.0, 0.0, 9.0, 3.0},
    {"OffsetIntoTheSource", 12, 8, 2, 1, 7, 5, 3.0, 2.0, 7.0, 5.0},
    {"ClippedAtTheLeftAndTop", 10, 6, -3, -2, 10, 6, 0.0, 0.0, 10.0, 6.0},
    {"HalfPixelOffNotACopy", 10, 6, 0, 0, 10, 6, 0.5, 0.0, 10.0, 6.0},
};

TEST(Stretch, NearestAtTheSourceWidthSamplesAsTheRuleSays) {
    for (const SameWidthCase& test : kSameWidthCases) {
        Canvas source(test.sourceWidth, test.sourceHeight, 1, 7), target(14, 9, 3, 11);
        std::vector<Pixel32> expected = target.Pixels();
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < 14; ++x) {
                const double cx = double(x) - test.x1, cy = double(y) - test.y1;
                if (cx < 0 || cx >= test.dx || cy < 0 || cy >= test.dy) continue;
                const double u = test.x2 + (cx + 0.5) * (test.dx1 / double(test.dx));
                const double v = test.y2 + (cy + 0.5) * (test.dy1 / double(test.dy));
                expected[static_cast<std::size_t>(y) * 14 + x] =
                    ReferenceSample(source, u, v, false);
            }
        }
        EXPECT_TRUE(ops.StretchBltNearestFast(&target.bitmap, test.x1, test.y1, test.dx, test.dy,
                                              &source.bitmap, test.x2, test.y2, test.dx1,
                                              test.dy1))
            << test.name;
        EXPECT_EQ(target.Pixels(), expected) << test.name;
    }
}

// The fast stretches against the plain statement of the rule on random,
// misaligned buffers and random rectangles, byte for byte.
TEST(Stretch, FastStretchesMatchThePlainRuleOnRandomRectangles) {
    std::mt19937 random(4242);
    for (int round = 0; round < 2000; ++round) {
        const bool bilinear = round % 2 == 1;
        Canvas source(1 + static_cast<int>(random() % 19), 1 + static_cast<int>(random() % 13),
                      static_cast<int>(random() % 3), random());
        if (random() % 3 == 0) {
            // Top-down source: rows stored the other way round.
            source.bitmap.data = PictureRow(source.bitmap, 0);
            source.bitmap.pitch = -source.bitmap.pitch;
        }
        // Targets start 0..3 pixels into their buffer: no alignment is assumed.
        const int lead = static_cast<int>(random() % 4);
        const int tw = 1 + static_cast<int>(random() % 23), th = 1 + static_cast<int>(random() % 17);
        const long pitch = 4L * (tw + static_cast<long>(random() % 3));
        GuardedBuffer buffer(static_cast<std::size_t>(pitch) * th, 4 * lead);
        for (long i = 0; i < pitch * th; ++i) buffer.data()[i] = static_cast<std::uint8_t>(random());
        VBitmap target = MakeBitmap32(reinterpret_cast<Pixel32*>(buffer.data()), tw, th, pitch);

        const long x1 = std::uniform_int_distribution<long>(-30, 30)(random);
        const long y1 = std::uniform_int_distribution<long>(-30, 30)(random);
        const long dx = random() % 10 == 0 ? INT_MAX : std::uniform_int_distribution<long>(-1, 40)(random);
        const long dy = std::uniform_int_distribution<long>(-1, 40)(random);
        const double x2 = RandomSourceValue(random), y2 = RandomSourceValue(random);
        const double dx1 = RandomSourceValue(random), dy1 = RandomSourceValue(random);

        std::vector<Pixel32> expected;
        for (int y = 0; y < th; ++y) {
            expected.insert(expected.end(), PictureRow(target, y), PictureRow(target, y) + tw);
        }
        const double width = dx == -1 ? std::nearbyint(dx1) : double(dx);
        const double height = dy == -1 ? std::nearbyint(dy1) : double(dy);
        bool drawn = false;
        if (width >= 1 && height >= 1 && width <= INT_MAX && height <= INT_MAX) {
            for (int y = 0; y < th; ++y) {
                for (int x = 0; x < tw; ++x) {
                    const double cx = double(x) - x1, cy = double(y) - y1;
                    if (cx < 0 || cx >= width || cy < 0 || cy >= height) continue;
                    const double u = x2 + (cx + 0.5) * (dx1 / width);
                    const double v = y2 + (cy + 0.5) * (dy1 / height);
                    expected[y * tw + x] = ReferenceSample(source, u, v, bilinear);
                    drawn = true;
                }
            }
        }
        const auto stretch = bilinear ? ops.StretchBltBilinearFast : ops.StretchBltNearestFast;
        EXPECT_EQ(stretch(&target, x1, y1, dx, dy, &source.bitmap, x2, y2, dx1, dy1), drawn);
        std::vector<Pixel32> actual;
        for (int y = 0; y < th; ++y) {
            actual.insert(actual.end(), PictureRow(target, y), PictureRow(target, y) + tw);
        }
        ASSERT_EQ(actual, expected) << (bilinear ? "bilinear" : "nearest") << " round " << round
                                    << " dst " << x1 << "," << y1 << " " << dx << "x" << dy
                                    << " src " << x2 << "," << y2 << " " << dx1 << "x" << dy1;
        ASSERT_TRUE(buffer.GuardsIntact());
        ASSERT_TRUE(source.buffer.GuardsIntact());
    }
}

}  // namespace
