// Owning handles for FFmpeg's objects, and its error codes as text.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScaleContextDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

struct InputContextCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
// Closes the output file if it is open, then frees the context.
struct OutputContextCloser {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr && !(context->oformat->flags & AVFMT_NOFILE)) {
            avio_closep(&context->pb);
        }
        avformat_free_context(context);
    }
};

using InputContextPtr = std::unique_ptr<AVFormatContext, InputContextCloser>;
using OutputContextPtr = std::unique_ptr<AVFormatContext, OutputContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScaleContextPtr = std::unique_ptr<SwsContext, ScaleContextDeleter>;

// av_frame_alloc and av_packet_alloc, failing loudly when memory runs out.
FramePtr NewFrame();
PacketPtr NewPacket();

// "No such file or directory", "Invalid data found when processing input", ...
std::string AvErrorText(int error);
