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
// The three steps of a frame can run on three threads, so that a pipeline
// converts one frame while the filter works on the next: Load (any thread),
// Run (the thread that called Start: the filter's random generator belongs
// to it) and Store (one thread at a time).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/video_format.h"
#include "apps/quillmere/pipeline/fade_ramp.h"
#include "convert/picture_converter.h"
#include "filter/filter_data.h"
#include "hostkit/processing_driver.h"

// The filter's source and output bitmaps of one frame on its way.
struct AreaBuffers {
    std::vector<Pixel32> source;
    std::vector<Pixel32> output;
    bool loaded = false;  // the frame's area is in `source`
};

class AreaCompositor {
public:
    // Works out the area for frames of `format` and the settings in
    // `instance`'s record; `fade` weighs each frame's drawing. The pass
    // starts with Start.
    AreaCompositor(FilterInstance& instance, const VideoFormat& format,
                   const FadeRamp& fade = FadeRamp());
    // Ends the pass and puts the instance's mask back.
    ~AreaCompositor();
    AreaCompositor(const AreaCompositor&) = delete;
    AreaCompositor& operator=(const AreaCompositor&) = delete;

    // Starts the processing pass, with the instance's mask moved by the
    // area's offset; Run must be called on this thread. `outputOperations`
    // (null: the host's plain ones) serve the output bitmap.
    void Start(const VBitmapOperations* outputOperations = nullptr);
    // Converts the area of output frame `number` into `buffers`, when the
    // filter can change anything on that frame.
    void Load(const AVFrame& frame, long number, AreaBuffers& buffers) const;
    // Runs the filter on a loaded frame, and fades what it drew.
    void Run(AreaBuffers& buffers, long number);
    // Writes what the filter changed back into `frame`. A frame whose
    // buffers are shared is first copied into one of the compositor's own.
    void Store(AVFrame& frame, const AreaBuffers& buffers);
    // Runs the end procedure (on the thread that started the pass).
    void Finish();

    // All three steps on the calling thread, starting the pass if needed.
    void Composite(AVFrame& frame, long number);

    // The part of every frame that is converted (empty: nothing can change).
    const PictureRect& area() const { return area_; }

private:
    void MakeWritable(AVFrame& frame);
    std::ptrdiff_t AreaOffset(long pitch, int height) const;
    long OutputPitch(const AreaBuffers& buffers) const;
    void Fade(AreaBuffers& buffers, std::uint32_t weight) const;

    FilterInstance& instance_;
    FilterData& record_;
    const FilterData settings_;  // as the pass began: what every frame is tested against
    PictureRect area_;
    int bitmapLeft_ = 0;  // frame position of the bitmaps' top-left pixel
    int bitmapTop_ = 0;
    int bitmapWidth_ = 0;
    int bitmapHeight_ = 0;
    long sourcePitch_ = 0;
    AVRational frameRate_{0, 1};
    FadeRamp fade_;
    std::unique_ptr<PictureConverter> converter_;
    std::unique_ptr<ProcessingPass> pass_;
    bool maskMoved_ = false;
    bool separateOutput_ = false;
    AreaBuffers ownBuffers_;  // for Composite
    // Writable frames for frames whose buffers the decoder still holds.
    std::vector<FramePtr> spareFrames_;
};
