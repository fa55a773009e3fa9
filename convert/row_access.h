#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Rows of planes and pixel buffers, and copies of row pieces into the
// kernels' scratch rows: memcpy keeps 16-bit samples safe at any alignment.

constexpr std::uint32_t kColorBits = 0x00FFFFFFu;
constexpr std::uint32_t kOpaque = 0xFF000000u;
constexpr int kAlphaShift = 24;

inline const std::uint8_t* RowOf(const std::uint8_t* plane, int linesize, int y) {
    return plane + static_cast<std::ptrdiff_t>(y) * linesize;
}

inline std::uint8_t* RowOf(std::uint8_t* plane, int linesize, int y) {
    return plane + static_cast<std::ptrdiff_t>(y) * linesize;
}

template <typename Sample>
void LoadSamples(const std::uint8_t* row, int first, int count, Sample* destination) {
    std::memcpy(destination, row + static_cast<std::ptrdiff_t>(first) * sizeof(Sample),
                static_cast<std::size_t>(count) * sizeof(Sample));
}

template <typename Sample>
void StoreSamples(const Sample* source, int first, int count, std::uint8_t* row) {
    std::memcpy(row + static_cast<std::ptrdiff_t>(first) * sizeof(Sample), source,
                static_cast<std::size_t>(count) * sizeof(Sample));
}

// Sample `index` of a row at any alignment.
template <typename Sample>
void PutSample(std::uint8_t* row, int index, Sample value) {
    std::memcpy(row + static_cast<std::ptrdiff_t>(index) * sizeof(Sample), &value, sizeof value);
}

inline void LoadPixels(const std::uint8_t* row, int count, std::uint32_t* destination) {
    std::memcpy(destination, row, static_cast<std::size_t>(count) * sizeof(std::uint32_t));
}

inline void StorePixels(const std::uint32_t* source, int count, std::uint8_t* row) {
    std::memcpy(row, source, static_cast<std::size_t>(count) * sizeof(std::uint32_t));
}

// Marks (all ones) each pixel whose blue, green or red differs from the
// original; alpha does not count. Returns whether any does.
inline bool MarkChangedPixels(const std::uint32_t* pixels, const std::uint32_t* original,
                              int count, std::uint32_t* changed) {
    std::uint32_t any = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t difference = (pixels[i] ^ original[i]) & kColorBits;
        changed[i] = difference != 0 ? ~0u : 0u;
        any |= difference;
    }
    return any != 0;
}

// Pixel `index` of a row of 32-bit BGRA pixels at any alignment.
inline std::uint32_t PixelAt(const std::uint8_t* pixels, int index) {
    std::uint32_t pixel;
    std::memcpy(&pixel, pixels + static_cast<std::ptrdiff_t>(index) * 4, sizeof pixel);
    return pixel;
}

inline bool MarkChangedPixels(const std::uint8_t* pixels, const std::uint8_t* original, int count,
                              std::uint32_t* changed) {
    std::uint32_t any = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint32_t difference = (PixelAt(pixels, i) ^ PixelAt(original, i)) & kColorBits;
        changed[i] = difference != 0 ? ~0u : 0u;
        any |= difference;
    }
    return any != 0;
}

inline int BlueOf(std::uint32_t pixel) { return static_cast<int>(pixel & 0xFF); }
inline int GreenOf(std::uint32_t pixel) { return static_cast<int>((pixel >> 8) & 0xFF); }
inline int RedOf(std::uint32_t pixel) { return static_cast<int>((pixel >> 16) & 0xFF); }
