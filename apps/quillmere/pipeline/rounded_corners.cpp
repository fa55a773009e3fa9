#include "apps/quillmere/pipeline/rounded_corners.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "filter/filter_data.h"
#include "render/drop_shadow.h"
#include "render/frame_compositor.h"
#include "render/shadow_levels.h"

namespace {

constexpr int kColourBytes = 3;
constexpr int kByteBits = 8;
constexpr std::uint32_t kByteMask = 0xFFu;
constexpr std::uint32_t kFourthByte = 0xFF000000u;

// The integral of sqrt(r^2 - x^2) from 0 to x, for 0 <= x <= r.
double QuarterDiscIntegral(double x, double radius) {
    const double ratio = std::min(1.0, x / radius);
    return 0.5 * (x * std::sqrt(std::max(0.0, radius * radius - x * x)) +
                  radius * radius * std::asin(ratio));
}

// Where the circle's upper half stands at height `y`: sqrt(r^2 - y^2), or
// 0 at or past the top.
double ReachAt(double y, double radius) {
    return y >= radius ? 0.0 : std::sqrt(radius * radius - y * y);
}

// Mixes byte by byte: `weight` of `over` on `under`, rounded half up; the
// fourth byte comes from `over`.
Pixel32 Mix(Pixel32 under, Pixel32 over, std::uint32_t weight) {
    Pixel32 result = over & kFourthByte;
    const std::uint32_t rest = kFullCoverage - weight;
    for (int byte = 0; byte < kColourBytes; ++byte) {
        const int shift = kByteBits * byte;
        const std::uint32_t value = (((under >> shift) & kByteMask) * rest +
                                     ((over >> shift) & kByteMask) * weight + kFullCoverage / 2) >>
                                    kByteBits;
        result |= value << shift;
    }
    return result;
}

// The four corner squares of `shape` within `area`.
void AddCorners(const RoundedRect& shape, const PictureRect& area,
                std::vector<PictureRect>& corners) {
    const std::int64_t r = shape.radius;
    if (r <= 0) {
        return;
    }
    const std::int64_t lefts[] = {shape.left, shape.right - r};
    const std::int64_t tops[] = {shape.top, shape.bottom - r};
    for (const std::int64_t top : tops) {
        for (const std::int64_t left : lefts) {
            const std::int64_t x0 = std::max<std::int64_t>(left, area.x);
            const std::int64_t y0 = std::max<std::int64_t>(top, area.y);
            const std::int64_t x1 = std::min<std::int64_t>(left + r, area.right());
            const std::int64_t y1 = std::min<std::int64_t>(top + r, area.bottom());
            if (x1 > x0 && y1 > y0) {
                corners.push_back(PictureRect{static_cast<int>(x0), static_cast<int>(y0),
                                              static_cast<int>(x1 - x0),
                                              static_cast<int>(y1 - y0)});
            }
        }
    }
}

std::int64_t MaskExtent(std::int32_t from, std::int32_t to) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(to) -
                                     static_cast<std::uint32_t>(from));
}

}  // namespace

double DiscAreaInPixel(double x0, double x1, double y0, double y1, double radius) {
    // Columns left of xFull reach over the pixel's top; right of xNone they
    // stay under its bottom; between, the arc crosses the pixel.
    const double xFull = ReachAt(y1, radius);
    const double xNone = ReachAt(y0, radius);
    double area = 0;
    const double fullEnd = std::min(x1, xFull);
    if (fullEnd > x0) {
        area += (fullEnd - x0) * (y1 - y0);
    }
    const double arcStart = std::max(x0, xFull);
    const double arcEnd = std::min(x1, xNone);
    if (arcEnd > arcStart) {
        area += QuarterDiscIntegral(arcEnd, radius) - QuarterDiscIntegral(arcStart, radius) -
                y0 * (arcEnd - arcStart);
    }
    return area;
}

std::vector<std::uint16_t> CornerCoverage(int radius) {
    std::vector<std::uint16_t> table(static_cast<std::size_t>(radius) *
                                     static_cast<std::size_t>(std::max(radius, 0)));
    const double r = radius;
    for (int b = 0; b < radius; ++b) {
        for (int a = 0; a < radius; ++a) {
            // Pixel a spans distances r - a - 1 to r - a from the centre.
            const double share = DiscAreaInPixel(r - a - 1, r - a, r - b - 1, r - b, r);
            table[static_cast<std::size_t>(b) * radius + a] =
                static_cast<std::uint16_t>(std::lround(share * kFullCoverage));
        }
    }
    return table;
}

