#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include "convert/conversion_kernels.h"
#include "convert/conversion_plan.h"
#include "convert/picture_rect.h"

// Converts rectangles of decoded pictures to the filter's 32-bit BGRA and
// back, with the stream's own matrix, range and chroma siting, accurate
// rounding, and nothing outside the rectangle touched.
//
// Built once per stream; the conversions allocate nothing and keep no state,
// so one converter may serve several threads at once.
class PictureConverter {
public:
    // True when this converter handles `format` (others: the caller falls
    // back to swscale).
    static bool Handles(AVPixelFormat format);
    // True when the matrix of `colorspace` is known (unspecified counts).
    static bool HandlesColorspace(AVColorSpace colorspace);

    // `colorspace`/`range`/`location` as the frame states them. Unspecified
    // ones are taken as players take them: matrix BT.709 from 720 lines up,
    // BT.601 below; YUV limited range except the yuvj* formats; gray limited
    // unless tagged full; R'G'B' always full; chroma sited left unless tagged
    // (yuvj*: centre). Throws std::invalid_argument for a format or matrix it
    // does not handle, or a size that is not positive.
    PictureConverter(AVPixelFormat format, AVColorSpace colorspace, AVColorRange range,
                     AVChromaLocation location, int frameWidth, int frameHeight);

    // `rect` clipped to the frame and widened outward to the chroma grid
    // (multiples of the subsampling, or the frame's edge).
    PictureRect AlignToChromaGrid(PictureRect rect) const;
    // The largest rect on the chroma grid inside `rect` clipped to the frame
    // (empty when none is left): every chroma sample it writes back is made
    // from pixels of `rect` alone.
    PictureRect ShrinkToChromaGrid(PictureRect rect) const;

    // Converts `rect` (inside the frame) of the picture (planes and
    // linesizes as in AVFrame, top row first) to 32-bit pixels: byte 0 blue,
    // 1 green, 2 red, 3 the picture's alpha scaled to 8 bits, or 255. `out`
    // points at the rect's top row, rows `outStride` bytes apart (negative
    // for bottom-up storage). Chroma interpolation reads the samples around
    // the rect too, so the result equals the same rect cut out of the whole
    // frame's conversion. Throws std::out_of_range for a rect outside the frame.
    void ToBgra(const std::uint8_t* const planes[4], const int linesizes[4], PictureRect rect,
                std::uint8_t* out, std::ptrdiff_t outStride) const;

    // Writes `rect` (on the chroma grid) back into the planes from 32-bit
    // pixels (`pixels` at the rect's top row). With `original` (what ToBgra
    // made for the same rect) a sample is written only if a pixel it is made
    // from differs from `original` in blue, green or red: luma/G/B/R for its
    // own pixel, chroma for its block; unchanged pixels keep their decoded
    // samples exactly. Chroma is the box average of its block (a block cut
    // by the frame's edge repeats its last pixel row or column). The alpha
    // plane and byte 3 are never written. Throws std::out_of_range for a
    // rect outside the frame, std::invalid_argument for one off the grid.
    void FromBgra(const std::uint8_t* pixels, std::ptrdiff_t stride, const std::uint8_t* original,
                  std::ptrdiff_t originalStride, PictureRect rect, std::uint8_t* const planes[4],
                  const int linesizes[4]) const;

    AVPixelFormat format() const { return format_; }
    int frameWidth() const { return plan_.width; }
    int frameHeight() const { return plan_.height; }
    // Whether the picture's YUV or gray samples are full range (R'G'B': always).
    bool fullRange() const { return plan_.fullRange; }

private:
    void CheckInside(PictureRect rect) const;

    AVPixelFormat format_;
    ConversionPlan plan_;
    ToBgraKernel toBgra_ = nullptr;
    FromBgraKernel fromBgra_ = nullptr;
};
