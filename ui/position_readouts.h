// The Top, Left, Right, Bottom and Size read-outs of the configuration
// dialog: where the mask lies, in order and cut back to the frame.
#pragma once

#include <cstdint>

#include "host/win_types.h"

struct FilterData;

// What the read-outs show. Right and bottom are shown as unsigned numbers,
// so a mask wholly left of or above the frame reads as a large value there.
struct PositionReadouts {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
    std::int32_t width;   // counts both corners: right - left + 1
    std::int32_t height;  // bottom - top + 1
};

// Where the mask given by its four corners (in any order) lies on a frame
// of the given size, as the read-outs show it.
PositionReadouts MeasurePosition(std::int32_t maskLeft, std::int32_t maskTop,
                                 std::int32_t maskRight, std::int32_t maskBottom,
                                 std::int32_t frameWidth, std::int32_t frameHeight);

// Shows the mask given by its four corners (in any order) in the read-outs
// of `dialog`. The record supplies the frame size; nothing is changed.
void UpdatePositionFields(HWND dialog, std::int32_t maskLeft, std::int32_t maskTop,
                          std::int32_t maskRight, std::int32_t maskBottom,
                          const FilterData& record);
