// Where a picture's chroma samples sit, and where they sit once the
// picture is turned. Subsampled chroma sits at a point of its block of luma
// pixels (the block's first pixel, or its middle, and vertically also its
// last); turning the picture moves that point, and mirroring an axis moves
// it to the other side of the block, which the tags a file can carry do not
// always describe.
#pragma once

#include "apps/quillmere/media/orientation.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

struct TurnedSiting {
    AVChromaLocation location = AVCHROMA_LOC_UNSPECIFIED;
    // False when the samples, turned, sit where no tag can say: `location`
    // is then the nearest that can be said.
    bool exact = true;
};

// For a picture of `width` x `height` luma pixels whose chroma is
// subsampled by 2^shiftX across and 2^shiftY down and sited at `location`
// (untagged, it is read as the converter reads it, which for the yuvj*
// formats, `fullRangeAlias`, differs), where the chroma sits once the
// picture is turned by `turn`; a transposed picture's subsampling is
// transposed with it. A picture without subsampled chroma keeps its tag.
TurnedSiting TurnedChromaLocation(AVChromaLocation location, bool fullRangeAlias, int shiftX,
                                  int shiftY, int width, int height, const Orientation& turn);
