#include "apps/quillmere/media/frame_converter.h"

#include "apps/quillmere/runner_error.h"
#include "convert/color_matrix.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/macros.h>
#include <libavutil/pixdesc.h>
}

namespace {

// Only a main video that changes size midway is scaled; everything else is
// a format change at one size, made as exactly as swscale can.
constexpr int kScaleFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT |
                            SWS_FULL_CHR_H_INP | SWS_BITEXACT;

bool IsRgb(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

}  // namespace

AVPixelFormat PlainFormat(AVPixelFormat format) {
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
    default: return format;
    }
}

AVColorSpace MatrixOf(AVColorSpace tagged, int height) { return PlayersColorspace(tagged, height); }

bool FullRangeOf(AVPixelFormat format, AVColorRange tagged) {
    return tagged == AVCOL_RANGE_JPEG || PlainFormat(format) != format;
}

void FrameConverter::Convert(const AVFrame& input, AVPixelFormat format, int width, int height,
                             AVFrame& output) {
    const AVPixelFormat inputFormat = PlainFormat(static_cast<AVPixelFormat>(input.format));
    SwsContext* context =
        sws_getCachedContext(context_.release(), input.width, input.height, inputFormat, width,
                             height, PlainFormat(format), kScaleFlags, nullptr, nullptr, nullptr);
    context_.reset(context);
    if (context == nullptr) {
        throw RunnerError(std::string("cannot convert pictures from ") +
                          av_get_pix_fmt_name(static_cast<AVPixelFormat>(input.format)) +
                          " to " + av_get_pix_fmt_name(format));
    }
    const AVColorSpace matrix = MatrixOf(input.colorspace, input.height);
    const bool inputFull = IsRgb(inputFormat) ||
                           FullRangeOf(static_cast<AVPixelFormat>(input.format), input.color_range);
    const bool outputFull = IsRgb(format) || FullRangeOf(format, input.color_range);
    const int* coefficients = sws_getCoefficients(matrix);
    sws_setColorspaceDetails(context, coefficients, inputFull ? 1 : 0, coefficients,
                             outputFull ? 1 : 0, 0, 1 << 16, 1 << 16);

    const bool reusable = output.format == format && output.width == width &&
                          output.height == height && av_frame_is_writable(&output) != 0;
    if (!reusable) {
        av_frame_unref(&output);
        output.format = format;
        output.width = width;
        output.height = height;
        if (av_frame_get_buffer(&output, 0) < 0) {
            throw RunnerError("out of memory");
        }
    }
    if (av_frame_copy_props(&output, &input) < 0) {
        throw RunnerError("out of memory");
    }
    if (IsRgb(format)) {
        output.colorspace = AVCOL_SPC_RGB;
        output.color_range = AVCOL_RANGE_JPEG;
    }
    sws_scale(context, input.data, input.linesize, 0, input.height, output.data,
              output.linesize);
}
