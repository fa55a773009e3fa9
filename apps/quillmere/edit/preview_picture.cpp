#include "apps/quillmere/edit/preview_picture.h"

#include <algorithm>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "apps/quillmere/media/frame_converter.h"
#include "apps/quillmere/runner_error.h"

namespace {

// Bilinear: a halved picture to look at, made as fast as it shows.
constexpr int kPreviewScaleFlags = SWS_BILINEAR;
// Any rate will do: each picture is a JPEG of its own.
constexpr AVRational kAnyTimeBase = {1, 25};

}  // namespace

int ScaledHeight(int width, int height, int scaledWidth) {
    const long long rounded =
        (static_cast<long long>(height) * scaledWidth * 2 + width) / (static_cast<long long>(width) * 2);
    return static_cast<int>(std::max(1LL, rounded));
}

std::string ScaledJpegEncoder::Encode(const AVFrame& frame, int width) {
    const int outWidth = std::clamp(width, 1, frame.width);
    const int outHeight = ScaledHeight(frame.width, frame.height, outWidth);
    // Scaled into the filter's pixels first, with the frame's own matrix and
    // range (swscale changes neither between two YUV formats), then into
    // JPEG's YUV: BT.601, full range.
    const AVPixelFormat inputFormat = PlainFormat(static_cast<AVPixelFormat>(frame.format));
    SwsContext* scaler = sws_getCachedContext(scaler_.release(), frame.width, frame.height,
                                              inputFormat, outWidth, outHeight, kFilterPixelFormat,
                                              kPreviewScaleFlags, nullptr, nullptr, nullptr);
    scaler_.reset(scaler);
    SwsContext* toJpeg = sws_getCachedContext(toJpeg_.release(), outWidth, outHeight,
                                              kFilterPixelFormat, outWidth, outHeight,
                                              AV_PIX_FMT_YUVJ420P, kPreviewScaleFlags, nullptr,
                                              nullptr, nullptr);
    toJpeg_.reset(toJpeg);
    if (scaler == nullptr || toJpeg == nullptr) {
        throw RunnerError(std::string("cannot scale pictures from ") +
                          av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame.format)));
    }
    const bool rgb = (av_pix_fmt_desc_get(inputFormat)->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    const bool inputFull =
        rgb || FullRangeOf(static_cast<AVPixelFormat>(frame.format), frame.color_range);
    const int* matrix = sws_getCoefficients(MatrixOf(frame.colorspace, frame.height));
    sws_setColorspaceDetails(scaler, matrix, inputFull ? 1 : 0, matrix, 1, 0, 1 << 16, 1 << 16);
    const int* jpegMatrix = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(toJpeg, jpegMatrix, 1, jpegMatrix, 1, 0, 1 << 16, 1 << 16);

    if (!encoder_ || encoder_->width != outWidth || encoder_->height != outHeight) {
        const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        if (codec == nullptr) {
            throw RunnerError("this FFmpeg has no JPEG encoder for the page's playback");
        }
        encoder_.reset(avcodec_alloc_context3(codec));
        if (!encoder_) {
            throw RunnerError("out of memory");
        }
        encoder_->width = outWidth;
        encoder_->height = outHeight;
        encoder_->pix_fmt = AV_PIX_FMT_YUVJ420P;
        encoder_->color_range = AVCOL_RANGE_JPEG;
        encoder_->time_base = kAnyTimeBase;
        encoder_->flags |= AV_CODEC_FLAG_QSCALE;
        encoder_->global_quality = FF_QP2LAMBDA * kPreviewJpegQuality;
        const int opened = avcodec_open2(encoder_.get(), codec, nullptr);
        if (opened < 0) {
            encoder_.reset();
            throw RunnerError("cannot open the JPEG encoder: " + AvErrorText(opened));
        }
        scaled_ = NewFrame();
        scaled_->format = AV_PIX_FMT_YUVJ420P;
        scaled_->width = outWidth;
        scaled_->height = outHeight;
        pixels_ = NewFrame();
        pixels_->format = kFilterPixelFormat;
        pixels_->width = outWidth;
        pixels_->height = outHeight;
        if (av_frame_get_buffer(scaled_.get(), 0) < 0 ||
            av_frame_get_buffer(pixels_.get(), 0) < 0) {
            encoder_.reset();
            throw RunnerError("out of memory");
        }
        packet_ = NewPacket();
        nextTime_ = 0;
    }
    // The encoder let go of the last frame when it gave back its packet.
    if (av_frame_make_writable(scaled_.get()) < 0) {
        throw RunnerError("out of memory");
    }
    sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, pixels_->data,
              pixels_->linesize);
    sws_scale(toJpeg, pixels_->data, pixels_->linesize, 0, outHeight, scaled_->data,
              scaled_->linesize);
    scaled_->quality = encoder_->global_quality;
    // The encoder takes its pictures as a stream, in rising time.
    scaled_->pts = nextTime_++;
    int status = avcodec_send_frame(encoder_.get(), scaled_.get());
    if (status >= 0) {
        status = avcodec_receive_packet(encoder_.get(), packet_.get());
    }
    if (status < 0) {
        encoder_.reset();  // opened anew for the next picture
        throw RunnerError("cannot encode the playback picture: " + AvErrorText(status));
    }
    std::string jpeg(reinterpret_cast<const char*>(packet_->data),
                     static_cast<std::size_t>(packet_->size));
    av_packet_unref(packet_.get());
    return jpeg;
}