RoundedRect Rounded(std::int64_t left, std::int64_t top, std::int64_t right,
                    std::int64_t bottom, std::int64_t radius) {
    const std::int64_t shorter = std::min(right - left, bottom - top);
    const std::int64_t fitting = std::max<std::int64_t>(0, std::min(radius, shorter / 2));
    return RoundedRect{left, top, right, bottom, static_cast<int>(fitting)};
}

std::uint32_t CoverageAt(const RoundedRect& shape, const std::vector<std::uint16_t>& table,
                         std::int64_t x, std::int64_t y) {
    if (!shape.Contains(x, y)) {
        return 0;
    }
    const std::int64_t r = shape.radius;
    const std::int64_t a = std::min(x - shape.left, shape.right - 1 - x);
    const std::int64_t b = std::min(y - shape.top, shape.bottom - 1 - y);
    if (a >= r || b >= r) {
        return kFullCoverage;
    }
    return table[static_cast<std::size_t>(b * r + a)];
}

RoundedCorners::RoundedCorners(const FilterData& settings, int radius, const PictureRect& area,
                               const BitmapPlace& place) {
    const std::int64_t maskWidth = MaskExtent(settings.maskLeft, settings.maskRight);
    const std::int64_t maskHeight = MaskExtent(settings.maskTop, settings.maskBottom);
    if (radius <= 0 || area.empty() || settings.editing != 0 || maskWidth <= 0 ||
        maskHeight <= 0) {
        return;
    }
    const std::int64_t left = settings.maskLeft;
    const std::int64_t top = settings.maskTop;
    const std::int64_t borderWidth = settings.borderOn != 0 ? settings.borderSize : 0;
    border_ = borderWidth > 0;
    borderPixel_ = PixelFromColorref(settings.borderColor);

    const RoundedRect mask = Rounded(left, top, left + maskWidth, top + maskHeight, radius);
    const RoundedRect outer =
        border_ ? Rounded(mask.left - borderWidth, mask.top - borderWidth,
                          mask.right + borderWidth, mask.bottom + borderWidth, radius + borderWidth)
                : mask;
    // The shadow's bands lie round a box of the mask's size plus one, set
    // in by the border less one, and reach `size` past its right and
    // bottom edges from `shift` in (see DrawShadowWide).
    RoundedRect shadow;
    const std::int64_t size = settings.shadowSize;
    if (settings.shadowOn != 0 && size > 0 && maskWidth + 1 >= 2 && maskHeight + 1 >= 2) {
        const std::int64_t boxLeft = left + borderWidth - 1;
        const std::int64_t boxTop = top + borderWidth - 1;
        const std::int64_t shift =
            ShadowStyleOf(settings.shadowType).fixedShift ? settings.shadowShift : size;
        shadow = Rounded(boxLeft + shift, boxTop + shift, boxLeft + maskWidth + 1 + size,
                         boxTop + maskHeight + 1 + size, radius + borderWidth);
        const double level = ClampShadowLevel(ShadowStartLevel(settings.shadowPercent));
        for (std::uint32_t value = 0; value <= kByteMask; ++value) {
            shadedByte_[value] =
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(value * level));
        }
        if (settings.shadowColor != 0) {
            // The colour's bytes, blue first, as pixels hold them.
            const Pixel32 colour = PixelFromColorref(settings.shadowColor);
            for (int byte = 0; byte < kColourBytes; ++byte) {
                const double channel = (colour >> (kByteBits * byte)) & kByteMask;
                shadowColour_[byte] =
                    static_cast<std::uint8_t>(static_cast<std::uint32_t>((1.0 - level) * channel));
            }
        }
    }

    AddCorners(mask, area, maskCorners_);
    std::vector<PictureRect> squares = maskCorners_;
    AddCorners(outer, area, squares);
    AddCorners(shadow, area, squares);
    const std::vector<std::uint16_t> maskTable = CornerCoverage(mask.radius);
    const std::vector<std::uint16_t> outerTable = CornerCoverage(outer.radius);
    const std::vector<std::uint16_t> shadowTable = CornerCoverage(shadow.radius);
    // Squares of different shapes overlap: each pixel is blended once, row
    // by row over the squares' merged spans.
    int firstRow = area.bottom();
    int endRow = area.y;
    for (const PictureRect& square : squares) {
        firstRow = std::min(firstRow, square.y);
        endRow = std::max(endRow, square.bottom());
    }
    std::vector<std::pair<int, int>> spans;
    for (int y = firstRow; y < endRow; ++y) {
        spans.clear();
        for (const PictureRect& square : squares) {
            if (y >= square.y && y < square.bottom()) {
                spans.emplace_back(square.x, square.right());
            }
        }
        std::sort(spans.begin(), spans.end());
        int done = INT_MIN;  // columns before it are blended already
        for (const auto& [spanStart, spanEnd] : spans) {
            for (int x = std::max(spanStart, done); x < spanEnd; ++x) {
                AddPixel(x, y, place, mask, outer, shadow, maskTable, outerTable, shadowTable);
            }
            done = std::max(done, spanEnd);
        }
    }
}

