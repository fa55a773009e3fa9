#include "apps/quillmere/overlay/overlay_prescaler.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/buffer.h>
}

#include "host/win_types.h"

namespace {

constexpr std::int64_t kLargestSide = 16384;
// The planes of a window are made this many bytes at a time at most: a
// window's scale may be far wider than the window.
constexpr std::int64_t kSliceBytes = std::int64_t{4} << 20;
// Plane rows of a window's scale start on this many bytes.
constexpr std::int64_t kPlaneRowAlignment = 64;

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

std::string SizeText(std::int64_t width, std::int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// Frames handed to libswscale's slice interface point into memory owned
// elsewhere; their buffers only mark them as filled.
void LeaveAlone(void*, std::uint8_t*) {}

bool WrapBuffer(AVFrame& frame, std::uint8_t* data, std::size_t bytes) {
    frame.buf[0] = av_buffer_create(data, bytes, &LeaveAlone, nullptr, 0);
    return frame.buf[0] != nullptr;
}

// libswscale writes a slice that starts at output row `start` at
// data + start x linesize. The planes hold the slice alone, so each plane's
// data is placed that many bytes before it; nothing is read or written there.
std::uint8_t* BytesBefore(std::uint8_t* plane, std::int64_t bytes) {
    return reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(plane) -
                                           static_cast<std::uintptr_t>(bytes));
}

}  // namespace

OverlayPrescaler::OverlayPrescaler(int width, int height, int swsFlags, bool premultiplyAlpha,
                                   const OutputWindow& window)
    : width_(width),
      height_(height),
      flags_(swsFlags),
      premultiplyAlpha_(premultiplyAlpha),
      window_(window),
      sourceFrame_(NewFrame()),
      sliceFrame_(NewFrame()) {
    const bool whole = window.width <= 0 || window.height <= 0 ||
                       (window.left <= 0 && window.top <= 0 &&
                        window.left + window.width >= width && window.top + window.height >= height);
    if (whole) {
        window_ = OutputWindow{0, 0, width, height};
    }
    windowed_ = !whole;
}

OverlayPrescaler::~OverlayPrescaler() = default;

