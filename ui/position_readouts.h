// The Top, Left, Right, Bottom and Size read-outs of the configuration
// dialog: where the mask lies, in order and cut back to the frame.
#pragma once

#include <cstdint>

#include "host/win_types.h"

struct FilterData;

// Shows the mask given by its four corners (in any order) in the read-outs
// of `dialog`. The record supplies the frame size; nothing is changed.
void UpdatePositionFields(HWND dialog, std::int32_t maskLeft, std::int32_t maskTop,
                          std::int32_t maskRight, std::int32_t maskBottom,
                          const FilterData& record);
