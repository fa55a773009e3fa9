// R'G'B' layouts to and from 32-bit BGRA: planar G, B, R (+ alpha) at any
// depth, and packed 8-bit orders. No matrix; full range by definition.
#include <algorithm>

#include "convert/conversion_kernels.h"
#include "convert/depth_clamp.h"
#include "convert/row_access.h"

namespace {

// Plane order of the planar R'G'B' formats.
constexpr int kGreenPlane = 0, kBluePlane = 1, kRedPlane = 2, kAlphaPlane = 3;

template <typename Sample, ClampedLoad kLoad>
void GbrToBgra(const ConversionPlan& plan, const std::uint8_t* const planes[4],
               const int linesizes[4], PictureRect rect, std::uint8_t* out,
               std::ptrdiff_t outStride) {
    const std::uint8_t* toEight = plan.componentToEightBits.data();
    const bool hasAlpha = plan.layout.hasAlpha;
    const std::uint16_t maximum = DepthMaximum(plan.layout.depth);
    for (int row = 0; row < rect.height; ++row) {
        const int y = rect.y + row;
        std::uint8_t* outRow = out + static_cast<std::ptrdiff_t>(row) * outStride;
        for (int first = rect.x; first < rect.right(); first += kKernelChunk) {
            const int count = std::min(kKernelChunk, rect.right() - first);
            Sample green[kKernelChunk], blue[kKernelChunk], red[kKernelChunk], alpha[kKernelChunk];
            LoadWithinDepth<kLoad>(RowOf(planes[kGreenPlane], linesizes[kGreenPlane], y), first,
                                   count, maximum, green);
            LoadWithinDepth<kLoad>(RowOf(planes[kBluePlane], linesizes[kBluePlane], y), first,
                                   count, maximum, blue);
            LoadWithinDepth<kLoad>(RowOf(planes[kRedPlane], linesizes[kRedPlane], y), first,
                                   count, maximum, red);
            if (hasAlpha) {
                LoadWithinDepth<kLoad>(RowOf(planes[kAlphaPlane], linesizes[kAlphaPlane], y),
                                       first, count, maximum, alpha);
            }
            std::uint32_t pixels[kKernelChunk];
            for (int i = 0; i < count; ++i) {
                const std::uint32_t alphaByte = hasAlpha ? toEight[alpha[i]] : 0xFFu;
                pixels[i] = alphaByte << kAlphaShift | std::uint32_t{toEight[red[i]]} << 16 |
                            std::uint32_t{toEight[green[i]]} << 8 | toEight[blue[i]];
            }
            StorePixels(pixels, count, outRow + static_cast<std::ptrdiff_t>(first - rect.x) * 4);
        }
    }
}

template <typename Sample>
void BgraToGbr(const ConversionPlan& plan, const std::uint8_t* pixels, std::ptrdiff_t stride,
               const std::uint8_t* original, std::ptrdiff_t originalStride, PictureRect rect,
               std::uint8_t* const planes[4], const int linesizes[4]) {
    const std::uint16_t* fromEight = plan.eightBitsToComponent.data();
    for (int row = 0; row < rect.height; ++row) {
        const int y = rect.y + row;
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
            Sample green[kKernelChunk], blue[kKernelChunk], red[kKernelChunk];
            std::uint8_t* greenRow = RowOf(planes[kGreenPlane], linesizes[kGreenPlane], y);
            std::uint8_t* blueRow = RowOf(planes[kBluePlane], linesizes[kBluePlane], y);
            std::uint8_t* redRow = RowOf(planes[kRedPlane], linesizes[kRedPlane], y);
            LoadSamples(greenRow, first, count, green);
            LoadSamples(blueRow, first, count, blue);
            LoadSamples(redRow, first, count, red);
            for (int i = 0; i < count; ++i) {
                if (changed[i] != 0) {
                    green[i] = static_cast<Sample>(fromEight[GreenOf(words[i])]);
                    blue[i] = static_cast<Sample>(fromEight[BlueOf(words[i])]);
                    red[i] = static_cast<Sample>(fromEight[RedOf(words[i])]);
                }
            }
            StoreSamples(green, first, count, greenRow);
            StoreSamples(blue, first, count, blueRow);
            StoreSamples(red, first, count, redRow);
        }
    }
}

void PackedToBgra(const ConversionPlan& plan, const std::uint8_t* const planes[4],
                  const int linesizes[4], PictureRect rect, std::uint8_t* out,
                  std::ptrdiff_t outStride) {
    const PixelLayout& layout = plan.layout;
    const int step = layout.pixelBytes;
    for (int row = 0; row < rect.height; ++row) {
        const std::uint8_t* source =
            RowOf(planes[0], linesizes[0], rect.y + row) + static_cast<std::ptrdiff_t>(rect.x) * step;
        std::uint8_t* target = out + static_cast<std::ptrdiff_t>(row) * outStride;
        for (int i = 0; i < rect.width; ++i, source += step, target += 4) {
            target[0] = source[layout.blueByte];
            target[1] = source[layout.greenByte];
            target[2] = source[layout.redByte];
            target[3] = layout.alphaByte >= 0 ? source[layout.alphaByte] : 0xFF;
        }
    }
}

void BgraToPacked(const ConversionPlan& plan, const std::uint8_t* pixels, std::ptrdiff_t stride,
                  const std::uint8_t* original, std::ptrdiff_t originalStride, PictureRect rect,
                  std::uint8_t* const planes[4], const int linesizes[4]) {
    const PixelLayout& layout = plan.layout;
    const int step = layout.pixelBytes;
    for (int row = 0; row < rect.height; ++row) {
        std::uint8_t* target =
            RowOf(planes[0], linesizes[0], rect.y + row) + static_cast<std::ptrdiff_t>(rect.x) * step;
        const std::uint8_t* source = pixels + row * stride;
        const std::uint8_t* before = original != nullptr ? original + row * originalStride : nullptr;
        for (int i = 0; i < rect.width; ++i, target += step) {
            const std::uint8_t* pixel = source + 4 * i;
            if (before != nullptr && pixel[0] == before[4 * i] && pixel[1] == before[4 * i + 1] &&
                pixel[2] == before[4 * i + 2]) {
                continue;
            }
            target[layout.blueByte] = pixel[0];
            target[layout.greenByte] = pixel[1];
            target[layout.redByte] = pixel[2];
        }
    }
}

}  // namespace

ToBgraKernel SelectRgbToBgra(const ConversionPlan& plan, KernelChoice choice) {
    if (plan.layout.family == LayoutFamily::PackedRgb) {
        return &PackedToBgra;
    }
    if (plan.layout.bytesPerSample == 1) {
        return &GbrToBgra<std::uint8_t, &LoadClampedPlain>;
    }
    return choice == KernelChoice::Fastest ? &GbrToBgra<std::uint16_t, &LoadClampedSse2>
                                           : &GbrToBgra<std::uint16_t, &LoadClampedPlain>;
}

FromBgraKernel SelectBgraToRgb(const ConversionPlan& plan) {
    if (plan.layout.family == LayoutFamily::PackedRgb) {
        return &BgraToPacked;
    }
    return plan.layout.bytesPerSample == 1 ? &BgraToGbr<std::uint8_t> : &BgraToGbr<std::uint16_t>;
}
