#include "convert/conversion_plan.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "convert/chroma_siting.h"
#include "convert/color_matrix.h"

namespace {

// Extra fraction bits of the Y'CbCr -> R'G'B' sums beyond the input's own
// precision: the rounding of the coefficients then moves no result by more
// than 1/40 of a code value.
constexpr int kToRgbGuardBits = 6;
// Fraction bits of the R'G'B' -> Y'CbCr coefficients for 8-bit samples (8-bit
// inputs, three terms: within 1/40 of a code value); deeper samples get one
// more per bit, so that the error shrinks with the code value.
constexpr int kToYuvFractionBits = 14;
// Largest depth + chroma weight bits whose Y'CbCr -> R'G'B' inputs fit 14
// bits, and whose sums stay below 2^31 (|value| < 1024 code values times
// 2^shift).
constexpr int kNarrowToRgbLimit = 14;
// Largest depth whose coefficients keep 14 fraction bits' precision when
// they fit 16-bit lanes.
constexpr int kNarrowToYuvDepthLimit = 10;
constexpr int kInt16Max = 32767;
constexpr int kMaximumShift = 30;
constexpr double kEightBitMax = 255.0;

int FloorDivide(int numerator, int denominator) {
    int quotient = numerator / denominator;
    if ((numerator % denominator != 0) && ((numerator < 0) != (denominator < 0))) {
        --quotient;
    }
    return quotient;
}

// Interpolation of a sample at pixel phase `phase` of a block of `step`
// pixels, the chroma sample sitting `sitingHalves` half pixels from the
// block's first pixel. Weights are in units of 1 / (2 * step).
ChromaTap TapForPhase(int phase, int step, int sitingHalves) {
    ChromaTap tap;
    if (step == 1) {
        return tap;
    }
    const int units = 2 * step;
    const int position = 2 * phase - sitingHalves;  // in units of 1 / (2 * step) samples
    tap.offset = FloorDivide(position, units);
    const int fraction = position - tap.offset * units;
    tap.weightFirst = units - fraction;
    tap.weightSecond = fraction;
    return tap;
}

int WeightBits(int shift) { return shift == 0 ? 0 : shift + 1; }

std::int64_t Round(double value) { return static_cast<std::int64_t>(std::llround(value)); }

struct RangeScales {
    double lumaOffset, lumaScale, chromaOffset, chromaScale;
};

RangeScales ScalesFor(int depth, bool fullRange) {
    const double unit = std::ldexp(1.0, depth - 8);  // one 8-bit code value at this depth
    if (fullRange) {
        const double maximum = std::ldexp(1.0, depth) - 1;
        return {0.0, maximum, std::ldexp(1.0, depth - 1), maximum};
    }
    return {16 * unit, 219 * unit, 128 * unit, 224 * unit};
}

void PlanChroma(ConversionPlan& plan, AVChromaLocation location) {
    const PixelLayout& layout = plan.layout;
    const int stepX = 1 << layout.chromaShiftX;
    const int stepY = 1 << layout.chromaShiftY;
    plan.chromaWidth = (plan.width + stepX - 1) >> layout.chromaShiftX;
    plan.chromaHeight = (plan.height + stepY - 1) >> layout.chromaShiftY;
    plan.horizontalWeightBits = WeightBits(layout.chromaShiftX);
    plan.verticalWeightBits = WeightBits(layout.chromaShiftY);

    const ChromaSiting siting = SitingOf(location, stepX, stepY);
    for (int phase = 0; phase < stepX; ++phase) {
        plan.horizontalTaps[static_cast<std::size_t>(phase)] =
            TapForPhase(phase, stepX, siting.acrossHalves);
    }
    plan.rowTaps.resize(static_cast<std::size_t>(plan.height));
    for (int y = 0; y < plan.height; ++y) {
        const ChromaTap tap = TapForPhase(y & (stepY - 1), stepY, siting.downHalves);
        const int row = (y >> layout.chromaShiftY) + tap.offset;
        ChromaRowTap& rowTap = plan.rowTaps[static_cast<std::size_t>(y)];
        rowTap.rowFirst = std::clamp(row, 0, plan.chromaHeight - 1);
        rowTap.rowSecond = std::clamp(row + 1, 0, plan.chromaHeight - 1);
        rowTap.weightFirst = tap.weightFirst;
        rowTap.weightSecond = tap.weightSecond;
    }
}

// Largest shift that keeps round(magnitude * 2^shift) within a signed
// 16-bit lane.
int ShiftFittingSixteenBits(double magnitude) {
    int shift = 0;
    while (shift < kMaximumShift && std::llround(magnitude * std::ldexp(1.0, shift + 1)) <= kInt16Max) {
        ++shift;
    }
    return shift;
}

void PlanToRgb(ConversionPlan& plan, const LumaWeights& weights, const RangeScales& scales) {
    const double kr = weights.kr, kb = weights.kb, kg = 1.0 - kr - kb;
    const int depth = plan.layout.depth;
    const int chromaBits = plan.horizontalWeightBits + plan.verticalWeightBits;
    YuvToRgbCoefficients& c = plan.toRgb;
    // Real coefficients per unit of the kernels' inputs: the luma sample and
    // the interpolated chroma (1 << chromaBits times a sample).
    const double luma = kEightBitMax / scales.lumaScale;
    const double chroma = kEightBitMax / scales.chromaScale / std::ldexp(1.0, chromaBits);
    const double crToRed = 2 * (1 - kr) * chroma;
    const double cbToGreen = -2 * kb * (1 - kb) / kg * chroma;
    const double crToGreen = -2 * kr * (1 - kr) / kg * chroma;
    const double cbToBlue = 2 * (1 - kb) * chroma;

    plan.narrowToRgb = depth + chromaBits <= kNarrowToRgbLimit;
    if (plan.narrowToRgb) {
        // Inputs widened to 14 bits and coefficients filling 16-bit lanes:
        // the products fit the SIMD multiply-add and stay as precise as
        // the wide sums (under 1/50 of a code value).
        c.lumaInputShift = kNarrowToRgbLimit - depth;
        c.chromaInputShift = kNarrowToRgbLimit - depth - chromaBits;
        const double lumaScale = std::ldexp(1.0, -c.lumaInputShift);
        const double chromaScale = std::ldexp(1.0, -c.chromaInputShift);
        const double largest =
            std::max({luma * lumaScale, std::abs(crToRed) * chromaScale,
                      std::abs(cbToGreen) * chromaScale, std::abs(crToGreen) * chromaScale,
                      std::abs(cbToBlue) * chromaScale});
        c.shift = ShiftFittingSixteenBits(largest);
        const double one = std::ldexp(1.0, c.shift);
        c.luma = Round(luma * lumaScale * one) << c.lumaInputShift;
        c.crToRed = Round(crToRed * chromaScale * one) << c.chromaInputShift;
        c.cbToGreen = Round(cbToGreen * chromaScale * one) * (1 << c.chromaInputShift);
        c.crToGreen = Round(crToGreen * chromaScale * one) * (1 << c.chromaInputShift);
        c.cbToBlue = Round(cbToBlue * chromaScale * one) << c.chromaInputShift;
    } else {
        c.shift = depth + chromaBits + kToRgbGuardBits;
        const double one = std::ldexp(1.0, c.shift);
        c.luma = Round(luma * one);
        c.crToRed = Round(crToRed * one);
        c.cbToGreen = Round(cbToGreen * one);
        c.crToGreen = Round(crToGreen * one);
        c.cbToBlue = Round(cbToBlue * one);
    }
    const std::int64_t lumaOffset = Round(scales.lumaOffset);
    const std::int64_t chromaOffset = Round(scales.chromaOffset) << chromaBits;
    const std::int64_t half = std::int64_t{1} << (c.shift - 1);
    c.redBias = half - c.luma * lumaOffset - c.crToRed * chromaOffset;
    c.greenBias = half - c.luma * lumaOffset - (c.cbToGreen + c.crToGreen) * chromaOffset;
    c.blueBias = half - c.luma * lumaOffset - c.cbToBlue * chromaOffset;
}

void PlanToYuv(ConversionPlan& plan, const LumaWeights& weights, const RangeScales& scales) {
    const double kr = weights.kr, kb = weights.kb, kg = 1.0 - kr - kb;
    RgbToYuvCoefficients& c = plan.toYuv;
    // Per unit of an 8-bit component (luma) or of a block's sum (chroma).
    const double lumaUnit = scales.lumaScale / kEightBitMax;
    const double chromaUnit = scales.chromaScale / kEightBitMax;
    const double cbFromRed = -kr / (2 * (1 - kb)) * chromaUnit;
    const double cbFromGreen = -kg / (2 * (1 - kb)) * chromaUnit;
    const double cbFromBlue = 0.5 * chromaUnit;
    const double crFromRed = 0.5 * chromaUnit;
    const double crFromGreen = -kg / (2 * (1 - kr)) * chromaUnit;
    const double crFromBlue = -kb / (2 * (1 - kr)) * chromaUnit;
    // The chroma coefficients apply to sums over a block of 2^blockBits
    // pixels, so the shift takes the block's size out: the average at full
    // precision.
    const int blockBits = plan.layout.chromaShiftX + plan.layout.chromaShiftY;

    plan.narrowToYuv = plan.layout.depth <= kNarrowToYuvDepthLimit;
    // Deeper samples get as many more fraction bits (64-bit sums).
    int chromaFractionBits = kToYuvFractionBits + plan.layout.depth - 8;
    if (plan.narrowToYuv) {
        // Coefficients filling 16-bit lanes for the SIMD multiply-add.
        c.lumaShift = ShiftFittingSixteenBits(std::max({kr, kg, kb}) * lumaUnit);
        chromaFractionBits = ShiftFittingSixteenBits(
            std::max({std::abs(cbFromRed), std::abs(cbFromGreen), cbFromBlue, crFromRed,
                      std::abs(crFromGreen), std::abs(crFromBlue)}));
    } else {
        c.lumaShift = chromaFractionBits;
    }
    const double lumaOne = std::ldexp(1.0, c.lumaShift);
    c.lumaFromRed = Round(kr * lumaUnit * lumaOne);
    c.lumaFromGreen = Round(kg * lumaUnit * lumaOne);
    c.lumaFromBlue = Round(kb * lumaUnit * lumaOne);
    c.lumaBias = (Round(scales.lumaOffset) << c.lumaShift) + (std::int64_t{1} << (c.lumaShift - 1));

    c.chromaShift = chromaFractionBits + blockBits;
    const double chromaOne = std::ldexp(1.0, chromaFractionBits);
    c.cbFromRed = Round(cbFromRed * chromaOne);
    c.cbFromGreen = Round(cbFromGreen * chromaOne);
    c.cbFromBlue = Round(cbFromBlue * chromaOne);
    c.crFromRed = Round(crFromRed * chromaOne);
    c.crFromGreen = Round(crFromGreen * chromaOne);
    c.crFromBlue = Round(crFromBlue * chromaOne);
    c.chromaBias =
        (Round(scales.chromaOffset) << c.chromaShift) + (std::int64_t{1} << (c.chromaShift - 1));
}

void PlanTables(ConversionPlan& plan, const RangeScales& scales) {
    const int depth = plan.layout.depth;
    const int levels = 1 << depth;
    const double maximum = levels - 1;
    plan.componentToEightBits.resize(static_cast<std::size_t>(levels));
    plan.grayToEightBits.resize(static_cast<std::size_t>(levels));
    for (int value = 0; value < levels; ++value) {
        plan.componentToEightBits[static_cast<std::size_t>(value)] =
            static_cast<std::uint8_t>(std::lround(value * kEightBitMax / maximum));
        const double gray = (value - scales.lumaOffset) * kEightBitMax / scales.lumaScale;
        plan.grayToEightBits[static_cast<std::size_t>(value)] =
            static_cast<std::uint8_t>(std::clamp<long>(std::lround(gray), 0, 255));
    }
    for (int value = 0; value < 256; ++value) {
        plan.eightBitsToComponent[static_cast<std::size_t>(value)] =
            static_cast<std::uint16_t>(std::lround(value * maximum / kEightBitMax));
    }
}

bool RangeIsFull(const PixelLayout& layout, AVColorRange range) {
    switch (layout.family) {
        case LayoutFamily::PlanarGbr:
        case LayoutFamily::PackedRgb:
            return true;
        case LayoutFamily::Gray:
            return range == AVCOL_RANGE_JPEG;
        case LayoutFamily::PlanarYuv:
            return layout.fullRangeAlias || range == AVCOL_RANGE_JPEG;
    }
    return false;
}

}  // namespace

