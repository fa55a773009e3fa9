// Runs the filter over the main video's frames in a pipeline of three
// threads (decode and convert, filter, encode) joined by bounded queues, so
// that decoding and encoding overlap the compositing.
//
// The filter thread makes the processing pass itself: the start procedure
// seeds the filter's per-thread random generator, so it and every run
// procedure call must share a thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "apps/quillmere/pipeline/fade_ramp.h"
#include "apps/quillmere/pipeline/frame_stream.h"
#include "hostkit/processing_driver.h"

class Progress;

struct CompositeJob {
    FrameSource* source = nullptr;
    FilterInstance* instance = nullptr;
    std::vector<FrameSink*> sinks;  // none: composite and discard
    long firstFrame = 0;            // earlier frames are decoded and passed over
    long lastFrame = -1;            // the last frame to composite; -1: to the end
    Progress* progress = nullptr;   // null: no progress display
    // The source's streams whose packets go to the sinks unchanged.
    std::vector<const AVStream*> carriedStreams;
    // The bitmap operations of the output frame (null: the host's plain ones).
    const VBitmapOperations* outputOperations = nullptr;
    FadeRamp fade;  // the overlay's fades (none by default)
    // Runs on the filter's thread once the pass has started, before the
    // first frame: sets the filter's random generator (--seed, a segment's
    // start). Null: the generator stays as the start procedure seeded it.
    std::function<void(FilterInstance&)> afterStart;
};

// Returns the number of frames composited. Throws the first error of any
// stage (RunnerError "interrupted" after SIGINT/SIGTERM); the sinks are then
// not finished.
std::int64_t RunComposite(const CompositeJob& job);
