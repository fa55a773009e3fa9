// The seam between the page's server and the runner's own work: composite
// one frame with given settings, render the whole video, and say how far
// the render has got. The server decides what is asked; the work does it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "apps/quillmere/edit/edit_settings.h"
#include "apps/quillmere/picture_shape.h"
#include "apps/quillmere/runner_error.h"

// What the page needs to know of the inputs, learnt when they were opened.
struct EditInputs {
    std::string mainPath;
    PictureShape main;
    AVRational frameRate{25, 1};
    std::int64_t frameCount = 0;  // 0 when the container does not say
    std::optional<PictureShape> overlay;
    std::int64_t overlayFrameCount = 0;
};

// One composited frame, encoded for the page.
struct ComposedPicture {
    std::string png;
    long frame = 0;      // the frame shown
    bool exact = true;   // false: a key frame shown while the frame asked for is decoded
};

struct RenderStatus {
    enum class State { Idle, Running, Done, Failed, Cancelled };
    State state = State::Idle;
    std::int64_t frames = 0;        // composited so far
    std::int64_t totalFrames = 0;   // 0 when unknown
    double elapsedSeconds = 0;
    std::string message;            // the outcome: where the output went, or why it failed
};

// The output exists, and the render was not allowed to replace it.
class OutputExistsError : public RunnerError {
public:
    using RunnerError::RunnerError;
};

class EditWork {
public:
    virtual ~EditWork() = default;

    // Main frame `frame` composited with `settings`. With `keyFrameFirst`,
    // a frame that lies far past its key frame may come back as the key
    // frame's picture (exact false), which shows at once; asking again
    // without it gives the frame itself. Throws RunnerError when the frame
    // cannot be had.
    virtual ComposedPicture Compose(const EditSettings& settings, long frame,
                                    bool keyFrameFirst) = 0;

    // Starts rendering the whole main video with `settings` to the output
    // named at start, in the background. Throws OutputExistsError when the
    // output exists and `replace` is false, RunnerError when a render is
    // already running or cannot start.
    virtual void StartRender(const EditSettings& settings, bool replace) = 0;
    virtual RenderStatus renderStatus() const = 0;
    // Stops a running render; what it wrote is removed.
    virtual void CancelRender() = 0;
};
