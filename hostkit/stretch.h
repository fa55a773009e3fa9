// The host kit's stretches, run row by row through a set of row kernels:
// the mapping and clipping of StretchBltNearestFast and
// StretchBltBilinearFast (see bitmap_operations.h), with the sampled pixels
// either copied onto the destination or laid over it in the same pass.
//
// A blend makes each source row it reads premultiplied before sampling it,
// so colour is interpolated weighted by alpha and a transparent pixel's
// stored colour never bleeds into its neighbours.
//
// The source is read as it was before the call, even where its pixels share
// memory with the destination's.
//
// Threading: each thread keeps its own column table, source rows and
// across-blended rows, grown to the largest call it has seen, so a call
// allocates nothing once the thread has seen its widest rectangle. Each
// source row is prepared and blended across once per call and reused for
// every destination row that needs it; a copy whose destination row samples
// the same source rows as the one before it copies that row.
#pragma once

#include "host/vbitmap.h"
#include "hostkit/row_kernels.h"

enum class Sampling { Nearest, Bilinear };

struct StretchLaying {
    Laying laying = Laying::Copy;
    SourceAlpha alpha = SourceAlpha::Straight;  // blends only
    int opacity = 255;                          // 0-255; Faded only
};

// The arguments of the host's stretch slots; true when something was drawn
// (a blend at opacity 0 draws, and leaves the destination as it was).
bool StretchBitmap(const RowKernels& kernels, Sampling sampling, const StretchLaying& laying,
                   const VBitmap* self, long x1, long y1, long dx, long dy, const VBitmap* source,
                   double x2, double y2, double dx1, double dy1);
