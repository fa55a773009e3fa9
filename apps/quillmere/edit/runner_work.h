// The runner's own work behind the page: pictures composited in this
// process by the filter, as the frame command composites its frame, and
// renders run as quillmere render processes.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "apps/quillmere/edit/edit_work.h"
#include "apps/quillmere/edit/preview_frames.h"
#include "apps/quillmere/edit/preview_picture.h"
#include "apps/quillmere/edit/render_process.h"
#include "apps/quillmere/overlay/configured_filter.h"
#include "apps/quillmere/base/picture.h"

class RunnerEditWork : public EditWork {
public:
    // `main`: the main video, opened and probed; its frames are decoded
    // (and turned, as the first job says) from the first picture on.
    // `program`: the quillmere executable that renders.
    RunnerEditWork(std::unique_ptr<VideoReader> main, NoticeHandler notices,
                   std::string program);
    ~RunnerEditWork() override;

    ComposedPicture Compose(const RenderJob& job, bool keyFrameFirst, long over) override;
    ComposedPicture Preview(const RenderJob& job, int width) override;
    void StartRender(const CommandLine& render, bool replace) override;
    RenderStatus renderStatus() const override;
    void CancelRender() override;

    // The overlay's length in frames as the filter counts it, once a picture
    // has been composited with it; 0 before or without an overlay.
    long overlayLength() const;

private:
    // The filter for `overlay`, kept as long as the overlay and the way its
    // frames are adapted stay the same.
    ConfiguredFilter& FilterFor(const RenderJob& job);
    // The main's frames, opened with the first job.
    PreviewFrames& FramesFor(const RenderJob& job);
    // Composites `frame` (a reference of the caller's own; a frame others
    // hold is copied, not written) as frame `number` of `job`; gives the
    // area that changed.
    PictureRect Composite(const RenderJob& job, AVFrame& frame, long number);

    mutable std::mutex mutex_;
    std::unique_ptr<VideoReader> reader_;  // until the first picture opens it
    NoticeHandler notices_;
    std::unique_ptr<PreviewFrames> frames_;
    std::unique_ptr<ConfiguredFilter> filter_;
    std::optional<OverlayInput> filterOverlay_;
    // The decoded frame `baseNumber_` in the filter's pixels, before any
    // compositing: a picture changes only within the compositor's area.
    std::unique_ptr<Picture> base_;
    long baseNumber_ = -1;
    // The pictures made last, newest at the back: given again for the same
    // frame and settings, and what a new one is compared with.
    struct KeptPicture {
        long id = 0;
        long frame = 0;
        bool exact = true;
        FilterData settings{};
        OverlayInput overlay;
        std::optional<std::uint32_t> seed;  // a new seed draws the random styles anew
        Picture picture{0, 0};
        std::string png;  // the whole picture, once encoded
    };
    KeptPicture& PictureFor(const RenderJob& job, const PreviewFrames::Found& found);
    std::deque<KeptPicture> kept_;
    long nextId_ = 1;
    RenderProcess render_;
    ScaledJpegEncoder playback_;
};
