// Scales overlay frame records (packed bitmaps, 24 or 32 bits, either row
// order) to a fixed size with one of libswscale's filtered scalers, into a
// record of its own: the same depth, bottom-up rows padded to 4 bytes.
//
// A filter with negative lobes scales straight alpha badly: the colour that
// transparent pixels store would ring into visible ones. With
// `premultiplyAlpha`, 32-bit records are premultiplied by their top byte
// before scaling, and the scaled record is premultiplied.
#pragma once

#include <cstdint>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"

class OverlayPrescaler {
public:
    // `swsFlags`: SWS_AREA, SWS_BICUBIC, SWS_LANCZOS, ...
    OverlayPrescaler(int width, int height, int swsFlags, bool premultiplyAlpha);

    // Scales `record` into `scaled` (resized to fit); false for a record
    // it cannot read.
    bool Scale(const void* record, std::vector<std::uint8_t>& scaled);

private:
    int width_;
    int height_;
    int flags_;
    bool premultiplyAlpha_;
    std::vector<std::uint8_t> premultiplied_;
    std::vector<std::uint8_t> planes_;  // the scaled picture, plane by plane
};
