#include "apps/quillmere/media/video_encoder.h"

#include <cstring>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

bool HasAlpha(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

bool IsRgbFormat(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

int DepthOf(AVPixelFormat format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    return descriptor != nullptr ? descriptor->comp[0].depth : 8;
}

bool Supports(const AVPixelFormat* list, AVPixelFormat format) {
    for (; list != nullptr && *list != AV_PIX_FMT_NONE; ++list) {
        if (*list == format) {
            return true;
        }
    }
    return list == nullptr;
}

std::string PixelFormatName(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name != nullptr ? name : "?";
}

}  // namespace

void VideoEncoder::ChooseEncoderPicture(const AVCodec& codec, const VideoFormat& video) {
    AVPixelFormat chosen = video.pixelFormat;
    if (!Supports(codec.pix_fmts, chosen)) {
        // RGB for an encoder of YUV: the 4:2:0 that players expect, at the
        // source's depth where the encoder has it.
        const AVPixelFormat playable =
            DepthOf(chosen) > 8 ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
        if (IsRgbFormat(chosen) && Supports(codec.pix_fmts, playable)) {
            chosen = playable;
        } else {
            chosen = avcodec_find_best_pix_fmt_of_list(codec.pix_fmts, video.pixelFormat,
                                                       HasAlpha(video.pixelFormat) ? 1 : 0,
                                                       nullptr);
        }
        notice_("the " + std::string(codec.name) + " encoder cannot take " +
                PixelFormatName(video.pixelFormat) + " pictures; " + Quoted(displayName_) + " holds them as " + PixelFormatName(chosen));
        convert_ = true;
    }
    int width = video.width;
    int height = video.height;
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(chosen);
    if (descriptor != nullptr && std::strcmp(codec.name, "ffv1") != 0) {
        // Subsampled chroma needs whole chroma blocks: leave out the last
        // column or row rather than change the layout.
        const int columns = (1 << descriptor->log2_chroma_w) - 1;
        const int rows = (1 << descriptor->log2_chroma_h) - 1;
        if ((width & columns) != 0 || (height & rows) != 0) {
            width &= ~columns;
            height &= ~rows;
            notice_("the " + std::string(codec.name) + " encoder needs " +
                    PixelFormatName(chosen) + " pictures of even size; " + Quoted(displayName_) + " is cropped to " + std::to_string(width) + "x" + std::to_string(height));
            crop_ = true;
        }
    }
    encoder_->pix_fmt = chosen;
    encoder_->width = width;
    encoder_->height = height;
    encoder_->colorspace = video.colorspace;
    encoder_->color_range = video.range;
    encoder_->color_primaries = video.primaries;
    encoder_->color_trc = video.transfer;
    encoder_->chroma_sample_location = video.chromaLocation;
    if (convert_ && IsRgbFormat(video.pixelFormat) && !IsRgbFormat(chosen)) {
        // Made YUV here: say with which matrix.
        encoder_->colorspace = MatrixOf(AVCOL_SPC_UNSPECIFIED, height);
        encoder_->color_range = AVCOL_RANGE_MPEG;
    } else if (convert_ && IsRgbFormat(chosen)) {
        encoder_->colorspace = AVCOL_SPC_RGB;
        encoder_->color_range = AVCOL_RANGE_JPEG;
    }
    encoder_->sample_aspect_ratio = video.sampleAspectRatio;
}

VideoEncoder::VideoEncoder(const AVCodec& codec, const EncoderRequest& settings,
                           const VideoFormat& video, const std::string& displayName,
                           NoticeHandler notice, FrameTiming timing, bool globalHeader)
    : displayName_(displayName), notice_(notice), video_(video) {
    encoder_.reset(avcodec_alloc_context3(&codec));
    if (!encoder_) {
        throw RunnerError("out of memory");
    }
    ChooseEncoderPicture(codec, video);
    renumber_ = timing == FrameTiming::Numbered;
    encoder_->time_base = renumber_ ? av_inv_q(video.frameRate) : video.timeBase;
    encoder_->framerate = video.frameRate;
    ConfigureEncoder(*encoder_, codec, settings);
    PassLightMetadata(*encoder_, codec, video.light);
    if (globalHeader) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    const int error = avcodec_open2(encoder_.get(), &codec, nullptr);
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": the " + codec.name +
                          " encoder refused " + std::to_string(encoder_->width) + "x" +
                          std::to_string(encoder_->height) + " " +
                          PixelFormatName(encoder_->pix_fmt) + ": " + AvErrorText(error));
    }
    frame_ = NewFrame();
}

void VideoEncoder::Send(const AVFrame& frame) {
    av_frame_unref(frame_.get());
    if (convert_) {
        converter_.Convert(frame, encoder_->pix_fmt, video_.width, video_.height, *frame_);
    } else if (av_frame_ref(frame_.get(), &frame) < 0) {
        throw RunnerError("out of memory");
    }
    frame_->colorspace = encoder_->colorspace;
    frame_->color_range = encoder_->color_range;
    if (crop_) {
        // The same rows, fewer of them: the picture's top-left part.
        frame_->width = encoder_->width;
        frame_->height = encoder_->height;
    }
    std::int64_t time = frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp
                                                                      : frame.pts;
    // Frames keep the main's times, so that the other streams and the
    // chapters stay where they were beside them.
    if (renumber_) {
        time = frameCount_;
    } else if (time == AV_NOPTS_VALUE) {
        time = lastTimestamp_ == AV_NOPTS_VALUE ? video_.startTime : lastTimestamp_ + 1;
    }
    // Encoders want rising times; a repeated or backward stamp follows the last.
    if (lastTimestamp_ != AV_NOPTS_VALUE && time <= lastTimestamp_) {
        time = lastTimestamp_ + 1;
    }
    lastTimestamp_ = time;
    ++frameCount_;
    frame_->pts = time;
    frame_->pict_type = AV_PICTURE_TYPE_NONE;
    const int error = avcodec_send_frame(encoder_.get(), frame_.get());
    if (error < 0) {
        throw RunnerError("cannot encode " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
}

void VideoEncoder::Flush() {
    const int error = avcodec_send_frame(encoder_.get(), nullptr);
    if (error < 0 && error != AVERROR_EOF) {
        throw RunnerError("cannot encode " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
}

bool VideoEncoder::Receive(AVPacket& packet) {
    const int error = avcodec_receive_packet(encoder_.get(), &packet);
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
        return false;
    }
    if (error < 0) {
        throw RunnerError("cannot encode " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
    return true;
}
