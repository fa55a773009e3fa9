#include "apps/quillmere/media/png_encoder.h"

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace {

// zlib's fastest level, with no row prediction: on loopback the bytes cost
// less than the time to make them fewer.
constexpr int kQuickLevel = 1;
constexpr const char* kQuickPrediction = "none";

}  // namespace

std::string EncodePng(const std::string& displayName, const std::uint8_t* pixels, int stride,
                      int width, int height, PngCompression compression) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) {
        throw RunnerError("cannot write " + Quoted(displayName) +
                          ": this FFmpeg has no PNG encoder");
    }
    CodecContextPtr encoder(avcodec_alloc_context3(codec));
    if (!encoder) {
        throw RunnerError("out of memory");
    }
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_RGB24;
    encoder->time_base = AVRational{1, 1};
    if (compression == PngCompression::Quick) {
        encoder->compression_level = kQuickLevel;
        av_opt_set(encoder->priv_data, "pred", kQuickPrediction, 0);
    }
    int error = avcodec_open2(encoder.get(), codec, nullptr);
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + AvErrorText(error));
    }
    FramePtr frame = NewFrame();
    frame->format = AV_PIX_FMT_RGB24;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        throw RunnerError("out of memory");
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* from = pixels + static_cast<std::ptrdiff_t>(y) * stride;
        std::uint8_t* to = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < width; ++x) {
            to[3 * x] = from[4 * x + 2];
            to[3 * x + 1] = from[4 * x + 1];
            to[3 * x + 2] = from[4 * x];
        }
    }
    PacketPtr packet = NewPacket();
    error = avcodec_send_frame(encoder.get(), frame.get());
    if (error >= 0) {
        error = avcodec_receive_packet(encoder.get(), packet.get());
    }
    if (error < 0) {
        throw RunnerError("cannot encode " + Quoted(displayName) + ": " + AvErrorText(error));
    }
    return std::string(reinterpret_cast<const char*>(packet->data),
                       static_cast<std::size_t>(packet->size));
}
