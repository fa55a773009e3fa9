#include "ui/position_readouts.h"

#include <algorithm>
#include <cstdio>

#include "filter/filter_data.h"
#include "platform/window_system.h"
#include "ui/dialog_ids.h"

namespace {

// Corners arrive straight from the mask text or the script, so any int32 is
// possible: the size is worked out with 32-bit wrap-around rather than with
// signed overflow.
std::int32_t InclusiveSpan(std::int32_t low, std::int32_t high) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(high) -
                                     static_cast<std::uint32_t>(low) + 1u);
}

}  // namespace

void UpdatePositionFields(HWND dialog, std::int32_t maskLeft, std::int32_t maskTop,
                          std::int32_t maskRight, std::int32_t maskBottom,
                          const FilterData& record) {
    // The upper clamps are the frame size itself, not size - 1: the read-outs
    // show the edge just past the last pixel as reachable.
    const std::int32_t top = std::max<std::int32_t>(0, std::min(maskTop, maskBottom));
    const std::int32_t left = std::max<std::int32_t>(0, std::min(maskLeft, maskRight));
    const std::int32_t right = std::min(record.frameWidth, std::max(maskLeft, maskRight));
    const std::int32_t bottom = std::min(record.frameHeight, std::max(maskTop, maskBottom));

    WindowSystem& windows = CurrentWindowSystem();
    windows.SetControlUnsigned(dialog, IDC_READOUT_TOP, static_cast<unsigned>(top));
    windows.SetControlUnsigned(dialog, IDC_READOUT_LEFT, static_cast<unsigned>(left));
    windows.SetControlUnsigned(dialog, IDC_READOUT_RIGHT, static_cast<unsigned>(right));
    windows.SetControlUnsigned(dialog, IDC_READOUT_BOTTOM, static_cast<unsigned>(bottom));

    char size[32];
    std::snprintf(size, sizeof size, "%d x %d", static_cast<int>(InclusiveSpan(left, right)),
                  static_cast<int>(InclusiveSpan(top, bottom)));
    windows.SetControlText(dialog, IDC_READOUT_SIZE, size);
}
