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
// rounded to the nearest value. The source is first made premultiplied (a
// straight colour C becomes round(C * a)), so the stretches interpolate
// colour weighted by alpha and a transparent pixel's stored colour never
// bleeds into its neighbours. Clipping, the mapping of the stretches and the
// sizes that draw nothing are exactly the plain operations'. The
// destination's top byte is kept. Every other slot is the plain table's.
//
// Each operation samples, weights and blends row by row straight into the
// destination (stretch.h, row_kernels.h), with no picture in between.
//
// Threading: like the plain operations, each thread keeps its own scratch
// rows, grown to the largest call it has seen.
#pragma once

#include "host/vbitmap.h"
#include "hostkit/row_kernels.h"
#include "hostkit/stretch.h"

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

// How the operations lay pixels for these settings: over the destination at
// full opacity, faded below it.
StretchLaying LayingFor(const BlendSettings& settings);

// The blending BitBlt through the given row kernels (the table's slot takes
// the chosen ones): any source depth the plain BitBlt converts, clipped as
// it clips.
void BlendCopy(const RowKernels& kernels, const StretchLaying& laying, const VBitmap* self,
               long x2, long y2, const VBitmap* source, long x1, long y1, long dx, long dy);

// An opacity percentage (0-100) as the 0-255 factor the settings take.
int OpacityFromPercent(int percent);
