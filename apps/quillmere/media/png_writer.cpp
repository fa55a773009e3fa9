#include "apps/quillmere/media/png_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

void WriteAll(const std::string& path, const std::string& displayName, const std::uint8_t* data,
              std::size_t size) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                          &std::fclose);
    if (!file) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + std::strerror(errno));
    }
    if (std::fwrite(data, 1, size, file.get()) != size || std::fflush(file.get()) != 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + std::strerror(errno));
    }
    if (std::fclose(file.release()) != 0) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": " + std::strerror(errno));
    }
}

}  // namespace

void WritePng(const std::string& path, const std::string& displayName,
              const std::uint8_t* pixels, int stride, int width, int height) {
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
    WriteAll(path, displayName, packet->data, static_cast<std::size_t>(packet->size));
}
