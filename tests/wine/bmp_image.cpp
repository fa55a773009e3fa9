#include "bmp_image.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

std::uint32_t Little(const std::vector<std::uint8_t>& bytes, std::size_t at, int count) {
    if (at + count > bytes.size()) {
        throw std::runtime_error("BMP header cut short");
    }
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | bytes[at + i];
    }
    return value;
}

}  // namespace

BmpImage::BmpImage(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("no image " + path);
    }
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>()};
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M' || Little(bytes, 28, 2) != 24) {
        throw std::runtime_error(path + " is not a 24-bit BMP");
    }
    const std::uint32_t offset = Little(bytes, 10, 4);
    width_ = static_cast<int>(Little(bytes, 18, 4));
    height_ = static_cast<int>(Little(bytes, 22, 4));
    rowBytes_ = (static_cast<std::size_t>(width_) * 3 + 3) & ~std::size_t{3};
    if (width_ <= 0 || height_ <= 0 || offset + rowBytes_ * height_ > bytes.size()) {
        throw std::runtime_error(path + " is cut short");
    }
    pixels_.assign(bytes.begin() + offset, bytes.begin() + offset + rowBytes_ * height_);
}

Rgb BmpImage::At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        throw std::out_of_range("pixel outside the image");
    }
    const std::uint8_t* pixel = &pixels_[(height_ - 1 - y) * rowBytes_ + x * 3];
    return {pixel[2], pixel[1], pixel[0]};
}
