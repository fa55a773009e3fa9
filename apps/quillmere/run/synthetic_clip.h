// Clips made up in the process, for the demo and the tests: moving colour
// patterns with the frame number drawn in large digits, so that every frame
// of a composite shows which main and which overlay frame went into it.
#pragma once

#include <cstdint>

#include "apps/quillmere/pipeline/frame_stream.h"
#include "apps/quillmere/base/picture.h"

enum class ClipPattern {
    Landscape,  // soft diagonal bands drifting right, a bouncing disc
    Checker,    // a scrolling checkerboard in strong colours
};

class SyntheticClip : public FrameSource {
public:
    SyntheticClip(int width, int height, std::int64_t frameCount, AVRational frameRate,
                  ClipPattern pattern);
    // Frames in the filter's own pixels (blue, green, red, an unused byte),
    // timed at the clip's rate from 0.
    const VideoFormat& format() const override { return format_; }
    std::int64_t frameCountHint() const override { return frameCount_; }
    bool Next(AVFrame& frame, long& number) override;

    // Draws frame `frameNumber` into `picture`.
    void Draw(long frameNumber, Picture& picture) const;

private:
    int width_;
    int height_;
    std::int64_t frameCount_;
    ClipPattern pattern_;
    VideoFormat format_;
    Picture picture_;
    long next_ = 0;
};

// Draws `number` in blocky digits with its top-left corner at (x, y).
void DrawNumber(Picture& picture, long number, int x, int y, int scale, std::uint32_t color);
