// Bitmap operations for output frames whose overlay comes as a window of
// the scaled picture (OverlayAdaptation::scaledWindow).
//
// The filter stretches every overlay frame over the whole mask; a frame
// scaled to the mask's size is laid 1:1. Where the mask reaches past the
// main picture, the frames hold only the part of the scaled picture that
// lies on it, so that nothing of the mask off the picture is scaled or
// kept. These operations lay such a frame 1:1 where that part lies in the
// mask: the pixels drawn are those a frame of the whole scaled picture
// would give, since every output bitmap lies within the main picture. The
// frame's header gives the window's own size, so that any operation that
// reads it as a whole bitmap (the host's, on a frame rehearsed for its
// overlay fetches) stays within its pixels.
//
// Every other call goes to the operations underneath (the blending ones, or
// the host's), which see the output bitmap with their own table.
#pragma once

#include "apps/quillmere/overlay/partial_scale.h"
#include "host/vbitmap.h"

struct WindowedOverlayOperations {
    VBitmapOperations table;  // first: a pointer to it is a pointer to the whole
    const VBitmapOperations* underneath;
    long maskWidth;
    long maskHeight;
    OutputWindow window;

    // `underneath`: null for the host's own operations.
    WindowedOverlayOperations(const VBitmapOperations* underneath, long maskWidth,
                              long maskHeight, const OutputWindow& window);
};
