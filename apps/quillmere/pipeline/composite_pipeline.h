// Runs the filter over the main video's frames in a pipeline of threads
// (decode and convert, filter, encode) joined by queues, so that decoding
// and encoding overlap the compositing.
//
// The filter stage runs on one thread, or on several that each filter a
// frame of their own. The frames are independent but for what the filter
// carries from one to the next: the random generator of the shadow styles
// and the overlay reader, which decodes in order. So each frame is first
// rehearsed, in frame order and one at a time, on a bitmap of one pixel:
// that fetches its overlay frames and gives the generator's state at its
// start; the frame is then filtered with that state and those frames, and
// the frames go out in order. The pictures are those of one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "apps/quillmere/pipeline/fade_ramp.h"
#include "apps/quillmere/pipeline/frame_stream.h"
#include "apps/quillmere/pipeline/mask_motion.h"
#include "hostkit/processing_driver.h"

// Told the number of frames composited so far, now and then on the calling
// thread, and once more with `finished` after the last.
using ProgressReport = std::function<void(std::int64_t done, bool finished)>;

struct CompositeJob {
    FrameSource* source = nullptr;
    FilterInstance* instance = nullptr;
    std::vector<FrameSink*> sinks;  // none: composite and discard
    long firstFrame = 0;            // earlier frames are decoded and passed over
    long lastFrame = -1;            // the last frame to composite; -1: to the end
    ProgressReport progress;        // empty: nobody is told
    // The source's streams whose packets go to the sinks unchanged.
    std::vector<const AVStream*> carriedStreams;
    // The bitmap operations of the output frame (null: the host's plain
    // ones), and whether they copy the overlay opaque as the plain ones do.
    const VBitmapOperations* outputOperations = nullptr;
    bool outputOperationsCopy = false;
    // They lay the overlay below full opacity: over the video under it
    // (AreaCompositor::Start).
    bool overlayOverVideo = false;
    FadeRamp fade;  // the overlay's fades (none by default)
    MaskMotion motion;  // a moving mask's keys (none: the mask in the record holds)
    int cornerRadius = 0;  // the overlay's rounded corners; 0: square
    // Runs once the pass has started, before the first frame, on the thread
    // whose random generator the filter threads take on: sets it (--seed, a
    // segment's start). Null: it stays as the start procedure seeded it.
    std::function<void(FilterInstance&)> afterStart;
    // Frames filtered at once: 0, one per core. Several only where the
    // filter's overlay fetches can be shared (OverlayFetchesShareable).
    int filterThreads = 0;
};

// The filter threads a job gets.
int FilterThreadsFor(const CompositeJob& job);

// Returns the number of frames composited. Throws the first error of any
// stage (RunnerError "interrupted" after SIGINT/SIGTERM); the sinks are then
// not finished.
std::int64_t RunComposite(const CompositeJob& job);
