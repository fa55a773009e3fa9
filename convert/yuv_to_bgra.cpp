// Planar Y'CbCr (+ alpha) to 32-bit BGRA: chroma interpolated linearly where
// its samples sit, then one fixed-point matrix product per pixel.
#include <algorithm>
#include <type_traits>

#include "convert/conversion_kernels.h"
#include "convert/depth_clamp.h"
#include "convert/lane_rows.h"
#include "convert/row_access.h"

namespace {

// Chroma samples one row needs around a chunk: one spare column each side.
constexpr int kSpareColumns = 2;

// One chroma plane's row interpolated vertically, for the chroma columns
// firstColumn .. firstColumn + columns - 1; columns outside the plane repeat
// its edge samples. Samples above `maximum` count as it.
template <typename Sample, ClampedLoad kLoad, typename Value>
void BlendRows(const std::uint8_t* rowFirst, const std::uint8_t* rowSecond, int weightFirst,
               int weightSecond, int firstColumn, int columns, int planeColumns,
               std::uint16_t maximum, Value* blended) {
    const int inside = std::max(firstColumn, 0);
    const int insideEnd = std::min(firstColumn + columns, planeColumns);
    const int count = insideEnd - inside;
    Sample firstScratch[kKernelChunk + kSpareColumns];
    Sample secondScratch[kKernelChunk + kSpareColumns];
    const Sample* first =
        SamplesWithinDepth<kLoad>(rowFirst, inside, count, maximum, firstScratch);
    const Sample* second =
        SamplesWithinDepth<kLoad>(rowSecond, inside, count, maximum, secondScratch);
    Value* target = blended + (inside - firstColumn);
    if constexpr (std::is_same_v<Value, std::int16_t>) {
        BlendRowsSse2(first, second, weightFirst, weightSecond, count, target);
    } else {
        for (int i = 0; i < count; ++i) {
            target[i] = static_cast<Value>(weightFirst * first[i] + weightSecond * second[i]);
        }
    }
    for (int i = 0; i < inside - firstColumn; ++i) {
        blended[i] = target[0];
    }
    for (int i = insideEnd - firstColumn; i < columns; ++i) {
        blended[i] = target[count - 1];
    }
}

// Horizontal interpolation: pixel phase p of block b takes the blended
// columns b + 1 + offset and the next (index 0 is the spare column); the
// result shifted left by `inputShift`.
template <int kShiftX, typename Value>
void SpreadColumns(const Value* blended, const ChromaTap* taps, int blocks, int inputShift,
                   Value* line) {
    constexpr int kStep = 1 << kShiftX;
    // One pass per phase over contiguous columns, so that each vectorises.
    for (int phase = 0; phase < kStep; ++phase) {
        const Value* source = blended + 1 + taps[phase].offset;
        const int weightFirst = taps[phase].weightFirst;
        const int weightSecond = taps[phase].weightSecond;
        Value* target = line + phase;
        if constexpr (kStep == 1) {
            for (int block = 0; block < blocks; ++block) {
                target[block] = static_cast<Value>(
                    (weightFirst * source[block] + weightSecond * source[block + 1]) << inputShift);
            }
        } else {
            Value phaseValues[kKernelChunk];
            for (int block = 0; block < blocks; ++block) {
                phaseValues[block] = static_cast<Value>(
                    (weightFirst * source[block] + weightSecond * source[block + 1]) << inputShift);
            }
            for (int block = 0; block < blocks; ++block) {
                target[block * kStep] = phaseValues[block];
            }
        }
    }
}

// The reference conversion, in 64-bit sums: any depth and subsampling.
using Acc = std::int64_t;

inline std::uint32_t ToEightBits(Acc value, int shift) {
    const Acc shifted = value >> shift;
    return static_cast<std::uint32_t>(std::min<Acc>(std::max<Acc>(shifted, 0), 255));
}

template <typename Sample, int kShiftX, ClampedLoad kLoad>
void YuvToBgraWide(const ConversionPlan& plan, const std::uint8_t* const planes[4],
               const int linesizes[4], PictureRect rect, std::uint8_t* out,
               std::ptrdiff_t outStride) {
    constexpr int kStep = 1 << kShiftX;
    const YuvToRgbCoefficients& c = plan.toRgb;
    const int shift = c.shift;
    const Acc luma = static_cast<Acc>(c.luma);
    const Acc crToRed = static_cast<Acc>(c.crToRed), cbToGreen = static_cast<Acc>(c.cbToGreen);
    const Acc crToGreen = static_cast<Acc>(c.crToGreen), cbToBlue = static_cast<Acc>(c.cbToBlue);
    const Acc redBias = static_cast<Acc>(c.redBias), greenBias = static_cast<Acc>(c.greenBias);
    const Acc blueBias = static_cast<Acc>(c.blueBias);
    const bool hasAlpha = plan.layout.hasAlpha;
    const std::uint8_t* alphaTable = plan.componentToEightBits.data();
    const std::uint16_t maximum = DepthMaximum(plan.layout.depth);
    const int alignedStart = rect.x & ~(kStep - 1);

    for (int row = 0; row < rect.height; ++row) {
        const int y = rect.y + row;
        const ChromaRowTap& rowTap = plan.rowTaps[static_cast<std::size_t>(y)];
        const std::uint8_t* lumaRow = RowOf(planes[0], linesizes[0], y);
        const std::uint8_t* cbFirst = RowOf(planes[1], linesizes[1], rowTap.rowFirst);
        const std::uint8_t* cbSecond = RowOf(planes[1], linesizes[1], rowTap.rowSecond);
        const std::uint8_t* crFirst = RowOf(planes[2], linesizes[2], rowTap.rowFirst);
        const std::uint8_t* crSecond = RowOf(planes[2], linesizes[2], rowTap.rowSecond);
        std::uint8_t* outRow = out + static_cast<std::ptrdiff_t>(row) * outStride;

        for (int chunkStart = alignedStart; chunkStart < rect.right(); chunkStart += kKernelChunk) {
            const int chunkEnd = std::min(chunkStart + kKernelChunk, rect.right());
            const int firstBlock = chunkStart >> kShiftX;
            const int blocks = ((chunkEnd - 1) >> kShiftX) - firstBlock + 1;
            std::int32_t blendedCb[kKernelChunk + kSpareColumns];
            std::int32_t blendedCr[kKernelChunk + kSpareColumns];
            BlendRows<Sample, kLoad>(cbFirst, cbSecond, rowTap.weightFirst, rowTap.weightSecond,
                                     firstBlock - 1, blocks + kSpareColumns, plan.chromaWidth,
                                     maximum, blendedCb);
            BlendRows<Sample, kLoad>(crFirst, crSecond, rowTap.weightFirst, rowTap.weightSecond,
                                     firstBlock - 1, blocks + kSpareColumns, plan.chromaWidth,
                                     maximum, blendedCr);
            std::int32_t cbLine[kKernelChunk];
            std::int32_t crLine[kKernelChunk];
            SpreadColumns<kShiftX>(blendedCb, plan.horizontalTaps.data(), blocks, 0, cbLine);
            SpreadColumns<kShiftX>(blendedCr, plan.horizontalTaps.data(), blocks, 0, crLine);

            const int first = std::max(chunkStart, rect.x);
            const int count = chunkEnd - first;
            const std::int32_t* cb = cbLine + (first - chunkStart);
            const std::int32_t* cr = crLine + (first - chunkStart);
            Sample lumaSamples[kKernelChunk];
            LoadWithinDepth<kLoad>(lumaRow, first, count, maximum, lumaSamples);
            std::uint32_t pixels[kKernelChunk];
            for (int i = 0; i < count; ++i) {
                const Acc lumaTerm = luma * static_cast<Acc>(lumaSamples[i]);
                const Acc blueChroma = static_cast<Acc>(cb[i]);
                const Acc redChroma = static_cast<Acc>(cr[i]);
                const std::uint32_t red = ToEightBits(lumaTerm + crToRed * redChroma + redBias, shift);
                const std::uint32_t green = ToEightBits(
                    lumaTerm + cbToGreen * blueChroma + crToGreen * redChroma + greenBias, shift);
                const std::uint32_t blue = ToEightBits(lumaTerm + cbToBlue * blueChroma + blueBias, shift);
                pixels[i] = kOpaque | red << 16 | green << 8 | blue;
            }
            if (hasAlpha) {
                Sample alpha[kKernelChunk];
                LoadWithinDepth<kLoad>(RowOf(planes[3], linesizes[3], y), first, count, maximum,
                                       alpha);
                for (int i = 0; i < count; ++i) {
                    pixels[i] = (pixels[i] & kColorBits) |
                                static_cast<std::uint32_t>(alphaTable[alpha[i]]) << kAlphaShift;
                }
            }
            StorePixels(pixels, count, outRow + static_cast<std::ptrdiff_t>(first - rect.x) * 4);
        }
    }
}

// The same conversion in 16-bit lanes (streams whose plan allows them):
// luma and interpolated chroma widened to 14 bits, then the SIMD matrix row.
// Samples are clamped to the depth first, so that the lanes never overflow.
template <typename Sample, int kShiftX>
void YuvToBgraLanes(const ConversionPlan& plan, const std::uint8_t* const planes[4],
                    const int linesizes[4], PictureRect rect, std::uint8_t* out,
                    std::ptrdiff_t outStride) {
    constexpr int kStep = 1 << kShiftX;
    const LaneToRgb lanes = LaneCoefficients(plan.toRgb);
    const auto toBgra = FastestLaneRows().toBgra;
    const int lumaShift = plan.toRgb.lumaInputShift;
    const int chromaShift = plan.toRgb.chromaInputShift;
    const bool hasAlpha = plan.layout.hasAlpha;
    const std::uint8_t* alphaTable = plan.componentToEightBits.data();
    const std::uint16_t maximum = DepthMaximum(plan.layout.depth);
    const int alignedStart = rect.x & ~(kStep - 1);

    for (int row = 0; row < rect.height; ++row) {
        const int y = rect.y + row;
        const ChromaRowTap& rowTap = plan.rowTaps[static_cast<std::size_t>(y)];
        const std::uint8_t* lumaRow = RowOf(planes[0], linesizes[0], y);
        const std::uint8_t* cbFirst = RowOf(planes[1], linesizes[1], rowTap.rowFirst);
        const std::uint8_t* cbSecond = RowOf(planes[1], linesizes[1], rowTap.rowSecond);
        const std::uint8_t* crFirst = RowOf(planes[2], linesizes[2], rowTap.rowFirst);
        const std::uint8_t* crSecond = RowOf(planes[2], linesizes[2], rowTap.rowSecond);
        std::uint8_t* outRow = out + static_cast<std::ptrdiff_t>(row) * outStride;

        for (int chunkStart = alignedStart; chunkStart < rect.right(); chunkStart += kKernelChunk) {
            const int chunkEnd = std::min(chunkStart + kKernelChunk, rect.right());
            const int firstBlock = chunkStart >> kShiftX;
            const int blocks = ((chunkEnd - 1) >> kShiftX) - firstBlock + 1;
            std::int16_t blendedCb[kKernelChunk + kSpareColumns];
            std::int16_t blendedCr[kKernelChunk + kSpareColumns];
            BlendRows<Sample, &LoadClampedSse2>(cbFirst, cbSecond, rowTap.weightFirst,
                                                rowTap.weightSecond, firstBlock - 1,
                                                blocks + kSpareColumns, plan.chromaWidth, maximum,
                                                blendedCb);
            BlendRows<Sample, &LoadClampedSse2>(crFirst, crSecond, rowTap.weightFirst,
                                                rowTap.weightSecond, firstBlock - 1,
                                                blocks + kSpareColumns, plan.chromaWidth, maximum,
                                                blendedCr);
            std::int16_t cbLine[kKernelChunk];
            std::int16_t crLine[kKernelChunk];
            if constexpr (kShiftX == 1) {
                SpreadPairsSse2(blendedCb + 1, plan.horizontalTaps.data(), blocks, chromaShift, cbLine);
                SpreadPairsSse2(blendedCr + 1, plan.horizontalTaps.data(), blocks, chromaShift, crLine);
            } else {
                SpreadColumns<kShiftX>(blendedCb, plan.horizontalTaps.data(), blocks, chromaShift,
                                       cbLine);
                SpreadColumns<kShiftX>(blendedCr, plan.horizontalTaps.data(), blocks, chromaShift,
                                       crLine);
            }

            const int first = std::max(chunkStart, rect.x);
            const int count = chunkEnd - first;
            Sample lumaScratch[kKernelChunk];
            const Sample* lumaSamples = SamplesWithinDepth<&LoadClampedSse2>(
                lumaRow, first, count, maximum, lumaScratch);
            std::int16_t luma[kKernelChunk];
            for (int i = 0; i < count; ++i) {
                luma[i] = static_cast<std::int16_t>(lumaSamples[i] << lumaShift);
            }
            std::uint8_t* target = outRow + static_cast<std::ptrdiff_t>(first - rect.x) * 4;
            toBgra(luma, cbLine + (first - chunkStart), crLine + (first - chunkStart), count,
                   lanes, target);
            if (hasAlpha) {
                Sample alpha[kKernelChunk];
                LoadWithinDepth<&LoadClampedSse2>(RowOf(planes[3], linesizes[3], y), first, count,
                                                  maximum, alpha);
                for (int i = 0; i < count; ++i) {
                    target[4 * i + 3] = alphaTable[alpha[i]];
                }
            }
        }
    }
}

template <typename Sample>
ToBgraKernel SelectLanesForShift(int shiftX) {
    switch (shiftX) {
        case 0: return &YuvToBgraLanes<Sample, 0>;
        case 1: return &YuvToBgraLanes<Sample, 1>;
        default: return &YuvToBgraLanes<Sample, 2>;
    }
}

template <typename Sample, ClampedLoad kLoad>
ToBgraKernel SelectWideForShift(int shiftX) {
    switch (shiftX) {
        case 0: return &YuvToBgraWide<Sample, 0, kLoad>;
        case 1: return &YuvToBgraWide<Sample, 1, kLoad>;
        default: return &YuvToBgraWide<Sample, 2, kLoad>;
    }
}

}  // namespace

ToBgraKernel SelectYuvToBgra(const ConversionPlan& plan, KernelChoice choice) {
    const int shiftX = plan.layout.chromaShiftX;
    if (plan.narrowToRgb && choice == KernelChoice::Fastest) {
        return plan.layout.bytesPerSample == 1 ? SelectLanesForShift<std::uint8_t>(shiftX)
                                               : SelectLanesForShift<std::uint16_t>(shiftX);
    }
    if (plan.layout.bytesPerSample == 1) {
        return SelectWideForShift<std::uint8_t, &LoadClampedPlain>(shiftX);
    }
    return choice == KernelChoice::Fastest
               ? SelectWideForShift<std::uint16_t, &LoadClampedSse2>(shiftX)
               : SelectWideForShift<std::uint16_t, &LoadClampedPlain>(shiftX);
}
