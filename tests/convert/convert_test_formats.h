// The formats the converter's tests run through, and the colour arithmetic
// of the standards written out independently of the converter.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

// Every planar Y'CbCr layout and depth the converter takes.
const std::vector<AVPixelFormat>& YuvFormats();
const std::vector<AVPixelFormat>& GrayFormats();
const std::vector<AVPixelFormat>& GbrFormats();
const std::vector<AVPixelFormat>& PackedRgbFormats();
// All of the above.
std::vector<AVPixelFormat> AllHandledFormats();

bool NamedAsJpegFormat(AVPixelFormat format);
int DepthOf(AVPixelFormat format);
int ChromaShiftX(AVPixelFormat format);
int ChromaShiftY(AVPixelFormat format);
bool HasAlpha(AVPixelFormat format);

struct MatrixUnderTest {
    AVColorSpace colorspace;
    const char* name;
    double kr, kb;
};
// BT.601 (both tags and FCC), BT.709, BT.2020 (both), SMPTE 240M with the
// luma weights from the standards.
const std::vector<MatrixUnderTest>& MatricesUnderTest();

// Offsets and scales of the code values of Y and of Cb/Cr at `depth`.
struct CodeRange {
    double lumaOffset, lumaScale, chromaOffset, chromaScale;
};
CodeRange CodeRangeFor(int depth, bool fullRange);

struct YuvValue {
    double y, cb, cr;
};
struct RgbValue {
    double r, g, b;  // 8-bit scale
};
// R'G'B' (0..255) to Y'CbCr code values, unrounded.
YuvValue RgbToYuv(RgbValue rgb, const MatrixUnderTest& matrix, const CodeRange& range);
// Y'CbCr code values to R'G'B' (0..255), unrounded and unclamped.
RgbValue YuvToRgb(YuvValue yuv, const MatrixUnderTest& matrix, const CodeRange& range);
