#include "apps/quillmere/pipeline/frame_stream.h"


#include "apps/quillmere/runner_error.h"
#include "convert/picture_converter.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// The formats frames are converted to when the decoder's own is not carried
// through the pipeline; the nearest one to the decoder's is taken.
const AVPixelFormat kCarriedFallbacks[] = {
    AV_PIX_FMT_YUV420P,     AV_PIX_FMT_YUV422P,     AV_PIX_FMT_YUV444P,
    AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV444P10LE,
    AV_PIX_FMT_YUV444P16LE, AV_PIX_FMT_YUVA444P,    AV_PIX_FMT_YUVA444P16LE,
    AV_PIX_FMT_GBRP,        AV_PIX_FMT_GBRP16LE,    AV_PIX_FMT_GBRAP,
    AV_PIX_FMT_GBRAP16LE,   AV_PIX_FMT_GRAY8,       AV_PIX_FMT_GRAY16LE,
    AV_PIX_FMT_BGRA,        AV_PIX_FMT_NONE,
};

// Whole frames in the filter's own pixels: blue, green, red and an unused byte.
constexpr AVPixelFormat kFilterPixelsFormat = AV_PIX_FMT_BGR0;

// Full-range frames are relabelled as the plain format with the range
// stated, so that encoders take them as they are.
void RelabelFullRange(AVFrame& frame) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(frame.format);
    const AVPixelFormat plain = PlainFormat(format);
    if (plain != format) {
        frame.format = plain;
        frame.color_range = AVCOL_RANGE_JPEG;
    }
}

bool Carried(AVPixelFormat format, AVColorSpace colorspace) {
    return PictureConverter::Handles(format) && PictureConverter::HandlesColorspace(colorspace);
}

std::string FormatName(AVPixelFormat format) {
    const char* name = av_get_pix_fmt_name(format);
    return name != nullptr ? name : "an unknown pixel format";
}

}  // namespace

void TakePictureFormat(const AVFrame& frame, VideoFormat& format) {
    format.width = frame.width;
    format.height = frame.height;
    format.pixelFormat = static_cast<AVPixelFormat>(frame.format);
    format.colorspace = frame.colorspace;
    format.range = frame.color_range;
    format.primaries = frame.color_primaries;
    format.transfer = frame.color_trc;
    format.chromaLocation = frame.chroma_location;
    if (frame.sample_aspect_ratio.num > 0 && frame.sample_aspect_ratio.den > 0) {
        format.sampleAspectRatio = frame.sample_aspect_ratio;
    }
}

bool MatchesPicture(const AVFrame& frame, const VideoFormat& format) {
    return frame.width == format.width && frame.height == format.height &&
           frame.format == format.pixelFormat;
}

FileFrameSource::FileFrameSource(const std::string& path, bool asFilterPixels,
                                 NoticeHandler notice, long videoStream, PictureLimit limit)
    : FileFrameSource(std::make_unique<VideoReader>(path, videoStream, limit), asFilterPixels,
                      notice) {}

FileFrameSource::FileFrameSource(std::unique_ptr<VideoReader> reader, bool asFilterPixels,
                                 NoticeHandler notice, const Orientation& turn)
    : reader_(std::move(reader)), notice_(notice), convertAll_(asFilterPixels) {
    const AVStream& stream = reader_->videoStream();
    format_.timeBase = stream.time_base;
    format_.frameRate = reader_->frameRate();
    format_.sampleAspectRatio = stream.sample_aspect_ratio;
    AVFrame* decoded = reader_->NextFrame();
    if (decoded == nullptr) {
        format_.width = reader_->width();
        format_.height = reader_->height();
        format_.pixelFormat = kFilterPixelsFormat;
        return;
    }
    first_ = NewFrame();
    av_frame_move_ref(first_.get(), decoded);
    RelabelFullRange(*first_);
    TakePictureFormat(*first_, format_);
    format_.light = LightMetadataOf(stream, first_.get());
    format_.startTime = stream.start_time != AV_NOPTS_VALUE ? stream.start_time
                        : first_->best_effort_timestamp != AV_NOPTS_VALUE
                            ? first_->best_effort_timestamp
                            : 0;
    if (convertAll_) {
        if (Carried(format_.pixelFormat, MatrixOf(format_.colorspace, format_.height))) {
            filterPixels_ = std::make_unique<PictureConverter>(
                format_.pixelFormat, format_.colorspace, format_.range, format_.chromaLocation,
                format_.width, format_.height);
        }
        format_.pixelFormat = kFilterPixelsFormat;
        format_.colorspace = AVCOL_SPC_RGB;
        format_.range = AVCOL_RANGE_JPEG;
        format_.chromaLocation = AVCHROMA_LOC_UNSPECIFIED;
    } else if (!Carried(format_.pixelFormat, MatrixOf(format_.colorspace, format_.height))) {
        const AVPixelFormat decoded = format_.pixelFormat;
        const bool alpha = (av_pix_fmt_desc_get(decoded)->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
        AVPixelFormat nearest =
            avcodec_find_best_pix_fmt_of_list(kCarriedFallbacks, decoded, alpha ? 1 : 0, nullptr);
        if (nearest == AV_PIX_FMT_NONE ||
            !Carried(nearest, MatrixOf(format_.colorspace, format_.height))) {
            nearest = AV_PIX_FMT_GBRP;
        }
        if (!PictureConverter::HandlesColorspace(MatrixOf(format_.colorspace, format_.height))) {
            // A matrix the pipeline cannot convert with: go through RGB.
            nearest = alpha ? AV_PIX_FMT_GBRAP : AV_PIX_FMT_GBRP;
            format_.colorspace = AVCOL_SPC_RGB;
            format_.range = AVCOL_RANGE_JPEG;
        }
        notice_("the main video's pictures (" + FormatName(decoded) + ") are converted to " +
                FormatName(nearest) + " to composite them");
        format_.pixelFormat = nearest;
        convertAll_ = true;
    }
    if (!turn.identity()) {
        turner_ = std::make_unique<FrameTurner>(format_, turn);
        for (const std::string& note : turner_->notes()) {
            notice_(note);
        }
        reader_->DropDisplayMatrix();
    }
}

long FileFrameSource::NumberOf(const AVFrame& frame) const {
    const std::int64_t time = frame.best_effort_timestamp;
    if (time == AV_NOPTS_VALUE) {
        return nextNumber_;
    }
    // The frame shown at that time, counted at the stream's rate.
    const AVRational frameTime = av_inv_q(format_.frameRate);
    return static_cast<long>(av_rescale_q_rnd(
        time - format_.startTime, format_.timeBase, frameTime,
        static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX)));
}

