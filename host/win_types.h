// Windows types that cross the boundary between the host and the module.
//
// In the 32-bit Windows build these come from <windows.h> itself. Native
// builds have no Windows headers, so the handful of types that the host's
// records and our seams mention are declared here with the same meaning:
// handles are opaque pointers, COLORREF is red in the low byte, and
// BITMAPINFOHEADER has the platform's 40-byte layout.
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// Member functions of the host's objects use the host compiler's thiscall.
#define HOST_THISCALL __attribute__((thiscall))
#define HOST_CDECL __cdecl

#else  // native builds

#define HOST_THISCALL
#define HOST_CDECL

struct HWND__;
struct HDC__;
struct HINSTANCE__;
using HWND = HWND__*;
using HDC = HDC__*;
using HINSTANCE = HINSTANCE__*;
using COLORREF = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

// The platform's device-independent bitmap header (40 bytes).
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;  // positive: rows stored bottom-up; negative: top-down
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

#endif  // _WIN32
