// Which overlay frame a main frame shows, and how long the overlay lasts,
// counted in main frames: the filter counts overlay frames in main-frame
// units, and this maps them to the overlay's own pictures.
//
// By time, main frame n stands for the moment n / (main rate) after the
// overlay's first frame and shows the overlay frame nearest that moment
// (a tie goes to the later frame), so every main frame shows a picture
// within half an overlay frame of its own time, whatever the two rates. A
// single picture is a still: it is shown at every frame, without end.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/rational.h>
}

class OverlayTimeline {
public:
    // Frame for frame, as the plug-in counts: main frame n shows overlay
    // frame n (of `length`).
    static OverlayTimeline FrameForFrame(long length);
    // One picture shown at every frame.
    static OverlayTimeline Still();
    // By time, from the overlay's presentation times (ascending, in
    // `timeBase` units), how long its last frame is shown (0: unknown, the
    // mean frame spacing is taken) and the main video's frame rate. A single
    // frame makes a still.
    static OverlayTimeline ByTime(std::vector<std::int64_t> frameTimes, AVRational timeBase,
                                  std::int64_t lastFrameDuration, AVRational mainRate);

    // The overlay in main frames (kStillLength for a still).
    long length() const { return length_; }
    bool isStill() const { return still_; }
    // The overlay frame main-rate frame `mainFrame` shows; -1 outside 0..length-1.
    long OverlayFrameFor(long mainFrame) const;

    // A still's length: no frame count of the main video reaches it.
    static constexpr long kStillLength = INT32_MAX;

private:
    OverlayTimeline() = default;

    long length_ = 0;
    bool still_ = false;
    bool byTime_ = false;
    std::vector<std::int64_t> frameTimes_;
    AVRational timeBase_{1, 1};
    AVRational mainFrameDuration_{1, 25};
};
