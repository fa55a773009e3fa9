#include "apps/quillmere/plan/picture_shape.h"

#include <cstdint>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"
#include "apps/quillmere/media/video_reader.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// Palettised formats are marked as able to carry alpha, but their tables
// (AVI's above all) hold none that means anything.
bool CarriesAlpha(int format) {
    const AVPixFmtDescriptor* descriptor =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_PAL) == 0 &&
           (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

}  // namespace

PictureShape ProbePictureShape(const std::string& path, long stream) {
    AVFormatContext* opening = nullptr;
    int error = avformat_open_input(&opening, path.c_str(), nullptr, nullptr);
    if (error < 0) {
        throw RunnerError("cannot open " + Quoted(path) + ": " + AvErrorText(error));
    }
    InputContextPtr format(opening);
    error = avformat_find_stream_info(format.get(), nullptr);
    if (error < 0) {
        throw RunnerError("cannot read " + Quoted(path) + ": " + AvErrorText(error));
    }
    const int index = ChooseVideoStream(*format, stream, path);
    return ShapeOfStream(*format, *format->streams[index], path);
}

PictureShape ShapeOfStream(const AVFormatContext& container, const AVStream& stream,
                           const std::string& path) {
    PictureShape shape;
    shape.width = stream.codecpar->width;
    shape.height = stream.codecpar->height;
    if (shape.width <= 0 || shape.height <= 0) {
        throw RunnerError(Quoted(path) + " is not a video: its picture has no size");
    }
    const AVRational aspect = av_guess_sample_aspect_ratio(
        const_cast<AVFormatContext*>(&container), const_cast<AVStream*>(&stream), nullptr);
    shape.sampleAspect = SaneSampleAspect(aspect, &shape.absurdAspect);
    shape.hasAlpha = CarriesAlpha(stream.codecpar->format);
    shape.display = DisplayTurnOf(stream);
    shape.transfer = stream.codecpar->color_trc;
    shape.primaries = stream.codecpar->color_primaries;
    return shape;
}

AVRational SaneSampleAspect(AVRational stated, AVRational* absurd) {
    *absurd = AVRational{0, 1};
    if (stated.num <= 0 || stated.den <= 0) {
        return AVRational{1, 1};
    }
    // In 64 bits: the terms may be anything up to INT_MAX.
    const std::int64_t num = stated.num;
    const std::int64_t den = stated.den;
    if (num > den * kLargestSampleAspect || den > num * kLargestSampleAspect) {
        *absurd = stated;
        return AVRational{1, 1};
    }
    AVRational kept{1, 1};
    av_reduce(&kept.num, &kept.den, num, den, kLargestAspectTerm);
    return kept;
}

std::string AbsurdAspectNote(const PictureShape& shape, const std::string& what) {
    if (shape.absurdAspect.num == 0) {
        return "";
    }
    return what + "'s sample aspect ratio " + std::to_string(shape.absurdAspect.num) + ":" +
           std::to_string(shape.absurdAspect.den) + " is beyond 1:" +
           std::to_string(kLargestSampleAspect) + " or " + std::to_string(kLargestSampleAspect) +
           ":1: placing takes its pixels as square";
}

PictureShape PictureShape::TurnedBy(const Orientation& turn) const {
    PictureShape turned = *this;
    if (turn.transpose) {
        turned.width = height;
        turned.height = width;
        turned.sampleAspect = av_inv_q(sampleAspect);
        if (absurdAspect.num != 0) {
            turned.absurdAspect = av_inv_q(absurdAspect);
        }
    }
    return turned;
}

double AspectInMainPixels(const PictureShape& overlay, const PictureShape& main) {
    return overlay.DisplayAspect() * main.sampleAspect.den / main.sampleAspect.num;
}