void FileFrameSource::Deliver(AVFrame& decoded, AVFrame& frame) {
    DeliverStored(decoded, frame);
    if (turner_) {
        turner_->Turn(frame);
    }
}

void FileFrameSource::DeliverStored(AVFrame& decoded, AVFrame& frame) {
    RelabelFullRange(decoded);
    if (filterPixels_ != nullptr && decoded.width == format_.width &&
        decoded.height == format_.height &&
        decoded.format == filterPixels_->format()) {
        // The same conversion the filter's area gets, over the whole frame.
        frame.format = kFilterPixelsFormat;
        frame.width = decoded.width;
        frame.height = decoded.height;
        if (av_frame_get_buffer(&frame, 0) < 0 || av_frame_copy_props(&frame, &decoded) < 0) {
            throw RunnerError("out of memory");
        }
        filterPixels_->ToBgra(decoded.data, decoded.linesize,
                              PictureRect{0, 0, decoded.width, decoded.height}, frame.data[0],
                              frame.linesize[0]);
        frame.colorspace = AVCOL_SPC_RGB;
        frame.color_range = AVCOL_RANGE_JPEG;
        av_frame_unref(&decoded);
        return;
    }
    if (convertAll_ || !MatchesPicture(decoded, format_)) {
        if (!convertAll_ && !noticedChange_) {
            notice_("the main video changes its pictures midway (" +
                    std::to_string(decoded.width) + "x" + std::to_string(decoded.height) + " " +
                    FormatName(static_cast<AVPixelFormat>(decoded.format)) +
                    "); they are converted to the first ones' size and format");
            noticedChange_ = true;
        }
        converter_.Convert(decoded, format_.pixelFormat, format_.width, format_.height, frame);
        frame.colorspace = format_.colorspace;
        frame.color_range = format_.range;
        av_frame_unref(&decoded);
        return;
    }
    av_frame_move_ref(&frame, &decoded);
}

bool FileFrameSource::Next(AVFrame& frame, long& number) {
    AVFrame* decoded = nullptr;
    if (first_) {
        decoded = first_.get();
    } else {
        decoded = reader_->NextFrame();
        if (decoded == nullptr) {
            return false;
        }
    }
    if (index_ && decoded->best_effort_timestamp != AV_NOPTS_VALUE) {
        number = index_->FrameAt(decoded->best_effort_timestamp);
    } else {
        number = numberByTime_ ? NumberOf(*decoded) : nextNumber_;
    }
    Deliver(*decoded, frame);
    first_.reset();
    nextNumber_ = number + 1;
    return true;
}

void FileFrameSource::StartAtFrame(long first, std::shared_ptr<const VideoStreamInfo> index) {
    // A stream numbered in decoding order has no times to seek by or to
    // number with: it is read from the start and counted.
    if (index == nullptr || index->numberedByDecodeOrder) {
        return;
    }
    index_ = std::move(index);
    const long key = index_->KeyFrameBefore(first);
    if (key < 0 || index_->keyFrames[static_cast<std::size_t>(key)].frame == 0) {
        return;  // from the start, where the first frame is decoded already
    }
    const KeyFrame& start = index_->keyFrames[static_cast<std::size_t>(key)];
    if (reader_->SeekToKeyFrame(start.seekTime, start.fingerprint) ||
        reader_->SeekBefore(start.seekTime)) {
        first_.reset();
    }
}

void FileFrameSource::SkipTowards(long number) {
    // A source started by its index stands at the right key frame already;
    // a seek by the nominal rate could land past it on a variable rate.
    if (number < 0 || index_) {
        return;
    }
    const std::int64_t time =
        format_.startTime + av_rescale_q(number, av_inv_q(format_.frameRate), format_.timeBase);
    if (reader_->SeekBefore(time)) {
        first_.reset();
        numberByTime_ = true;
    }
}
