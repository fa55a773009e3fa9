#include "apps/quillmere/media/video_reader.h"

#include <algorithm>

#include "apps/quillmere/base/interruption.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

// Lets a signal end a read that waits on a slow file, a pipe or a network.
int StopReading(void*) { return InterruptSignal() != 0 ? 1 : 0; }

// Frame rate of a stream that states none.
constexpr AVRational kFallbackFrameRate{25, 1};

// FFmpeg's name for standard input.
constexpr const char* kStandardInputUrl = "pipe:0";

// One line naming the size and the limit, and how to raise it.
[[noreturn]] void RefusePictureSize(const std::string& path, int width, int height,
                                    const PictureLimit& limit) {
    throw RunnerError(Quoted(path) + " declares a picture of " + std::to_string(width) + "x" +
                      std::to_string(height) + ", beyond the limit of " +
                      std::to_string(limit.maxSide) + " pixels on a side and " +
                      std::to_string(limit.maxPixels) + " in all");
}

}  // namespace

VideoReader::VideoReader(const std::string& path, long videoStream, PictureLimit limit)
    : path_(path), limit_(limit) {
    AVFormatContext* opening = avformat_alloc_context();
    if (opening == nullptr) {
        throw RunnerError("out of memory");
    }
    opening->interrupt_callback = AVIOInterruptCB{&StopReading, nullptr};
    // On failure the open frees the context itself.
    const std::string url = path == kStandardInputName ? kStandardInputUrl : path;
    int error = avformat_open_input(&opening, url.c_str(), nullptr, nullptr);
    if (error < 0) {
        ThrowIfInterrupted();
        throw RunnerError("cannot open " + Quoted(path) + ": " + AvErrorText(error));
    }
    format_.reset(opening);
    error = avformat_find_stream_info(format_.get(), nullptr);
    if (error < 0) {
        throw RunnerError("cannot read " + Quoted(path) + ": " + AvErrorText(error));
    }
    streamIndex_ = ChooseVideoStream(*format_, videoStream, path);
    const AVCodec* codec = avcodec_find_decoder(format_->streams[streamIndex_]->codecpar->codec_id);
    if (codec == nullptr) {
        throw RunnerError("cannot decode the video of " + Quoted(path) + ": no decoder for it");
    }
    AVStream* stream = format_->streams[streamIndex_];
    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_) {
        throw RunnerError("out of memory");
    }
    avcodec_parameters_to_context(decoder_.get(), stream->codecpar);
    decoder_->thread_count = 0;  // as many as the machine has
    error = avcodec_open2(decoder_.get(), codec, nullptr);
    if (error < 0) {
        throw RunnerError("cannot decode the video of " + Quoted(path) + ": " + AvErrorText(error));
    }
    if (decoder_->width <= 0 || decoder_->height <= 0) {
        throw RunnerError(Quoted(path) + " is not a video: its picture has no size");
    }
    if (!limit_.Allows(decoder_->width, decoder_->height)) {
        RefusePictureSize(path, decoder_->width, decoder_->height, limit_);
    }
    if (stream->avg_frame_rate.num > 0 && stream->avg_frame_rate.den > 0) {
        frameRate_ = stream->avg_frame_rate;
    } else if (stream->r_frame_rate.num > 0 && stream->r_frame_rate.den > 0) {
        frameRate_ = stream->r_frame_rate;
    } else {
        frameRate_ = kFallbackFrameRate;
    }
    if (stream->nb_frames > 0) {
        frameCountHint_ = stream->nb_frames;
    } else if (stream->duration > 0) {
        frameCountHint_ = av_rescale_q(stream->duration, stream->time_base, av_inv_q(frameRate_));
    } else if (format_->duration > 0) {
        frameCountHint_ = av_rescale_q(format_->duration, AV_TIME_BASE_Q, av_inv_q(frameRate_));
    }
    for (unsigned index = 0; index < format_->nb_streams; ++index) {
        const AVStream* candidate = format_->streams[index];
        const AVMediaType type = candidate->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE) {
            carriable_.push_back(candidate);
        }
    }
    packet_ = NewPacket();
    frame_ = NewFrame();
}

int ChooseVideoStream(const AVFormatContext& container, long number, const std::string& path) {
    const long videoStreams = CountVideoStreams(&container);
    if (videoStreams == 0) {
        throw RunnerError(Quoted(path) + " is not a video: it has no video stream");
    }
    const int index = FindVideoStream(&container, number);
    if (index < 0) {
        throw RunnerError(Quoted(path) + " has no video stream " + std::to_string(number) +
                          ": its video streams are 0 to " + std::to_string(videoStreams - 1));
    }
    return index;
}

void VideoReader::RouteStreams(const std::vector<const AVStream*>& streams) {
    carriedIndexOfStream_.assign(format_->nb_streams, -1);
    for (std::size_t carried = 0; carried < streams.size(); ++carried) {
        carriedIndexOfStream_.at(static_cast<std::size_t>(streams[carried]->index)) =
            static_cast<int>(carried);
    }
}