ConversionPlan BuildConversionPlan(AVPixelFormat format, AVColorSpace colorspace,
                                   AVColorRange range, AVChromaLocation location,
                                   int frameWidth, int frameHeight) {
    if (frameWidth <= 0 || frameHeight <= 0) {
        throw std::invalid_argument("picture size must be positive, not " +
                                    std::to_string(frameWidth) + "x" +
                                    std::to_string(frameHeight));
    }
    ConversionPlan plan;
    plan.layout = LayoutOf(format);
    plan.width = frameWidth;
    plan.height = frameHeight;
    plan.fullRange = RangeIsFull(plan.layout, range);
    const RangeScales scales = ScalesFor(plan.layout.depth, plan.fullRange);
    const bool usesMatrix = plan.layout.family == LayoutFamily::PlanarYuv ||
                            plan.layout.family == LayoutFamily::Gray;
    // R'G'B' pictures carry no matrix whatever their tag says; gray uses the
    // matrix's luma weights only when written back.
    const LumaWeights weights =
        ResolveLumaWeights(usesMatrix ? colorspace : AVCOL_SPC_UNSPECIFIED, frameHeight);
    PlanChroma(plan, EffectiveChromaLocation(location, plan.layout.fullRangeAlias));
    PlanToRgb(plan, weights, scales);
    PlanToYuv(plan, weights, scales);
    PlanTables(plan, scales);
    return plan;
}
