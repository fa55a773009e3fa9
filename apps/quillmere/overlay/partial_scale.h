// A window of a libswscale scale, made without the rest of it.
//
// A filtered scale into a mask far larger than the frame draws only the
// part of the mask that lies on the frame, yet libswscale scales to whole
// pictures: its cost and memory follow the mask, and past about a million
// pixels a side it cannot be set up at all. A window of the output can be
// had from a smaller scale of part of the source, when that smaller scale
// samples the window's pixels where the whole one does:
//
// - libswscale steps through the source by one fixed-point increment per
//   output pixel, (source << 16) / output rounded, and places output pixel
//   i at a fixed offset plus i increments. The smaller scale must have the
//   same increment, and start on an output pixel whose position falls on a
//   whole source pixel (a multiple of 65536), which becomes its first
//   source pixel;
// - its edges clamp the filter's taps where the whole scale does not, so the
//   window keeps the filter's reach away from every edge the whole scale
//   does not share;
// - packed RGB sources are read with their chroma halved across when the
//   output is at most half as wide; then the smaller scale starts at the
//   left edge.
//
// Rows are then asked of the smaller scale through the slice interface, so
// that only the window's rows (and the source rows they need) are worked
// out. What is left differs from the whole scale only where libswscale
// trims negligible filter taps for the picture as a whole (within one code
// value).
#pragma once

#include <cstdint>

// One axis of a partial scale: the source span read and the output span
// made, in the whole scale's pixels; the window lies inside the output span.
struct PartialSpan {
    std::int64_t sourceStart = 0;
    std::int64_t sourceLength = 0;
    std::int64_t outputStart = 0;
    std::int64_t outputLength = 0;
};

struct PartialScale {
    PartialSpan across;
    PartialSpan down;
};

// The rectangle of an output picture that a caller wants.
struct OutputWindow {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;

    bool operator==(const OutputWindow& other) const {
        return left == other.left && top == other.top && width == other.width &&
               height == other.height;
    }
};

// The smaller scale of a `sourceWidth` x `sourceHeight` packed RGB picture
// that gives `window` of its scale to `outputWidth` x `outputHeight`. A
// window that needs the whole of an axis gets that whole axis.
PartialScale PlanPartialScale(std::int64_t sourceWidth, std::int64_t sourceHeight,
                              std::int64_t outputWidth, std::int64_t outputHeight,
                              const OutputWindow& window);
