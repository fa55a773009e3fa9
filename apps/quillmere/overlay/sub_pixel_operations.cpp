#include "apps/quillmere/overlay/sub_pixel_operations.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "hostkit/bitmap_geometry.h"
#include "hostkit/bitmap_operations.h"

namespace {

static_assert(std::is_standard_layout<SubPixelOperations>::value,
              "the slots reach the mask from the table's address");

// Coverage weights are in 256ths.
constexpr int kWeightBits = 8;
constexpr int kFullWeight = 1 << kWeightBits;
constexpr int kChannels = 4;
constexpr int kChannelBits = 8;
constexpr std::uint32_t kChannelMask = 0xFF;

SubPixelOperations& Of(const VBitmap* self) {
    return *const_cast<SubPixelOperations*>(
        reinterpret_cast<const SubPixelOperations*>(self->operations));
}

VBitmap Underneath(const VBitmap* self) {
    VBitmap bitmap = *self;
    bitmap.operations = Of(self).underneath;
    return bitmap;
}

// The share of pixel [at, at + 1) that [from, to) covers, in 256ths.
int Coverage(long at, double from, double to) {
    const double covered = std::min(static_cast<double>(at) + 1, to) -
                           std::max(static_cast<double>(at), from);
    return static_cast<int>(std::lround(std::clamp(covered, 0.0, 1.0) * kFullWeight));
}

// A whole-pixel rectangle and the exact one inside it whose partly covered
// pixels are weighted.
struct Partial {
    long left, top, width, height;
    SubPixelRect exact;
};

// Calls `visit(pixel, weight)` for every pixel of `rect` on the bitmap that
// the exact rectangle covers only partly, in one fixed order.
template <class Visit>
void ForEachPartialPixel(const VBitmap& bitmap, const Partial& rect, Visit visit) {
    const Span rows = ClipRun(rect.top, rect.height, bitmap.h);
    const Span columns = ClipRun(rect.left, rect.width, bitmap.w);
    if (rows.count == 0 || columns.count == 0) {
        return;
    }
    const long firstColumn = columns.destination;
    const long lastColumn = columns.destination + columns.count - 1;
    const int leftWeight = Coverage(firstColumn, rect.exact.left, rect.exact.right);
    const int rightWeight = Coverage(lastColumn, rect.exact.left, rect.exact.right);
    for (long y = rows.destination; y < rows.destination + rows.count; ++y) {
        const int rowWeight = Coverage(y, rect.exact.top, rect.exact.bottom);
        auto* row = reinterpret_cast<Pixel32*>(Row(bitmap, y));
        if (rowWeight < kFullWeight) {
            for (long x = firstColumn; x <= lastColumn; ++x) {
                const int weight =
                    rowWeight * Coverage(x, rect.exact.left, rect.exact.right) >> kWeightBits;
                visit(row[x], weight);
            }
            continue;
        }
        if (leftWeight < kFullWeight) {
            visit(row[firstColumn], leftWeight);
        }
        if (rightWeight < kFullWeight && lastColumn != firstColumn) {
            visit(row[lastColumn], rightWeight);
        }
    }
}

void SaveEdges(SubPixelOperations& operations, const VBitmap& bitmap, const Partial& rect) {
    std::size_t index = 0;
    ForEachPartialPixel(bitmap, rect, [&](Pixel32& pixel, int) {
        if (index < operations.before.size()) {
            operations.before[index] = pixel;
        }
        ++index;
    });
}

Pixel32 Mix(Pixel32 drawn, Pixel32 before, int weight) {
    Pixel32 mixed = 0;
    for (int channel = 0; channel < kChannels; ++channel) {
        const int shift = channel * kChannelBits;
        const int a = static_cast<int>((drawn >> shift) & kChannelMask);
        const int b = static_cast<int>((before >> shift) & kChannelMask);
        const int value = (a * weight + b * (kFullWeight - weight) + kFullWeight / 2) >> kWeightBits;
        mixed |= static_cast<Pixel32>(value) << shift;
    }
    return mixed;
}

void BlendEdges(const SubPixelOperations& operations, const VBitmap& bitmap, const Partial& rect) {
    std::size_t index = 0;
    ForEachPartialPixel(bitmap, rect, [&](Pixel32& pixel, int weight) {
        if (index < operations.before.size()) {
            pixel = Mix(pixel, operations.before[index], weight);
        }
        ++index;
    });
}

bool Exact(const SubPixelOperations& operations) {
    const SubPixelRect& exact = operations.exact;
    return exact.left == operations.maskLeft && exact.top == operations.maskTop &&
           exact.right == operations.maskLeft + operations.maskWidth &&
           exact.bottom == operations.maskTop + operations.maskHeight;
}

// The mask widened by `by` pixels on every side.
Partial MaskWidenedBy(const SubPixelOperations& operations, long by) {
    const SubPixelRect& exact = operations.exact;
    return Partial{operations.maskLeft - by,
                   operations.maskTop - by,
                   operations.maskWidth + 2 * by,
                   operations.maskHeight + 2 * by,
                   SubPixelRect{exact.left - by, exact.top - by, exact.right + by,
                                exact.bottom + by}};
}

bool Matches(const Partial& rect, long x, long y, long dx, long dy) {
    return rect.left == x && rect.top == y && rect.width == dx && rect.height == dy;
}

template <VBitmapOperations::Stretch VBitmapOperations::*kSlot>
bool HOST_THISCALL StretchExact(const VBitmap* self, long x1, long y1, long dx, long dy,
                                const VBitmap* source, double x2, double y2, double dx1,
                                double dy1) {
    SubPixelOperations& operations = Of(self);
    const VBitmap output = Underneath(self);
    const Partial mask = MaskWidenedBy(operations, 0);
    const bool wholeFrame = source != nullptr && x2 == 0.0 && y2 == 0.0 && dx1 == source->w &&
                            dy1 == source->h;
    if (!wholeFrame || !Matches(mask, x1, y1, dx, dy) || Exact(operations)) {
        return (output.operations->*kSlot)(&output, x1, y1, dx, dy, source, x2, y2, dx1, dy1);
    }
    // Source pixels per output pixel, and the source position of the whole
    // mask's corner: the exact corner lies at the source's corner.
    const SubPixelRect& exact = operations.exact;
    const double scaleX = dx1 / (exact.right - exact.left);
    const double scaleY = dy1 / (exact.bottom - exact.top);
    SaveEdges(operations, output, mask);
    const bool drawn = (output.operations->*kSlot)(
        &output, x1, y1, dx, dy, source, (static_cast<double>(x1) - exact.left) * scaleX,
        (static_cast<double>(y1) - exact.top) * scaleY, static_cast<double>(dx) * scaleX,
        static_cast<double>(dy) * scaleY);
    BlendEdges(operations, output, mask);
    return drawn;
}

bool HOST_THISCALL RectFillExact(const VBitmap* self, long x1, long y1, long dx, long dy,
                                 std::uint32_t pixel) {
    SubPixelOperations& operations = Of(self);
    const VBitmap output = Underneath(self);
    if (!Exact(operations)) {
        for (const long by : {0L, operations.border}) {
            const Partial rect = MaskWidenedBy(operations, by);
            if (Matches(rect, x1, y1, dx, dy)) {
                SaveEdges(operations, output, rect);
                const bool drawn = output.operations->RectFill(&output, x1, y1, dx, dy, pixel);
                BlendEdges(operations, output, rect);
                return drawn;
            }
        }
    }
    return output.operations->RectFill(&output, x1, y1, dx, dy, pixel);
}

void HOST_THISCALL BitBltUnderneath(const VBitmap* self, long x2, long y2, const VBitmap* source,
                                    long x1, long y1, long dx, long dy) {
    const VBitmap output = Underneath(self);
    output.operations->BitBlt(&output, x2, y2, source, x1, y1, dx, dy);
}

template <VBitmapOperations::Stretch VBitmapOperations::*kSlot>
bool HOST_THISCALL StretchUnderneath(const VBitmap* self, long x1, long y1, long dx, long dy,
                                     const VBitmap* source, double x2, double y2, double dx1,
                                     double dy1) {
    const VBitmap output = Underneath(self);
    return (output.operations->*kSlot)(&output, x1, y1, dx, dy, source, x2, y2, dx1, dy1);
}

}  // namespace

