#include "apps/quillmere/picture_shape.h"

#include "apps/quillmere/ffmpeg_handles.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

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

PictureShape ProbePictureShape(const std::string& path) {
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
    // The first video stream that is not an attached cover picture: the one
    // the overlay source reads.
    for (unsigned index = 0; index < format->nb_streams; ++index) {
        AVStream* stream = format->streams[index];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
            (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
            continue;
        }
        PictureShape shape;
        shape.width = stream->codecpar->width;
        shape.height = stream->codecpar->height;
        if (shape.width <= 0 || shape.height <= 0) {
            throw RunnerError(Quoted(path) + " is not a video: its picture has no size");
        }
        const AVRational aspect = av_guess_sample_aspect_ratio(format.get(), stream, nullptr);
        if (aspect.num > 0 && aspect.den > 0) {
            shape.sampleAspect = aspect;
        }
        shape.hasAlpha = CarriesAlpha(stream->codecpar->format);
        return shape;
    }
    throw RunnerError(Quoted(path) + " is not a video: it has no video stream");
}

double AspectInMainPixels(const PictureShape& overlay, const PictureShape& main) {
    return overlay.DisplayAspect() * main.sampleAspect.den / main.sampleAspect.num;
}
