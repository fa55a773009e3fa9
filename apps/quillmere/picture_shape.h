// The shape of a file's first video stream as placement and blending need
// it: picture size, sample aspect ratio and whether it carries alpha. Read
// with libavformat's probe, without decoding a frame.
#pragma once

#include <string>

extern "C" {
#include <libavutil/rational.h>
}

struct PictureShape {
    int width = 0;
    int height = 0;
    AVRational sampleAspect{1, 1};  // 1:1 when the file states none
    bool hasAlpha = false;

    // Width over height as the picture is meant to be seen.
    double DisplayAspect() const {
        return static_cast<double>(width) * sampleAspect.num / (height * sampleAspect.den);
    }
};

// Throws RunnerError naming the file when it cannot be probed or holds no
// video with a picture size.
PictureShape ProbePictureShape(const std::string& path);

// The overlay's width over height in the main picture's pixels: what a
// mask must measure for the overlay to keep its look on the main video.
double AspectInMainPixels(const PictureShape& overlay, const PictureShape& main);
