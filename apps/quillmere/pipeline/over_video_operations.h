// Bitmap operations for an overlay laid below full opacity: each overlay
// pixel is blended over the video under it, not over the border or shadow
// that the filter drew there first.
//
// The filter draws its decoration (shadow, then the border's fill over the
// whole mask) before it lays the overlay, so the pixels the overlay lands on
// already hold the border colour. Before an overlay frame is laid (BitBlt or
// a stretch), these operations put back the video, as the filter's source
// holds it, on exactly the pixels that the call lays; then the operations
// underneath (the blending ones) lay the frame over it. The border and the
// shadow stay wherever the overlay does not land, and the black placeholder
// (a fill) is drawn as it was.
//
// Where nothing was drawn under the overlay, the output is the same as the
// operations underneath give alone.
#pragma once

#include "host/vbitmap.h"

struct OverVideoOperations {
    VBitmapOperations table;  // first: a pointer to it is a pointer to the whole
    const VBitmapOperations* underneath;
    // The filter's source bitmap of the same pass: read at each call, so its
    // pixels may change from frame to frame.
    const VBitmap* video;

    OverVideoOperations(const VBitmapOperations* underneath, const VBitmap* video);
};