void RoundedCorners::AddPixel(int x, int y, const BitmapPlace& place, const RoundedRect& mask,
                              const RoundedRect& outer, const RoundedRect& shadow,
                              const std::vector<std::uint16_t>& maskTable,
                              const std::vector<std::uint16_t>& outerTable,
                              const std::vector<std::uint16_t>& shadowTable) {
    CornerPixel pixel{};
    pixel.row = place.height - 1 - (y - place.top);
    pixel.column = x - place.left;
    pixel.mask = static_cast<std::uint16_t>(CoverageAt(mask, maskTable, x, y));
    pixel.border = static_cast<std::uint16_t>(CoverageAt(outer, outerTable, x, y));
    pixel.shadow = static_cast<std::uint16_t>(CoverageAt(shadow, shadowTable, x, y));
    pixel.hiddenShadow = shadow.Contains(x, y);
    // Pixels wholly inside the layer the filter drew on top stay as drawn.
    if (mask.Contains(x, y)) {
        pixel.layer = Layer::Mask;
        if (pixel.mask == kFullCoverage) {
            return;
        }
    } else if (outer.Contains(x, y)) {
        pixel.layer = Layer::Border;
        if (pixel.border == kFullCoverage) {
            return;
        }
    } else {
        pixel.layer = Layer::Outside;
        if (pixel.shadow == kFullCoverage || !pixel.hiddenShadow) {
            return;
        }
    }
    pixels_.push_back(pixel);
}

Pixel32 RoundedCorners::ShadeInner(Pixel32 source) const {
    Pixel32 result = source & kFourthByte;
    for (int byte = 0; byte < kColourBytes; ++byte) {
        const int shift = kByteBits * byte;
        const std::uint32_t value =
            (shadedByte_[(source >> shift) & kByteMask] + shadowColour_[byte]) & kByteMask;
        result |= value << shift;
    }
    return result;
}

Pixel32 RoundedCorners::Blend(const CornerPixel& pixel, Pixel32 source, Pixel32 drawn) const {
    if (pixel.layer == Layer::Outside) {
        // The filter's shadow band, or the main where the shadow has none.
        return Mix(source, drawn, pixel.shadow);
    }
    // Under the border and the overlay the filter drew over the shadow.
    Pixel32 under = source;
    if (pixel.hiddenShadow) {
        under = Mix(source, ShadeInner(source), pixel.shadow);
    }
    if (pixel.layer == Layer::Border) {
        return Mix(under, drawn, pixel.border);
    }
    if (border_) {
        under = Mix(under, borderPixel_, pixel.border);
    }
    return Mix(under, drawn, pixel.mask);
}

void RoundedCorners::Apply(const Pixel32* source, long sourcePitch, Pixel32* output,
                           long outputPitch) const {
    for (const CornerPixel& pixel : pixels_) {
        const Pixel32 from = source[static_cast<std::ptrdiff_t>(pixel.row) * sourcePitch +
                                    pixel.column];
        Pixel32& to = output[static_cast<std::ptrdiff_t>(pixel.row) * outputPitch + pixel.column];
        to = Blend(pixel, from, to);
    }
}
