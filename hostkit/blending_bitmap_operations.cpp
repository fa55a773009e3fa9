#include "hostkit/blending_bitmap_operations.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "hostkit/bitmap_geometry.h"
#include "hostkit/bitmap_operations.h"
#include "hostkit/scratch_buffer.h"

namespace {

static_assert(std::is_standard_layout<BlendingBitmapOperations>::value,
              "the slots reach the settings from the table's address");

constexpr int kOpaque = 255;
constexpr int kPercent = 100;
constexpr int kPixelBytes = 4;

const BlendSettings& SettingsOf(const VBitmap* self) {
    return reinterpret_cast<const BlendingBitmapOperations*>(self->operations)->settings;
}

const VBitmapOperations& Plain() { return HostBitmapOperations(); }

// Per-thread rows of a 1:1 blend: the clipped source converted to 32 bits
// where it is not 32-bit already, and one row made premultiplied.
struct Scratch {
    std::vector<Pixel32> converted;
    std::vector<std::uint8_t> prepared;
};

Scratch& ThreadScratch() {
    thread_local Scratch scratch;
    return scratch;
}

void HOST_THISCALL BlendBitBlt(const VBitmap* self, long x2, long y2, const VBitmap* source,
                               long x1, long y1, long dx, long dy) {
    if (self == nullptr || source == nullptr || self->depth != 32 || source->w <= 0 ||
        source->h <= 0) {
        Plain().BitBlt(self, x2, y2, source, x1, y1, dx, dy);
        return;
    }
    BlendCopy(ChosenRowKernels(), LayingFor(SettingsOf(self)), self, x2, y2, source, x1, y1, dx,
              dy);
}

bool HOST_THISCALL BlendStretchNearest(const VBitmap* self, long x1, long y1, long dx, long dy,
                                       const VBitmap* source, double x2, double y2, double dx1,
                                       double dy1) {
    if (!Drawable(self)) {
        return false;
    }
    return StretchBitmap(ChosenRowKernels(), Sampling::Nearest, LayingFor(SettingsOf(self)), self,
                         x1, y1, dx, dy, source, x2, y2, dx1, dy1);
}

bool HOST_THISCALL BlendStretchBilinear(const VBitmap* self, long x1, long y1, long dx, long dy,
                                        const VBitmap* source, double x2, double y2, double dx1,
                                        double dy1) {
    if (!Drawable(self)) {
        return false;
    }
    return StretchBitmap(ChosenRowKernels(), Sampling::Bilinear, LayingFor(SettingsOf(self)),
                         self, x1, y1, dx, dy, source, x2, y2, dx1, dy1);
}

}  // namespace

StretchLaying LayingFor(const BlendSettings& settings) {
    StretchLaying laying;
    laying.opacity = std::min(std::max(settings.opacity, 0), kOpaque);
    laying.laying = laying.opacity == kOpaque ? Laying::Over : Laying::Faded;
    if (!settings.useSourceAlpha) {
        laying.alpha = SourceAlpha::Opaque;
    } else {
        laying.alpha = settings.premultiplied ? SourceAlpha::Premultiplied : SourceAlpha::Straight;
    }
    return laying;
}

void BlendCopy(const RowKernels& kernels, const StretchLaying& laying, const VBitmap* self,
               long x2, long y2, const VBitmap* source, long x1, long y1, long dx, long dy) {
    if (!Drawable(self) || !Drawable(source) || self->depth != 32 || laying.opacity <= 0) {
        return;
    }
    const Wide width = dx == kWholeExtent ? Wide(source->w) : Wide(dx);
    const Wide height = dy == kWholeExtent ? Wide(source->h) : Wide(dy);
    const Span columns = ClipRun(x1, x2, width, source->w, self->w);
    const Span rows = ClipRun(y1, y2, height, source->h, self->h);
    if (columns.count == 0 || rows.count == 0) {
        return;
    }
    Scratch& scratch = ThreadScratch();
    const auto count = static_cast<std::size_t>(columns.count);
    // The source's own rows where they are 32-bit and apart from the
    // destination's; otherwise the plain copy converts the clipped rectangle
    // first, which also reads it before anything is written.
    const std::uint8_t* origin;
    std::ptrdiff_t pitch;
    if (source->depth == 32 && !PixelsOverlap(*self, *source)) {
        origin = Row(*source, rows.source) +
                 static_cast<std::ptrdiff_t>(columns.source) * kPixelBytes;
        pitch = -static_cast<std::ptrdiff_t>(source->pitch);
    } else {
        Pixel32* pixels = Grown(scratch.converted, count * static_cast<std::size_t>(rows.count));
        VBitmap converted = MakeBitmap32(pixels, columns.count, rows.count,
                                         static_cast<long>(count * kPixelBytes));
        Plain().BitBlt(&converted, 0, 0, source, columns.source, rows.source, columns.count,
                       rows.count);
        origin = Row(converted, 0);
        pitch = -static_cast<std::ptrdiff_t>(converted.pitch);
    }
    std::uint8_t* prepared = Grown(scratch.prepared, count * kPixelBytes);
    const RowKernels::Prepare prepare = kernels.prepare[static_cast<int>(laying.alpha)];
    const RowKernels::Lay lay = laying.laying == Laying::Faded ? kernels.layFaded : kernels.layOver;
    for (int j = 0; j < rows.count; ++j) {
        prepare(prepared, origin + j * pitch, columns.count);
        lay(Row(*self, rows.destination + j) +
                static_cast<std::ptrdiff_t>(columns.destination) * kPixelBytes,
            prepared, columns.count, laying.opacity);
    }
}

BlendingBitmapOperations::BlendingBitmapOperations(const BlendSettings& blend)
    : table(HostBitmapOperations()), settings(blend) {
    table.BitBlt = &BlendBitBlt;
    table.StretchBltNearestFast = &BlendStretchNearest;
    table.StretchBltBilinearFast = &BlendStretchBilinear;
}

int OpacityFromPercent(int percent) {
    const int clamped = std::min(std::max(percent, 0), kPercent);
    return (clamped * kOpaque + kPercent / 2) / kPercent;
}
