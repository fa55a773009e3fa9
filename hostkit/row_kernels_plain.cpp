// The reference row loops: one pixel, one byte at a time, as the rules in
// row_kernels.h read.
#include <algorithm>
#include <cstring>

#include "hostkit/row_kernels.h"

namespace {

using Pixel = std::uint32_t;

constexpr int kPixelBytes = 4;
constexpr int kColourBytes = 3;
constexpr int kBitsPerByte = 8;
constexpr std::uint32_t kByteMax = 255;
constexpr std::uint32_t kShareOne = 256;
constexpr std::uint32_t kDownRounding = 1u << 15;
constexpr int kDownShift = 16;
constexpr int kAlphaShift = 24;
constexpr Pixel kTopByte = 0xFF000000u;

Pixel Load(const std::uint8_t* address) {
    Pixel value;
    std::memcpy(&value, address, sizeof value);
    return value;
}

void Store(std::uint8_t* address, Pixel value) { std::memcpy(address, &value, sizeof value); }

std::uint32_t ByteOf(Pixel pixel, int index) { return (pixel >> (kBitsPerByte * index)) & 0xFF; }

// x / 255 rounded to the nearest integer, exact for 0 <= x <= 255 * 255.
std::uint32_t DivideBy255(std::uint32_t x) {
    x += 128;
    return (x + (x >> 8)) >> 8;
}

// x / (255 * 255) rounded to the nearest integer, exact for any x below
// 2^32: the reciprocal's quotient is the true one or one above it, and the
// product tells which.
std::uint32_t DivideBy65025(std::uint64_t x) {
    constexpr std::uint64_t kWhole = kByteMax * kByteMax;
    constexpr std::uint64_t kReciprocal = 66052;  // ceil(2^32 / 65025)
    const std::uint64_t rounded = x + kWhole / 2;
    const std::uint64_t quotient = (rounded * kReciprocal) >> 32;
    return static_cast<std::uint32_t>(quotient - (quotient * kWhole > rounded ? 1 : 0));
}

// How a pixel lands on the destination, one type per Laying.
struct CopyPixel {
    static void Put(std::uint8_t* out, Pixel over, int) { Store(out, over); }
};

struct OverPixel {
    static void Put(std::uint8_t* out, Pixel over, int) {
        const Pixel under = Load(out);
        const std::uint32_t remaining = kByteMax - (over >> kAlphaShift);
        Pixel laid = under & kTopByte;
        for (int byte = 0; byte < kColourBytes; ++byte) {
            const std::uint32_t value =
                ByteOf(over, byte) + DivideBy255(ByteOf(under, byte) * remaining);
            laid |= std::min(value, kByteMax) << (kBitsPerByte * byte);
        }
        Store(out, laid);
    }
};

struct FadedPixel {
    static void Put(std::uint8_t* out, Pixel over, int opacity) {
        const Pixel under = Load(out);
        const std::uint64_t overWeight = static_cast<std::uint64_t>(opacity) * kByteMax;
        const std::uint64_t underWeight =
            kByteMax * kByteMax - (over >> kAlphaShift) * static_cast<std::uint64_t>(opacity);
        Pixel laid = under & kTopByte;
        for (int byte = 0; byte < kColourBytes; ++byte) {
            const std::uint32_t value = DivideBy65025(ByteOf(over, byte) * overWeight +
                                                      ByteOf(under, byte) * underWeight);
            laid |= std::min(value, kByteMax) << (kBitsPerByte * byte);
        }
        Store(out, laid);
    }
};

const std::uint8_t* PixelAt(const std::uint8_t* row, std::int32_t column) {
    return row + static_cast<std::ptrdiff_t>(column) * kPixelBytes;
}

template <class Put>
void Nearest(std::uint8_t* out, const std::uint8_t* row, const std::int32_t* columns, int count,
             int opacity) {
    for (int i = 0; i < count; ++i) {
        Put::Put(out + i * kPixelBytes, Load(PixelAt(row, columns[i])), opacity);
    }
}

void Across(std::uint16_t* out, const std::uint8_t* row, const ColumnPairs& columns, int count) {
    for (int i = 0; i < count; ++i) {
        const Pixel first = Load(PixelAt(row, columns.first[i]));
        const Pixel second = Load(PixelAt(row, columns.second[i]));
        const std::uint32_t share = columns.weights[i * kColumnWeights + 1];
        for (int byte = 0; byte < kPixelBytes; ++byte) {
            out[i * kPixelBytes + byte] = static_cast<std::uint16_t>(
                ByteOf(first, byte) * (kShareOne - share) + ByteOf(second, byte) * share);
        }
    }
}

template <class Put>
void Down(std::uint8_t* out, const std::uint16_t* upper, const std::uint16_t* lower, int count,
          int share, int opacity) {
    const auto down = static_cast<std::uint32_t>(share);
    const std::uint32_t up = kShareOne - down;
    for (int i = 0; i < count; ++i) {
        Pixel pixel = 0;
        for (int byte = 0; byte < kPixelBytes; ++byte) {
            const int at = i * kPixelBytes + byte;
            const std::uint32_t value = (upper[at] * up + lower[at] * down + kDownRounding) >>
                                        kDownShift;
            pixel |= value << (kBitsPerByte * byte);
        }
        Put::Put(out + i * kPixelBytes, pixel, opacity);
    }
}

void PrepareStraight(std::uint8_t* out, const std::uint8_t* in, int count) {
    for (int i = 0; i < count; ++i) {
        const Pixel pixel = Load(in + i * kPixelBytes);
        const std::uint32_t alpha = pixel >> kAlphaShift;
        Pixel premultiplied = pixel & kTopByte;
        for (int byte = 0; byte < kColourBytes; ++byte) {
            premultiplied |= DivideBy255(ByteOf(pixel, byte) * alpha) << (kBitsPerByte * byte);
        }
        Store(out + i * kPixelBytes, premultiplied);
    }
}

// A colour above its alpha is no premultiplied colour; held to it, a blend
// cannot overflow a byte.
void PreparePremultiplied(std::uint8_t* out, const std::uint8_t* in, int count) {
    for (int i = 0; i < count; ++i) {
        const Pixel pixel = Load(in + i * kPixelBytes);
        const std::uint32_t alpha = pixel >> kAlphaShift;
        Pixel held = pixel & kTopByte;
        for (int byte = 0; byte < kColourBytes; ++byte) {
            held |= std::min(ByteOf(pixel, byte), alpha) << (kBitsPerByte * byte);
        }
        Store(out + i * kPixelBytes, held);
    }
}

void PrepareOpaque(std::uint8_t* out, const std::uint8_t* in, int count) {
    for (int i = 0; i < count; ++i) {
        Store(out + i * kPixelBytes, Load(in + i * kPixelBytes) | kTopByte);
    }
}

template <class Put>
void Lay(std::uint8_t* out, const std::uint8_t* pixels, int count, int opacity) {
    for (int i = 0; i < count; ++i) {
        Put::Put(out + i * kPixelBytes, Load(pixels + i * kPixelBytes), opacity);
    }
}

const RowKernels kPlain = {
    "plain",
    {&Nearest<CopyPixel>, &Nearest<OverPixel>, &Nearest<FadedPixel>},
    &Across,
    {&Down<CopyPixel>, &Down<OverPixel>, &Down<FadedPixel>},
    {&PrepareStraight, &PreparePremultiplied, &PrepareOpaque},
    &Lay<OverPixel>,
    &Lay<FadedPixel>,
};

}  // namespace

const RowKernels& PlainRowKernels() { return kPlain; }
