// The run procedure: makes every output frame from the source frame and the
// instance record (source copy, editing outline, shadow, border, overlay or
// black placeholder).
#pragma once

#include <cstdint>

#include "host/filter_interface.h"

struct FilterData;

int HOST_CDECL RunProc(const FilterActivation* activation, const FilterFunctions* functions);

// True when a frame range is set and output frame `frame` lies outside it.
bool FrameOutsideRange(const FilterData& record, std::int32_t frame);

// Fills a rectangle of the activation's output bitmap with one pixel value,
// clipped to the bitmap. dx or dy of -1 stand for the bitmap's width or height.
void FillClippedRect(const FilterActivation& activation, std::int32_t x, std::int32_t y,
                     std::int32_t dx, std::int32_t dy, std::uint32_t pixel);

// COLORREF (red in the low byte) to a 32-bit pixel (blue in the low byte), top byte 0.
constexpr std::uint32_t PixelFromColorref(std::uint32_t color) {
    return ((color >> 16) & 0xFFu) | (color & 0xFF00u) | ((color & 0xFFu) << 16);
}
