#include "convert/conversion_plan.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "convert/color_matrix.h"

namespace {

// Extra fraction bits of the Y'CbCr -> R'G'B' sums beyond the input's own
// precision: the rounding of the coefficients then moves no result by more
// than 1/40 of a code value.
constexpr int kToRgbGuardBits = 6;
// Fraction bits of the R'G'B' -> Y'CbCr coefficients (8-bit inputs, three
// terms): the same 1/40 of a code value at any depth.
constexpr int kToYuvFractionBits = 14;
// Largest depth + chroma weight bits whose Y'CbCr -> R'G'B' sums stay below
// 2^31 (|value| < 1024 code values times 2^shift).
constexpr int kNarrowToRgbLimit = 14;
// Largest depth whose block sums for chroma stay below 2^31.
constexpr int kNarrowToYuvDepthLimit = 12;
constexpr double kEightBitMax = 255.0;

// Where chroma samples sit in their block: horizontally at the left pixel
// or between the pixels; vertically on the top row, between rows, or on the
// bottom row.
enum class VerticalSiting { Top, Center, Bottom };
struct Siting {
    AVChromaLocation location;
    bool horizontallyCentered;
    VerticalSiting vertical;
};
const Siting kSitings[] = {
    {AVCHROMA_LOC_LEFT, false, VerticalSiting::Center},
    {AVCHROMA_LOC_CENTER, true, VerticalSiting::Center},
    {AVCHROMA_LOC_TOPLEFT, false, VerticalSiting::Top},
    {AVCHROMA_LOC_TOP, true, VerticalSiting::Top},
    {AVCHROMA_LOC_BOTTOMLEFT, false, VerticalSiting::Bottom},
    {AVCHROMA_LOC_BOTTOM, true, VerticalSiting::Bottom},
};

Siting ResolveSiting(AVChromaLocation location, bool fullRangeAlias) {
    if (location == AVCHROMA_LOC_UNSPECIFIED) {
        // MPEG-2 onwards site 4:2:0 and 4:2:2 chroma left; JPEG centres it.
        location = fullRangeAlias ? AVCHROMA_LOC_CENTER : AVCHROMA_LOC_LEFT;
    }
    for (const Siting& siting : kSitings) {
        if (siting.location == location) {
            return siting;
        }
    }
    throw std::invalid_argument("unknown chroma location: " + std::to_string(location));
}

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

void PlanChroma(ConversionPlan& plan, const Siting& siting) {
    const PixelLayout& layout = plan.layout;
    const int stepX = 1 << layout.chromaShiftX;
    const int stepY = 1 << layout.chromaShiftY;
    plan.chromaWidth = (plan.width + stepX - 1) >> layout.chromaShiftX;
    plan.chromaHeight = (plan.height + stepY - 1) >> layout.chromaShiftY;
    plan.horizontalWeightBits = WeightBits(layout.chromaShiftX);
    plan.verticalWeightBits = WeightBits(layout.chromaShiftY);

    const int horizontalHalves = siting.horizontallyCentered ? stepX - 1 : 0;
    for (int phase = 0; phase < stepX; ++phase) {
        plan.horizontalTaps[static_cast<std::size_t>(phase)] =
            TapForPhase(phase, stepX, horizontalHalves);
    }
    const int verticalHalves = siting.vertical == VerticalSiting::Top      ? 0
                               : siting.vertical == VerticalSiting::Center ? stepY - 1
                                                                            : 2 * (stepY - 1);
    plan.rowTaps.resize(static_cast<std::size_t>(plan.height));
    for (int y = 0; y < plan.height; ++y) {
        const ChromaTap tap = TapForPhase(y & (stepY - 1), stepY, verticalHalves);
        const int row = (y >> layout.chromaShiftY) + tap.offset;
        ChromaRowTap& rowTap = plan.rowTaps[static_cast<std::size_t>(y)];
        rowTap.rowFirst = std::clamp(row, 0, plan.chromaHeight - 1);
        rowTap.rowSecond = std::clamp(row + 1, 0, plan.chromaHeight - 1);
        rowTap.weightFirst = tap.weightFirst;
        rowTap.weightSecond = tap.weightSecond;
    }
}

void PlanToRgb(ConversionPlan& plan, const LumaWeights& weights, const RangeScales& scales) {
    const double kr = weights.kr, kb = weights.kb, kg = 1.0 - kr - kb;
    const int chromaBits = plan.horizontalWeightBits + plan.verticalWeightBits;
    YuvToRgbCoefficients& c = plan.toRgb;
    c.shift = plan.layout.depth + chromaBits + kToRgbGuardBits;
    const double one = std::ldexp(1.0, c.shift);
    const double chromaUnit = kEightBitMax / scales.chromaScale * one / std::ldexp(1.0, chromaBits);
    c.luma = Round(kEightBitMax / scales.lumaScale * one);
    c.crToRed = Round(2 * (1 - kr) * chromaUnit);
    c.cbToGreen = Round(-2 * kb * (1 - kb) / kg * chromaUnit);
    c.crToGreen = Round(-2 * kr * (1 - kr) / kg * chromaUnit);
    c.cbToBlue = Round(2 * (1 - kb) * chromaUnit);
    const std::int64_t lumaOffset = Round(scales.lumaOffset);
    const std::int64_t chromaOffset = Round(scales.chromaOffset) << chromaBits;
    const std::int64_t half = std::int64_t{1} << (c.shift - 1);
    c.redBias = half - c.luma * lumaOffset - c.crToRed * chromaOffset;
    c.greenBias = half - c.luma * lumaOffset - (c.cbToGreen + c.crToGreen) * chromaOffset;
    c.blueBias = half - c.luma * lumaOffset - c.cbToBlue * chromaOffset;
    plan.narrowToRgb = plan.layout.depth + chromaBits <= kNarrowToRgbLimit;
}

void PlanToYuv(ConversionPlan& plan, const LumaWeights& weights, const RangeScales& scales) {
    const double kr = weights.kr, kb = weights.kb, kg = 1.0 - kr - kb;
    RgbToYuvCoefficients& c = plan.toYuv;
    c.lumaShift = kToYuvFractionBits;
    const double one = std::ldexp(1.0, kToYuvFractionBits);
    const double lumaUnit = scales.lumaScale / kEightBitMax * one;
    c.lumaFromRed = Round(kr * lumaUnit);
    c.lumaFromGreen = Round(kg * lumaUnit);
    c.lumaFromBlue = Round(kb * lumaUnit);
    c.lumaBias = (Round(scales.lumaOffset) << c.lumaShift) + (std::int64_t{1} << (c.lumaShift - 1));

    // The coefficients apply to sums over a block of 2^blockBits pixels, so
    // the shift takes the block's size out: the average at full precision.
    const int blockBits = plan.layout.chromaShiftX + plan.layout.chromaShiftY;
    c.chromaShift = kToYuvFractionBits + blockBits;
    const double chromaUnit = scales.chromaScale / kEightBitMax * one;
    c.cbFromRed = Round(-kr / (2 * (1 - kb)) * chromaUnit);
    c.cbFromGreen = Round(-kg / (2 * (1 - kb)) * chromaUnit);
    c.cbFromBlue = Round(0.5 * chromaUnit);
    c.crFromRed = Round(0.5 * chromaUnit);
    c.crFromGreen = Round(-kg / (2 * (1 - kr)) * chromaUnit);
    c.crFromBlue = Round(-kb / (2 * (1 - kr)) * chromaUnit);
    c.chromaBias =
        (Round(scales.chromaOffset) << c.chromaShift) + (std::int64_t{1} << (c.chromaShift - 1));
    plan.narrowToYuv = plan.layout.depth <= kNarrowToYuvDepthLimit;
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
    PlanChroma(plan, ResolveSiting(location, plan.layout.fullRangeAlias));
    PlanToRgb(plan, weights, scales);
    PlanToYuv(plan, weights, scales);
    PlanTables(plan, scales);
    return plan;
}
