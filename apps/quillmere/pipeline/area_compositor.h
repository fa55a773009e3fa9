// Runs the filter over frames kept in the main video's own pixel format.
//
// Only the part of the frame that the filter can change (its changed area,
// widened to the chroma grid) is converted to the filter's 32-bit pixels;
// the filter works on bitmaps of that part's size with the mask moved by
// the part's offset, and only the pixels it changed are converted back.
// Every other sample of the frame stays as decoded. A fade blends what the
// filter drew toward the area as it was, by the frame's weight.
//
// Moving the mask is exact: the filter clips every drawing to its bitmap,
// nothing it draws lies outside the changed area, and the drop shadow
// draws the same random numbers whatever its clipping.
//
// An opaque overlay that covers the mask (stretched, or copied 1:1 and at
// least as large), or the black placeholder, replaces every pixel inside
// the mask. Then only the border and shadow bands around it are converted
// in, and the inside is written back without comparing: its source pixels
// are never looked at. A frame that turns out otherwise (an overlay frame
// smaller than the mask, say) has the inside converted and is run again
// from the same random state, so the pictures are those of the full path.
//
// The steps of a frame can run on different threads, so that a pipeline
// converts one frame while the filter works on the next: Load, Run and
// Store (any thread; one frame per lane at a time).
//
// Rounded corners (a radius above 0) blend the corner squares of what the
// filter drew with what lies under it (see RoundedCorners), before a fade. With one lane,
// Run goes on from the calling thread's random generator; with several,
// each frame is first rehearsed in frame order (Rehearse), which gives it
// its generator state and its overlay frames.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/video_format.h"
#include "apps/quillmere/pipeline/fade_ramp.h"
#include "apps/quillmere/pipeline/rounded_corners.h"
#include "convert/picture_converter.h"
#include "filter/filter_data.h"
#include "hostkit/processing_driver.h"
#include "render/changed_area.h"

// The filter's source and output bitmaps of one frame on its way.
struct AreaBuffers {
    std::vector<Pixel32> source;
    std::vector<Pixel32> output;
    bool loaded = false;        // the frame's area is in `source`
    bool insideLoaded = false;  // the mask's inside too (else `source` holds stale pixels there)
    MaskInside inside = MaskInside::Mixed;  // what the run left inside the mask
};

class AreaCompositor {
public:
    // Works out the area for frames of `format` and the settings in
    // `instance`'s record; `fade` weighs each frame's drawing, and
    // `cornerRadius` rounds the overlay's corners. The pass starts with Start.
    AreaCompositor(FilterInstance& instance, const VideoFormat& format,
                   const FadeRamp& fade = FadeRamp(), int cornerRadius = 0);
    // Ends the pass and puts the instance's mask back.
    ~AreaCompositor();
    AreaCompositor(const AreaCompositor&) = delete;
    AreaCompositor& operator=(const AreaCompositor&) = delete;

    // Starts the processing pass, with the mask moved by the area's offset,
    // on `lanes` instances: the given one and copies of it, each with its
    // own bitmaps. `outputOperations` (null: the host's plain ones, which
    // copy the overlay) serve the output bitmaps; `operationsCopy` says
    // that given ones copy the overlay opaque as well. The start procedure
    // seeds the calling thread's random generator.
    void Start(const VBitmapOperations* outputOperations = nullptr, int lanes = 1,
               bool operationsCopy = false);
    int lanes() const { return static_cast<int>(lanes_.size()); }

    // Converts the area of output frame `number` into `buffers`, when the
    // filter can change anything on that frame.
    void Load(const AVFrame& frame, long number, AreaBuffers& buffers) const;
    // Runs the filter on lane `lane` for a loaded frame, and fades what it
    // drew; `frame` is the one loaded, for a mask's inside the run turns out
    // to need.
    void Run(const AVFrame& frame, AreaBuffers& buffers, long number, int lane = 0);
    // Runs the filter for output frame `number`, if Load would convert it,
    // on a bitmap of one pixel: the overlay frames it fetches and the random
    // numbers it draws are those of the frame's real run, at almost none of
    // the cost.
    void Rehearse(long number);
    // Writes what the filter changed back into `frame`. A frame whose
    // buffers are shared is first copied into one of the compositor's own.
    void Store(AVFrame& frame, const AreaBuffers& buffers);
    // Runs the end procedure.
    void Finish();

    // All three steps on the calling thread, starting the pass if needed.
    void Composite(AVFrame& frame, long number);

    // The part of every frame that is converted (empty: nothing can change).
    const PictureRect& area() const { return area_; }
    // The part of the mask whose source is not converted when the overlay
    // replaces it (empty: every frame takes the full path).
    const PictureRect& skippedInside() const { return skippedInside_; }

private:
    // One instance of the filter with its pass (destroyed pass first).
    struct Lane {
        std::unique_ptr<FilterInstance> copy;  // null for the compositor's own instance
        FilterInstance* instance = nullptr;
        std::unique_ptr<ProcessingPass> pass;
    };
    Lane MakeLane(FilterInstance* own, int width, int height, FrameMemory memory,
                  const VBitmapOperations* outputOperations);
    void RunOnce(Lane& lane, AreaBuffers& buffers, long number);
    void LoadRect(const AVFrame& frame, const PictureRect& rect, AreaBuffers& buffers) const;
    void StoreRect(AVFrame& frame, const PictureRect& rect, const std::uint8_t* output,
                   long outputPitch, const std::uint8_t* original) const;
    // Copies a frame whose buffers are shared, but for what the write-back
    // of `replaced` overwrites.
    void MakeWritable(AVFrame& frame, const PictureRect& replaced);
    std::ptrdiff_t RectOffset(const PictureRect& rect, long pitch) const;
    long OutputPitch(const AreaBuffers& buffers) const;
    void Fade(AreaBuffers& buffers, std::uint32_t weight) const;

    FilterInstance& instance_;
    FilterData& record_;
    const FilterData settings_;  // as the pass began: what every frame is tested against
    PictureRect area_;
    PictureRect maskInside_;     // the mask within the area, inward to the chroma grid
    PictureRect skippedInside_;  // maskInside_ when the overlay is expected to replace it
    std::vector<PictureRect> bands_;  // the area around skippedInside_
    int bitmapLeft_ = 0;  // frame position of the bitmaps' top-left pixel
    int bitmapTop_ = 0;
    int bitmapWidth_ = 0;
    int bitmapHeight_ = 0;
    long sourcePitch_ = 0;
    AVRational frameRate_{0, 1};
    FadeRamp fade_;
    std::unique_ptr<RoundedCorners> corners_;  // null: square corners
    // The mask's corner squares on the chroma grid: loaded even where the
    // inside is not, for the rounding to show the source.
    std::vector<PictureRect> cornerLoads_;
    std::unique_ptr<PictureConverter> converter_;
    std::vector<Lane> lanes_;
    Lane rehearsal_;
    bool started_ = false;
    bool maskMoved_ = false;
    bool separateOutput_ = false;
    bool opaqueCopy_ = true;
    AreaBuffers ownBuffers_;  // for Composite
    // Writable frames for frames whose buffers the decoder still holds;
    // one being copied into is taken.
    struct Spare {
        FramePtr frame;
        bool taken = false;
    };
    std::mutex spareLock_;
    std::deque<Spare> spareFrames_;  // a deque: taken spares keep their place
};
