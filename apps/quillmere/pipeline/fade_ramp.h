// The overlay's fades: over the output frames where it shows, its opacity
// comes up from nothing over the first frames and goes down to nothing over
// the last. The overlay with its border and shadow, as the filter drew
// them, is blended toward the untouched main picture by the frame's weight.
//
// A fade of F frames is a straight ramp over F frame times, and each frame
// takes the ramp's value at its middle: the k-th frame of a fade-in (from
// 0) weighs (k + 1/2) / F. The weight is a function of the frame number
// alone, so frames may be composited in any order, or several at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Weights count in 1/65536: full weight leaves the composite as it is.
constexpr std::uint32_t kFullWeight = 1u << 16;

struct FadeRamp {
    std::int64_t first = 0;  // the first output frame the overlay shows on
    std::optional<std::int64_t> last;  // the last one; none known: no fade-out
    std::int64_t inFrames = 0;   // 0: no fade-in
    std::int64_t outFrames = 0;  // 0: no fade-out

    bool fades() const { return inFrames > 0 || (outFrames > 0 && last); }
    // The weight of output frame `frame`: kFullWeight outside the fades.
    std::uint32_t WeightAt(std::int64_t frame) const;
};

// Blends the 32-bit composite (blue, green, red, then a byte left as it
// is) toward the original picture it was made from, by `weight`: a pixel
// the filter did not change stays exactly as it was.
void FadeTowardOriginal(std::uint8_t* composite, std::ptrdiff_t compositeStride,
                        const std::uint8_t* original, std::ptrdiff_t originalStride, int width,
                        int height, std::uint32_t weight);
