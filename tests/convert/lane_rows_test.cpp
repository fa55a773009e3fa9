// The vector lane rows (SSE2, and AVX2 where the processor has it) against
// their plain versions, byte for byte, on random inputs at odd addresses and
// lengths that leave a remainder, for the coefficients of real streams
// (every matrix, range and narrow depth).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "convert/conversion_plan.h"
#include "convert/lane_rows.h"
#include "tests/convert/convert_test_formats.h"
#include "tests/convert/test_picture.h"

namespace {

constexpr int kLength = 203;  // whole vectors and a remainder

struct LaneCase {
    AVPixelFormat format;
    MatrixUnderTest matrix;
    bool fullRange;
};

std::vector<LaneCase> LaneCases() {
    std::vector<LaneCase> cases;
    for (AVPixelFormat format : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P,
                                 AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV420P9LE, AV_PIX_FMT_YUV420P10LE,
                                 AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV444P10LE}) {
        for (const MatrixUnderTest& matrix : MatricesUnderTest()) {
            cases.push_back({format, matrix, false});
            cases.push_back({format, matrix, true});
        }
    }
    return cases;
}

// A buffer of `count` values off the 16-byte grid: one element past an
// aligned start (the kernels' scratch rows are only naturally aligned), or
// one byte for pixel rows, which may lie anywhere.
template <typename T, int kOffset = sizeof(T)>
class Misaligned {
public:
    explicit Misaligned(int count)
        : bytes_(static_cast<std::size_t>(count) * sizeof(T) + kOffset + 16, 0) {}
    T* data() { return reinterpret_cast<T*>(bytes_.data() + kOffset); }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::uint8_t* raw() { return bytes_.data() + kOffset; }

private:
    std::vector<std::uint8_t> bytes_;
};

class LaneRows : public ::testing::TestWithParam<LaneCase> {
protected:
    ConversionPlan Plan() const {
        const LaneCase& c = GetParam();
        return BuildConversionPlan(c.format, c.matrix.colorspace,
                                   c.fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG,
                                   AVCHROMA_LOC_LEFT, kLength, 2);
    }
    std::mt19937 random_{31};
};

// Values are written with memcpy: the rows take unaligned storage.
template <typename T>
void Put(std::uint8_t* at, int index, T value) {
    std::memcpy(at + static_cast<std::size_t>(index) * sizeof(T), &value, sizeof value);
}

TEST_P(LaneRows, YuvToBgraMatchesPlain) {
    const ConversionPlan plan = Plan();
    ASSERT_TRUE(plan.narrowToRgb);
    const LaneToRgb c = LaneCoefficients(plan.toRgb);
    const int lumaLimit = (1 << plan.layout.depth) << plan.toRgb.lumaInputShift;
    const int chromaBits = plan.horizontalWeightBits + plan.verticalWeightBits;
    const int chromaLimit = ((1 << plan.layout.depth) << chromaBits) << plan.toRgb.chromaInputShift;
    Misaligned<std::int16_t> luma(kLength), cb(kLength), cr(kLength);
    for (int i = 0; i < kLength; ++i) {
        Put<std::int16_t>(luma.raw(), i, static_cast<std::int16_t>(random_() % lumaLimit));
        Put<std::int16_t>(cb.raw(), i, static_cast<std::int16_t>(random_() % chromaLimit));
        Put<std::int16_t>(cr.raw(), i, static_cast<std::int16_t>(random_() % chromaLimit));
    }
    Misaligned<std::uint32_t, 1> plain(kLength);
    YuvRowToBgraPlain(luma.data(), cb.data(), cr.data(), kLength, c, plain.raw());
    for (const LaneRowSet* set : RunnableLaneRowSets()) {
        Misaligned<std::uint32_t, 1> simd(kLength);
        set->toBgra(luma.data(), cb.data(), cr.data(), kLength, c, simd.raw());
        EXPECT_EQ(plain.bytes(), simd.bytes()) << set->name;
    }
}

