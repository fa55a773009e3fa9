// A picture in the host's frame layout: 32-bit pixels (blue in the low
// byte), rows stored bottom-up `pitch` bytes apart, the pitch a multiple of
// 8 bytes. The filter can work on it in place, so the pipeline hands these
// buffers to the processing pass without copying them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class Picture {
public:
    Picture(int width, int height)
        : width(width), height(height), pitch((width * 4 + 7) & ~7),
          pixels(static_cast<std::size_t>(pitch) * static_cast<std::size_t>(height)) {}

    // Picture row y, counted from the top.
    std::uint8_t* row(int y) {
        return pixels.data() + static_cast<std::size_t>(height - 1 - y) * pitch;
    }
    const std::uint8_t* row(int y) const {
        return pixels.data() + static_cast<std::size_t>(height - 1 - y) * pitch;
    }
    // The picture as a top-down image: its top row and the distance to the
    // next row down (negative).
    std::uint8_t* top() { return row(0); }
    const std::uint8_t* top() const { return row(0); }
    int topDownStride() const { return -pitch; }

    int width;
    int height;
    int pitch;
    std::vector<std::uint8_t> pixels;
    long frameNumber = 0;
};
