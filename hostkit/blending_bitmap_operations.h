// A variant of the host's bitmap operations for a host that lays pictures
// with an alpha channel over its frames (the runner selects it; the module
// under the real host, and the filter's own tests, keep the plain copy).
//
// BitBlt, StretchBltNearestFast and StretchBltBilinearFast blend the source
// over the destination instead of copying it. With a the source pixel's top
// byte (1 when the source's alpha is not used) and o the opacity, both as
// fractions of 255, C a source colour byte and D the destination's:
//     D' = C * a * o + D * (1 - a * o)     (straight alpha)
//     D' = C * o     + D * (1 - a * o)     (premultiplied alpha)
// rounded to the nearest value. The stretches interpolate colour weighted by
// alpha (they work on premultiplied pixels), so a transparent pixel's stored
// colour never bleeds into its neighbours. Clipping, the mapping of the
// stretches and the sizes that draw nothing are exactly the plain
// operations'. The destination's top byte is kept. Every other slot is the
// plain table's.
//
// Threading: like the plain operations, each thread keeps its own scratch
// pictures, grown to the largest call it has seen.
#pragma once

#include "host/vbitmap.h"

struct BlendSettings {
    bool useSourceAlpha = true;  // false: every source pixel is opaque
    bool premultiplied = false;  // the source's colour is already multiplied by its alpha
    int opacity = 255;           // 0-255, applied to every source pixel
};

// The table travels as the destination bitmap's `operations`; the slots
// find their settings through it, so it must outlive the bitmaps using it.
struct BlendingBitmapOperations {
    VBitmapOperations table;  // first: a pointer to it is a pointer to the whole
    BlendSettings settings;

    explicit BlendingBitmapOperations(const BlendSettings& blend);
};

// An opacity percentage (0-100) as the 0-255 factor the settings take.
int OpacityFromPercent(int percent);
