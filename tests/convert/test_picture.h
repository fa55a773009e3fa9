// Pictures for the converter's tests: each plane's rows are fenced by guard
// bytes on both sides and guard rows above and below, and start at odd
// addresses, so misaligned access and stray writes both show.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct SamplePosition {
    int plane = 0;
    int x = 0;  // element in the row (a byte, or a 16-bit sample)
    int y = 0;
    bool operator==(const SamplePosition& other) const {
        return plane == other.plane && x == other.x && y == other.y;
    }
    bool operator<(const SamplePosition& other) const;
};

class TestPicture {
public:
    static constexpr std::uint8_t kGuard = 0xA5;

    TestPicture(AVPixelFormat format, int width, int height);

    AVPixelFormat format() const { return format_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int planeCount() const { return static_cast<int>(planes_.size()); }
    int elementsPerRow(int plane) const;
    int rows(int plane) const { return planes_[static_cast<std::size_t>(plane)].rows; }
    int bytesPerElement() const { return bytesPerElement_; }
    // Largest value of a sample of `plane` (all components of a plane share a depth).
    int maximum() const { return (1 << depth_) - 1; }

    const std::uint8_t* const* planes() const { return pointers_; }
    std::uint8_t* const* planes() { return pointers_; }
    const int* linesizes() const { return linesizes_; }

    int Sample(int plane, int x, int y) const;
    void SetSample(int plane, int x, int y, int value);

    // Every sample random in its range.
    void FillRandom(std::mt19937& random);
    // Every sample of `plane` set to `value`.
    void FillPlane(int plane, int value);

    bool GuardsIntact() const;
    // Samples whose value differs from `other`'s (same format and size).
    std::vector<SamplePosition> DifferencesFrom(const TestPicture& other) const;

    TestPicture(const TestPicture& other);
    TestPicture& operator=(const TestPicture&) = delete;

private:
    struct Plane {
        std::vector<std::uint8_t> storage;
        int rowBytes = 0;
        int rows = 0;
        int stride = 0;
        std::size_t firstRow = 0;  // offset of the first picture byte
    };
    void PointAtPlanes();

    AVPixelFormat format_;
    int width_, height_;
    int depth_ = 8;
    int bytesPerElement_ = 1;
    std::vector<Plane> planes_;
    std::uint8_t* pointers_[4] = {};
    int linesizes_[4] = {};
};

std::string FormatName(AVPixelFormat format);
