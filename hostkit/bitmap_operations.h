// Our own implementation of the host's bitmap operations, in the host's slot
// order and calling convention. It serves the tests, the command-line runner
// and the Windows test host.
//
// Every operation clips to both bitmaps. A width and height of -1 mean the
// whole source (for RectFill: the whole destination); any other zero or
// negative size draws nothing. BitBlt converts 8-bit palettised, 16-bit
// 5-5-5, 24-bit and 32-bit sources to a 32-bit destination, and copies
// bitmaps of equal depth as they are. The stretches take 32-bit sources and
// sample at pixel centres with the edges clamped.
#pragma once

#include "host/vbitmap.h"

const VBitmapOperations& HostBitmapOperations();

// A bitmap over caller-owned 32-bit pixels with the given row distance.
VBitmap MakeBitmap32(Pixel32* data, int w, int h, long pitch);
