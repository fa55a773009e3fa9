#include "apps/quillmere/overlay/overlay_turner.h"

#include <cstring>

#include "apps/quillmere/media/plane_turn.h"
#include "host/win_types.h"

namespace {

constexpr std::int64_t kLargestSide = 16384;
constexpr int kBitsPerByte = 8;

std::int64_t RowBytes(std::int64_t width, int bitCount) {
    return (width * bitCount / kBitsPerByte + 3) & ~std::int64_t{3};
}

}  // namespace

void* OverlayTurner::Turn(const void* record) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, record, sizeof header);
    const int bitCount = header.biBitCount;
    const std::int64_t width = header.biWidth;
    const std::int64_t height = header.biHeight < 0 ? -std::int64_t{header.biHeight}
                                                    : header.biHeight;
    if ((bitCount != 24 && bitCount != 32) || header.biCompression != BI_RGB || width <= 0 ||
        width > kLargestSide || height <= 0 || height > kLargestSide) {
        return nullptr;
    }
    const std::int64_t sourceRow = RowBytes(width, bitCount);
    const auto* sourceBits = static_cast<const std::uint8_t*>(record) + header.biSize;
    // Both records are walked from their top picture row: a bottom-up
    // record from its last stored row, with a negative stride.
    const std::uint8_t* sourceTop =
        header.biHeight > 0 ? sourceBits + sourceRow * (height - 1) : sourceBits;
    const std::ptrdiff_t sourceStride = header.biHeight > 0 ? -sourceRow : sourceRow;

    const std::int64_t turnedWidth = turn_.transpose ? height : width;
    const std::int64_t turnedHeight = turn_.transpose ? width : height;
    const std::int64_t row = RowBytes(turnedWidth, bitCount);
    output_.resize(sizeof(BITMAPINFOHEADER) + static_cast<std::size_t>(row * turnedHeight));
    BITMAPINFOHEADER turned = header;
    turned.biSize = sizeof(BITMAPINFOHEADER);
    turned.biWidth = static_cast<LONG>(turnedWidth);
    turned.biHeight = static_cast<LONG>(turnedHeight);
    turned.biSizeImage = static_cast<DWORD>(row * turnedHeight);
    std::memcpy(output_.data(), &turned, sizeof turned);
    std::uint8_t* bits = output_.data() + sizeof(BITMAPINFOHEADER);
    TurnPlane(sourceTop, sourceStride, static_cast<int>(width), static_cast<int>(height),
              bitCount / kBitsPerByte, turn_, bits + row * (turnedHeight - 1), -row);
    return output_.data();
}
