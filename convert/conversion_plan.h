#pragma once

#include <array>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "convert/pixel_layout.h"

// Everything a conversion needs that depends only on the stream: worked out
// once, so that the per-row kernels only load, multiply, add and shift.

// Pixels of one row handled per pass of a kernel; a multiple of every
// chroma subsampling, small enough for the scratch rows to live on the stack.
constexpr int kKernelChunk = 256;

// Linear interpolation of chroma between two neighbouring samples, weights
// in units of 1 / (1 << weightBits).
struct ChromaTap {
    int offset = 0;  // first sample, relative to the sample of the pixel's block
    int weightFirst = 1;
    int weightSecond = 0;
};

// The two chroma rows (clamped to the plane) and their weights for one luma row.
struct ChromaRowTap {
    int rowFirst = 0;
    int rowSecond = 0;
    int weightFirst = 1;
    int weightSecond = 0;
};

// Y'CbCr to 8-bit R'G'B': value = (coefficients . samples + bias) >> shift,
// chroma taken as interpolated (scaled by 1 << (horizontal + vertical weight bits)).
//
// Where the stream allows 16-bit lanes (narrowToRgb), each coefficient is a
// multiple of 1 << its input shift: the SIMD kernels multiply the inputs
// shifted left by that much with the coefficients shifted right, exactly the
// same products.
struct YuvToRgbCoefficients {
    int shift = 0;
    int lumaInputShift = 0, chromaInputShift = 0;
    std::int64_t luma = 0;
    std::int64_t crToRed = 0, cbToGreen = 0, crToGreen = 0, cbToBlue = 0;
    std::int64_t redBias = 0, greenBias = 0, blueBias = 0;
};

// 8-bit R'G'B' to Y'CbCr at the stream's depth. Luma per pixel:
// (lumaFrom . rgb + lumaBias) >> lumaShift. Chroma from the sums of R, G, B
// over a block: (cbFrom . sums + chromaBias) >> chromaShift. Where the
// stream allows 16-bit lanes (narrowToYuv), every coefficient fits one.
struct RgbToYuvCoefficients {
    int lumaShift = 0;
    std::int64_t lumaFromRed = 0, lumaFromGreen = 0, lumaFromBlue = 0, lumaBias = 0;
    int chromaShift = 0;
    std::int64_t cbFromRed = 0, cbFromGreen = 0, cbFromBlue = 0;
    std::int64_t crFromRed = 0, crFromGreen = 0, crFromBlue = 0;
    std::int64_t chromaBias = 0;
};

struct ConversionPlan {
    PixelLayout layout;
    int width = 0, height = 0;
    int chromaWidth = 0, chromaHeight = 0;
    bool fullRange = false;
    int horizontalWeightBits = 0, verticalWeightBits = 0;
    std::array<ChromaTap, 4> horizontalTaps{};  // one per pixel phase inside a block
    std::vector<ChromaRowTap> rowTaps;          // one per luma row
    YuvToRgbCoefficients toRgb;
    RgbToYuvCoefficients toYuv;
    // Full-range component at the stream's depth to 8 bits (alpha, G/B/R);
    // gray luma (range as tagged) to 8 bits; 8 bits to the stream's depth.
    std::vector<std::uint8_t> componentToEightBits;
    std::vector<std::uint8_t> grayToEightBits;
    std::array<std::uint16_t, 256> eightBitsToComponent{};
    // Whether 16-bit lanes (and 32-bit sums) are exact for this depth and
    // subsampling.
    bool narrowToRgb = true;
    bool narrowToYuv = true;
};

// Throws std::invalid_argument for a format or matrix not handled here.
ConversionPlan BuildConversionPlan(AVPixelFormat format, AVColorSpace colorspace,
                                   AVColorRange range, AVChromaLocation location,
                                   int frameWidth, int frameHeight);
