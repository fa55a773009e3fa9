// Every vector set of row kernels this machine runs against the plain set:
// the same random, misaligned, clipped cases through both, compared byte for
// byte with the guard bands around the destination. The plain set itself is
// held to the blend formula worked out here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "hostkit/bitmap_operations.h"
#include "hostkit/blending_bitmap_operations.h"
#include "hostkit/row_kernels.h"
#include "hostkit/stretch.h"
#include "tests/hostkit/stretch_reference.h"

namespace {

std::vector<const RowKernels*> VectorSets() {
    std::vector<const RowKernels*> sets;
    const RowKernelSets available = AvailableRowKernels();
    for (int i = 0; i < available.count; ++i) {
        if (available.sets[i] != &PlainRowKernels()) sets.push_back(available.sets[i]);
    }
    return sets;
}

// Pixels in runs of one kind, so that whole vectors are zero, transparent
// or opaque (the kernels' short cuts) as well as mixed.
void FillPixels(std::uint8_t* bytes, std::size_t count, std::mt19937& random) {
    std::size_t i = 0;
    while (i < count) {
        const unsigned kind = random() % 5;
        const std::size_t run = 1 + random() % 19;
        for (std::size_t k = 0; k < run && i < count; ++k, ++i) {
            Pixel32 pixel = random();
            if (kind == 0) pixel = 0;
            if (kind == 1) pixel &= 0x00FFFFFFu;
            if (kind == 2) pixel |= 0xFF000000u;
            std::memcpy(bytes + 4 * i, &pixel, 4);
        }
    }
}

// A bitmap over guarded bytes, `misalignment` bytes off 4-byte alignment,
// rows `padding` bytes longer than their pixels, bottom-up or top-down.
struct Picture {
    Picture(int w, int h, int depth, int misalignment, int padding, bool topDown,
            std::uint32_t seed)
        : rowBytes((w * depth + 7) / 8),
          pitch(rowBytes + padding),
          buffer(static_cast<std::size_t>(pitch) * h, static_cast<std::size_t>(misalignment)) {
        std::mt19937 random(seed);
        const std::size_t bytes = static_cast<std::size_t>(pitch) * h;
        FillPixels(buffer.data(), bytes / 4, random);
        for (std::size_t i = bytes / 4 * 4; i < bytes; ++i) buffer.data()[i] = random();
        bitmap = VBitmap{};
        bitmap.operations = &HostBitmapOperations();
        bitmap.data = reinterpret_cast<Pixel32*>(buffer.data());
        bitmap.depth = depth;
        bitmap.w = w;
        bitmap.h = h;
        bitmap.pitch = pitch;
        bitmap.modulo = pitch - rowBytes;
        if (topDown) {
            bitmap.data = reinterpret_cast<Pixel32*>(buffer.data() + (h - 1) * pitch);
            bitmap.pitch = -pitch;
        }
    }
    long rowBytes;
    long pitch;
    GuardedBuffer buffer;
    VBitmap bitmap;
};

// Four layouts per case: every misalignment, padded and not, both row orders.
struct Layout {
    int misalignment, padding;
    bool topDown;
};
const Layout kLayouts[] = {{0, 0, false}, {1, 3, true}, {2, 8, false}, {3, 1, true}};

struct StretchCase {
    const char* name;
    int sourceWidth, sourceHeight, targetWidth, targetHeight;
    long x1, y1, dx, dy;
    double x2, y2, dx1, dy1;
};

const StretchCase kStretchCases[] = {
    {"OnePixel", 1, 1, 1, 1, 0, 0, 1, 1, 0, 0, 1, 1},
    {"OnePixelSpread", 1, 1, 13, 7, 0, 0, 13, 7, 0, 0, 1, 1},
    {"HalfAgainLarger", 64, 36, 100, 60, 2, 3, 96, 54, 0, 0, 64, 36},
    {"OddWidths", 33, 17, 70, 40, 1, 1, 67, 37, 0, 0, 33, 17},
    {"NarrowerThanAVector", 5, 3, 12, 9, 3, 0, 7, 5, 0, 0, 5, 3},
    {"Reduced", 97, 61, 40, 30, 0, 0, 31, 23, 0, 0, 97, 61},
    {"FractionalSourceRectangle", 50, 40, 60, 50, 4, 4, 41, 29, 3.25, 5.5, 30.5, 20.75},
    {"ClippedAtEveryEdge", 40, 30, 50, 40, -13, -9, 79, 61, 0, 0, 40, 30},
    {"Mirrored", 29, 19, 40, 30, 1, 2, 35, 25, 29, 19, -29, -19},
    {"ReachingPastTheSource", 20, 20, 40, 40, 0, 0, 40, 40, -5, -3, 30, 27},
    {"WholeSourceSizes", 23, 11, 40, 30, 6, 7, -1, -1, 0, 0, 22.6, 11.2},
};

struct LayingCase {
    const char* name;
    StretchLaying laying;
};

const LayingCase kLayingCases[] = {
    {"Copy", {Laying::Copy, SourceAlpha::Straight, 255}},
    {"OverStraight", {Laying::Over, SourceAlpha::Straight, 255}},
    {"OverPremultiplied", {Laying::Over, SourceAlpha::Premultiplied, 255}},
    {"OverOpaque", {Laying::Over, SourceAlpha::Opaque, 255}},
    {"FadedStraight", {Laying::Faded, SourceAlpha::Straight, 153}},
    {"FadedPremultiplied", {Laying::Faded, SourceAlpha::Premultiplied, 77}},
    {"FadedOpaque", {Laying::Faded, SourceAlpha::Opaque, 254}},
    {"FadedFaintly", {Laying::Faded, SourceAlpha::Straight, 1}},
};

void PrintTo(const LayingCase& laying, std::ostream* out) { *out << laying.name; }
void PrintTo(const StretchCase& test, std::ostream* out) { *out << test.name; }

using StretchParameters = std::tuple<const RowKernels*, Sampling, LayingCase, StretchCase>;

class VectorStretch : public testing::TestWithParam<StretchParameters> {};

TEST_P(VectorStretch, GivesThePlainBytes) {
    const auto& [kernels, sampling, laying, test] = GetParam();
    for (const Layout& layout : kLayouts) {
        const std::uint32_t seed = static_cast<std::uint32_t>(layout.misalignment * 7919 + 1);
        Picture source(test.sourceWidth, test.sourceHeight, 32, layout.misalignment,
                       layout.padding, layout.topDown, seed);
        Picture plain(test.targetWidth, test.targetHeight, 32, 3 - layout.misalignment,
                      layout.padding, !layout.topDown, seed + 1);
        Picture vector(test.targetWidth, test.targetHeight, 32, 3 - layout.misalignment,
                       layout.padding, !layout.topDown, seed + 1);
        const bool plainDrew =
            StretchBitmap(PlainRowKernels(), sampling, laying.laying, &plain.bitmap, test.x1,
                          test.y1, test.dx, test.dy, &source.bitmap, test.x2, test.y2, test.dx1,
                          test.dy1);
        const bool vectorDrew =
            StretchBitmap(*kernels, sampling, laying.laying, &vector.bitmap, test.x1, test.y1,
                          test.dx, test.dy, &source.bitmap, test.x2, test.y2, test.dx1, test.dy1);
        ASSERT_TRUE(plainDrew);
        EXPECT_EQ(vectorDrew, plainDrew);
        ASSERT_EQ(vector.buffer.all(), plain.buffer.all())
            << "misalignment " << layout.misalignment << " padding " << layout.padding;
        EXPECT_TRUE(plain.buffer.GuardsIntact());
    }
}

std::string Named(const std::string& name) {
    std::string clean;
    for (char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c))) clean += c;
    }
    return clean;
}

