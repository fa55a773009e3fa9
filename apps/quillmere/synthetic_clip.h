// Clips made up in the process, for the demo and the tests: moving colour
// patterns with the frame number drawn in large digits, so that every frame
// of a composite shows which main and which overlay frame went into it.
#pragma once

#include <cstdint>

#include "apps/quillmere/frame_stream.h"

enum class ClipPattern {
    Landscape,  // soft diagonal bands drifting right, a bouncing disc
    Checker,    // a scrolling checkerboard in strong colours
};

class SyntheticClip : public FrameSource {
public:
    SyntheticClip(int width, int height, std::int64_t frameCount, AVRational frameRate,
                  ClipPattern pattern);
    int width() const override { return width_; }
    int height() const override { return height_; }
    AVRational frameRate() const override { return frameRate_; }
    std::int64_t frameCountHint() const override { return frameCount_; }
    bool Next(Picture* picture) override;

    // Draws frame `frameNumber` into `picture`.
    void Draw(long frameNumber, Picture& picture) const;

private:
    int width_;
    int height_;
    std::int64_t frameCount_;
    AVRational frameRate_;
    ClipPattern pattern_;
    long next_ = 0;
};

// Draws `number` in blocky digits with its top-left corner at (x, y).
void DrawNumber(Picture& picture, long number, int x, int y, int scale, std::uint32_t color);
