// Runs the filter over frames kept in the main video's own pixel format.
//
// Only the part of the frame that the filter can change (its changed area,
// widened to the chroma grid) is converted to the filter's 32-bit pixels;
// the filter works on bitmaps of that part's size with the mask moved by
// the part's offset, and only the pixels it changed are converted back.
// Every other sample of the frame stays as decoded.
//
// Moving the mask is exact: the filter clips every drawing to its bitmap,
// nothing it draws lies outside the changed area, and the drop shadow
// draws the same random numbers whatever its clipping.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "apps/quillmere/ffmpeg_handles.h"
#include "apps/quillmere/video_format.h"
#include "convert/picture_converter.h"
#include "hostkit/processing_driver.h"

struct FilterData;

class AreaCompositor {
public:
    // Starts a processing pass of `instance` for frames of `format`. The
    // instance's mask is moved for the pass and put back afterwards.
    AreaCompositor(FilterInstance& instance, const VideoFormat& format);
    ~AreaCompositor();
    AreaCompositor(const AreaCompositor&) = delete;
    AreaCompositor& operator=(const AreaCompositor&) = delete;

    // Composites output frame `number` into `frame`, which must have the
    // format given at the start. A frame whose buffers are shared is first
    // copied into one of the compositor's own.
    void Composite(AVFrame& frame, long number);

    // The part of every frame that is converted (empty: nothing can change).
    const PictureRect& area() const { return area_; }

private:
    void MakeWritable(AVFrame& frame);
    std::uint8_t* AreaTopLeft(const VBitmap& bitmap) const;

    FilterInstance& instance_;
    FilterData& record_;
    std::int32_t savedMask_[4];
    PictureRect area_;
    int bitmapLeft_ = 0;  // frame position of the bitmaps' top-left pixel
    int bitmapTop_ = 0;
    std::unique_ptr<PictureConverter> converter_;
    std::unique_ptr<ProcessingPass> pass_;
    bool separateOutput_ = false;
    // Writable frames for frames whose buffers the decoder still holds.
    std::vector<FramePtr> spareFrames_;
};
