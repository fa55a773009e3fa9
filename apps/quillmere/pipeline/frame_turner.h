// Turns the main video's frames upright, as players show them, in their own
// pixel format: every sample is moved, none is computed, so the picture
// outside the overlay's area stays exactly what was decoded, only turned.
//
// Subsampled chroma turns with the picture. A quarter turn of chroma halved
// across gives chroma halved down: 4:2:2 becomes 4:4:0, the same samples.
// Where no such layout exists here (4:1:1, 4:2:2 with alpha, some depths)
// the frames are converted to 4:4:4 first. The chroma location is turned as
// well; where the turned samples sit somewhere no tag can say (a left-sited
// block mirrored to its right), they are kept and given the nearest tag.
// Each such change is said once, in notes().
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/frame_converter.h"
#include "apps/quillmere/media/orientation.h"
#include "apps/quillmere/media/video_format.h"

class FrameTurner {
public:
    // For frames of `stored`, in a pixel format the pipeline carries.
    FrameTurner(const VideoFormat& stored, const Orientation& turn);
    FrameTurner(const FrameTurner&) = delete;
    FrameTurner& operator=(const FrameTurner&) = delete;

    // What the turned frames are.
    const VideoFormat& format() const { return upright_; }
    // What the turn changes besides the orientation, one line each.
    const std::vector<std::string>& notes() const { return notes_; }

    // Replaces `frame`'s picture with the turned one; its other properties
    // stay, but for the size, the sample aspect ratio and the chroma
    // location, which turn with it, and a display matrix, which no longer
    // applies.
    void Turn(AVFrame& frame);

private:
    // Gives `turned_` a buffer of the turned size from the pool.
    void TakeBuffer();

    Orientation turn_;
    VideoFormat upright_;
    AVPixelFormat turnedLayout_ = AV_PIX_FMT_NONE;  // what is turned: the stored layout or 4:4:4
    bool widen_ = false;
    FrameConverter widener_;
    FramePtr widened_;
    // Turned frames go on down the pipeline; their buffers come back to the
    // pool once nothing holds them, so a run takes only as many as it has
    // frames in flight.
    std::unique_ptr<AVBufferPool, void (*)(AVBufferPool*)> pool_{nullptr, nullptr};
    int bufferBytes_ = 0;
    FramePtr turned_;
    std::vector<std::string> notes_;
};
