// Our own implementation of the host's bitmap operations, in the host's slot
// order and calling convention. It serves the tests, the command-line runner
// and the Windows test host.
//
// Coordinates: x from the left edge, y from the top edge, in both the
// destination (the object the operation is called on) and the source.
//
// Every operation clips to both bitmaps and accepts any argument values:
// positions and sizes are worked out in a wider integer type before clipping,
// so huge or negative values never overflow and nothing is written or read
// outside either bitmap. Only then does the pixel loop run. Rows and colour
// tables may sit at any byte address (a header's biSize need not be a
// multiple of 4): pixels are loaded and stored without assuming alignment.
//
// init (header form): data, depth (biBitCount), w, h (|biHeight|), pitch (row
//   bytes padded to 4). A positive height is stored bottom-up. A negative
//   height (top-down rows) is represented by `data` pointing at the last
//   stored row and a negative pitch, so picture row y is still at
//   data + (h - 1 - y) * pitch. For 8 bits or fewer `palette` points right
//   after the header (biSize bytes in). A header whose row or image size
//   would not fit in 32 bits, or whose width is negative, yields an empty
//   bitmap (w = h = 0) on which every operation draws nothing.
// init (size form): w, h, depth, bottom-up, pitch = row bytes padded to 4
//   (so exactly 4 * w for 32 bits), no palette.
// BitBlt: dx = -1 stands for the source's width, dy = -1 for its height; any
//   other zero or negative size draws nothing. Into a 32-bit destination it
//   converts 1/2/4/8-bit palettised (a missing palette reads as a grey ramp;
//   the table holds 2^depth entries, or fewer when the rows begin sooner
//   after it, as in a frame record whose header declares fewer colours:
//   nothing past that is read, and an index past the table gives black),
//   16-bit 5-5-5 (each 5-bit
//   value v expanded to (v << 3) | (v >> 2)), 24-bit and 32-bit sources;
//   converted pixels get a top byte of 0, 32 -> 32 copies words unchanged.
//   Equal depths copy rows as they are (overlapping copies within one bitmap
//   are safe). A 16- or 24-bit destination takes 16/24/32-bit sources. Any
//   other pair of depths draws nothing.
// StretchBltNearestFast / StretchBltBilinearFast: both bitmaps 32-bit, else
//   false. The destination rectangle (x1, y1, dx, dy) is clipped to the
//   destination, keeping the mapping of the unclipped rectangle: the centre
//   of destination column x (0 <= x < dx, counted from the rectangle's left)
//   maps to the source position u = x2 + (x + 0.5) * (dx1 / dx), rows alike
//   with y2, dy1, dy.
//   Nearest takes the source pixel that contains u: floor(u), clamped to
//   0..w-1.
//   Bilinear interpolates between the two pixel centres around u: with
//   p = u - 0.5, i = floor(p) and weight t = floor((p - i) * 256) of pixel
//   i + 1; p <= 0 takes pixel 0 alone and p >= w - 1 pixel w - 1 alone (the
//   edges are clamped). Per byte: across = a * (256 - tx) + b * tx for the
//   two rows, then (top * (256 - ty) + bottom * ty + 32768) >> 16. All four
//   bytes are interpolated, the top byte included.
//   dx = -1 (dy = -1) stands for the source rectangle's width (height)
//   rounded to the nearest integer; other zero or negative sizes and
//   non-finite source values draw nothing. The result is true when
//   something was drawn.
// RectFill: dx = -1 (dy = -1) stands for the destination's width (height);
//   fills 8/16/24/32-bit bitmaps with the low bytes of the pixel value; true
//   when something was drawn.
// MakeBitmapHeader writes a BI_RGB header of the bitmap's size and depth
//   (biSizeImage with rows padded to 4 bytes, a negative biHeight for a
//   top-down bitmap); MakeBitmapHeaderNoPadding counts unpadded rows.
//   AlignTo4 / AlignTo8 re-lay the rows at that alignment over the same
//   lowest address, keeping the row order.
// BitBltDither, BitBlt565, BitBltXlat1, BitBltXlat3, Histogram,
//   BitBltFromYUY2 and BitBltFromI420 are not supported by this host: their
//   slots hold functions that do nothing. The filter never calls them.
//
// Threading: operations touch only the bitmaps they are given. The stretches
// run through stretch.h, each thread with scratch of its own, and their rows
// through the fastest row kernels the processor runs (row_kernels.h), which
// give the plain loops' bytes.
#pragma once

#include "host/vbitmap.h"

const VBitmapOperations& HostBitmapOperations();

// A bitmap over caller-owned 32-bit pixels with the given row distance,
// carrying HostBitmapOperations().
VBitmap MakeBitmap32(Pixel32* data, int w, int h, long pitch);
