#include "apps/quillmere/pipeline/fade_ramp.h"

#include <algorithm>

namespace {

// (k + 1/2) / frames in 1/65536, rounded: the ramp at the middle of its k-th frame.
std::uint32_t RampWeight(std::int64_t k, std::int64_t frames) {
    return static_cast<std::uint32_t>(((2 * k + 1) * kFullWeight + frames) / (2 * frames));
}

}  // namespace

std::uint32_t FadeRamp::WeightAt(std::int64_t frame) const {
    std::uint32_t weight = kFullWeight;
    if (inFrames > 0 && frame >= first && frame - first < inFrames) {
        weight = std::min(weight, RampWeight(frame - first, inFrames));
    }
    if (outFrames > 0 && last && frame <= *last && *last - frame < outFrames) {
        weight = std::min(weight, RampWeight(*last - frame, outFrames));
    }
    return weight;
}

void FadeTowardOriginal(std::uint8_t* composite, std::ptrdiff_t compositeStride,
                        const std::uint8_t* original, std::ptrdiff_t originalStride, int width,
                        int height, std::uint32_t weight) {
    constexpr int kColorBytes = 3;
    constexpr int kPixelBytes = 4;
    constexpr std::int32_t kHalf = kFullWeight / 2;
    constexpr int kWeightBits = 16;
    // Lifts every change to zero or above before the shift, which then
    // rounds half up whatever the change's sign.
    constexpr std::int32_t kLargestChange = 255;
    constexpr std::int32_t kLift = kLargestChange << kWeightBits;
    const auto scale = static_cast<std::int32_t>(weight);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* to = composite + y * compositeStride;
        const std::uint8_t* from = original + y * originalStride;
        for (int x = 0; x < width; ++x, to += kPixelBytes, from += kPixelBytes) {
            for (int byte = 0; byte < kColorBytes; ++byte) {
                const std::int32_t change = static_cast<std::int32_t>(to[byte]) - from[byte];
                const std::int32_t faded =
                    ((change * scale + kHalf + kLift) >> kWeightBits) - kLargestChange;
                to[byte] = static_cast<std::uint8_t>(from[byte] + faded);
            }
        }
    }
}
