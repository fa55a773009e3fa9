// The largest pictures the overlay source and the runner take. A header can
// declare any size; these limits refuse a picture before anything is
// allocated for it, so a damaged or hostile file cannot claim gigabytes.
#pragma once

#include <cstdint>

// Either side of a picture, in pixels.
constexpr std::int64_t kMaxPictureSide = 16384;
// All of a picture's pixels: 2^27, half a gigabyte at 32 bits.
constexpr std::int64_t kMaxPicturePixels = std::int64_t{1} << 27;

// True when width x height is a picture within `maxSide` on a side and
// `maxPixels` in all.
constexpr bool PictureSizeAllowed(std::int64_t width, std::int64_t height,
                                  std::int64_t maxSide = kMaxPictureSide,
                                  std::int64_t maxPixels = kMaxPicturePixels) {
    return width > 0 && height > 0 && width <= maxSide && height <= maxSide &&
           width <= maxPixels / height;
}

// A limit as a program applies it; the runner's --max-pixels moves it.
struct PictureLimit {
    std::int64_t maxSide = kMaxPictureSide;
    std::int64_t maxPixels = kMaxPicturePixels;

    constexpr bool Allows(std::int64_t width, std::int64_t height) const {
        return PictureSizeAllowed(width, height, maxSide, maxPixels);
    }
};