bool OverlayPrescaler::Scale(const void* record, std::vector<std::uint8_t>& scaled) {
    BITMAPINFOHEADER header;
    std::memcpy(&header, record, sizeof header);
    const int bitCount = header.biBitCount;
    const std::int64_t sourceHeight = header.biHeight < 0 ? -std::int64_t{header.biHeight}
                                                          : header.biHeight;
    if ((bitCount != 24 && bitCount != 32) || header.biCompression != BI_RGB ||
        header.biWidth <= 0 || header.biWidth > kLargestSide || sourceHeight <= 0 ||
        sourceHeight > kLargestSide || width_ <= 0 || height_ <= 0) {
        problem_ = "its frames come in a layout that cannot be scaled";
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

    const int recordWidth = static_cast<int>(window_.width);
    const int recordHeight = static_cast<int>(window_.height);
    recordRowBytes_ = RowBytes(recordWidth, bitCount);
    scaled.resize(sizeof(BITMAPINFOHEADER) + static_cast<std::size_t>(recordRowBytes_ * recordHeight));
    BITMAPINFOHEADER scaledHeader = header;
    scaledHeader.biSize = sizeof(BITMAPINFOHEADER);
    scaledHeader.biWidth = recordWidth;
    scaledHeader.biHeight = recordHeight;
    scaledHeader.biSizeImage = static_cast<DWORD>(recordRowBytes_ * recordHeight);
    std::memcpy(scaled.data(), &scaledHeader, sizeof scaledHeader);
    bits_ = scaled.data() + sizeof(BITMAPINFOHEADER);

    const int sourceWidth = header.biWidth;
    const bool made =
        windowed_ ? ScaleWindow(sourceTop, sourceStride, sourceWidth,
                                static_cast<int>(sourceHeight), bitCount)
                  : ScaleWhole(sourceTop, sourceStride, sourceWidth,
                               static_cast<int>(sourceHeight), bitCount);
    if (!made) {
        problem_ = "libswscale cannot scale " + SizeText(sourceWidth, sourceHeight) + " to " +
                   SizeText(width_, height_);
    }
    return made;
}

bool OverlayPrescaler::ScaleWhole(const std::uint8_t* sourceTop, int sourceStride,
                                  int sourceWidth, int sourceHeight, int bitCount) {
    // A context for each frame: kept across frames, one scaled the runner's
    // overlay frames into packed pixels about 1.5 times slower
    // (scripts/bench-pip.sh, the lanczos cases), which a test of libswscale
    // alone did not show; making one costs little.
    const ScaleContextPtr scaler(sws_getContext(sourceWidth, sourceHeight, FormatOf(bitCount),
                                                width_, height_, PlanarFormatOf(bitCount),
                                                flags_ | SWS_ACCURATE_RND, nullptr, nullptr,
                                                nullptr));
    if (scaler == nullptr) {
        return false;
    }
    const int planeCount = bitCount / 8;
    const std::size_t planeBytes = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    planes_.resize(planeBytes * static_cast<std::size_t>(planeCount));
    std::uint8_t* planes[4] = {};
    int planeStrides[4] = {};
    for (int plane = 0; plane < planeCount; ++plane) {
        planes[plane] = planes_.data() + planeBytes * static_cast<std::size_t>(plane);
        planeStrides[plane] = width_;
    }
    sws_scale(scaler.get(), &sourceTop, &sourceStride, 0, sourceHeight, planes, planeStrides);
    LayRows(bitCount, 0, height_, 0, width_, planeBytes);
    return true;
}

bool OverlayPrescaler::ScaleWindow(const std::uint8_t* sourceTop, int sourceStride,
                                   int sourceWidth, int sourceHeight, int bitCount) {
    WindowScale& scale = windowScale_;
    if (scale.context == nullptr || scale.sourceWidth != sourceWidth ||
        scale.sourceHeight != sourceHeight || scale.bitCount != bitCount) {
        scale.sourceWidth = sourceWidth;
        scale.sourceHeight = sourceHeight;
        scale.bitCount = bitCount;
        scale.plan = PlanPartialScale(sourceWidth, sourceHeight, width_, height_, window_);
        const PartialScale& plan = scale.plan;
        scale.context.reset(sws_getContext(
            static_cast<int>(plan.across.sourceLength), static_cast<int>(plan.down.sourceLength),
            FormatOf(bitCount), static_cast<int>(plan.across.outputLength),
            static_cast<int>(plan.down.outputLength), PlanarFormatOf(bitCount),
            flags_ | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
    }
    if (scale.context == nullptr) {
        return false;
    }
    const PartialScale& plan = scale.plan;
    const int pixelBytes = bitCount / 8;
    AVFrame& source = *sourceFrame_;
    av_frame_unref(&source);
    source.format = FormatOf(bitCount);
    source.width = static_cast<int>(plan.across.sourceLength);
    source.height = static_cast<int>(plan.down.sourceLength);
    source.data[0] = const_cast<std::uint8_t*>(sourceTop) +
                     plan.down.sourceStart * sourceStride + plan.across.sourceStart * pixelBytes;
    source.linesize[0] = sourceStride;
    if (!WrapBuffer(source, source.data[0], static_cast<std::size_t>(pixelBytes))) {
        return false;
    }

    const int planeCount = pixelBytes;
    const std::int64_t planeStride =
        (plan.across.outputLength + kPlaneRowAlignment - 1) / kPlaneRowAlignment * kPlaneRowAlignment;
    const int rowsAtOnce = static_cast<int>(std::clamp<std::int64_t>(
        kSliceBytes / (planeStride * planeCount), 1, window_.height));
    const std::size_t planeBytes = static_cast<std::size_t>(planeStride * rowsAtOnce);
    planes_.resize(planeBytes * static_cast<std::size_t>(planeCount));
    const std::int64_t firstRow = window_.top - plan.down.outputStart;
    const std::int64_t firstColumn = window_.left - plan.across.outputStart;
    bool made = true;
    for (int row = 0; made && row < window_.height; row += rowsAtOnce) {
        const int rows = std::min<int>(rowsAtOnce, static_cast<int>(window_.height) - row);
        const std::int64_t start = firstRow + row;
        AVFrame& slice = *sliceFrame_;
        av_frame_unref(&slice);
        slice.format = PlanarFormatOf(bitCount);
        slice.width = static_cast<int>(plan.across.outputLength);
        slice.height = static_cast<int>(plan.down.outputLength);
        for (int plane = 0; plane < planeCount; ++plane) {
            slice.data[plane] =
                BytesBefore(planes_.data() + planeBytes * static_cast<std::size_t>(plane),
                            start * planeStride);
            slice.linesize[plane] = static_cast<int>(planeStride);
        }
        made = WrapBuffer(slice, planes_.data(), planes_.size()) &&
               sws_frame_start(scale.context.get(), &slice, &source) >= 0 &&
               sws_send_slice(scale.context.get(), 0, static_cast<unsigned>(source.height)) >= 0 &&
               sws_receive_slice(scale.context.get(), static_cast<unsigned>(start),
                                 static_cast<unsigned>(rows)) >= 0;
        sws_frame_end(scale.context.get());
        if (made) {
            LayRows(bitCount, row, rows, firstColumn, planeStride, planeBytes);
        }
    }
    av_frame_unref(sliceFrame_.get());
    av_frame_unref(&source);
    return made;
}

void OverlayPrescaler::LayRows(int bitCount, int firstRow, int rows, std::int64_t firstColumn,
                               std::int64_t planeStride, std::size_t planeBytes) {
    const int pixelBytes = bitCount / 8;
    const int planeCount = pixelBytes;
    const int width = static_cast<int>(window_.width);
    const std::int64_t height = window_.height;
    for (int y = 0; y < rows; ++y) {
        // Bottom-up: picture row y is stored row height - 1 - y.
        std::uint8_t* out = bits_ + recordRowBytes_ * (height - 1 - (firstRow + y));
        const std::size_t first = static_cast<std::size_t>(y * planeStride + firstColumn);
        for (int plane = 0; plane < planeCount; ++plane) {
            const std::uint8_t* in = planes_.data() + planeBytes * static_cast<std::size_t>(plane) + first;
            std::uint8_t* target = out + kPixelByteOfPlane[plane];
            for (int x = 0; x < width; ++x) {
                target[static_cast<std::ptrdiff_t>(x) * pixelBytes] = in[x];
            }
        }
    }
}
