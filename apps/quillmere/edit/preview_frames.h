// The main video's frames for the page, reached by number: decoded on from
// the frame last shown when the one asked for lies a little ahead, else by
// a jump to the key frame before it and decoding on from there, as the
// frame command reaches its frame.
#pragma once

#include <memory>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/pipeline/frame_stream.h"

// How far ahead decoding on beats a jump, and how far past its key frame a
// frame lies before the key frame is shown first: two seconds of video.
constexpr double kDecodeAheadSeconds = 2.0;

class PreviewFrames {
public:
    explicit PreviewFrames(std::unique_ptr<FileFrameSource> source);

    struct Found {
        const AVFrame* frame = nullptr;  // valid until the next Find
        long number = 0;
        bool exact = true;  // false: the key frame before the one asked for
    };
    // Frame `number`; with `keyFrameFirst`, the key frame before it when the
    // frame lies more than kDecodeAheadSeconds past it. Throws RunnerError
    // when the main has no such frame.
    Found Find(long number, bool keyFrameFirst);

    const VideoFormat& format() const { return source_->format(); }

private:
    bool DecodeNext();

    std::unique_ptr<FileFrameSource> source_;
    long reach_;            // kDecodeAheadSeconds in frames
    FramePtr current_;      // the frame last decoded
    long currentNumber_ = -1;
    long lastJumpTarget_ = -1;  // the frame the last jump was for
    bool exhausted_ = false;    // decoded to the end: only a jump goes on
    FramePtr spare_;
};
