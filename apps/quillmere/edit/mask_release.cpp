#include "apps/quillmere/edit/mask_release.h"

#include <algorithm>

MaskCorners SettleReleasedMask(const MaskCorners& dragged, MaskDrag drag, int pictureWidth,
                               int pictureHeight) {
    MaskCorners settled;
    settled.left = std::min(dragged.left, dragged.right);
    settled.right = std::max(dragged.left, dragged.right);
    settled.top = std::min(dragged.top, dragged.bottom);
    settled.bottom = std::max(dragged.top, dragged.bottom);
    if (drag == MaskDrag::Moved) {
        return settled;
    }
    const auto clip = [](std::int64_t value, std::int64_t limit) {
        return std::clamp<std::int64_t>(value, 0, limit);
    };
    settled.left = clip(settled.left, pictureWidth);
    settled.right = clip(settled.right, pictureWidth);
    settled.top = clip(settled.top, pictureHeight);
    settled.bottom = clip(settled.bottom, pictureHeight);
    return settled;
}