SubPixelOperations::SubPixelOperations(const VBitmapOperations* underneathTable, long borderGiven,
                                       int largestWidth, int largestHeight)
    : table(underneathTable != nullptr ? *underneathTable : HostBitmapOperations()),
      underneath(underneathTable != nullptr ? underneathTable : &HostBitmapOperations()),
      border(borderGiven) {
    // At most two rows and two columns of the bitmap are partly covered.
    before.assign(2 * (static_cast<std::size_t>(std::max(largestWidth, 0)) +
                       static_cast<std::size_t>(std::max(largestHeight, 0))),
                  0);
    // The slots that may find their settings through the output's table
    // (the blending ones do) get it as theirs.
    table.BitBlt = &BitBltUnderneath;
    table.RectFill = &RectFillExact;
    table.StretchBltNearestFast = &StretchUnderneath<&VBitmapOperations::StretchBltNearestFast>;
    table.StretchBltBilinearFast = &StretchExact<&VBitmapOperations::StretchBltBilinearFast>;
}

void SubPixelOperations::SetMask(long left, long top, long right, long bottom,
                                 const SubPixelRect& exactMask) {
    maskLeft = left;
    maskTop = top;
    maskWidth = right - left;
    maskHeight = bottom - top;
    exact = exactMask;
}
