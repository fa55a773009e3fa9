#include "apps/quillmere/media/video_writer.h"

#include <cstring>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

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
                         NoticeHandler notice, const AVCodec& encoder,
                         const EncoderRequest& settings, const MuxerRequest& muxing)
    : muxer_(path, displayName, format, notice, muxing),
      encoder_(std::make_unique<VideoEncoder>(encoder, settings, video, displayName, notice,
                                              TimingOf(format), muxer_.wantsGlobalHeader())),
      packet_(NewPacket()) {
    videoStream_ = muxer_.AddVideoStream(encoder_->context(), video, carried);
    const std::string lost = LostLightNote(format, encoder, video.light,
                                           encoder_->context().color_trc, displayName);
    if (!lost.empty()) {
        notice(lost);
    }
    AddCarriedStreams(passthrough, displayName, notice);
    muxer_.Start();
}

VideoWriter::VideoWriter(const std::string& path, const std::string& displayName,
                         const OutputFormat& format, const VideoFormat& video,
                         const CarriedOver& carried, const StreamPassthrough& passthrough,
                         NoticeHandler notice)
    : VideoWriter(path, displayName, format, video, carried, passthrough, notice,
                  ChooseEncoder(format, EncoderRequest{}), EncoderRequest{}, MuxerRequest{}) {}

VideoWriter::VideoWriter(const std::string& path, const std::string& displayName,
                         const OutputFormat& format, const AVCodecParameters& copied,
                         AVRational copiedTimeBase, const VideoFormat& video,
                         const CarriedOver& carried, const StreamPassthrough& passthrough,
                         NoticeHandler notice)
    : muxer_(path, displayName, format, notice), packet_(NewPacket()) {
    if (!HoldsStream(format, copied)) {
        throw RunnerError("cannot write " + Quoted(displayName) + ": the " + format.extension +
                          " container cannot hold " + avcodec_get_name(copied.codec_id) +
                          " video (render the segments with a codec it holds, e.g. --codec "
                          "h264, or join into .mkv)");
    }
    videoStream_ = muxer_.AddCopiedVideoStream(copied, copiedTimeBase, video, carried);
    AddCarriedStreams(passthrough, displayName, notice);
    muxer_.Start();
}

void VideoWriter::AddCarriedStreams(const StreamPassthrough& passthrough,
                                    const std::string& displayName, NoticeHandler notice) {
    for (const CarriedStream& stream : passthrough.streams) {
        Carried entry{0, stream.input->time_base, nullptr};
        if (stream.encoding) {
            entry.transcoder = std::make_unique<AudioTranscoder>(
                *stream.input, *stream.encoding, muxer_.wantsGlobalHeader(), displayName,
                notice, stream.mixing ? &*stream.mixing : nullptr);
            entry.stream = muxer_.AddEncodedStream(entry.transcoder->encoder(), *stream.input);
        } else {
            entry.stream = muxer_.AddCopiedStream(*stream.input);
        }
        carried_.push_back(std::move(entry));
    }
}

void VideoWriter::WriteVideoPacket(AVPacket& packet, AVRational timeBase) {
    muxer_.Write(packet, videoStream_, timeBase);
}

void VideoWriter::Write(const AVFrame& frame) {
    encoder_->Send(frame);
    Drain();
}

void VideoWriter::WritePassthrough(AVPacket& packet, int carriedIndex) {
    const std::size_t index = static_cast<std::size_t>(carriedIndex);
    Carried& stream = carried_.at(index);
    if (stream.transcoder) {
        stream.transcoder->Send(packet, AudioOut(index));
    } else {
        muxer_.Write(packet, stream.stream, stream.inputTimeBase);
    }
}

void VideoWriter::Drain() {
    while (encoder_->Receive(*packet_)) {
        muxer_.Write(*packet_, videoStream_, encoder_->context().time_base);
    }
}

AudioTranscoder::PacketHandler VideoWriter::AudioOut(std::size_t carriedIndex) {
    const Carried& stream = carried_[carriedIndex];
    return [this, &stream](AVPacket& packet) {
        muxer_.Write(packet, stream.stream, stream.transcoder->encoder().time_base);
    };
}

void VideoWriter::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (encoder_) {
        encoder_->Flush();
        Drain();
    }
    for (std::size_t index = 0; index < carried_.size(); ++index) {
        if (carried_[index].transcoder) {
            carried_[index].transcoder->Flush(AudioOut(index));
        }
    }
    muxer_.Finish();
}
