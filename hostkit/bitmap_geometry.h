// Clipping and row addresses, shared by the host kit's copies, stretches and
// blends so that all of them clip alike.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>

#include "host/vbitmap.h"

// Wide enough that the sum or difference of any two `long` arguments, and of
// any of them with a bitmap extent, is exact.
#if defined(__SIZEOF_INT128__)
using Wide = __int128;
#else
using Wide = std::int64_t;
#endif
static_assert(sizeof(Wide) >= 2 * sizeof(long), "Wide must hold sums of two longs");

// A size argument that stands for the source's (or the destination's) extent.
constexpr long kWholeExtent = -1;

// The destination extent a stretch draws into: kWholeExtent stands for the
// source rectangle's extent, rounded. False when the stretch draws nothing.
inline bool StretchExtent(long requested, double sourceExtent, Wide& extent) {
    if (requested == kWholeExtent) {
        const double rounded = std::nearbyint(sourceExtent);
        if (!(rounded >= 1.0 && rounded <= double(std::numeric_limits<std::int32_t>::max()))) {
            return false;
        }
        extent = static_cast<Wide>(rounded);
        return true;
    }
    extent = requested;
    return requested > 0;
}

struct Span {
    int source = 0;
    int destination = 0;
    int count = 0;
};

// Clips a run of `length` starting at `source` in [0, sourceExtent) and at
// `destination` in [0, destinationExtent); count 0 when nothing is left.
inline Span ClipRun(Wide source, Wide destination, Wide length, int sourceExtent,
                    int destinationExtent) {
    const Wide low = std::max({Wide(0), -source, -destination});
    const Wide high = std::min({length, Wide(sourceExtent) - source,
                                Wide(destinationExtent) - destination});
    Span span;
    if (high > low) {
        span.source = static_cast<int>(source + low);
        span.destination = static_cast<int>(destination + low);
        span.count = static_cast<int>(high - low);
    }
    return span;
}

// Clips [start, start + length) to [0, extent).
inline Span ClipRun(Wide start, Wide length, int extent) {
    return ClipRun(start, start, length, extent, extent);
}

inline bool Drawable(const VBitmap* bitmap) {
    return bitmap != nullptr && bitmap->data != nullptr && bitmap->w > 0 && bitmap->h > 0;
}

// Picture row y (from the top), without the `long` arithmetic of PictureRow,
// which would overflow on large 32-bit bitmaps.
inline std::uint8_t* Row(const VBitmap& bitmap, std::int64_t y) {
    return reinterpret_cast<std::uint8_t*>(bitmap.data) +
           static_cast<std::ptrdiff_t>(bitmap.h - 1 - y) *
               static_cast<std::ptrdiff_t>(bitmap.pitch);
}

// The lowest address of the bitmap's pixel block.
inline char* LowestRow(const VBitmap& bitmap) {
    char* data = reinterpret_cast<char*>(bitmap.data);
    if (bitmap.pitch < 0 && bitmap.h > 0) {
        return data + static_cast<std::ptrdiff_t>(bitmap.h - 1) * bitmap.pitch;
    }
    return data;
}

// Whether the pixel blocks of two drawable 32-bit bitmaps share any byte.
inline bool PixelsOverlap(const VBitmap& first, const VBitmap& second) {
    const auto extent = [](const VBitmap& bitmap) {
        const auto low = reinterpret_cast<std::uintptr_t>(LowestRow(bitmap));
        const auto pitch = static_cast<std::uintptr_t>(bitmap.pitch < 0 ? -bitmap.pitch
                                                                         : bitmap.pitch);
        const std::uintptr_t rowBytes = std::uintptr_t{4} * static_cast<std::uintptr_t>(bitmap.w);
        return std::make_pair(low, low + pitch * static_cast<std::uintptr_t>(bitmap.h - 1) +
                                       rowBytes);
    };
    const auto [firstLow, firstHigh] = extent(first);
    const auto [secondLow, secondHigh] = extent(second);
    return firstLow < secondHigh && secondLow < firstHigh;
}
