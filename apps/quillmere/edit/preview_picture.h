// A composited frame made small for playback on the page: scaled to a
// width with libswscale and encoded as JPEG, which the page draws far
// sooner than a full-size PNG. The picture is a preview only; the page's
// still picture stays the exact PNG.
#pragma once

#include <cstdint>
#include <string>

#include "apps/quillmere/media/ffmpeg_handles.h"

// The JPEG encoder's quantiser (2 best, 31 worst): sharp enough to judge
// the overlay's motion, and small enough to keep up.
constexpr int kPreviewJpegQuality = 4;

class ScaledJpegEncoder {
public:
    // `frame` scaled to `width` pixels across (the height keeping its
    // aspect, rounded) and encoded as JPEG. A width beyond the frame's
    // keeps the frame's size. Throws RunnerError.
    std::string Encode(const AVFrame& frame, int width);

private:
    ScaleContextPtr scaler_;  // the frame to the filter's pixels, scaled
    ScaleContextPtr toJpeg_;  // those to JPEG's YUV
    CodecContextPtr encoder_;
    FramePtr pixels_;  // the scaled picture in the filter's pixels
    FramePtr scaled_;  // the same in JPEG's YUV
    PacketPtr packet_;
    std::int64_t nextTime_ = 0;
};

// The height that keeps a `width` x `height` picture's aspect at `scaledWidth`.
int ScaledHeight(int width, int height, int scaledWidth);
