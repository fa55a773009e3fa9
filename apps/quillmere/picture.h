// A picture in the filter's pixel layout (32-bit words, blue in the low
// byte), rows top-down, with the number of the frame it belongs to.
#pragma once

#include <cstdint>
#include <vector>

struct Picture {
    Picture(int width, int height)
        : width(width), height(height), stride(width * 4),
          pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height)) {}

    std::uint8_t* row(int y) { return pixels.data() + static_cast<std::size_t>(y) * stride; }
    const std::uint8_t* row(int y) const {
        return pixels.data() + static_cast<std::size_t>(y) * stride;
    }

    int width;
    int height;
    int stride;
    std::vector<std::uint8_t> pixels;
    long frameNumber = 0;
};
