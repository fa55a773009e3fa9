// The host's bitmap object and its table of operations.
//
// Pixel format: the host hands the filter 32-bit pixels, blue in bits 0-7,
// green 8-15, red 16-23; the top byte is carried along by copies.
// Storage: rows are bottom-up. Picture row y (counted from the top) starts at
// data + (h - 1 - y) * pitch bytes. A bitmap built over a top-down frame
// carries a negative pitch, so the same formula holds.
// Ownership: `data` and `palette` belong to whoever made the bitmap; an
// operation never frees or keeps them.
// Threading: operations touch only the bitmaps they are given; the host may
// call them from any of its threads.
//
// The table is a block of plain function pointers in the host's slot order.
// Every slot takes the object first and, in the 32-bit Windows build, uses
// the host compiler's thiscall convention. A g++ class with virtual functions
// would order the two `init` overloads the other way, so none is used here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/win_types.h"

struct VBitmap;
struct VBitmapOperations;

using Pixel32 = std::uint32_t;

struct VBitmap {
    const VBitmapOperations* operations;  // the host's table (InitVTables)
    Pixel32* data;
    Pixel32* palette;  // colour table of palettised bitmaps, else null
    int depth;         // bits per pixel
    int w;
    int h;
    long pitch;   // bytes from one stored row to the next
    long modulo;  // pitch minus the bytes of one row's pixels
    long size;
    long offset;
};

struct VFBitmap {
    VBitmap bitmap;
    DWORD dwFlags;
    HDC hdc;
};

// Slot order as the host's compiler lays the table out. Only the slots the
// module calls carry their full signature; the others are never called and
// keep their place only.
struct VBitmapOperations {
    using InitFromHeader = VBitmap* (HOST_THISCALL*)(VBitmap* self, void* data,
                                                     BITMAPINFOHEADER* header);
    using InitFromSize = VBitmap* (HOST_THISCALL*)(VBitmap* self, void* data, long w,
                                                   long h, int depth);
    using MakeHeader = void (HOST_THISCALL*)(const VBitmap* self, BITMAPINFOHEADER* header);
    using Align = void (HOST_THISCALL*)(VBitmap* self);
    using Blit = void (HOST_THISCALL*)(const VBitmap* self, long x2, long y2,
                                       const VBitmap* source, long x1, long y1, long dx,
                                       long dy);
    using Stretch = bool (HOST_THISCALL*)(const VBitmap* self, long x1, long y1, long dx,
                                          long dy, const VBitmap* source, double x2,
                                          double y2, double dx1, double dy1);
    using Fill = bool (HOST_THISCALL*)(const VBitmap* self, long x1, long y1, long dx,
                                       long dy, std::uint32_t pixel);
    using Unused = void (HOST_THISCALL*)(const VBitmap* self);

    InitFromHeader initFromHeader;  // 0
    InitFromSize initFromSize;      // 1
    MakeHeader MakeBitmapHeader;    // 2
    Align AlignTo4;                 // 3
    Align AlignTo8;                 // 4
    Blit BitBlt;                    // 5
    Unused BitBltDither;            // 6
    Unused BitBlt565;               // 7
    Unused BitBltXlat1;             // 8
    Unused BitBltXlat3;             // 9
    Stretch StretchBltNearestFast;  // 10
    Stretch StretchBltBilinearFast; // 11
    Fill RectFill;                  // 12
    Unused Histogram;               // 13
    Unused BitBltFromYUY2;          // 14
    Unused BitBltFromI420;          // 15
    MakeHeader MakeBitmapHeaderNoPadding;  // 16
};

constexpr int kVBitmapOperationSlots = 17;
static_assert(sizeof(VBitmapOperations) == kVBitmapOperationSlots * sizeof(void*),
              "the operation table is a block of pointers, one per slot");

// What InitVTables fills: one pointer to the bitmap operation table.
struct FilterVTbls {
    const VBitmapOperations* pvtblVBitmap;
};

#ifdef _WIN32
static_assert(sizeof(VBitmap) == 40, "VBitmap is 40 bytes");
static_assert(sizeof(VFBitmap) == 48, "VFBitmap is 48 bytes");
static_assert(offsetof(VBitmap, data) == 4, "VBitmap::data");
static_assert(offsetof(VBitmap, palette) == 8, "VBitmap::palette");
static_assert(offsetof(VBitmap, depth) == 12, "VBitmap::depth");
static_assert(offsetof(VBitmap, w) == 16, "VBitmap::w");
static_assert(offsetof(VBitmap, h) == 20, "VBitmap::h");
static_assert(offsetof(VBitmap, pitch) == 24, "VBitmap::pitch");
static_assert(offsetof(VBitmap, modulo) == 28, "VBitmap::modulo");
static_assert(offsetof(VBitmap, size) == 32, "VBitmap::size");
static_assert(offsetof(VBitmap, offset) == 36, "VBitmap::offset");
static_assert(offsetof(VFBitmap, dwFlags) == 40, "VFBitmap::dwFlags");
static_assert(offsetof(VFBitmap, hdc) == 44, "VFBitmap::hdc");
static_assert(offsetof(VBitmapOperations, BitBlt) == 20, "BitBlt is slot 5");
static_assert(offsetof(VBitmapOperations, StretchBltNearestFast) == 40, "slot 10");
static_assert(offsetof(VBitmapOperations, StretchBltBilinearFast) == 44, "slot 11");
static_assert(offsetof(VBitmapOperations, RectFill) == 48, "slot 12");
static_assert(offsetof(VBitmapOperations, MakeBitmapHeaderNoPadding) == 64, "slot 16");
#endif

// Address of picture row y (counted from the top) of a bitmap.
inline Pixel32* PictureRow(const VBitmap& bitmap, long y) {
    return reinterpret_cast<Pixel32*>(reinterpret_cast<char*>(bitmap.data) +
                                      (static_cast<long>(bitmap.h) - 1 - y) * bitmap.pitch);
}
