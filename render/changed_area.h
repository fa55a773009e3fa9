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

// What the run procedure left inside the mask on the frame it ran last, for
// a host that may leave the source unconverted there.
enum class MaskInside {
    Replaced,   // every pixel inside came from the overlay or the black fill alone
    Untouched,  // the run drew nothing anywhere: the output is the source
    Mixed,      // the source shows through somewhere, or no telling
};

// `record.overlayBits` must have been cleared before that run: the procedure
// sets it only when it lays an overlay frame, and the overlay's bitmap then
// describes that frame. `opaqueCopy`: the output's bitmap operations copy
// overlay pixels rather than blend them.
MaskInside MaskInsideAfterRun(const FilterData& record, bool opaqueCopy);
