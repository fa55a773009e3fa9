#include "apps/quillmere/video_writer.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace {

// Lossless FFV1 keeps the composite exactly (the fourth byte is not kept);
// H.264 for the containers that players expect it in.
const OutputFormat kOutputFormats[] = {
    {".mkv", "matroska", "ffv1", AV_PIX_FMT_BGR0, "Matroska, lossless FFV1"},
    {".avi", "avi", "ffv1", AV_PIX_FMT_BGR0, "AVI, lossless FFV1"},
    {".nut", "nut", "ffv1", AV_PIX_FMT_BGR0, "NUT, lossless FFV1"},
    {".mp4", "mp4", "libx264", AV_PIX_FMT_YUV420P, "MP4, H.264"},
    {".mov", "mov", "libx264", AV_PIX_FMT_YUV420P, "QuickTime, H.264"},
};

// H.264's quality setting: visually lossless for most material.
constexpr const char* kH264Quality = "18";

std::string KnownFormats() {
    std::string list;
    for (const OutputFormat& format : kOutputFormats) {
        list += list.empty() ? "" : ", ";
        list += format.extension;
    }
    return list;
}

std::string Lowercase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

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

const OutputFormat& OutputFormatForPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
        const std::string extension = Lowercase(path.substr(dot));
        for (const OutputFormat& format : kOutputFormats) {
            if (extension == format.extension) {
                return format;
            }
        }
    }
    throw UsageError("cannot tell the output format from " + Quoted(path) + ": use " +
                     KnownFormats() + " or --format");
}

const OutputFormat& OutputFormatByName(const std::string& muxer) {
    for (const OutputFormat& format : kOutputFormats) {
        if (muxer == format.muxer || muxer == format.extension + 1) {
            return format;
        }
    }
    std::string names;
    for (const OutputFormat& format : kOutputFormats) {
        names += std::string(format.muxer) + ", ";
    }
    throw UsageError("unknown output format " + Quoted(muxer) + ": use one of " + names + "null");
}

