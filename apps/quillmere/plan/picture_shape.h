// The shape of a file's video stream as placement and blending need
// it: picture size, sample aspect ratio, whether it carries alpha and how
// its display matrix turns it. Read with libavformat's probe, without
// decoding a frame.
#pragma once

#include <string>

#include "apps/quillmere/media/orientation.h"
#include "source/ffmpeg_video_stream.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/rational.h>
}

struct PictureShape {
    int width = 0;
    int height = 0;
    AVRational sampleAspect{1, 1};  // 1:1 when the file states none
    bool hasAlpha = false;
    DisplayTurn display;  // as stored: the display matrix not yet applied

    // The shape once the picture is turned by `turn`.
    PictureShape TurnedBy(const Orientation& turn) const;
    // Width over height as the picture is meant to be seen.
    double DisplayAspect() const {
        return static_cast<double>(width) * sampleAspect.num / (height * sampleAspect.den);
    }
};

// The shape of video stream `stream` (counted from 0 among the video
// streams; kDefaultVideoStream: the one marked default, else the first), as
// the overlay source and the reader choose it. Throws RunnerError naming
// the file when it cannot be probed or holds no such stream with a picture
// size.
PictureShape ProbePictureShape(const std::string& path, long stream = kDefaultVideoStream);
// The shape of a stream of a file already opened and probed.
PictureShape ShapeOfStream(const AVFormatContext& container, const AVStream& stream,
                           const std::string& path);

// The overlay's width over height in the main picture's pixels: what a
// mask must measure for the overlay to keep its look on the main video.
double AspectInMainPixels(const PictureShape& overlay, const PictureShape& main);
