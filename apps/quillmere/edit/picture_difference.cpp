#include "apps/quillmere/edit/picture_difference.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kPixelBytes = 4;
constexpr int kColourBytes = 3;

bool SameColour(const std::uint8_t* a, const std::uint8_t* b) {
    return std::memcmp(a, b, kColourBytes) == 0;
}

}  // namespace

PictureRect DifferingRect(const Picture& before, const Picture& after) {
    const std::size_t rowBytes = static_cast<std::size_t>(after.width) * kPixelBytes;
    int top = -1;
    int bottom = -1;
    int left = after.width;
    int right = -1;
    for (int y = 0; y < after.height; ++y) {
        const std::uint8_t* a = before.row(y);
        const std::uint8_t* b = after.row(y);
        // Most rows are untouched; a whole-row comparison settles them.
        if (std::memcmp(a, b, rowBytes) == 0) {
            continue;
        }
        if (top < 0) {
            top = y;
        }
        bottom = y;
        int x = 0;
        while (x < left && SameColour(a + x * kPixelBytes, b + x * kPixelBytes)) {
            ++x;
        }
        left = std::min(left, x);
        int last = after.width - 1;
        while (last > right && SameColour(a + last * kPixelBytes, b + last * kPixelBytes)) {
            --last;
        }
        right = std::max(right, last);
    }
    if (top < 0 || right < left) {
        return PictureRect{};
    }
    return PictureRect{left, top, right - left + 1, bottom - top + 1};
}
