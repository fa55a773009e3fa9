#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

// How the samples of a handled pixel format lie in memory.
enum class LayoutFamily {
    PlanarYuv,  // Y, Cb, Cr planes (+ alpha plane), subsampled chroma
    Gray,       // one luma component, optionally interleaved with alpha (ya8)
    PlanarGbr,  // G, B, R planes (+ alpha plane)
    PackedRgb,  // 8-bit R, G, B (and maybe A) bytes interleaved in plane 0
};

struct PixelLayout {
    LayoutFamily family = LayoutFamily::PlanarYuv;
    int depth = 8;                  // bits per component
    int bytesPerSample = 1;         // 1 or 2 (little-endian)
    int chromaShiftX = 0;           // log2 of the horizontal chroma subsampling
    int chromaShiftY = 0;           // log2 of the vertical chroma subsampling
    bool fullRangeAlias = false;    // the yuvj* formats
    bool hasAlpha = false;
    // Gray: elements from one luma sample to the next; alpha follows luma
    // by one element when interleaved.
    int lumaStep = 1;
    // Packed RGB: bytes per pixel and the byte of each component; -1 for
    // no alpha.
    int pixelBytes = 0;
    int redByte = 0, greenByte = 0, blueByte = 0, alphaByte = -1;
};

// True for JPEG's full-range yuvj* formats, whatever the converter handles.
bool IsFullRangeAlias(AVPixelFormat format);

// True when the picture converter handles `format`.
bool IsHandledFormat(AVPixelFormat format);

// The layout of a handled format; throws std::invalid_argument otherwise.
PixelLayout LayoutOf(AVPixelFormat format);
