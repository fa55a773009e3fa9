// Runs the filter over frames kept in the main video's own pixel format.
//
// A moving mask (mask_motion.h) has an area of its own on every frame: the
// bitmaps hold the area of every frame, and each frame converts, runs and
// writes back only its own, with the filter's mask set to the frame's.
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

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/video_format.h"
#include "apps/quillmere/overlay/sub_pixel_operations.h"
#include "apps/quillmere/pipeline/fade_ramp.h"
#include "apps/quillmere/pipeline/mask_motion.h"
#include "apps/quillmere/pipeline/over_video_operations.h"
#include "apps/quillmere/pipeline/rounded_corners.h"
#include "convert/picture_converter.h"
#include "filter/filter_data.h"
#include "hostkit/processing_driver.h"
#include "render/changed_area.h"

// The parts of one frame that are converted and written back.
struct FrameArea {
    PictureRect area;           // the part the filter can change on the frame
    PictureRect skippedInside;  // the part of the mask not converted when the overlay replaces it
    std::array<PictureRect, 4> bands{};  // the area around skippedInside
    int bandCount = 0;
    FrameMask mask;  // the frame's mask in frame pixels (a moving mask's)
    // The part of the compositor's bitmaps the filter works on for the
    // frame: its top-left pixel's frame position and its size. A moving
    // mask's frame takes only its own area, so that the filter copies no
    // more of its source than the frame can change.
    int bitmapLeft = 0;
    int bitmapTop = 0;
    int bitmapWidth = 0;
    int bitmapHeight = 0;
};

// The filter's source and output bitmaps of one frame on its way.
struct AreaBuffers {
    std::vector<Pixel32> source;
    std::vector<Pixel32> output;
    bool loaded = false;        // the frame's area is in `source`
    bool insideLoaded = false;  // the mask's inside too (else `source` holds stale pixels there)
    MaskInside inside = MaskInside::Mixed;  // what the run left inside the mask
    FrameArea parts;  // what Load converted
};

class AreaCompositor {
public:
    // Works out the area for frames of `format` and the settings in
    // `instance`'s record; `fade` weighs each frame's drawing, and
    // `cornerRadius` rounds the overlay's corners. The pass starts with
    // Start. With a `motion` that moves, every frame takes its mask from it
    // (its corners are then square: planning refuses both).
    AreaCompositor(FilterInstance& instance, const VideoFormat& format,
                   const FadeRamp& fade = FadeRamp(), const MaskMotion& motion = MaskMotion(),
                   int cornerRadius = 0);
    // Ends the pass and puts the instance's mask back.
    ~AreaCompositor();
    AreaCompositor(const AreaCompositor&) = delete;
    AreaCompositor& operator=(const AreaCompositor&) = delete;

    // Starts the processing pass, with the mask moved by the area's offset,
    // on `lanes` instances: the given one and copies of it, each with its
    // own bitmaps. `outputOperations` (null: the host's plain ones, which
    // copy the overlay) serve the output bitmaps; `operationsCopy` says
    // that given ones copy the overlay opaque as well. `overlayOverVideo`:
    // they lay it below full opacity, and it is laid over the video under
    // it rather than over the border and shadow (see OverVideoOperations).
    // The start procedure seeds the calling thread's random generator.
    void Start(const VBitmapOperations* outputOperations = nullptr, int lanes = 1,
               bool operationsCopy = false, bool overlayOverVideo = false);
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
        // The output's operations for a mask between pixels (outlives the pass).
        std::unique_ptr<SubPixelOperations> subPixel;
        std::unique_ptr<FilterInstance> copy;  // null for the compositor's own instance
        FilterInstance* instance = nullptr;
        std::unique_ptr<ProcessingPass> pass;
        // Over the given output operations, with this lane's source as the
        // video; null when the overlay is laid as they lay it.
        std::unique_ptr<OverVideoOperations> overVideo;
    };
    Lane MakeLane(FilterInstance* own, int width, int height, FrameMemory memory,
                  const VBitmapOperations* outputOperations, bool overlayOverVideo = false);
    void RunOnce(Lane& lane, AreaBuffers& buffers, long number);
    // The parts of output frame `number`.
    FrameArea PartsOf(long number) const;
    // Sets the lane's mask to the frame's (a moving mask only).
    void UseFrameMask(Lane& lane, const FrameMask& mask, int originLeft, int originTop) const;
    void LoadRect(const AVFrame& frame, const PictureRect& rect, AreaBuffers& buffers) const;
    void StoreRect(AVFrame& frame, const FrameArea& parts, const PictureRect& rect,
                   const std::uint8_t* output,
                   long outputPitch, const std::uint8_t* original) const;
    // Copies a frame whose buffers are shared, but for what the write-back
    // of `replaced` overwrites.
    void MakeWritable(AVFrame& frame, const PictureRect& replaced);
    std::ptrdiff_t RectOffset(const PictureRect& rect, long pitch, const FrameArea& parts) const;
    long OutputPitch(const AreaBuffers& buffers) const;
    void Fade(AreaBuffers& buffers, std::uint32_t weight) const;
    // The skipped inside and bands of `parts` for a mask inside `maskInside`.
    void SplitAround(FrameArea& parts, const PictureRect& maskInside) const;

    FilterInstance& instance_;
    FilterData& record_;
    const FilterData settings_;  // as the pass began: what every frame is tested against
    PictureRect area_;
    PictureRect maskInside_;     // the mask within the area, inward to the chroma grid
    PictureRect skippedInside_;  // maskInside_ when the overlay is expected to replace it
    FrameArea still_;  // every frame's parts when the mask holds still
    int bitmapLeft_ = 0;  // frame position of the bitmaps' top-left pixel
    int bitmapTop_ = 0;
    int bitmapWidth_ = 0;
    int bitmapHeight_ = 0;
    long sourcePitch_ = 0;
    AVRational frameRate_{0, 1};
    FadeRamp fade_;
    MaskMotion motion_;
    int frameWidth_ = 0;
    int frameHeight_ = 0;
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
