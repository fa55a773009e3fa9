// Whole-picture conversion with libswscale, for the few conversions the
// pipeline's own converter does not make: pixel formats it does not carry,
// a size that changes midway, an encoder that cannot take the main's
// format. The picture's own matrix and range are used, with accurate
// rounding; the converter is kept between frames.
#pragma once

#include "apps/quillmere/media/ffmpeg_handles.h"

class FrameConverter {
public:
    // Converts `input` into `output`, giving it `format` and the size
    // `width` x `height` and keeping its colour description. `output`'s
    // buffers are reused when they fit and nothing else holds them.
    void Convert(const AVFrame& input, AVPixelFormat format, int width, int height,
                 AVFrame& output);

private:
    ScaleContextPtr context_;
};

// The filter's pixel layout: 32-bit words, blue in the low byte.
constexpr AVPixelFormat kFilterPixelFormat = AV_PIX_FMT_BGRA;

// The matrix a picture's YUV samples were made with: its own tag, else what
// players assume (BT.709 from 720 lines up, BT.601 below).
AVColorSpace MatrixOf(AVColorSpace tagged, int height);
// Decoders still hand out the deprecated full-range YUV formats ("J"); the
// plain format of the same layout, whose range is stated separately.
AVPixelFormat PlainFormat(AVPixelFormat format);
// Full range for the full-range ("J") formats and tagged pictures.
bool FullRangeOf(AVPixelFormat format, AVColorRange tagged);