VideoWriter::VideoWriter(const std::string& path, const std::string& displayName,
                         const OutputFormat& format, int width, int height,
                         AVRational frameRate, const AudioPassthrough& audio)
    : displayName_(displayName),
      videoStartSeconds_(audio.videoStartSeconds),
      converter_(width, height, format.pixelFormat) {
    const std::string failure = "cannot write " + Quoted(displayName) + ": ";
    AVFormatContext* muxer = nullptr;
    int error = avformat_alloc_output_context2(&muxer, nullptr, format.muxer, path.c_str());
    if (error < 0 || muxer == nullptr) {
        throw RunnerError(failure + AvErrorText(error));
    }
    muxer_.reset(muxer);
    const AVCodec* codec = avcodec_find_encoder_by_name(format.encoder);
    if (codec == nullptr) {
        throw RunnerError(failure + "this FFmpeg has no " + format.encoder + " encoder");
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) {
        throw RunnerError("out of memory");
    }
    encoder_->width = width;
    encoder_->height = height;
    encoder_->pix_fmt = format.pixelFormat;
    encoder_->time_base = av_inv_q(frameRate);
    encoder_->framerate = frameRate;
    encoder_->thread_count = 0;
    if (std::strcmp(format.encoder, "libx264") == 0) {
        av_opt_set(encoder_->priv_data, "crf", kH264Quality, 0);
        // 4:2:0 needs even sizes; odd ones keep every chroma sample instead.
        if ((width | height) & 1) {
            encoder_->pix_fmt = AV_PIX_FMT_YUV444P;
            converter_ = FrameConverter(width, height, AV_PIX_FMT_YUV444P);
        }
    } else {
        // FFV1 version 3 codes slices in parallel and checks each with a CRC.
        av_opt_set_int(encoder_->priv_data, "slicecrc", 1, 0);
        encoder_->level = 3;
    }
    if (muxer_->oformat->flags & AVFMT_GLOBALHEADER) {
        encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    error = avcodec_open2(encoder_.get(), codec, nullptr);
    if (error < 0) {
        throw RunnerError(failure + "the " + format.encoder + " encoder refused " +
                          std::to_string(width) + "x" + std::to_string(height) + ": " +
                          AvErrorText(error));
    }
    stream_ = avformat_new_stream(muxer_.get(), nullptr);
    if (stream_ == nullptr) {
        throw RunnerError("out of memory");
    }
    stream_->time_base = encoder_->time_base;
    stream_->avg_frame_rate = frameRate;
    avcodec_parameters_from_context(stream_->codecpar, encoder_.get());
    for (const AVStream* input : audio.streams) {
        const AVCodecID codec = input->codecpar->codec_id;
        if (avformat_query_codec(muxer_->oformat, codec, FF_COMPLIANCE_NORMAL) == 0) {
            throw RunnerError(failure + "the " + format.extension + " container cannot hold the " +
                              avcodec_get_name(codec) +
                              " audio of the main video (use .mkv, or --no-audio to leave it out)");
        }
        AVStream* output = avformat_new_stream(muxer_.get(), nullptr);
        if (output == nullptr) {
            throw RunnerError("out of memory");
        }
        avcodec_parameters_copy(output->codecpar, input->codecpar);
        output->codecpar->codec_tag = 0;  // the container chooses its own tag
        output->time_base = input->time_base;
        audio_.push_back(AudioStream{output, input->time_base, 0});
    }
    if (!(muxer_->oformat->flags & AVFMT_NOFILE)) {
        error = avio_open(&muxer_->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (error < 0) {
            throw RunnerError(failure + AvErrorText(error));
        }
    }
    error = avformat_write_header(muxer_.get(), nullptr);
    if (error < 0) {
        throw RunnerError(failure + AvErrorText(error));
    }
    headerWritten_ = true;
    // The muxer may have chosen other time bases.
    for (AudioStream& stream : audio_) {
        stream.startOffset = static_cast<std::int64_t>(
            videoStartSeconds_ / av_q2d(stream.output->time_base) + 0.5);
    }

    frame_ = NewFrame();
    frame_->format = encoder_->pix_fmt;
    frame_->width = width;
    frame_->height = height;
    error = av_frame_get_buffer(frame_.get(), 0);
    if (error < 0) {
        throw RunnerError("out of memory");
    }
    packet_ = NewPacket();
}

void VideoWriter::Write(const std::uint8_t* pixels, int stride) {
    // The encoder may still hold the previous frame's buffers.
    int error = av_frame_make_writable(frame_.get());
    if (error < 0) {
        throw RunnerError("out of memory");
    }
    converter_.ConvertPacked(pixels, stride, kFilterPixelFormat, *frame_);
    frame_->pts = nextTimestamp_++;
    error = avcodec_send_frame(encoder_.get(), frame_.get());
    if (error < 0) {
        throw RunnerError("cannot encode " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
    Drain();
}

void VideoWriter::WriteAudio(AVPacket& packet, int audioIndex) {
    const AudioStream& stream = audio_.at(static_cast<std::size_t>(audioIndex));
    av_packet_rescale_ts(&packet, stream.inputTimeBase, stream.output->time_base);
    if (packet.pts != AV_NOPTS_VALUE) {
        packet.pts -= stream.startOffset;
    }
    if (packet.dts != AV_NOPTS_VALUE) {
        packet.dts -= stream.startOffset;
    }
    packet.stream_index = stream.output->index;
    packet.pos = -1;
    const int error = av_interleaved_write_frame(muxer_.get(), &packet);
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
}

void VideoWriter::Drain() {
    for (;;) {
        int error = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) {
            return;
        }
        if (error < 0) {
            throw RunnerError("cannot encode " + Quoted(displayName_) + ": " + AvErrorText(error));
        }
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        error = av_interleaved_write_frame(muxer_.get(), packet_.get());
        if (error < 0) {
            throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
        }
    }
}

void VideoWriter::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    int error = avcodec_send_frame(encoder_.get(), nullptr);
    if (error < 0 && error != AVERROR_EOF) {
        throw RunnerError("cannot encode " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
    Drain();
    error = av_write_trailer(muxer_.get());
    if (error < 0) {
        throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
    }
    if (muxer_->pb != nullptr && !(muxer_->oformat->flags & AVFMT_NOFILE)) {
        error = avio_closep(&muxer_->pb);
        if (error < 0) {
            throw RunnerError("cannot write " + Quoted(displayName_) + ": " + AvErrorText(error));
        }
    }
}

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
    FrameConverter converter(width, height, AV_PIX_FMT_RGB24);
    converter.ConvertPacked(pixels, stride, kFilterPixelFormat, *frame);
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
