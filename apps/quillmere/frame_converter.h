// Picture conversion between the decoder's, the filter's and the encoder's
// pixel formats (libswscale), at one fixed output size.
#pragma once

#include <cstdint>
#include <vector>

#include "apps/quillmere/ffmpeg_handles.h"

class FrameConverter {
public:
    FrameConverter(int width, int height, AVPixelFormat outputFormat);

    // Converts a decoded frame (any size and format) into the packed output
    // rows planes[0], strides[0] bytes apart; a negative stride writes the
    // rows bottom-up. Nothing outside the rows' pixels is written.
    void Convert(const AVFrame& input, std::uint8_t* const planes[], const int strides[]);
    // Converts one packed picture of the output size (e.g. the filter's BGRA)
    // into `output`, whose format and size must match the converter's.
    void ConvertPacked(const std::uint8_t* pixels, int stride, AVPixelFormat format,
                       AVFrame& output);

private:
    SwsContext* ContextFor(int width, int height, AVPixelFormat inputFormat,
                           AVPixelFormat outputFormat);
    // Scales `input` into packed rows `stride` bytes apart.
    void ScaleIntoPackedRows(SwsContext* context, const AVFrame& input, std::uint8_t* rows,
                             int stride);

    int width_;
    int height_;
    AVPixelFormat outputFormat_;
    ScaleContextPtr context_;
    std::vector<std::uint8_t> scratch_;  // rows at a stride libswscale can fill
};

// The filter's pixel layout: 32-bit words, blue in the low byte.
constexpr AVPixelFormat kFilterPixelFormat = AV_PIX_FMT_BGRA;
