#include "apps/quillmere/plan/picture_shape.h"

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
    if (aspect.num > 0 && aspect.den > 0) {
        shape.sampleAspect = aspect;
    }
    shape.hasAlpha = CarriesAlpha(stream.codecpar->format);
    shape.display = DisplayTurnOf(stream);
    return shape;
}

PictureShape PictureShape::TurnedBy(const Orientation& turn) const {
    PictureShape turned = *this;
    if (turn.transpose) {
        turned.width = height;
        turned.height = width;
        turned.sampleAspect = av_inv_q(sampleAspect);
    }
    return turned;
}

double AspectInMainPixels(const PictureShape& overlay, const PictureShape& main) {
    return overlay.DisplayAspect() * main.sampleAspect.den / main.sampleAspect.num;
}
