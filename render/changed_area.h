// The part of a frame that the run procedure can change: every pixel it may
// write for one output frame (shadow, border, overlay or black placeholder)
// lies inside this rectangle. A host that stores frames in a format of its
// own converts only this part to the filter's pixels and back.
#pragma once

#include <cstdint>

struct FilterData;

struct ChangedArea {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = 0;   // exclusive
    std::int64_t bottom = 0;  // exclusive
    bool empty() const { return right <= left || bottom <= top; }
};

// The area for a frame of `width` x `height` pixels, clipped to it, for any
// frame the filter draws on (the editing outline aside). Masks whose corners
// are not in order make the host's fills reach the whole frame, so they give
// the whole frame.
ChangedArea ChangedAreaOf(const FilterData& record, int width, int height);

// True when output frame `frame` is a plain copy of its source: an overlay is
// loaded, a frame range is set and the frame lies outside it.
bool FrameLeftUntouched(const FilterData& record, std::int32_t frame);
