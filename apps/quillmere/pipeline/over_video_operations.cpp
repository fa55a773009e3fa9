#include "apps/quillmere/pipeline/over_video_operations.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "hostkit/bitmap_geometry.h"
#include "hostkit/bitmap_operations.h"

namespace {

static_assert(std::is_standard_layout<OverVideoOperations>::value,
              "the slots reach the video from the table's address");

constexpr int kPixelBytes = 4;
constexpr int kTrueColorDepth = 32;

const OverVideoOperations& Of(const VBitmap* self) {
    return *reinterpret_cast<const OverVideoOperations*>(self->operations);
}

// The output bitmap as the operations underneath know it.
VBitmap Underneath(const VBitmap* self) {
    VBitmap bitmap = *self;
    bitmap.operations = Of(self).underneath;
    return bitmap;
}

// Copies the video into the output over the given columns and rows (already
// clipped to the output), when the video is a bitmap of the output's shape.
void PutVideoBack(const VBitmap* self, const Span& columns, const Span& rows) {
    const VBitmap* video = Of(self).video;
    if (columns.count == 0 || rows.count == 0 || !Drawable(video) ||
        video->depth != kTrueColorDepth || video->w != self->w || video->h != self->h ||
        video->data == self->data) {
        return;
    }
    const std::ptrdiff_t offset = std::ptrdiff_t{columns.destination} * kPixelBytes;
    const std::size_t bytes = static_cast<std::size_t>(columns.count) * kPixelBytes;
    for (int j = 0; j < rows.count; ++j) {
        std::memcpy(Row(*self, rows.destination + j) + offset,
                    Row(*video, rows.destination + j) + offset, bytes);
    }
}

// The pixels a 1:1 lay covers, clipped as the blending copy clips them;
// nothing when it would draw nothing.
void BitBltOverVideo(const VBitmap* self, long x2, long y2, const VBitmap* source, long x1,
                     long y1, long dx, long dy) {
    if (!Drawable(self) || !Drawable(source) || self->depth != kTrueColorDepth) {
        return;
    }
    const Wide width = dx == kWholeExtent ? Wide(source->w) : Wide(dx);
    const Wide height = dy == kWholeExtent ? Wide(source->h) : Wide(dy);
    PutVideoBack(self, ClipRun(x1, x2, width, source->w, self->w),
                 ClipRun(y1, y2, height, source->h, self->h));
}


// The pixels a stretch covers, clipped as the stretches clip them; nothing
// when it would draw nothing.
void StretchOverVideo(const VBitmap* self, long x1, long y1, long dx, long dy,
                      const VBitmap* source, double x2, double y2, double dx1, double dy1) {
    if (!Drawable(self) || !Drawable(source) || self->depth != kTrueColorDepth ||
        source->depth != kTrueColorDepth) {
        return;
    }
    if (!std::isfinite(x2) || !std::isfinite(y2) || !std::isfinite(dx1) || !std::isfinite(dy1)) {
        return;
    }
    Wide width = 0;
    Wide height = 0;
    if (!StretchExtent(dx, dx1, width) || !StretchExtent(dy, dy1, height)) {
        return;
    }
    PutVideoBack(self, ClipRun(x1, width, self->w), ClipRun(y1, height, self->h));
}

template <VBitmapOperations::Stretch VBitmapOperations::*kSlot>
bool HOST_THISCALL Stretch(const VBitmap* self, long x1, long y1, long dx, long dy,
                           const VBitmap* source, double x2, double y2, double dx1, double dy1) {
    StretchOverVideo(self, x1, y1, dx, dy, source, x2, y2, dx1, dy1);
    const VBitmap output = Underneath(self);
    return (output.operations->*kSlot)(&output, x1, y1, dx, dy, source, x2, y2, dx1, dy1);
}

void HOST_THISCALL BitBlt(const VBitmap* self, long x2, long y2, const VBitmap* source, long x1,
                          long y1, long dx, long dy) {
    BitBltOverVideo(self, x2, y2, source, x1, y1, dx, dy);
    const VBitmap output = Underneath(self);
    output.operations->BitBlt(&output, x2, y2, source, x1, y1, dx, dy);
}

bool HOST_THISCALL RectFill(const VBitmap* self, long x1, long y1, long dx, long dy,
                            std::uint32_t pixel) {
    const VBitmap output = Underneath(self);
    return output.operations->RectFill(&output, x1, y1, dx, dy, pixel);
}

}  // namespace

OverVideoOperations::OverVideoOperations(const VBitmapOperations* underneathTable,
                                         const VBitmap* videoBitmap)
    : table(underneathTable != nullptr ? *underneathTable : HostBitmapOperations()),
      underneath(underneathTable != nullptr ? underneathTable : &HostBitmapOperations()),
      video(videoBitmap) {
    // The slots that may find their settings through the output's table
    // (the blending and windowed ones do) get it as theirs.
    table.BitBlt = &BitBlt;
    table.RectFill = &RectFill;
    table.StretchBltNearestFast = &Stretch<&VBitmapOperations::StretchBltNearestFast>;
    table.StretchBltBilinearFast = &Stretch<&VBitmapOperations::StretchBltBilinearFast>;
}
