// The plain matrix rows: the reference the SIMD rows are held to.
#include "convert/lane_rows.h"

#include <algorithm>
#include <cstring>

#include "convert/row_access.h"

LaneToRgb LaneCoefficients(const YuvToRgbCoefficients& c) {
    const auto lane = [](std::int64_t value, int inputShift) {
        return static_cast<std::int16_t>(value / (std::int64_t{1} << inputShift));
    };
    return {lane(c.luma, c.lumaInputShift),
            lane(c.crToRed, c.chromaInputShift),
            lane(c.cbToGreen, c.chromaInputShift),
            lane(c.crToGreen, c.chromaInputShift),
            lane(c.cbToBlue, c.chromaInputShift),
            static_cast<std::int32_t>(c.redBias),
            static_cast<std::int32_t>(c.greenBias),
            static_cast<std::int32_t>(c.blueBias),
            c.shift};
}

LaneToYuv LaneCoefficients(const RgbToYuvCoefficients& c, int depth) {
    const auto lane = [](std::int64_t value) { return static_cast<std::int16_t>(value); };
    return {lane(c.lumaFromRed),  lane(c.lumaFromGreen), lane(c.lumaFromBlue),
            static_cast<std::int32_t>(c.lumaBias), c.lumaShift,
            lane(c.cbFromRed),    lane(c.cbFromGreen),   lane(c.cbFromBlue),
            lane(c.crFromRed),    lane(c.crFromGreen),   lane(c.crFromBlue),
            static_cast<std::int32_t>(c.chromaBias), c.chromaShift, (1 << depth) - 1};
}

namespace {

inline std::uint32_t ClampToByte(std::int32_t value) {
    return static_cast<std::uint32_t>(std::min(std::max(value, 0), 255));
}

}  // namespace

void YuvRowToBgraPlain(const std::int16_t* luma, const std::int16_t* cb, const std::int16_t* cr,
                       int count, const LaneToRgb& c, std::uint8_t* pixels) {
    for (int i = 0; i < count; ++i) {
        const std::int32_t y = c.luma * luma[i];
        const std::uint32_t red = ClampToByte((y + c.crToRed * cr[i] + c.redBias) >> c.shift);
        const std::uint32_t green =
            ClampToByte((y + c.cbToGreen * cb[i] + c.crToGreen * cr[i] + c.greenBias) >> c.shift);
        const std::uint32_t blue = ClampToByte((y + c.cbToBlue * cb[i] + c.blueBias) >> c.shift);
        const std::uint32_t pixel = kOpaque | red << 16 | green << 8 | blue;
        std::memcpy(pixels + static_cast<std::ptrdiff_t>(i) * 4, &pixel, sizeof pixel);
    }
}

template <typename Sample>
void BgraRowToLumaPlain(const std::uint8_t* pixels, const std::uint32_t* changed, int count,
                        const LaneToYuv& c, std::uint8_t* luma) {
    for (int i = 0; i < count; ++i) {
        const std::uint32_t pixel = PixelAt(pixels, i);
        const std::int32_t value = (c.lumaFromRed * RedOf(pixel) + c.lumaFromGreen * GreenOf(pixel) +
                                    c.lumaFromBlue * BlueOf(pixel) + c.lumaBias) >> c.lumaShift;
        if (changed[i] != 0) {
            PutSample(luma, i, static_cast<Sample>(std::min(std::max(value, 0), c.maximum)));
        }
    }
}

template <typename Sample>
void BgraPairsToChromaPlain(const std::uint8_t* first, const std::uint8_t* second,
                            const std::uint32_t* firstChanged, const std::uint32_t* secondChanged,
                            int blocks, const LaneToYuv& c, std::uint8_t* cb, std::uint8_t* cr) {
    for (int b = 0; b < blocks; ++b) {
        std::int32_t red = 0, green = 0, blue = 0;
        std::uint32_t changed = 0;
        for (int phase = 0; phase < 2; ++phase) {
            const int i = 2 * b + phase;
            const std::uint32_t above = PixelAt(first, i);
            red += RedOf(above);
            green += GreenOf(above);
            blue += BlueOf(above);
            changed |= firstChanged[i];
            if (second != nullptr) {
                const std::uint32_t below = PixelAt(second, i);
                red += RedOf(below);
                green += GreenOf(below);
                blue += BlueOf(below);
                changed |= secondChanged[i];
            }
        }
        if (changed == 0) {
            continue;
        }
        const std::int32_t blueDifference =
            (c.cbFromRed * red + c.cbFromGreen * green + c.cbFromBlue * blue + c.chromaBias) >>
            c.chromaShift;
        const std::int32_t redDifference =
            (c.crFromRed * red + c.crFromGreen * green + c.crFromBlue * blue + c.chromaBias) >>
            c.chromaShift;
        PutSample(cb, b, static_cast<Sample>(std::min(std::max(blueDifference, 0), c.maximum)));
        PutSample(cr, b, static_cast<Sample>(std::min(std::max(redDifference, 0), c.maximum)));
    }
}

template <typename Sample>
void BlendRowsPlain(const Sample* first, const Sample* second, int weightFirst, int weightSecond,
                    int count, std::int16_t* blended) {
    for (int i = 0; i < count; ++i) {
        blended[i] = static_cast<std::int16_t>(weightFirst * first[i] + weightSecond * second[i]);
    }
}

void SpreadPairsPlain(const std::int16_t* source, const ChromaTap* taps, int blocks,
                      int inputShift, std::int16_t* line) {
    for (int b = 0; b < blocks; ++b) {
        for (int phase = 0; phase < 2; ++phase) {
            const ChromaTap& tap = taps[phase];
            const std::int16_t* at = source + b + tap.offset;
            line[2 * b + phase] = static_cast<std::int16_t>(
                (tap.weightFirst * at[0] + tap.weightSecond * at[1]) << inputShift);
        }
    }
}

template void BlendRowsPlain<std::uint8_t>(const std::uint8_t*, const std::uint8_t*, int, int, int,
                                           std::int16_t*);
template void BlendRowsPlain<std::uint16_t>(const std::uint16_t*, const std::uint16_t*, int, int,
                                            int, std::int16_t*);
template void BgraRowToLumaPlain<std::uint8_t>(const std::uint8_t*, const std::uint32_t*, int,
                                               const LaneToYuv&, std::uint8_t*);
template void BgraRowToLumaPlain<std::uint16_t>(const std::uint8_t*, const std::uint32_t*, int,
                                                const LaneToYuv&, std::uint8_t*);
template void BgraPairsToChromaPlain<std::uint8_t>(const std::uint8_t*, const std::uint8_t*,
                                                   const std::uint32_t*, const std::uint32_t*, int,
                                                   const LaneToYuv&, std::uint8_t*, std::uint8_t*);
template void BgraPairsToChromaPlain<std::uint16_t>(const std::uint8_t*, const std::uint8_t*,
                                                    const std::uint32_t*, const std::uint32_t*,
                                                    int, const LaneToYuv&, std::uint8_t*,
                                                    std::uint8_t*);

namespace {

bool ProcessorRunsAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

std::vector<const LaneRowSet*> RunnableLaneRowSets() {
    std::vector<const LaneRowSet*> sets{&Sse2LaneRows()};
    if (Avx2LaneRows() != nullptr && ProcessorRunsAvx2()) {
        sets.push_back(Avx2LaneRows());
    }
    return sets;
}

const LaneRowSet& FastestLaneRows() {
    static const LaneRowSet& fastest = *RunnableLaneRowSets().back();
    return fastest;
}
