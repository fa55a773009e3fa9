// Scales overlay frame records (packed bitmaps, 24 or 32 bits, either row
// order) to a fixed size with one of libswscale's filtered scalers, into a
// record of its own: the same depth, bottom-up rows padded to 4 bytes.
//
// A filter with negative lobes scales straight alpha badly: the colour that
// transparent pixels store would ring into visible ones. With
// `premultiplyAlpha`, 32-bit records are premultiplied by their top byte
// before scaling, and the scaled record is premultiplied.
//
// Given a window of the scaled picture, only that window is made, and the
// record holds it alone: its pixels are those of the whole scaled picture
// (partial_scale.h), at a cost that follows the window and the filter's
// reach, however large the whole.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/overlay/partial_scale.h"

class OverlayPrescaler {
public:
    // `swsFlags`: SWS_AREA, SWS_BICUBIC, SWS_LANCZOS, ... `window`: the part
    // of the scaled picture wanted; empty for all of it.
    OverlayPrescaler(int width, int height, int swsFlags, bool premultiplyAlpha,
                     const OutputWindow& window = OutputWindow());
    ~OverlayPrescaler();
    OverlayPrescaler(const OverlayPrescaler&) = delete;
    OverlayPrescaler& operator=(const OverlayPrescaler&) = delete;

    // Scales `record` into `scaled` (resized to fit); false for a record
    // it cannot read or a scale libswscale cannot make (see problem()).
    bool Scale(const void* record, std::vector<std::uint8_t>& scaled);
    // What the last Scale that failed could not do.
    const std::string& problem() const { return problem_; }

private:
    // Scale the picture whose top row is `sourceTop` into planes_ and lay
    // them into bits_; false when libswscale cannot make the scale.
    bool ScaleWhole(const std::uint8_t* sourceTop, int sourceStride, int sourceWidth,
                    int sourceHeight, int bitCount);
    bool ScaleWindow(const std::uint8_t* sourceTop, int sourceStride, int sourceWidth,
                     int sourceHeight, int bitCount);
    // Lays `rows` rows of planes_ (`planeBytes` apart, rows `planeStride`
    // apart, the record's first column at `firstColumn`) into the record,
    // from its picture row `firstRow` on.
    void LayRows(int bitCount, int firstRow, int rows, std::int64_t firstColumn,
                 std::int64_t planeStride, std::size_t planeBytes);

    int width_;
    int height_;
    int flags_;
    bool premultiplyAlpha_;
    OutputWindow window_;  // the whole picture when nothing smaller was asked
    bool windowed_;
    std::string problem_;
    std::vector<std::uint8_t> premultiplied_;
    std::vector<std::uint8_t> planes_;  // the scaled picture, plane by plane
    std::uint8_t* bits_ = nullptr;      // the record's pixels being made
    std::int64_t recordRowBytes_ = 0;

    // A window's scale, kept from frame to frame while the source keeps its
    // size and depth: setting up a scale to a large picture takes longer
    // than making its window.
    struct WindowScale {
        int sourceWidth = 0;
        int sourceHeight = 0;
        int bitCount = 0;
        PartialScale plan;
        ScaleContextPtr context;
    } windowScale_;
    FramePtr sourceFrame_;
    FramePtr sliceFrame_;
};
