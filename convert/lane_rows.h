#pragma once

#include <cstdint>
#include <vector>

#include "convert/conversion_plan.h"

// The per-row work in 16-bit lanes, for streams whose plan allows them
// (narrowToRgb / narrowToYuv): chroma interpolation and the matrix products.
// Each has a plain version, the reference, and an SSE2 version that gives
// the same bytes.

// Y'CbCr -> R'G'B' with the coefficients shifted down by their input shifts.
struct LaneToRgb {
    std::int16_t luma, crToRed, cbToGreen, crToGreen, cbToBlue;
    std::int32_t redBias, greenBias, blueBias;
    int shift;
};
LaneToRgb LaneCoefficients(const YuvToRgbCoefficients& coefficients);

// R'G'B' -> Y'CbCr: luma per pixel, chroma per block sums, clamped to
// [0, maximum].
struct LaneToYuv {
    std::int16_t lumaFromRed, lumaFromGreen, lumaFromBlue;
    std::int32_t lumaBias;
    int lumaShift;
    std::int16_t cbFromRed, cbFromGreen, cbFromBlue, crFromRed, crFromGreen, crFromBlue;
    std::int32_t chromaBias;
    int chromaShift;
    int maximum;
};
LaneToYuv LaneCoefficients(const RgbToYuvCoefficients& coefficients, int depth);

// Inputs: luma and interpolated chroma, already shifted left by their input
// shifts (at most 14 bits). Output: opaque 32-bit BGRA pixels at any alignment.
void YuvRowToBgraPlain(const std::int16_t* luma, const std::int16_t* cb, const std::int16_t* cr,
                       int count, const LaneToRgb& c, std::uint8_t* pixels);
void YuvRowToBgraSse2(const std::int16_t* luma, const std::int16_t* cb, const std::int16_t* cr,
                      int count, const LaneToRgb& c, std::uint8_t* pixels);

// Pixels are rows of 32-bit BGRA and samples rows of `Sample`, both at any
// alignment (the plane rows themselves); `changed` holds 0 or all ones per
// pixel.

// Luma of each pixel, stored where `changed` is set (others keep what `luma`
// holds).
template <typename Sample>
void BgraRowToLumaPlain(const std::uint8_t* pixels, const std::uint32_t* changed, int count,
                        const LaneToYuv& c, std::uint8_t* luma);
template <typename Sample>
void BgraRowToLumaSse2(const std::uint8_t* pixels, const std::uint32_t* changed, int count,
                       const LaneToYuv& c, std::uint8_t* luma);

// Chroma of blocks two pixels wide and one or two rows high (`second` null
// for one row): `blocks` blocks from 2 * blocks pixels of each row, stored
// where any pixel of the block changed.
template <typename Sample>
void BgraPairsToChromaPlain(const std::uint8_t* first, const std::uint8_t* second,
                            const std::uint32_t* firstChanged, const std::uint32_t* secondChanged,
                            int blocks, const LaneToYuv& c, std::uint8_t* cb, std::uint8_t* cr);
template <typename Sample>
void BgraPairsToChromaSse2(const std::uint8_t* first, const std::uint8_t* second,
                           const std::uint32_t* firstChanged, const std::uint32_t* secondChanged,
                           int blocks, const LaneToYuv& c, std::uint8_t* cb, std::uint8_t* cr);

// Vertical chroma interpolation: first * weightFirst + second * weightSecond
// for `count` samples (the weights at most 1 << 3, the results within 15 bits).
template <typename Sample>
void BlendRowsPlain(const Sample* first, const Sample* second, int weightFirst, int weightSecond,
                    int count, std::int16_t* blended);
template <typename Sample>
void BlendRowsSse2(const Sample* first, const Sample* second, int weightFirst, int weightSecond,
                   int count, std::int16_t* blended);

// Horizontal chroma interpolation for blocks two pixels wide: pixel phase p
// of block b is (source[b + offset_p] * weightFirst_p + source[b + offset_p + 1]
// * weightSecond_p) << inputShift, `source` pointing at block 0's column.
void SpreadPairsPlain(const std::int16_t* source, const ChromaTap* taps, int blocks,
                      int inputShift, std::int16_t* line);
void SpreadPairsSse2(const std::int16_t* source, const ChromaTap* taps, int blocks,
                     int inputShift, std::int16_t* line);

// One vector set's matrix rows, for the sample size of a plane.
template <typename Sample>
struct LaneRowsToYuv {
    void (*luma)(const std::uint8_t* pixels, const std::uint32_t* changed, int count,
                 const LaneToYuv& c, std::uint8_t* luma);
    void (*chroma)(const std::uint8_t* first, const std::uint8_t* second,
                   const std::uint32_t* firstChanged, const std::uint32_t* secondChanged,
                   int blocks, const LaneToYuv& c, std::uint8_t* cb, std::uint8_t* cr);
};

struct LaneRowSet {
    const char* name;
    void (*toBgra)(const std::int16_t* luma, const std::int16_t* cb, const std::int16_t* cr,
                   int count, const LaneToRgb& c, std::uint8_t* pixels);
    LaneRowsToYuv<std::uint8_t> bytes;
    LaneRowsToYuv<std::uint16_t> words;

    template <typename Sample>
    const LaneRowsToYuv<Sample>& ToYuv() const {
        if constexpr (sizeof(Sample) == sizeof(std::uint8_t)) {
            return bytes;
        } else {
            return words;
        }
    }
};

// The AVX2 rows (same bytes as the SSE2 ones); null where this build has none.
const LaneRowSet* Avx2LaneRows();
// The SSE2 rows (the plain ones where the build has no SSE2).
const LaneRowSet& Sse2LaneRows();
// The fastest set the processor runs, chosen once.
const LaneRowSet& FastestLaneRows();
// Every vector set the processor runs, for comparing them with the plain rows.
std::vector<const LaneRowSet*> RunnableLaneRowSets();
