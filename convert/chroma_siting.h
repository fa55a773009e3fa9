// Where subsampled chroma samples sit in their block of luma pixels: the
// one reading of a chroma location tag, shared by the converter (which
// interpolates from it) and by whatever moves pictures around (turning a
// picture moves the point its chroma sits at).
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

// Distances from a block's first luma pixel to its chroma sample, in half
// luma pixels, across and down.
struct ChromaSiting {
    int acrossHalves = 0;
    int downHalves = 0;
};

// The siting a picture's chroma is taken to have. Without a tag, MPEG-2
// onwards site 4:2:0 and 4:2:2 chroma left; JPEG, whose full-range yuvj*
// formats are flagged by `fullRangeAlias`, centres it. Values that are no
// location at all read as untagged.
AVChromaLocation EffectiveChromaLocation(AVChromaLocation location, bool fullRangeAlias);

// The siting of an effective (tagged) location in blocks of stepX x stepY
// luma pixels.
ChromaSiting SitingOf(AVChromaLocation effective, int stepX, int stepY);
