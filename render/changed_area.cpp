#include "render/changed_area.h"

#include <algorithm>

#include "filter/filter_data.h"
#include "render/drop_shadow.h"
#include "render/frame_compositor.h"

namespace {

ChangedArea Union(const ChangedArea& a, const ChangedArea& b) {
    if (a.empty()) {
        return b;
    }
    if (b.empty()) {
        return a;
    }
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

// The bounding box of the shadow's bands, as the renderer lays them out
// around its reference box (see DrawShadowWide).
ChangedArea ShadowBox(const FilterData& record, std::int64_t left, std::int64_t top,
                      std::int64_t width, std::int64_t height, std::int64_t border) {
    const std::int64_t boxWidth = width + 1;
    const std::int64_t boxHeight = height + 1;
    const std::int64_t size = record.shadowSize;
    if (record.shadowOn == 0 || boxWidth < 2 || boxHeight < 2 || size <= 0) {
        return {};
    }
    const std::int64_t extent = border - 1;
    const std::int64_t boxLeft = left + extent;
    const std::int64_t boxTop = top + extent;
    const std::int64_t shift =
        ShadowStyleOf(record.shadowType).fixedShift ? record.shadowShift : size;
    const std::int64_t reachBack = std::min<std::int64_t>(shift, 0);
    return {boxLeft + reachBack, boxTop + reachBack, boxLeft + boxWidth + size,
            boxTop + boxHeight + size};
}

std::int32_t Wrapped(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) -
                                      static_cast<std::uint32_t>(b));
}

}  // namespace

ChangedArea ChangedAreaOf(const FilterData& record, int width, int height) {
    const ChangedArea frame{0, 0, width, height};
    // The run procedure takes the mask as corner plus a 32-bit size.
    const std::int64_t left = record.maskLeft;
    const std::int64_t top = record.maskTop;
    const std::int64_t maskWidth = Wrapped(record.maskRight, record.maskLeft);
    const std::int64_t maskHeight = Wrapped(record.maskBottom, record.maskTop);
    const std::int64_t border = record.borderOn != 0 ? record.borderSize : 0;
    if (maskWidth <= 0 || maskHeight <= 0 || border < 0) {
        // Sizes of -1 and below mean other things to the host's fills and
        // copies; the whole frame holds whatever they do.
        return frame;
    }
    ChangedArea area{left - border, top - border, left + maskWidth + border,
                     top + maskHeight + border};
    area = Union(area, ShadowBox(record, left, top, maskWidth, maskHeight, border));
    area.left = std::max(area.left, frame.left);
    area.top = std::max(area.top, frame.top);
    area.right = std::min(area.right, frame.right);
    area.bottom = std::min(area.bottom, frame.bottom);
    if (area.empty()) {
        return {};
    }
    return area;
}

bool FrameLeftUntouched(const FilterData& record, std::int32_t frame) {
    return record.frameGetter != nullptr && FrameOutsideRange(record, frame);
}

MaskInside MaskInsideAfterRun(const FilterData& record, bool opaqueCopy) {
    const std::int64_t maskWidth = Wrapped(record.maskRight, record.maskLeft);
    const std::int64_t maskHeight = Wrapped(record.maskBottom, record.maskTop);
    if (record.editing != 0 || maskWidth <= 0 || maskHeight <= 0) {
        return MaskInside::Mixed;
    }
    // Without an overlay the placeholder's black fill, which never blends,
    // covers the mask on every frame.
    if (record.frameGetter == nullptr) {
        return MaskInside::Replaced;
    }
    const VBitmap* overlay = record.overlayBitmap;
    if (overlay == nullptr || overlay->operations == nullptr) {
        // The run drew its decoration but could not describe the overlay.
        return MaskInside::Mixed;
    }
    if (record.overlayBits == nullptr) {
        // No overlay frame came: the placeholder, or nothing at all.
        return record.maintainBlack != 0 ? MaskInside::Replaced : MaskInside::Untouched;
    }
    // Stretches fill the whole mask from any 32-bit frame; a copy fills as
    // much of it as the frame reaches.
    if (!opaqueCopy || overlay->data == nullptr || overlay->depth != 32 || overlay->w <= 0 ||
        overlay->h <= 0) {
        return MaskInside::Mixed;
    }
    if (record.fitToFrame == 0 && (overlay->w < maskWidth || overlay->h < maskHeight)) {
        return MaskInside::Mixed;
    }
    return MaskInside::Replaced;
}