std::string StretchName(const testing::TestParamInfo<StretchParameters>& info) {
    const auto& [kernels, sampling, laying, test] = info.param;
    return Named(std::string(kernels->name) + "_" +
                 (sampling == Sampling::Bilinear ? "Bilinear" : "Nearest") + "_" + laying.name +
                 "_" + test.name);
}

// A build without vector sets has no cases here.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(VectorStretch);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(VectorBlendCopy);

INSTANTIATE_TEST_SUITE_P(
    Table, VectorStretch,
    testing::Combine(testing::ValuesIn(VectorSets()),
                     testing::Values(Sampling::Nearest, Sampling::Bilinear),
                     testing::ValuesIn(kLayingCases), testing::ValuesIn(kStretchCases)),
    StretchName);

// The 1:1 blend from every source depth it converts, clipped and not.
struct CopyCase {
    const char* name;
    int sourceWidth, sourceHeight;
    long x2, y2, x1, y1, dx, dy;
};

const CopyCase kCopyCases[] = {
    {"WholeSource", 37, 23, 5, 6, 0, 0, -1, -1},
    {"ClippedAtEveryEdge", 70, 50, -7, -3, 2, 1, 68, 49},
    {"NarrowerThanAVector", 9, 4, 3, 3, 2, 1, 5, 3},
};

void PrintTo(const CopyCase& test, std::ostream* out) { *out << test.name; }

const int kCopyDepths[] = {8, 16, 24, 32};

using CopyParameters = std::tuple<const RowKernels*, int, LayingCase, CopyCase>;

class VectorBlendCopy : public testing::TestWithParam<CopyParameters> {};

