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

// Sample aspect ratios further from square than this are taken as square:
// no picture is meant to be seen a hundred times wider or narrower.
constexpr int kLargestSampleAspect = 100;
// Terms of sample aspect ratios are kept within this (the ratio as near as
// such terms come), so that products of a few of them and picture sizes
// fit 64 bits.
constexpr int kLargestAspectTerm = 65535;

struct PictureShape {
    int width = 0;
    int height = 0;
    // 1:1 when the file states none or one beyond kLargestSampleAspect;
    // terms within kLargestAspectTerm.
    AVRational sampleAspect{1, 1};
    bool hasAlpha = false;
    DisplayTurn display;  // as stored: the display matrix not yet applied
    // The ratio the file states when it was beyond kLargestSampleAspect
    // (taken as square); 0/1 otherwise.
    AVRational absurdAspect{0, 1};
    // The colours as the stream states them (unspecified when it does not).
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;

    // The shape once the picture is turned by `turn`.
    PictureShape TurnedBy(const Orientation& turn) const;
    // Width over height as the picture is meant to be seen.
    double DisplayAspect() const {
        return static_cast<double>(width) * sampleAspect.num /
               (static_cast<double>(height) * sampleAspect.den);
    }
};

// What a run says of a picture whose stated sample aspect ratio was taken
// as square ("" for any other); `what` names it ("the overlay").
std::string AbsurdAspectNote(const PictureShape& shape, const std::string& what);

// A stated sample aspect ratio as PictureShape keeps it: reduced, with
// terms within kLargestAspectTerm; 1:1 for none (a term not above 0) and
// for one beyond kLargestSampleAspect, which `absurd` then receives.
AVRational SaneSampleAspect(AVRational stated, AVRational* absurd);

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
