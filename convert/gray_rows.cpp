// Gray (and gray + alpha interleaved) to and from 32-bit BGRA: the luma
// scaled to 8 bits in all three colours; written back as the matrix's luma.
#include <algorithm>

#include "convert/conversion_kernels.h"
#include "convert/depth_clamp.h"
#include "convert/row_access.h"

namespace {

template <typename Sample, ClampedLoad kLoad>
void GrayToBgra(const ConversionPlan& plan, const std::uint8_t* const planes[4],
                const int linesizes[4], PictureRect rect, std::uint8_t* out,
                std::ptrdiff_t outStride) {
    const std::uint8_t* grayToEight = plan.grayToEightBits.data();
    const std::uint8_t* alphaToEight = plan.componentToEightBits.data();
    const int step = plan.layout.lumaStep;
    const bool hasAlpha = plan.layout.hasAlpha;
    const std::uint16_t maximum = DepthMaximum(plan.layout.depth);
    for (int row = 0; row < rect.height; ++row) {
        const std::uint8_t* sourceRow = RowOf(planes[0], linesizes[0], rect.y + row);
        std::uint8_t* outRow = out + static_cast<std::ptrdiff_t>(row) * outStride;
        for (int first = rect.x; first < rect.right(); first += kKernelChunk) {
            const int count = std::min(kKernelChunk, rect.right() - first);
            Sample samples[kKernelChunk * 2];
            LoadWithinDepth<kLoad>(sourceRow, first * step, count * step, maximum, samples);
            std::uint32_t pixels[kKernelChunk];
            for (int i = 0; i < count; ++i) {
                const std::uint32_t gray = grayToEight[samples[i * step]];
                const std::uint32_t alpha = hasAlpha ? alphaToEight[samples[i * step + 1]] : 0xFFu;
                pixels[i] = alpha << kAlphaShift | gray * 0x010101u;
            }
            StorePixels(pixels, count, outRow + static_cast<std::ptrdiff_t>(first - rect.x) * 4);
        }
    }
}

template <typename Sample, typename Acc>
void BgraToGray(const ConversionPlan& plan, const std::uint8_t* pixels, std::ptrdiff_t stride,
                const std::uint8_t* original, std::ptrdiff_t originalStride, PictureRect rect,
                std::uint8_t* const planes[4], const int linesizes[4]) {
    const RgbToYuvCoefficients& c = plan.toYuv;
    const Acc maximum = static_cast<Acc>((1 << plan.layout.depth) - 1);
    const int step = plan.layout.lumaStep;
    for (int row = 0; row < rect.height; ++row) {
        std::uint8_t* targetRow = RowOf(planes[0], linesizes[0], rect.y + row);
        for (int first = rect.x; first < rect.right(); first += kKernelChunk) {
            const int count = std::min(kKernelChunk, rect.right() - first);
            const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(first - rect.x) * 4;
            std::uint32_t words[kKernelChunk], changed[kKernelChunk];
            LoadPixels(pixels + row * stride + offset, count, words);
            if (original != nullptr) {
                std::uint32_t originalWords[kKernelChunk];
                LoadPixels(original + row * originalStride + offset, count, originalWords);
                if (!MarkChangedPixels(words, originalWords, count, changed)) {
                    continue;
                }
            } else {
                std::fill(changed, changed + count, ~0u);
            }
            Sample samples[kKernelChunk * 2];
            LoadSamples(targetRow, first * step, count * step, samples);
            for (int i = 0; i < count; ++i) {
                if (changed[i] == 0) {
                    continue;
                }
                const std::uint32_t pixel = words[i];
                const Acc value = (static_cast<Acc>(c.lumaFromRed) * RedOf(pixel) +
                                   static_cast<Acc>(c.lumaFromGreen) * GreenOf(pixel) +
                                   static_cast<Acc>(c.lumaFromBlue) * BlueOf(pixel) +
                                   static_cast<Acc>(c.lumaBias)) >> c.lumaShift;
                samples[i * step] = static_cast<Sample>(std::min(std::max<Acc>(value, 0), maximum));
            }
            StoreSamples(samples, first * step, count * step, targetRow);
        }
    }
}

}  // namespace

ToBgraKernel SelectGrayToBgra(const ConversionPlan& plan, KernelChoice choice) {
    if (plan.layout.bytesPerSample == 1) {
        return &GrayToBgra<std::uint8_t, &LoadClampedPlain>;
    }
    return choice == KernelChoice::Fastest ? &GrayToBgra<std::uint16_t, &LoadClampedSse2>
                                           : &GrayToBgra<std::uint16_t, &LoadClampedPlain>;
}

FromBgraKernel SelectBgraToGray(const ConversionPlan& plan) {
    return plan.layout.bytesPerSample == 1 ? &BgraToGray<std::uint8_t, std::int32_t>
                                           : &BgraToGray<std::uint16_t, std::int64_t>;
}
