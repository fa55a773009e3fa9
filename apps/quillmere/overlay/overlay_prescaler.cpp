#include "apps/quillmere/overlay/overlay_prescaler.h"

#include <cstring>

#include "host/win_types.h"

namespace {

constexpr std::int64_t kLargestSide = 16384;

std::int64_t RowBytes(std::int64_t width, int bitCount) {
    return (width * bitCount / 8 + 3) & ~std::int64_t{3};
}

AVPixelFormat FormatOf(int bitCount) {
    return bitCount == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
}

// libswscale writes planar RGB several times faster than packed pixels
// (640x360 to 960x540 with lanczos: about 2 ms into planes against 10 ms
// into BGRA), so the scaled picture goes into planes, which are then laid
// into the record's pixels.
AVPixelFormat PlanarFormatOf(int bitCount) {
    return bitCount == 32 ? AV_PIX_FMT_GBRAP : AV_PIX_FMT_GBRP;
}
// The planes of those formats: green, blue, red (, alpha); the byte of a
// record's pixel each fills.
constexpr int kPixelByteOfPlane[] = {1, 0, 2, 3};

}  // namespace

OverlayPrescaler::OverlayPrescaler(int width, int height, int swsFlags, bool premultiplyAlpha)
    : width_(width), height_(height), flags_(swsFlags), premultiplyAlpha_(premultiplyAlpha) {}

bool OverlayPrescaler::Scale(const void* record, std::vector<std::uint8_t>& scaled) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, record, sizeof header);
    const int bitCount = header.biBitCount;
    const std::int64_t sourceHeight = header.biHeight < 0 ? -std::int64_t{header.biHeight}
                                                          : header.biHeight;
    if ((bitCount != 24 && bitCount != 32) || header.biCompression != BI_RGB ||
        header.biWidth <= 0 || header.biWidth > kLargestSide || sourceHeight <= 0 ||
        sourceHeight > kLargestSide || width_ <= 0 || height_ <= 0) {
        return false;
    }
    const AVPixelFormat format = FormatOf(bitCount);
    // A context for each frame: kept across frames, one scaled the runner's
    // overlay frames into packed pixels about 1.5 times slower
    // (scripts/bench-pip.sh, the lanczos cases), which a test of libswscale
    // alone did not show; making one costs little.
    const ScaleContextPtr scaler(sws_getContext(header.biWidth, static_cast<int>(sourceHeight),
                                                format, width_, height_, PlanarFormatOf(bitCount),
                                                flags_ | SWS_ACCURATE_RND, nullptr, nullptr,
                                                nullptr));
    if (scaler == nullptr) {
        return false;
    }
    // Both records are walked from their top picture row: a bottom-up
    // record from its last stored row, with a negative stride.
    const std::int64_t sourceRow = RowBytes(header.biWidth, bitCount);
    const auto* sourceBits = static_cast<const std::uint8_t*>(record) + header.biSize;
    if (premultiplyAlpha_ && bitCount == 32) {
        const std::size_t bytes = static_cast<std::size_t>(sourceRow * sourceHeight);
        premultiplied_.resize(bytes);
        for (std::size_t i = 0; i < bytes; i += 4) {
            const unsigned alpha = sourceBits[i + 3];
            for (std::size_t byte = 0; byte < 3; ++byte) {
                const unsigned product = sourceBits[i + byte] * alpha + 128;
                premultiplied_[i + byte] = static_cast<std::uint8_t>((product + (product >> 8)) >> 8);
            }
            premultiplied_[i + 3] = static_cast<std::uint8_t>(alpha);
        }
        sourceBits = premultiplied_.data();
    }
    const std::uint8_t* sourceTop =
        header.biHeight > 0 ? sourceBits + sourceRow * (sourceHeight - 1) : sourceBits;
    const int sourceStride = static_cast<int>(header.biHeight > 0 ? -sourceRow : sourceRow);

    const std::int64_t row = RowBytes(width_, bitCount);
    scaled.resize(sizeof(BITMAPINFOHEADER) + static_cast<std::size_t>(row * height_));
    BITMAPINFOHEADER scaledHeader = header;
    scaledHeader.biSize = sizeof(BITMAPINFOHEADER);
    scaledHeader.biWidth = width_;
    scaledHeader.biHeight = height_;
    scaledHeader.biSizeImage = static_cast<DWORD>(row * height_);
    std::memcpy(scaled.data(), &scaledHeader, sizeof scaledHeader);
    std::uint8_t* bits = scaled.data() + sizeof(BITMAPINFOHEADER);

    const int planeCount = bitCount / 8;
    const std::size_t planeBytes = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    planes_.resize(planeBytes * static_cast<std::size_t>(planeCount));
    std::uint8_t* planes[4] = {};
    int planeStrides[4] = {};
    for (int plane = 0; plane < planeCount; ++plane) {
        planes[plane] = planes_.data() + planeBytes * static_cast<std::size_t>(plane);
        planeStrides[plane] = width_;
    }
    sws_scale(scaler.get(), &sourceTop, &sourceStride, 0, static_cast<int>(sourceHeight), planes,
              planeStrides);
    const int pixelBytes = bitCount / 8;
    for (int y = 0; y < height_; ++y) {
        // Bottom-up: picture row y is stored row height - 1 - y.
        std::uint8_t* out = bits + row * (height_ - 1 - y);
        const std::size_t first = static_cast<std::size_t>(y) * static_cast<std::size_t>(width_);
        for (int plane = 0; plane < planeCount; ++plane) {
            const std::uint8_t* in = planes[plane] + first;
            std::uint8_t* target = out + kPixelByteOfPlane[plane];
            for (int x = 0; x < width_; ++x) {
                target[static_cast<std::ptrdiff_t>(x) * pixelBytes] = in[x];
            }
        }
    }
    return true;
}
