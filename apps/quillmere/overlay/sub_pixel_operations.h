// Bitmap operations that draw a mask whose edges lie between pixels (a
// moving mask, mask_motion.h) with a bilinear stretch.
//
// The filter draws in whole pixels: its mask is the pixels the exact
// rectangle touches. These operations take its calls for that mask and
// draw the exact rectangle instead:
//
// - the stretch of a whole overlay frame over the mask samples the overlay
//   where the exact rectangle puts it: the source rectangle is widened by
//   the fractions the whole-pixel mask adds, so the picture moves by
//   fractions of a pixel rather than in steps (the stretch clamps at the
//   overlay's edges, as it does for any mask);
// - the fill of the mask (the black stand-in) and of the mask widened by the
//   border (the border) fill the exact rectangle widened alike.
//
// In each case the pixels that the exact rectangle only partly covers are
// then laid over what was there before by their coverage, so every edge
// moves smoothly. A mask whose corners lie on whole pixels is drawn exactly
// as the filter asked. Every other call goes to the operations underneath.
//
// One object per filter instance: the mask is the frame's, set before each
// frame is run, so instances on other threads each need their own.
#pragma once

#include <cstdint>
#include <vector>

#include "host/vbitmap.h"

struct SubPixelRect {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
};

struct SubPixelOperations {
    VBitmapOperations table;  // first: a pointer to it is a pointer to the whole
    const VBitmapOperations* underneath;
    // The frame's mask in the output bitmap's pixels: the whole pixels the
    // filter draws and the exact rectangle within them.
    long maskLeft = 0;
    long maskTop = 0;
    long maskWidth = 0;
    long maskHeight = 0;
    SubPixelRect exact;
    long border = 0;  // the border's width, 0 without one
    // The pixels under an edge as they were before a drawing; sized once
    // for the largest bitmap.
    std::vector<Pixel32> before;

    // `underneath`: null for the host's own operations. `largestWidth` and
    // `largestHeight`: the output bitmap's size.
    SubPixelOperations(const VBitmapOperations* underneath, long border, int largestWidth,
                       int largestHeight);
    // The mask of the next frame, in the output bitmap's pixels.
    void SetMask(long left, long top, long right, long bottom, const SubPixelRect& exactMask);
};