TEST_P(VectorBlendCopy, GivesThePlainBytes) {
    const auto& [kernels, depth, laying, test] = GetParam();
    for (const Layout& layout : kLayouts) {
        const std::uint32_t seed = static_cast<std::uint32_t>(layout.padding * 31 + depth);
        Picture source(test.sourceWidth, test.sourceHeight, depth, layout.misalignment,
                       layout.padding, layout.topDown, seed);
        Picture plain(50, 40, 32, layout.misalignment, layout.padding, false, seed + 1);
        Picture vector(50, 40, 32, layout.misalignment, layout.padding, false, seed + 1);
        BlendCopy(PlainRowKernels(), laying.laying, &plain.bitmap, test.x2, test.y2,
                  &source.bitmap, test.x1, test.y1, test.dx, test.dy);
        BlendCopy(*kernels, laying.laying, &vector.bitmap, test.x2, test.y2, &source.bitmap,
                  test.x1, test.y1, test.dx, test.dy);
        ASSERT_EQ(vector.buffer.all(), plain.buffer.all())
            << "misalignment " << layout.misalignment << " padding " << layout.padding;
        EXPECT_TRUE(plain.buffer.GuardsIntact());
    }
}

std::string CopyName(const testing::TestParamInfo<CopyParameters>& info) {
    const auto& [kernels, depth, laying, test] = info.param;
    return Named(std::string(kernels->name) + "_Depth" + std::to_string(depth) + "_" +
                 laying.name + "_" + test.name);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VectorBlendCopy,
    testing::Combine(testing::ValuesIn(VectorSets()), testing::ValuesIn(kCopyDepths),
                     testing::ValuesIn(kLayingCases + 1, kLayingCases + std::size(kLayingCases)),
                     testing::ValuesIn(kCopyCases)),
    CopyName);

// Every premultiplied pixel (colour bytes up to its alpha) over a spread of
// destination bytes, laid by every set at full and partial opacity. The
// plain set must give the formula, rounded; the others the plain bytes.
TEST(LaidPixels, FollowTheFormulaExactlyForEveryAlphaAndColour) {
    std::vector<Pixel32> over, under;
    for (std::uint32_t alpha = 0; alpha < 256; ++alpha) {
        for (std::uint32_t colour = 0; colour <= alpha; ++colour) {
            for (std::uint32_t destination = 0; destination < 256; destination += 9) {
                over.push_back(alpha << 24 | colour << 16 | (alpha - colour) << 8 |
                               (colour * 7) % (alpha + 1));
                under.push_back((destination * 0x9E) << 24 | destination << 16 |
                                (255 - destination) << 8 | (destination * 3) % 256);
            }
        }
    }
    const int count = static_cast<int>(over.size());
    const auto* laid = reinterpret_cast<const std::uint8_t*>(over.data());
    for (int opacity : {255, 254, 153, 128, 1}) {
        std::vector<Pixel32> expected = under;
        const RowKernels& plain = PlainRowKernels();
        (opacity == 255 ? plain.layOver : plain.layFaded)(
            reinterpret_cast<std::uint8_t*>(expected.data()), laid, count, opacity);
        int wrong = 0;
        std::string first;
        for (int i = 0; i < count; ++i) {
            const double weight = (over[i] >> 24) / 255.0 * opacity / 255.0;
            Pixel32 formula = under[i] & 0xFF000000u;  // the destination's top byte stays
            for (int shift = 0; shift < 24; shift += 8) {
                const double colour = (over[i] >> shift & 0xFF) * opacity / 255.0;
                formula |= static_cast<Pixel32>(
                               std::lround(colour + (under[i] >> shift & 0xFF) * (1.0 - weight)))
                           << shift;
            }
            if (expected[i] != formula && wrong++ == 0) {
                std::ostringstream where;
                where << std::hex << over[i] << " over " << under[i] << " gives " << expected[i]
                      << ", not " << formula;
                first = where.str();
            }
        }
        ASSERT_EQ(wrong, 0) << "at opacity " << opacity << ", first " << first;
        for (const RowKernels* kernels : VectorSets()) {
            std::vector<Pixel32> actual = under;
            (opacity == 255 ? kernels->layOver : kernels->layFaded)(
                reinterpret_cast<std::uint8_t*>(actual.data()), laid, count, opacity);
            ASSERT_EQ(actual, expected) << kernels->name << " at opacity " << opacity;
        }
    }
}

// Stretching a bitmap onto itself reads it as it was before the call, as
// stretching a copy of it does.
TEST(StretchOntoItself, ReadsTheSourceAsItWas) {
    for (const LayingCase& laying : {kLayingCases[0], kLayingCases[1], kLayingCases[4]}) {
        for (Sampling sampling : {Sampling::Nearest, Sampling::Bilinear}) {
            Picture shared(40, 30, 32, 0, 0, false, 5);
            Picture separate(40, 30, 32, 0, 0, false, 5);
            Picture original(40, 30, 32, 0, 0, false, 5);
            StretchBitmap(ChosenRowKernels(), sampling, laying.laying, &shared.bitmap, 3, 2, 30,
                          25, &shared.bitmap, 0, 0, 20, 17);
            StretchBitmap(ChosenRowKernels(), sampling, laying.laying, &separate.bitmap, 3, 2, 30,
                          25, &original.bitmap, 0, 0, 20, 17);
            EXPECT_EQ(shared.buffer.all(), separate.buffer.all()) << laying.name;
        }
    }
}

}  // namespace
