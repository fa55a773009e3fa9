#pragma once

#include <cstdint>
#include <limits>

#include "convert/row_access.h"

// Samples above the picture's depth. A 9- to 15-bit picture keeps its
// samples in 16-bit words, and nothing stops a word from holding more than
// the depth allows: raw video stores whatever was written, and one flipped
// bit is enough. The converter reads such a sample as the depth's maximum,
// as decoders clamp what they output. Every path that reads samples lowers
// them right after loading, before the tables (2^depth entries) and the
// 16-bit lanes (sized for the depth) see them; the write-back never touches
// the sample of an unchanged pixel, so it keeps even an out-of-range value.

// Copies `count` 16-bit samples from `row` (any alignment) to `destination`,
// each above `maximum` lowered to it: the clamp rides on the load, so that it
// costs no pass of its own. The SSE2 version gives the same samples as the
// plain one, which the tests hold it to.
using ClampedLoad = void (*)(const std::uint8_t* row, int count, std::uint16_t maximum,
                             std::uint16_t* destination);
void LoadClampedPlain(const std::uint8_t* row, int count, std::uint16_t maximum,
                      std::uint16_t* destination);
void LoadClampedSse2(const std::uint8_t* row, int count, std::uint16_t maximum,
                     std::uint16_t* destination);

// The largest sample a picture of `depth` bits holds.
inline std::uint16_t DepthMaximum(int depth) {
    return static_cast<std::uint16_t>((1u << depth) - 1);
}

// LoadSamples, with the samples above `maximum` lowered by kLoad. Bytes
// never exceed their depth (every 8-bit layout is 8 bits deep), nor do
// 16-bit words of a 16-bit picture: those are copied as they are.
template <ClampedLoad kLoad, typename Sample>
void LoadWithinDepth(const std::uint8_t* row, int first, int count, std::uint16_t maximum,
                     Sample* destination) {
    if constexpr (sizeof(Sample) == sizeof(std::uint16_t)) {
        if (maximum != std::numeric_limits<std::uint16_t>::max()) {
            kLoad(row + static_cast<std::ptrdiff_t>(first) * sizeof(Sample), count, maximum,
                  destination);
            return;
        }
    }
    LoadSamples(row, first, count, destination);
}

// Samples `first` .. `first + count - 1` of `row` within their depth, for
// reading only: 8-bit samples straight from the row (nothing to clamp,
// nothing to align), deeper ones loaded into `scratch` as LoadWithinDepth
// does.
template <ClampedLoad kLoad, typename Sample>
const Sample* SamplesWithinDepth(const std::uint8_t* row, int first, int count,
                                 std::uint16_t maximum, Sample* scratch) {
    if constexpr (sizeof(Sample) == sizeof(std::uint8_t)) {
        return row + first;
    } else {
        LoadWithinDepth<kLoad>(row, first, count, maximum, scratch);
        return scratch;
    }
}
