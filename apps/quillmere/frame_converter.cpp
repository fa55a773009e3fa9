#include "apps/quillmere/frame_converter.h"

#include "apps/quillmere/runner_error.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/macros.h>
#include <libavutil/pixdesc.h>
}

namespace {
// Only the main video can need scaling (a stream that changes size midway);
// everything else is a format change at one size.
constexpr int kScaleFlags = SWS_BILINEAR;

// A row stride at which libswscale's widest vector stores stay in the row.
constexpr int kScalerRowAlignment = 64;

// Decoders still hand out the deprecated full-range YUV formats; swscale
// wants the plain format with the range stated separately.
AVPixelFormat PlainFormat(AVPixelFormat format, bool& fullRange) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: fullRange = true; return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: fullRange = true; return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: fullRange = true; return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: fullRange = true; return AV_PIX_FMT_YUV440P;
    default: return format;
    }
}
}  // namespace

FrameConverter::FrameConverter(int width, int height, AVPixelFormat outputFormat)
    : width_(width), height_(height), outputFormat_(outputFormat) {}

SwsContext* FrameConverter::ContextFor(int width, int height, AVPixelFormat inputFormat,
                                       AVPixelFormat outputFormat) {
    SwsContext* context =
        sws_getCachedContext(context_.release(), width, height, inputFormat, width_, height_,
                             outputFormat, kScaleFlags, nullptr, nullptr, nullptr);
    context_.reset(context);
    if (context == nullptr) {
        throw RunnerError(std::string("cannot convert pictures from ") +
                          av_get_pix_fmt_name(inputFormat) + " to " +
                          av_get_pix_fmt_name(outputFormat));
    }
    return context;
}

void FrameConverter::Convert(const AVFrame& input, std::uint8_t* const planes[],
                             const int strides[]) {
    bool fullRange = input.color_range == AVCOL_RANGE_JPEG;
    const AVPixelFormat format = PlainFormat(static_cast<AVPixelFormat>(input.format), fullRange);
    SwsContext* context = ContextFor(input.width, input.height, format, outputFormat_);
    if (fullRange) {
        int* inverseTable = nullptr;
        int* table = nullptr;
        int sourceRange = 0;
        int destinationRange = 0;
        int brightness = 0;
        int contrast = 0;
        int saturation = 0;
        if (sws_getColorspaceDetails(context, &inverseTable, &sourceRange, &table,
                                     &destinationRange, &brightness, &contrast,
                                     &saturation) >= 0) {
            sws_setColorspaceDetails(context, inverseTable, 1, table, destinationRange,
                                     brightness, contrast, saturation);
        }
    }
    ScaleIntoPackedRows(context, input, planes[0], strides[0]);
}

// libswscale's vector stores run past the end of a row whose bytes are not a
// multiple of their width, into the next row stored (with a negative stride,
// the picture row above, already written) and past the last one. Rows of the
// filter's layout are padded to 8 bytes only, so pictures of such widths go
// through rows of a wide enough stride first.
void FrameConverter::ScaleIntoPackedRows(SwsContext* context, const AVFrame& input,
                                         std::uint8_t* rows, int stride) {
    const int rowBytes = av_image_get_linesize(outputFormat_, width_, 0);
    const int absoluteStride = stride < 0 ? -stride : stride;
    if (absoluteStride % kScalerRowAlignment == 0) {
        std::uint8_t* planes[4] = {rows, nullptr, nullptr, nullptr};
        const int strides[4] = {stride, 0, 0, 0};
        sws_scale(context, input.data, input.linesize, 0, input.height, planes, strides);
        return;
    }
    const int scratchStride = FFALIGN(rowBytes, kScalerRowAlignment);
    const std::size_t bytes =
        static_cast<std::size_t>(scratchStride) * static_cast<std::size_t>(height_) +
        kScalerRowAlignment;
    if (scratch_.size() < bytes) {
        scratch_.resize(bytes);
    }
    std::uint8_t* planes[4] = {scratch_.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {scratchStride, 0, 0, 0};
    sws_scale(context, input.data, input.linesize, 0, input.height, planes, strides);
    av_image_copy_plane(rows, stride, scratch_.data(), scratchStride, rowBytes, height_);
}

void FrameConverter::ConvertPacked(const std::uint8_t* pixels, int stride, AVPixelFormat format,
                                   AVFrame& output) {
    SwsContext* context = ContextFor(width_, height_, format, outputFormat_);
    const std::uint8_t* planes[4] = {pixels, nullptr, nullptr, nullptr};
    const int strides[4] = {stride, 0, 0, 0};
    sws_scale(context, planes, strides, 0, height_, output.data, output.linesize);
}
