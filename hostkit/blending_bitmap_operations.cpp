#include "hostkit/blending_bitmap_operations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "hostkit/bitmap_operations.h"

namespace {

static_assert(std::is_standard_layout<BlendingBitmapOperations>::value,
              "the slots reach the settings from the table's address");

constexpr long kWholeExtent = -1;
constexpr std::uint32_t kOpaque = 255;
constexpr std::uint32_t kAlphaShift = 24;
constexpr std::uint32_t kColourMask = 0x00FFFFFF;
constexpr int kPercent = 100;

// x / 255 rounded to the nearest integer, exact for 0 <= x <= 255 * 255
// (and beyond, to well past 255 * 255 * 2), without a division.
inline std::uint32_t DivideBy255(std::uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

const BlendSettings& SettingsOf(const VBitmap* self) {
    return reinterpret_cast<const BlendingBitmapOperations*>(self->operations)->settings;
}

const VBitmapOperations& Plain() { return HostBitmapOperations(); }

std::uint8_t* RowOf(const VBitmap& bitmap, long y) {
    return reinterpret_cast<std::uint8_t*>(bitmap.data) +
           static_cast<std::ptrdiff_t>(bitmap.h - 1 - y) * bitmap.pitch;
}

// Per-thread pictures: the source made premultiplied, and what the plain
// operation draws before it is blended in.
struct Scratch {
    std::vector<Pixel32> source;
    std::vector<Pixel32> layer;
};
Scratch& ThreadScratch() {
    thread_local Scratch scratch;
    return scratch;
}

// The source as premultiplied 32-bit pixels, alpha in the top byte: any
// depth the plain BitBlt converts. The opacity is applied when the layer is
// laid over, so that its rounding adds nothing here.
VBitmap PremultipliedSource(const VBitmap& source, const BlendSettings& settings) {
    std::vector<Pixel32>& pixels = ThreadScratch().source;
    const std::size_t count = static_cast<std::size_t>(source.w) * source.h;
    if (pixels.size() < count) {
        pixels.resize(count);
    }
    VBitmap copy = MakeBitmap32(pixels.data(), source.w, source.h, 4L * source.w);
    Plain().BitBlt(&copy, 0, 0, &source, 0, 0, kWholeExtent, kWholeExtent);
    if (!settings.useSourceAlpha) {
        for (std::size_t i = 0; i < count; ++i) {
            pixels[i] |= kOpaque << kAlphaShift;
        }
        return copy;
    }
    if (settings.premultiplied) {
        // A colour above its alpha is no premultiplied colour; held to it,
        // the blend cannot overflow a byte.
        for (std::size_t i = 0; i < count; ++i) {
            const Pixel32 pixel = pixels[i];
            const std::uint32_t alpha = pixel >> kAlphaShift;
            const std::uint32_t blue = std::min(pixel & 0xFF, alpha);
            const std::uint32_t green = std::min((pixel >> 8) & 0xFF, alpha);
            const std::uint32_t red = std::min((pixel >> 16) & 0xFF, alpha);
            pixels[i] = (alpha << kAlphaShift) | (red << 16) | (green << 8) | blue;
        }
        return copy;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Pixel32 pixel = pixels[i];
        const std::uint32_t alpha = pixel >> kAlphaShift;
        // Most pixels of a picture with alpha are wholly opaque or wholly
        // transparent; neither needs the products.
        if (alpha == kOpaque) {
            continue;
        }
        if (alpha == 0) {
            pixels[i] = 0;
            continue;
        }
        const std::uint32_t blue = DivideBy255((pixel & 0xFF) * alpha);
        const std::uint32_t green = DivideBy255(((pixel >> 8) & 0xFF) * alpha);
        const std::uint32_t red = DivideBy255(((pixel >> 16) & 0xFF) * alpha);
        pixels[i] = (alpha << kAlphaShift) | (red << 16) | (green << 8) | blue;
    }
    return copy;
}

// The destination rectangle an operation may draw into, clipped to the
// destination; empty when it draws nothing there.
struct Area {
    long left = 0;
    long top = 0;
    long width = 0;
    long height = 0;
};

Area ClipToDestination(const VBitmap& destination, std::int64_t x, std::int64_t y,
                       std::int64_t width, std::int64_t height) {
    const std::int64_t left = std::max<std::int64_t>(x, 0);
    const std::int64_t top = std::max<std::int64_t>(y, 0);
    const std::int64_t right = std::min<std::int64_t>(x + width, destination.w);
    const std::int64_t bottom = std::min<std::int64_t>(y + height, destination.h);
    if (width <= 0 || height <= 0 || right <= left || bottom <= top) {
        return {};
    }
    return {static_cast<long>(left), static_cast<long>(top), static_cast<long>(right - left),
            static_cast<long>(bottom - top)};
}

// A layer over `area` for the plain operation to draw into.
VBitmap LayerOver(const Area& area) {
    std::vector<Pixel32>& pixels = ThreadScratch().layer;
    const std::size_t count = static_cast<std::size_t>(area.width) * area.height;
    if (pixels.size() < count) {
        pixels.resize(count);
    }
    return MakeBitmap32(pixels.data(), static_cast<int>(area.width),
                        static_cast<int>(area.height), 4L * area.width);
}

// The same, transparent: a copy may leave parts of it untouched (where the
// source ends), and there the destination must stay as it is.
VBitmap ClearLayer(const Area& area) {
    VBitmap layer = LayerOver(area);
    std::fill_n(layer.data, static_cast<std::size_t>(area.width) * area.height, Pixel32{0});
    return layer;
}

// Two bytes at once (bits 0-7 and 16-23 of `pair`) times `factor` / 255,
// each rounded to the nearest integer as DivideBy255 rounds it.
inline std::uint32_t ScalePair(std::uint32_t pair, std::uint32_t factor) {
    constexpr std::uint32_t kLowBytes = 0x00FF00FF;
    constexpr std::uint32_t kHalves = 0x00800080;
    std::uint32_t product = pair * factor + kHalves;
    return ((product + ((product >> 8) & kLowBytes)) >> 8) & kLowBytes;
}

// At full opacity: D' = C + D * (255 - A) / 255, with C premultiplied (never
// above A, so no byte carries into the next). Two colour bytes per product.
void LayOverFully(const VBitmap& destination, const Area& area, const VBitmap& layer) {
    constexpr std::uint32_t kLowBytes = 0x00FF00FF;
    for (long row = 0; row < area.height; ++row) {
        Pixel32* out = reinterpret_cast<Pixel32*>(RowOf(destination, area.top + row)) + area.left;
        const Pixel32* in = reinterpret_cast<const Pixel32*>(RowOf(layer, row));
        for (long column = 0; column < area.width; ++column) {
            const Pixel32 over = in[column];
            const std::uint32_t remaining = kOpaque - (over >> kAlphaShift);
            // Most pixels are wholly transparent or wholly opaque.
            if (remaining == kOpaque) {
                continue;
            }
            const Pixel32 under = out[column];
            if (remaining == 0) {
                out[column] = (under & ~kColourMask) | (over & kColourMask);
                continue;
            }
            const std::uint32_t blueRed = ScalePair(under & kLowBytes, remaining);
            const std::uint32_t green = ScalePair((under >> 8) & 0xFF, remaining);
            out[column] = (under & ~kColourMask) + ((over & kColourMask) + blueRed + (green << 8));
        }
    }
}

// x / (255 * 255) rounded to the nearest integer, for x up to twice 255^3,
// by a multiplication: the factor exceeds 2^32 / 65025 by so little that
// the result is off only where x / 65025 lies within 1e-4 of a half.
inline std::uint32_t DivideBy65025(std::uint64_t x) {
    constexpr std::uint64_t kReciprocal = 66052;  // ceil(2^32 / 65025)
    return static_cast<std::uint32_t>(((x + 32512) * kReciprocal) >> 32);
}

// Below full opacity:
//     D' = (C * opacity * 255 + D * (255 * 255 - A * opacity)) / (255 * 255)
// with one rounding, so the opacity's own rounding adds no error.
void LayOverFaded(const VBitmap& destination, const Area& area, const VBitmap& layer,
                  int opacity) {
    constexpr std::uint32_t kWhole = kOpaque * kOpaque;
    const std::uint32_t colourWeight = static_cast<std::uint32_t>(opacity) * kOpaque;
    for (long row = 0; row < area.height; ++row) {
        Pixel32* out = reinterpret_cast<Pixel32*>(RowOf(destination, area.top + row)) + area.left;
        const Pixel32* in = reinterpret_cast<const Pixel32*>(RowOf(layer, row));
        for (long column = 0; column < area.width; ++column) {
            const Pixel32 over = in[column];
            const std::uint32_t underWeight =
                kWhole - (over >> kAlphaShift) * static_cast<std::uint32_t>(opacity);
            if (underWeight == kWhole) {
                continue;
            }
            const Pixel32 under = out[column];
            std::uint32_t blended = under & ~kColourMask;
            for (int shift = 0; shift < 24; shift += 8) {
                const std::uint32_t value =
                    DivideBy65025(std::uint64_t{(over >> shift) & 0xFF} * colourWeight +
                                  std::uint64_t{(under >> shift) & 0xFF} * underWeight);
                blended |= std::min<std::uint32_t>(value, 0xFF) << shift;
            }
            out[column] = blended;
        }
    }
}

// Lays the premultiplied layer over the destination's `area`. Where the
// plain operation drew nothing the layer is transparent and the
// destination stays exactly as it was.
void LayOver(const VBitmap& destination, const Area& area, const VBitmap& layer, int opacity) {
    if (opacity >= static_cast<int>(kOpaque)) {
        LayOverFully(destination, area, layer);
    } else {
        LayOverFaded(destination, area, layer, opacity);
    }
}

void HOST_THISCALL BlendBitBlt(const VBitmap* self, long x2, long y2, const VBitmap* source,
                               long x1, long y1, long dx, long dy) {
    if (self == nullptr || source == nullptr || self->depth != 32 || source->w <= 0 ||
        source->h <= 0) {
        Plain().BitBlt(self, x2, y2, source, x1, y1, dx, dy);
        return;
    }
    const std::int64_t width = dx == kWholeExtent ? source->w : dx;
    const std::int64_t height = dy == kWholeExtent ? source->h : dy;
    const Area area = ClipToDestination(*self, x2, y2, width, height);
    if (area.width == 0) {
        return;
    }
    const VBitmap premultiplied = PremultipliedSource(*source, SettingsOf(self));
    VBitmap layer = ClearLayer(area);
    Plain().BitBlt(&layer, x2 - area.left, y2 - area.top, &premultiplied, x1, y1, dx, dy);
    LayOver(*self, area, layer, SettingsOf(self).opacity);
}

bool BlendStretch(const VBitmap* self, long x1, long y1, long dx, long dy, const VBitmap* source,
                  double x2, double y2, double dx1, double dy1, VBitmapOperations::Stretch plain) {
    if (self == nullptr || source == nullptr || self->depth != 32 || source->depth != 32 ||
        source->w <= 0 || source->h <= 0) {
        return plain(self, x1, y1, dx, dy, source, x2, y2, dx1, dy1);
    }
    const auto extent = [](long requested, double sourceExtent) -> std::int64_t {
        if (requested != kWholeExtent) {
            return requested;
        }
        return std::isfinite(sourceExtent) ? static_cast<std::int64_t>(std::nearbyint(
                                                 std::min(std::max(sourceExtent, 0.0), 2e9)))
                                           : 0;
    };
    const Area area = ClipToDestination(*self, x1, y1, extent(dx, dx1), extent(dy, dy1));
    if (area.width == 0) {
        return false;
    }
    const VBitmap premultiplied = PremultipliedSource(*source, SettingsOf(self));
    // The stretch writes every pixel of the clipped rectangle, which is the
    // layer: it needs no clearing first.
    VBitmap layer = LayerOver(area);
    // Shifted with the layer, the rectangle keeps its mapping onto the source.
    if (!plain(&layer, x1 - area.left, y1 - area.top, dx, dy, &premultiplied, x2, y2, dx1, dy1)) {
        return false;
    }
    LayOver(*self, area, layer, SettingsOf(self).opacity);
    return true;
}

bool HOST_THISCALL BlendStretchNearest(const VBitmap* self, long x1, long y1, long dx, long dy,
                                       const VBitmap* source, double x2, double y2, double dx1,
                                       double dy1) {
    return BlendStretch(self, x1, y1, dx, dy, source, x2, y2, dx1, dy1,
                        Plain().StretchBltNearestFast);
}

bool HOST_THISCALL BlendStretchBilinear(const VBitmap* self, long x1, long y1, long dx, long dy,
                                        const VBitmap* source, double x2, double y2, double dx1,
                                        double dy1) {
    return BlendStretch(self, x1, y1, dx, dy, source, x2, y2, dx1, dy1,
                        Plain().StretchBltBilinearFast);
}

}  // namespace

BlendingBitmapOperations::BlendingBitmapOperations(const BlendSettings& blend)
    : table(HostBitmapOperations()), settings(blend) {
    table.BitBlt = &BlendBitBlt;
    table.StretchBltNearestFast = &BlendStretchNearest;
    table.StretchBltBilinearFast = &BlendStretchBilinear;
}

int OpacityFromPercent(int percent) {
    const int clamped = std::min(std::max(percent, 0), kPercent);
    return (clamped * static_cast<int>(kOpaque) + kPercent / 2) / kPercent;
}
