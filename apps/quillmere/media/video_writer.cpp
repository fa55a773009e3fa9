#include "apps/quillmere/media/video_writer.h"

#include <cstring>

namespace {

// AVI holds frames at a constant rate; other containers keep each frame's
// own time, so a variable rate stays variable.
FrameTiming TimingOf(const OutputFormat& format) {
    return std::strcmp(format.muxer, "avi") == 0 ? FrameTiming::Numbered : FrameTiming::Own;
}

}  // namespace

VideoWriter::VideoWriter(const std::string& path, const std::string& displayName,
                         const OutputFormat& format, const VideoFormat& video,
                         const CarriedOver& carried, const StreamPassthrough& passthrough,
                         NoticeHandler notice, const EncoderRequest& encoding)
    : muxer_(path, displayName, format, notice),
      encoder_(format, video, displayName, notice, encoding, TimingOf(format),
               muxer_.wantsGlobalHeader()),
      packet_(NewPacket()) {
    muxer_.AddVideoStream(encoder_.context(), video, carried);
    muxer_.AddCopiedStreams(passthrough);
    muxer_.Start();
}

void VideoWriter::Write(const AVFrame& frame) {
    encoder_.Send(frame);
    Drain();
}

void VideoWriter::WritePassthrough(AVPacket& packet, int carriedIndex) {
    muxer_.WriteCopied(packet, carriedIndex);
}

void VideoWriter::Drain() {
    while (encoder_.Receive(*packet_)) {
        muxer_.WriteVideo(*packet_, encoder_.context().time_base);
    }
}

void VideoWriter::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    encoder_.Flush();
    Drain();
    muxer_.Finish();
}