void VideoReader::CarryStreams(const std::vector<const AVStream*>& streams,
                               PacketHandler handler) {
    if (!handler) {
        carriedIndexOfStream_.clear();
        held_.clear();
        packetHandler_ = nullptr;
        return;
    }
    RouteStreams(streams);
    packetHandler_ = std::move(handler);
    // What was read before the handler came (the first frame's decoding at
    // open reads ahead of it) goes first, in read order.
    for (HeldPacket& held : held_) {
        packetHandler_(std::move(held.packet), held.carriedIndex);
    }
    held_.clear();
}

bool VideoReader::ReceiveFrame() {
    av_frame_unref(frame_.get());
    const int error = avcodec_receive_frame(decoder_.get(), frame_.get());
    if (error == 0) {
        if (!limit_.Allows(frame_->width, frame_->height)) {
            RefusePictureSize(path_, frame_->width, frame_->height, limit_);
        }
        return true;
    }
    if (error == AVERROR(EAGAIN)) {
        return false;
    }
    if (error == AVERROR_EOF) {
        finished_ = true;
        return false;
    }
    throw RunnerError("cannot decode " + Quoted(path_) + ": " + AvErrorText(error));
}

void VideoReader::DropDisplayMatrix() {
    AVStream* stream = format_->streams[streamIndex_];
    for (int index = 0; index < stream->nb_side_data;) {
        AVPacketSideData& entry = stream->side_data[index];
        if (entry.type != AV_PKT_DATA_DISPLAYMATRIX) {
            ++index;
            continue;
        }
        av_freep(&entry.data);
        // The last entry takes its place; the array keeps its memory.
        stream->side_data[index] = stream->side_data[stream->nb_side_data - 1];
        --stream->nb_side_data;
    }
}

bool VideoReader::SeekBefore(std::int64_t time) {
    if (av_seek_frame(format_.get(), streamIndex_, time, AVSEEK_FLAG_BACKWARD) < 0) {
        return false;
    }
    avcodec_flush_buffers(decoder_.get());
    draining_ = false;
    finished_ = false;
    return true;
}

bool VideoReader::SeekToKeyFrame(std::int64_t time, std::uint64_t fingerprint) {
    if (std::any_of(carriedIndexOfStream_.begin(), carriedIndexOfStream_.end(),
                    [](int carried) { return carried >= 0; })) {
        return false;
    }
    // Asked for the key frame's own time, demuxers land on it; asked to go
    // back from it, the MP4 demuxer goes back a whole key-frame interval.
    if (av_seek_frame(format_.get(), streamIndex_, time, 0) < 0) {
        return false;
    }
    avcodec_flush_buffers(decoder_.get());
    draining_ = false;
    finished_ = false;
    while (av_read_frame(format_.get(), packet_.get()) >= 0) {
        if (packet_->stream_index != streamIndex_) {
            av_packet_unref(packet_.get());
            continue;
        }
        const bool landed = PacketFingerprint(*packet_) == fingerprint &&
                            avcodec_send_packet(decoder_.get(), packet_.get()) >= 0;
        av_packet_unref(packet_.get());
        return landed;
    }
    return false;
}

AVFrame* VideoReader::NextFrame() {
    while (!finished_) {
        if (ReceiveFrame()) {
            return frame_.get();
        }
        if (finished_) {
            break;
        }
        if (draining_) {
            // The decoder asked for more input after the end was signalled.
            finished_ = true;
            break;
        }
        const int error = av_read_frame(format_.get(), packet_.get());
        if (error == AVERROR_EOF) {
            draining_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
            continue;
        }
        if (error < 0) {
            ThrowIfInterrupted();
            throw RunnerError("cannot read " + Quoted(path_) + ": " + AvErrorText(error));
        }
        const int carriedIndex =
            packet_->stream_index < static_cast<int>(carriedIndexOfStream_.size())
                ? carriedIndexOfStream_[packet_->stream_index]
                : -1;
        if (carriedIndex >= 0) {
            PacketPtr carried = NewPacket();
            av_packet_move_ref(carried.get(), packet_.get());
            if (packetHandler_) {
                packetHandler_(std::move(carried), carriedIndex);
            } else {
                held_.push_back(HeldPacket{std::move(carried), carriedIndex});
            }
            continue;
        }
        if (packet_->stream_index == streamIndex_) {
            const int sent = avcodec_send_packet(decoder_.get(), packet_.get());
            if (sent < 0 && sent != AVERROR(EAGAIN)) {
                av_packet_unref(packet_.get());
                throw RunnerError("cannot decode " + Quoted(path_) + ": " + AvErrorText(sent));
            }
        }
        av_packet_unref(packet_.get());
    }
    return nullptr;
}
