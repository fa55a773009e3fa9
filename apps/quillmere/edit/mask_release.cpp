#include "apps/quillmere/edit/mask_release.h"

#include <algorithm>

MaskCorners SettleReleasedMask(const MaskCorners& dragged, int pictureWidth, int pictureHeight) {
    const auto clip = [](std::int64_t value, std::int64_t limit) {
        return std::clamp<std::int64_t>(value, 0, limit);
    };
    MaskCorners settled;
    settled.left = clip(std::min(dragged.left, dragged.right), pictureWidth);
    settled.right = clip(std::max(dragged.left, dragged.right), pictureWidth);
    settled.top = clip(std::min(dragged.top, dragged.bottom), pictureHeight);
    settled.bottom = clip(std::max(dragged.top, dragged.bottom), pictureHeight);
    return settled;
}