template <typename Sample>
void CheckBgraToYuvRows(const ConversionPlan& plan, std::mt19937& random) {
    const LaneToYuv c = LaneCoefficients(plan.toYuv, plan.layout.depth);
    Misaligned<std::uint32_t, 1> first(kLength), second(kLength);
    for (std::size_t i = 0; i < static_cast<std::size_t>(kLength) * 4; ++i) {
        first.raw()[i] = static_cast<std::uint8_t>(random());
        second.raw()[i] = static_cast<std::uint8_t>(random());
    }
    std::vector<std::uint32_t> firstChanged(kLength), secondChanged(kLength);
    for (int i = 0; i < kLength; ++i) {
        firstChanged[static_cast<std::size_t>(i)] = random() % 3 == 0 ? ~0u : 0u;
        secondChanged[static_cast<std::size_t>(i)] = random() % 3 == 0 ? ~0u : 0u;
    }
    // The samples already there, which unchanged pixels keep.
    Misaligned<Sample, 1> startLuma(kLength), startCb(kLength), startCr(kLength);
    for (int i = 0; i < kLength; ++i) {
        Put<Sample>(startLuma.raw(), i, static_cast<Sample>(random() % (c.maximum + 1)));
        Put<Sample>(startCb.raw(), i, static_cast<Sample>(random() % (c.maximum + 1)));
        Put<Sample>(startCr.raw(), i, static_cast<Sample>(random() % (c.maximum + 1)));
    }

    Misaligned<Sample, 1> plainLuma(startLuma);
    BgraRowToLumaPlain<Sample>(first.raw(), firstChanged.data(), kLength, c, plainLuma.raw());
    EXPECT_NE(plainLuma.bytes(), startLuma.bytes()) << "luma written nowhere";
    const int blocks = kLength / 2;
    for (const LaneRowSet* set : RunnableLaneRowSets()) {
        const LaneRowsToYuv<Sample>& rows = set->ToYuv<Sample>();
        Misaligned<Sample, 1> simdLuma(startLuma);
        rows.luma(first.raw(), firstChanged.data(), kLength, c, simdLuma.raw());
        EXPECT_EQ(plainLuma.bytes(), simdLuma.bytes()) << set->name << " luma";

        for (const bool twoRows : {false, true}) {
            Misaligned<Sample, 1> plainCb(startCb), plainCr(startCr), simdCb(startCb),
                simdCr(startCr);
            const std::uint8_t* below = twoRows ? second.raw() : nullptr;
            const std::uint32_t* belowChanged = twoRows ? secondChanged.data() : nullptr;
            BgraPairsToChromaPlain<Sample>(first.raw(), below, firstChanged.data(), belowChanged,
                                           blocks, c, plainCb.raw(), plainCr.raw());
            rows.chroma(first.raw(), below, firstChanged.data(), belowChanged, blocks, c,
                        simdCb.raw(), simdCr.raw());
            EXPECT_EQ(plainCb.bytes(), simdCb.bytes()) << set->name << " cb, two rows " << twoRows;
            EXPECT_EQ(plainCr.bytes(), simdCr.bytes()) << set->name << " cr, two rows " << twoRows;
        }
    }
}

TEST_P(LaneRows, BgraToYuvMatchesPlain) {
    const ConversionPlan plan = Plan();
    ASSERT_TRUE(plan.narrowToYuv);
    if (plan.layout.bytesPerSample == 1) {
        CheckBgraToYuvRows<std::uint8_t>(plan, random_);
    } else {
        CheckBgraToYuvRows<std::uint16_t>(plan, random_);
    }
}

template <typename Sample>
void CheckBlendRows(int weightFirst, int weightSecond, int depth, std::mt19937& random) {
    Misaligned<Sample> first(kLength), second(kLength);
    for (int i = 0; i < kLength; ++i) {
        Put<Sample>(first.raw(), i, static_cast<Sample>(random() % (1 << depth)));
        Put<Sample>(second.raw(), i, static_cast<Sample>(random() % (1 << depth)));
    }
    Misaligned<std::int16_t> plain(kLength), simd(kLength);
    BlendRowsPlain(first.data(), second.data(), weightFirst, weightSecond, kLength, plain.data());
    BlendRowsSse2(first.data(), second.data(), weightFirst, weightSecond, kLength, simd.data());
    EXPECT_EQ(plain.bytes(), simd.bytes());
}

TEST_P(LaneRows, ChromaInterpolationMatchesPlain) {
    const ConversionPlan plan = Plan();
    for (const ChromaRowTap& tap : {plan.rowTaps[0], plan.rowTaps[1]}) {
        if (plan.layout.bytesPerSample == 1) {
            CheckBlendRows<std::uint8_t>(tap.weightFirst, tap.weightSecond, plan.layout.depth, random_);
        } else {
            CheckBlendRows<std::uint16_t>(tap.weightFirst, tap.weightSecond, plan.layout.depth, random_);
        }
    }
    if (plan.layout.chromaShiftX != 1) {
        return;
    }
    // Blended values as vertical interpolation leaves them, one spare
    // column each side.
    const int blocks = kLength / 2;
    Misaligned<std::int16_t> blended(blocks + 2);
    const int limit = (1 << plan.layout.depth) << plan.verticalWeightBits;
    for (int i = 0; i < blocks + 2; ++i) {
        Put<std::int16_t>(blended.raw(), i, static_cast<std::int16_t>(random_() % limit));
    }
    Misaligned<std::int16_t> plain(2 * blocks), simd(2 * blocks);
    SpreadPairsPlain(blended.data() + 1, plan.horizontalTaps.data(), blocks,
                     plan.toRgb.chromaInputShift, plain.data());
    SpreadPairsSse2(blended.data() + 1, plan.horizontalTaps.data(), blocks,
                    plan.toRgb.chromaInputShift, simd.data());
    EXPECT_EQ(plain.bytes(), simd.bytes());
}

INSTANTIATE_TEST_SUITE_P(NarrowStreams, LaneRows, ::testing::ValuesIn(LaneCases()),
                         [](const ::testing::TestParamInfo<LaneCase>& info) {
                             return FormatName(info.param.format) + "_" + info.param.matrix.name +
                                    (info.param.fullRange ? "_full" : "_limited");
                         });

}  // namespace
