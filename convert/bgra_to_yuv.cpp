// 32-bit BGRA back to planar Y'CbCr: luma per pixel, chroma from the box
// average of its block's pixels, each written only where its pixels changed.
#include <algorithm>
#include <array>
#include <cstring>

#include "convert/conversion_kernels.h"
#include "convert/lane_rows.h"
#include "convert/row_access.h"

namespace {

template <typename Acc>
inline Acc Clamp(Acc value, Acc maximum) {
    return std::min<Acc>(std::max<Acc>(value, 0), maximum);
}

// Every pixel counts as changed when there is no original to compare with.
const std::uint32_t* AllChanged() {
    static const std::array<std::uint32_t, kKernelChunk> all = [] {
        std::array<std::uint32_t, kKernelChunk> marks{};
        marks.fill(~0u);
        return marks;
    }();
    return all.data();
}

// kLanes: the stream's coefficients fit 16-bit lanes, and luma (and chroma
// of blocks two pixels wide) go through the SIMD lane rows.
template <typename Sample, typename Acc, int kShiftX, int kShiftY, bool kLanes>
void BgraToYuv(const ConversionPlan& plan, const std::uint8_t* pixels, std::ptrdiff_t stride,
               const std::uint8_t* original, std::ptrdiff_t originalStride, PictureRect rect,
               std::uint8_t* const planes[4], const int linesizes[4]) {
    constexpr int kStepX = 1 << kShiftX;
    constexpr int kRows = 1 << kShiftY;
    const RgbToYuvCoefficients& c = plan.toYuv;
    const Acc maximum = static_cast<Acc>((1 << plan.layout.depth) - 1);
    const int lumaShift = c.lumaShift, chromaShift = c.chromaShift;
    const Acc lumaFromRed = static_cast<Acc>(c.lumaFromRed);
    const Acc lumaFromGreen = static_cast<Acc>(c.lumaFromGreen);
    const Acc lumaFromBlue = static_cast<Acc>(c.lumaFromBlue);
    const Acc lumaBias = static_cast<Acc>(c.lumaBias);
    const Acc cbFromRed = static_cast<Acc>(c.cbFromRed), cbFromGreen = static_cast<Acc>(c.cbFromGreen);
    const Acc cbFromBlue = static_cast<Acc>(c.cbFromBlue), crFromRed = static_cast<Acc>(c.crFromRed);
    const Acc crFromGreen = static_cast<Acc>(c.crFromGreen), crFromBlue = static_cast<Acc>(c.crFromBlue);
    const Acc chromaBias = static_cast<Acc>(c.chromaBias);
    const bool hasChroma = plan.layout.family == LayoutFamily::PlanarYuv;
    const LaneToYuv lanes = LaneCoefficients(plan.toYuv, plan.layout.depth);
    const LaneRowsToYuv<Sample>& toYuv = FastestLaneRows().ToYuv<Sample>();

    // Each block row's pixels are read where they lie. Where the frame's
    // bottom edge cuts a block its last row stands in for the missing one;
    // where the right edge cuts one, a copy padded with its last pixel does.
    const std::uint8_t* rowPixels[kRows];
    const std::uint32_t* rowChanged[kRows];
    std::uint32_t changedMarks[kRows][kKernelChunk];
    std::uint8_t paddedPixels[kRows][kKernelChunk * 4];
    for (int blockTop = rect.y; blockTop < rect.bottom(); blockTop += kRows) {
        const int rowsInRect = std::min(kRows, rect.bottom() - blockTop);
        for (int chunkStart = rect.x; chunkStart < rect.right(); chunkStart += kKernelChunk) {
            const int count = std::min(kKernelChunk, rect.right() - chunkStart);
            const int blocks = (count + kStepX - 1) >> kShiftX;
            const int padded = blocks << kShiftX;
            const std::ptrdiff_t pixelOffset = static_cast<std::ptrdiff_t>(chunkStart - rect.x) * 4;
            bool anyChanged = original == nullptr;
            for (int r = 0; r < kRows; ++r) {
                const int sourceRow = blockTop - rect.y + std::min(r, rowsInRect - 1);
                rowPixels[r] = pixels + sourceRow * stride + pixelOffset;
                rowChanged[r] = AllChanged();
                if (original != nullptr) {
                    anyChanged = MarkChangedPixels(rowPixels[r],
                                                   original + sourceRow * originalStride + pixelOffset,
                                                   count, changedMarks[r]) || anyChanged;
                    rowChanged[r] = changedMarks[r];
                }
                if (padded > count) {
                    std::memcpy(paddedPixels[r], rowPixels[r], static_cast<std::size_t>(count) * 4);
                    for (int i = count; i < padded; ++i) {
                        std::memcpy(paddedPixels[r] + 4 * i, rowPixels[r] + 4 * (count - 1), 4);
                        changedMarks[r][i] = rowChanged[r][count - 1];
                    }
                    rowPixels[r] = paddedPixels[r];
                    if (original != nullptr) {
                        rowChanged[r] = changedMarks[r];
                    }
                }
            }
            if (!anyChanged) {
                continue;
            }

            for (int r = 0; r < rowsInRect; ++r) {
                std::uint8_t* lumaRow = RowOf(planes[0], linesizes[0], blockTop + r);
                if constexpr (kLanes) {
                    toYuv.luma(rowPixels[r], rowChanged[r], count, lanes,
                               lumaRow + chunkStart * sizeof(Sample));
                    continue;
                }
                Sample luma[kKernelChunk];
                LoadSamples(lumaRow, chunkStart, count, luma);
                for (int i = 0; i < count; ++i) {
                    const std::uint32_t pixel = PixelAt(rowPixels[r], i);
                    const Acc value = (lumaFromRed * RedOf(pixel) + lumaFromGreen * GreenOf(pixel) +
                                       lumaFromBlue * BlueOf(pixel) + lumaBias) >> lumaShift;
                    luma[i] = rowChanged[r][i] != 0 ? static_cast<Sample>(Clamp(value, maximum)) : luma[i];
                }
                StoreSamples(luma, chunkStart, count, lumaRow);
            }
            if (!hasChroma) {
                continue;
            }

            const int chromaRow = blockTop >> kShiftY;
            const int firstBlock = chunkStart >> kShiftX;
            std::uint8_t* cbRow = RowOf(planes[1], linesizes[1], chromaRow);
            std::uint8_t* crRow = RowOf(planes[2], linesizes[2], chromaRow);
            if constexpr (kLanes && kShiftX == 1) {
                const bool twoRows = kRows == 2;
                toYuv.chroma(
                    rowPixels[0], twoRows ? rowPixels[kRows - 1] : nullptr, rowChanged[0],
                    twoRows ? rowChanged[kRows - 1] : nullptr, blocks, lanes,
                    cbRow + firstBlock * sizeof(Sample), crRow + firstBlock * sizeof(Sample));
                continue;
            }
            Sample cb[kKernelChunk];
            Sample cr[kKernelChunk];
            LoadSamples(cbRow, firstBlock, blocks, cb);
            LoadSamples(crRow, firstBlock, blocks, cr);
            for (int b = 0; b < blocks; ++b) {
                Acc red = 0, green = 0, blue = 0;
                std::uint32_t changed = 0;
                for (int r = 0; r < kRows; ++r) {
                    for (int phase = 0; phase < kStepX; ++phase) {
                        const std::uint32_t pixel = PixelAt(rowPixels[r], b * kStepX + phase);
                        red += RedOf(pixel);
                        green += GreenOf(pixel);
                        blue += BlueOf(pixel);
                        changed |= rowChanged[r][b * kStepX + phase];
                    }
                }
                const Acc blueDifference =
                    (cbFromRed * red + cbFromGreen * green + cbFromBlue * blue + chromaBias) >> chromaShift;
                const Acc redDifference =
                    (crFromRed * red + crFromGreen * green + crFromBlue * blue + chromaBias) >> chromaShift;
                cb[b] = changed != 0 ? static_cast<Sample>(Clamp(blueDifference, maximum)) : cb[b];
                cr[b] = changed != 0 ? static_cast<Sample>(Clamp(redDifference, maximum)) : cr[b];
            }
            StoreSamples(cb, firstBlock, blocks, cbRow);
            StoreSamples(cr, firstBlock, blocks, crRow);
        }
    }
}

template <typename Sample, typename Acc, int kShiftY, bool kLanes>
FromBgraKernel SelectForShiftX(int shiftX) {
    switch (shiftX) {
        case 0: return &BgraToYuv<Sample, Acc, 0, kShiftY, kLanes>;
        case 1: return &BgraToYuv<Sample, Acc, 1, kShiftY, kLanes>;
        default: return &BgraToYuv<Sample, Acc, 2, kShiftY, kLanes>;
    }
}

template <typename Sample, typename Acc, bool kLanes>
FromBgraKernel SelectForShifts(int shiftX, int shiftY) {
    return shiftY == 0 ? SelectForShiftX<Sample, Acc, 0, kLanes>(shiftX)
                       : SelectForShiftX<Sample, Acc, 1, kLanes>(shiftX);
}

}  // namespace

FromBgraKernel SelectBgraToYuv(const ConversionPlan& plan, KernelChoice choice) {
    const int shiftX = plan.layout.chromaShiftX, shiftY = plan.layout.chromaShiftY;
    const bool narrow = plan.narrowToYuv && choice == KernelChoice::Fastest;
    if (plan.layout.bytesPerSample == 1) {
        return narrow ? SelectForShifts<std::uint8_t, std::int32_t, true>(shiftX, shiftY)
                      : SelectForShifts<std::uint8_t, std::int64_t, false>(shiftX, shiftY);
    }
    return narrow ? SelectForShifts<std::uint16_t, std::int32_t, true>(shiftX, shiftY)
                  : SelectForShifts<std::uint16_t, std::int64_t, false>(shiftX, shiftY);
}
