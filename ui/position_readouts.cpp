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

PositionReadouts MeasurePosition(std::int32_t maskLeft, std::int32_t maskTop,
                                 std::int32_t maskRight, std::int32_t maskBottom,
                                 std::int32_t frameWidth, std::int32_t frameHeight) {
    // The upper clamps are the frame size itself, not size - 1: the read-outs
    // show the edge just past the last pixel as reachable.
    PositionReadouts readouts{};
    readouts.top = std::max<std::int32_t>(0, std::min(maskTop, maskBottom));
    readouts.left = std::max<std::int32_t>(0, std::min(maskLeft, maskRight));
    readouts.right = std::min(frameWidth, std::max(maskLeft, maskRight));
    readouts.bottom = std::min(frameHeight, std::max(maskTop, maskBottom));
    readouts.width = InclusiveSpan(readouts.left, readouts.right);
    readouts.height = InclusiveSpan(readouts.top, readouts.bottom);
    return readouts;
}

void UpdatePositionFields(HWND dialog, std::int32_t maskLeft, std::int32_t maskTop,
                          std::int32_t maskRight, std::int32_t maskBottom,
                          const FilterData& record) {
    const PositionReadouts readouts = MeasurePosition(maskLeft, maskTop, maskRight, maskBottom,
                                                      record.frameWidth, record.frameHeight);
    WindowSystem& windows = CurrentWindowSystem();
    windows.SetControlUnsigned(dialog, IDC_READOUT_TOP, static_cast<unsigned>(readouts.top));
    windows.SetControlUnsigned(dialog, IDC_READOUT_LEFT, static_cast<unsigned>(readouts.left));
    windows.SetControlUnsigned(dialog, IDC_READOUT_RIGHT, static_cast<unsigned>(readouts.right));
    windows.SetControlUnsigned(dialog, IDC_READOUT_BOTTOM,
                               static_cast<unsigned>(readouts.bottom));

    char size[32];
    std::snprintf(size, sizeof size, "%d x %d", static_cast<int>(readouts.width),
                  static_cast<int>(readouts.height));
    windows.SetControlText(dialog, IDC_READOUT_SIZE, size);
}
