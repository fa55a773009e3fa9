// The 24-bit BMP files the Windows test host writes, read back for checks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    int red = 0;
    int green = 0;
    int blue = 0;
};

class BmpImage {
public:
    // Throws std::runtime_error when the file is missing or not a 24-bit BMP.
    explicit BmpImage(const std::string& path);

    int width() const { return width_; }
    int height() const { return height_; }
    // Picture coordinates: x from the left, y from the top.
    Rgb At(int x, int y) const;

private:
    int width_ = 0;
    int height_ = 0;
    std::size_t rowBytes_ = 0;
    std::vector<std::uint8_t> pixels_;  // bottom-up rows as stored
};
