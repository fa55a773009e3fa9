// The seam between the page's server and the runner's own work: composite
// one frame of a planned job into a picture, render the whole video, and
// say how far the render has got. The session decides what is asked; the
// work does it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "apps/quillmere/plan/request.h"
#include "apps/quillmere/plan/job.h"
#include "apps/quillmere/runner_error.h"
#include "convert/picture_rect.h"

// One composited frame, encoded for the page: the whole picture, or the
// part of it that differs from a picture the page already shows.
struct ComposedPicture {
    std::string png;
    // Instead of `png`: a playback picture, scaled down, as JPEG.
    std::string jpeg;
    long frame = 0;     // the frame shown
    bool exact = true;  // false: a key frame shown while the frame asked for is decoded
    long id = 0;        // names the picture, for a later request's `over`
    // Set: `png` holds only this rectangle of the picture, to be laid over
    // the picture that the request named (empty: nothing differs).
    std::optional<PictureRect> tile;
};

struct RenderStatus {
    enum class State { Idle, Running, Done, Failed, Cancelled };
    State state = State::Idle;
    std::int64_t frames = 0;  // composited so far
    double fps = 0;           // as the renderer measures them
    double speed = 0;         // video seconds per second
    std::string message;      // the outcome: what was written, or why it failed
};

// The output exists, and the render was not allowed to replace it.
class OutputExistsError : public RunnerError {
public:
    using RunnerError::RunnerError;
};

class EditWork {
public:
    virtual ~EditWork() = default;

    // Frame `job.window.first` composited as `job` says, as PNG. With
    // `keyFrameFirst`, a frame that lies far past its key frame may come
    // back as the key frame's picture (exact false), which shows at once;
    // asking again without it gives the frame itself. `over` (0: none)
    // names a picture made before that the asker shows: when the work still
    // has it, only what differs from it may come back. Throws RunnerError
    // when the frame cannot be had.
    virtual ComposedPicture Compose(const RenderJob& job, bool keyFrameFirst, long over) = 0;
    // Frame `job.window.first` composited as `job` says, scaled to `width`
    // pixels across (never beyond the frame's own width) for playback, as
    // JPEG. Throws RunnerError when the frame cannot be had.
    virtual ComposedPicture Preview(const RenderJob& job, int width) = 0;

    // Starts rendering as `render` (a render command line) says, in the
    // background. Throws OutputExistsError when the output exists and
    // `replace` is false, RunnerError when a render is already running or
    // cannot start.
    virtual void StartRender(const CommandLine& render, bool replace) = 0;
    virtual RenderStatus renderStatus() const = 0;
    // Stops a running render; what it wrote is removed.
    virtual void CancelRender() = 0;
};
