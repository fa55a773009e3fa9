#include "tests/source/frame_numbers.h"

#include <cstdint>
#include <cstring>

#include "host/win_types.h"

namespace {

std::uint8_t Luma(int blue, int green, int red) {
    return static_cast<std::uint8_t>((blue * 29 + green * 150 + red * 77) >> 8);
}

}  // namespace

int NumberInRecord(const void* record) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, record, sizeof header);
    const int bitCount = header.biBitCount;
    if (bitCount != 16 && bitCount != 24 && bitCount != 32) {
        return -1;
    }
    const bool topDown = header.biHeight < 0;
    const long height = topDown ? -header.biHeight : header.biHeight;
    const long rowBytes = (header.biWidth * bitCount / 8 + 3) & ~3L;
    const auto* bits = static_cast<const std::uint8_t*>(record) + header.biSize;
    if (header.biWidth < kNumberBits * kNumberBlock || height < kNumberBlock) {
        return -1;
    }
    int number = 0;
    for (int bit = 0; bit < kNumberBits; ++bit) {
        long sum = 0;
        int count = 0;
        for (int y = 4; y < kNumberBlock - 4; ++y) {
            const long storedRow = topDown ? y : height - 1 - y;
            const std::uint8_t* row = bits + storedRow * rowBytes;
            for (int x = bit * kNumberBlock + 4; x < (bit + 1) * kNumberBlock - 4; ++x) {
                if (bitCount == 16) {
                    std::uint16_t word;
                    std::memcpy(&word, row + 2 * x, 2);
                    sum += Luma((word & 31) << 3, ((word >> 5) & 31) << 3, ((word >> 10) & 31) << 3);
                } else {
                    const std::uint8_t* pixel = row + x * (bitCount / 8);
                    sum += Luma(pixel[0], pixel[1], pixel[2]);
                }
                ++count;
            }
        }
        const long mean = sum / count;
        if (mean > 96 && mean < 160) {
            return -1;  // neither black nor white: not a numbered frame
        }
        if (mean >= 160) {
            number |= 1 << bit;
        }
    }
    return number;
}

