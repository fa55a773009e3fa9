#include "render/frame_compositor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "filter/filter_data.h"
#include "render/bitmap_objects.h"
#include "render/drop_shadow.h"
#include "render/overlay_frame_rule.h"
#include "source/avi_library.h"

namespace {

constexpr std::uint32_t kOutlinePixel = 0xFFFFFF;
constexpr std::uint32_t kBlackPixel = 0;
constexpr std::int64_t kOutlineThickness = 2;
constexpr long kWholeBitmap = -1;  // a size of -1 means the whole bitmap

constexpr int kBytesPerPixel = 4;
constexpr int kConvertedDepth = 32;
constexpr int kLargestPalettisedDepth = 8;
constexpr std::size_t kPaletteEntryBytes = 4;
constexpr std::size_t kBitfieldMasksBytes = 3 * 4;

constexpr std::int64_t kLongMinimum = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kLongMaximum = std::numeric_limits<std::int32_t>::max();

// The mask as the run procedure uses it outside editing: top-left corner and
// a size that is negative when the corners are not in order. The size wraps
// around as 32-bit arithmetic does, where a signed subtraction could overflow.
struct Mask {
    std::int32_t left;
    std::int32_t top;
    std::int32_t width;
    std::int32_t height;
};

Mask MaskOf(const FilterData& record) {
    return {record.maskLeft, record.maskTop, WrappingDifference(record.maskRight, record.maskLeft),
            WrappingDifference(record.maskBottom, record.maskTop)};
}

bool FitsLong(std::int64_t value) { return value >= kLongMinimum && value <= kLongMaximum; }

// Solid fill of the output bitmap, clipped to it, in 64 bits so that no mask
// value can overflow on the way.
void FillClipped(const VBitmap& output, std::int64_t x, std::int64_t y, std::int64_t dx,
                 std::int64_t dy, Pixel32 pixel) {
    if (x < 0) {
        dx += x;
        x = 0;
    }
    if (y < 0) {
        dy += y;
        y = 0;
    }
    if (x + dx > output.w) {
        dx = output.w - x;
    }
    if (y + dy > output.h) {
        dy = output.h - y;
    }
    if (dx <= 0 || dy <= 0) {
        return;
    }
    // From the bottom row, the lowest address, upward through memory.
    for (std::int64_t row = y + dy - 1; row >= y; --row) {
        std::fill_n(PictureRow(output, static_cast<long>(row)) + x, dx, pixel);
    }
}

// RectFill on the output for a rectangle worked out in 64 bits. Values that
// fit the host's 32-bit `long` go to the host unchanged, its own reading of
// negative sizes included; a rectangle that does not fit is clipped to the
// bitmap first, which leaves what the host would have filled of it.
void HostRectFill(const VBitmap& output, std::int64_t x, std::int64_t y, std::int64_t dx,
                  std::int64_t dy, Pixel32 pixel) {
    if (!(FitsLong(x) && FitsLong(y) && FitsLong(dx) && FitsLong(dy))) {
        const std::int64_t left = std::max<std::int64_t>(x, 0);
        const std::int64_t top = std::max<std::int64_t>(y, 0);
        const std::int64_t right = std::min<std::int64_t>(x + dx, output.w);
        const std::int64_t bottom = std::min<std::int64_t>(y + dy, output.h);
        if (right <= left || bottom <= top) {
            return;
        }
        x = left;
        y = top;
        dx = right - left;
        dy = bottom - top;
    }
    output.operations->RectFill(&output, static_cast<long>(x), static_cast<long>(y),
                                static_cast<long>(dx), static_cast<long>(dy), pixel);
}

// One row copy per row, both walks from the data pointers upward, each
// advancing by its own row length plus modulo.
void CopySourceFrame(const VBitmap& source, const VBitmap& output) {
    // The host gives both bitmaps one size; the smaller one bounds the copy
    // should it ever not.
    const int width = std::min(source.w, output.w);
    const int height = std::min(source.h, output.h);
    if (width <= 0 || height <= 0) {
        return;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * kBytesPerPixel;
    const std::ptrdiff_t sourceStep =
        static_cast<std::ptrdiff_t>(source.w) * kBytesPerPixel + source.modulo;
    const std::ptrdiff_t outputStep =
        static_cast<std::ptrdiff_t>(output.w) * kBytesPerPixel + output.modulo;
    const char* from = reinterpret_cast<const char*>(source.data);
    char* to = reinterpret_cast<char*>(output.data);
    if (sourceStep == static_cast<std::ptrdiff_t>(rowBytes) &&
        outputStep == static_cast<std::ptrdiff_t>(rowBytes)) {
        // Rows without padding follow each other in both bitmaps, so the
        // walk covers one block; copied whole, it lets the copy stream past
        // the cache instead of reading every output line in first.
        std::memcpy(to, from, rowBytes * static_cast<std::size_t>(height));
        return;
    }
    for (int row = 0; row < height; ++row) {
        std::memcpy(to, from, rowBytes);
        from += sourceStep;
        to += outputStep;
    }
}

void DrawEditingOutline(const VBitmap& output, const FilterData& record) {
    const std::int64_t left = std::min(record.maskLeft, record.maskRight);
    const std::int64_t right = std::max(record.maskLeft, record.maskRight);
    const std::int64_t top = std::min(record.maskTop, record.maskBottom);
    const std::int64_t bottom = std::max(record.maskTop, record.maskBottom);
    FillClipped(output, left, top, right - left, kOutlineThickness, kOutlinePixel);
    FillClipped(output, left, top, kOutlineThickness, bottom - top, kOutlinePixel);
    FillClipped(output, right, top, kOutlineThickness, bottom - top, kOutlinePixel);
    FillClipped(output, left, bottom, right - left, kOutlineThickness, kOutlinePixel);
}

// Shadow, then border, under whatever fills the mask next.
void DrawDecoration(const FilterActivation& activation, const FilterData& record,
                    const Mask& mask) {
    const std::int64_t border = record.borderOn != 0 ? record.borderSize : 0;
    if (record.shadowOn != 0) {
        DrawShadowWide(mask.left, mask.top, static_cast<std::int64_t>(mask.width) + 1,
                       static_cast<std::int64_t>(mask.height) + 1, record.shadowSize,
                       record.shadowType, record.shadowPercent, record.shadowShift, border - 1,
                       activation);
    }
    if (record.borderOn != 0) {
        HostRectFill(activation.dst->bitmap, mask.left - border, mask.top - border,
                     mask.width + 2 * border, mask.height + 2 * border,
                     PixelFromColorref(record.borderColor));
    }
}

void FillMaskBlack(const VBitmap& output, const Mask& mask) {
    output.operations->RectFill(&output, mask.left, mask.top, mask.width, mask.height,
                                kBlackPixel);
}

void DrawPlaceholder(const FilterActivation& activation, const FilterData& record,
                     const Mask& mask) {
    DrawDecoration(activation, record, mask);
    FillMaskBlack(activation.dst->bitmap, mask);
}

void UpdateFrameNumbers(FilterData& record, long hostFrame) {
    record.currentFrame = static_cast<std::int32_t>(hostFrame);
    record.overlayFrameCounter = OverlayCounter(record, record.currentFrame);
}

// A frame number beyond what the reader's 32-bit position can name has no frame.
BITMAPINFOHEADER* FetchOverlayFrame(const FilterData& record) {
    const std::int64_t number = OverlayFrameNumber(record, record.overlayFrameCounter);
    if (!FitsLong(number)) {
        return nullptr;
    }
    return static_cast<BITMAPINFOHEADER*>(
        CurrentAviLibrary().StreamGetFrame(record.frameGetter, static_cast<long>(number)));
}

// The pixel bits follow the header and, for 8 bits or fewer, its colour
// table; a 40-byte header with bit-field compression is followed by its
// three masks.
std::size_t OffsetOfPixelBits(const BITMAPINFOHEADER& header) {
    std::size_t offset = header.biSize;
    if (header.biBitCount > 0 && header.biBitCount <= kLargestPalettisedDepth) {
        const std::size_t entries =
            header.biClrUsed != 0 ? header.biClrUsed : std::size_t{1} << header.biBitCount;
        offset += entries * kPaletteEntryBytes;
    } else if (header.biCompression == BI_BITFIELDS &&
               header.biSize == sizeof(BITMAPINFOHEADER)) {
        offset += kBitfieldMasksBytes;
    }
    return offset;
}

VBitmapOperations::Stretch StretchOf(const VBitmap& output, const FilterData& record) {
    return record.bilinear != 0 ? output.operations->StretchBltBilinearFast
                                : output.operations->StretchBltNearestFast;
}

void StretchOnto(const VBitmap& output, const FilterData& record, const Mask& mask,
                 const VBitmap& source, int sourceWidth, int sourceHeight) {
    StretchOf(output, record)(&output, mask.left, mask.top, mask.width, mask.height, &source,
                              0.0, 0.0, static_cast<double>(sourceWidth),
                              static_cast<double>(sourceHeight));
}

// Stretches only take 32-bit sources: convert into a bitmap of this call's
// own, then stretch from it. Nothing of the overlay is drawn when either
// the object or its buffer cannot be had.
void StretchThroughConversion(const VBitmap& output, const FilterData& record,
                              const Mask& mask, const VBitmap& overlay) {
    const int width = overlay.w;
    const int height = overlay.h;
    if (width <= 0 || height <= 0) {
        return;
    }
    const std::uint64_t bytes = static_cast<std::uint64_t>(width) *
                                static_cast<std::uint64_t>(height) * kBytesPerPixel;
    if (bytes > std::numeric_limits<std::size_t>::max()) {
        return;
    }
    VBitmap* conversion = NewBitmapObject();
    void* buffer = std::calloc(1, static_cast<std::size_t>(bytes));
    if (conversion != nullptr && buffer != nullptr && conversion->operations != nullptr) {
        VBitmap* converted =
            conversion->operations->initFromSize(conversion, buffer, width, height, kConvertedDepth);
        converted->operations->BitBlt(converted, 0, 0, &overlay, 0, 0, kWholeBitmap,
                                      kWholeBitmap);
        StretchOnto(output, record, mask, *converted, width, height);
    }
    std::free(buffer);
    ReleaseBitmapObject(conversion);
}

void DrawOverlayFrame(const VBitmap& output, FilterData& record, const Mask& mask,
                      BITMAPINFOHEADER& frame) {
    // Without the wrapper (the start procedure could not make it, or never
    // ran) the frame cannot be described to the host's operations.
    if (record.overlayBitmap == nullptr || record.overlayBitmap->operations == nullptr) {
        return;
    }
    record.overlayBits =
        reinterpret_cast<Pixel32*>(reinterpret_cast<char*>(&frame) + OffsetOfPixelBits(frame));
    record.overlayBitmap = record.overlayBitmap->operations->initFromHeader(
        record.overlayBitmap, record.overlayBits, &frame);
    const VBitmap& overlay = *record.overlayBitmap;

    if (record.fitToFrame == 0) {
        output.operations->BitBlt(&output, mask.left, mask.top, &overlay, 0, 0, mask.width,
                                  mask.height);
    } else if (overlay.depth == kConvertedDepth) {
        StretchOnto(output, record, mask, overlay, overlay.w, overlay.h);
    } else {
        StretchThroughConversion(output, record, mask, overlay);
    }
}

}  // namespace

bool FrameOutsideRange(const FilterData& record, std::int32_t frame) {
    if (record.useFrameRange == 0) {
        return false;
    }
    return frame < record.rangeStart || (record.rangeEnd != 0 && frame > record.rangeEnd);
}

void FillClippedRect(const FilterActivation& activation, std::int32_t x, std::int32_t y,
                     std::int32_t dx, std::int32_t dy, std::uint32_t pixel) {
    const VBitmap& output = activation.dst->bitmap;
    FillClipped(output, x, y, dx == -1 ? output.w : dx, dy == -1 ? output.h : dy, pixel);
}

int HOST_CDECL RunProc(const FilterActivation* activation, const FilterFunctions*) {
    FilterData& record = RecordOf(*activation);
    const VBitmap& output = activation->dst->bitmap;

    UpdateFrameNumbers(record, activation->pfsi->lCurrentFrame);
    CopySourceFrame(activation->src->bitmap, output);

    if (record.editing != 0) {
        DrawEditingOutline(output, record);
        return 0;
    }
    const Mask mask = MaskOf(record);
    if (record.frameGetter == nullptr) {
        DrawPlaceholder(*activation, record, mask);
        return 0;
    }
    if (FrameOutsideRange(record, record.currentFrame)) {
        return 0;
    }
    BITMAPINFOHEADER* frame = FetchOverlayFrame(record);
    if (frame == nullptr && record.repeatVideo != 0) {
        // One retry from the start of the cycle, for a stream that ran out or
        // a frame that would not decode.
        record.overlayFrameCounter = 0;
        frame = FetchOverlayFrame(record);
    }
    if (frame == nullptr) {
        if (record.maintainBlack != 0) {
            DrawPlaceholder(*activation, record, mask);
        }
        return 0;
    }
    DrawDecoration(*activation, record, mask);
    DrawOverlayFrame(output, record, mask, *frame);
    return 0;
}
