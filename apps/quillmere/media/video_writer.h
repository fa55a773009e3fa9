// Encodes composited frames into a video file: the container follows the
// output's extension (or a name given with --format), the encoder is the one
// planning chose, the size and rate follow the main video, and the main's audio
// and subtitles come along, copied or re-encoded. The encoders and the
// muxer do the work; this joins them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/quillmere/media/audio_transcoder.h"
#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/media/encoder_choice.h"
#include "apps/quillmere/media/muxer.h"
#include "apps/quillmere/media/png_writer.h"
#include "apps/quillmere/media/video_encoder.h"
#include "apps/quillmere/media/video_format.h"
#include "apps/quillmere/base/notice.h"

// A stream of the main video that the output carries.
struct CarriedStream {
    const AVStream* input = nullptr;
    std::optional<AudioEncoding> encoding;  // none: copied packet for packet
    std::optional<AudioMixing> mixing;      // re-encoded with the overlay's sound mixed in
};

// The main video's audio and subtitle streams the output carries.
struct StreamPassthrough {
    std::vector<CarriedStream> streams;
};

class VideoWriter {
public:
    // Writes frames of `video` to `path` (the file is created or
    // truncated) with `encoder`, chosen for `format` (ChooseEncoder) and
    // set up as `settings` ask; `displayName` is the name used in messages.
    // What the container or encoder cannot keep (a pixel format, an odd
    // size) is changed to the nearest it can, and said once through
    // `notice`. Throws RunnerError when the file cannot be written, the
    // encoder refuses the pictures or the container cannot hold one of the
    // carried streams, and UsageError for settings that cannot be met.
    VideoWriter(const std::string& path, const std::string& displayName,
                const OutputFormat& format, const VideoFormat& video, const CarriedOver& carried,
                const StreamPassthrough& passthrough, NoticeHandler notice,
                const AVCodec& encoder, const EncoderRequest& settings,
                const MuxerRequest& muxing);
    // The same with the container's own encoder at the runner's settings,
    // for clips no job plans (the demo's).
    VideoWriter(const std::string& path, const std::string& displayName,
                const OutputFormat& format, const VideoFormat& video,
                const CarriedOver& carried = {}, const StreamPassthrough& passthrough = {},
                NoticeHandler notice = &PrintNotice);
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Writes the packets of a video stream copied unchanged (join): the
    // codec and its parameters are `copied`'s; `video` describes the
    // pictures as for the other constructor (aspect, times).
    VideoWriter(const std::string& path, const std::string& displayName,
                const OutputFormat& format, const AVCodecParameters& copied,
                AVRational copiedTimeBase, const VideoFormat& video, const CarriedOver& carried,
                const StreamPassthrough& passthrough, NoticeHandler notice);

    // Encodes one frame of the format given at the start.
    void Write(const AVFrame& frame);
    // Writes one packet of the copied video stream, its times in `timeBase`.
    void WriteVideoPacket(AVPacket& packet, AVRational timeBase);
    // Frames of a container that counts them (AVI) are numbered from
    // `first` (a segment's first frame) instead of 0.
    void NumberFramesFrom(std::int64_t first) { encoder_->NumberFramesFrom(first); }
    // Writes a packet of carried stream `carriedIndex` (of StreamPassthrough).
    void WritePassthrough(AVPacket& packet, int carriedIndex);
    // Flushes the encoders and completes the file.
    void Finish();

    // The pixel format and size the encoder writes (not for copied video).
    AVPixelFormat encodedFormat() const { return encoder_->context().pix_fmt; }
    int encodedWidth() const { return encoder_->context().width; }
    int encodedHeight() const { return encoder_->context().height; }

private:
    void AddCarriedStreams(const StreamPassthrough& passthrough, const std::string& displayName,
                           NoticeHandler notice);
    void Drain();
    // Writes the packets of carried stream `carriedIndex`'s encoder.
    AudioTranscoder::PacketHandler AudioOut(std::size_t carriedIndex);

    Muxer muxer_;
    std::unique_ptr<VideoEncoder> encoder_;  // null when the video is copied
    int videoStream_ = 0;
    struct Carried {
        int stream;  // in the output
        AVRational inputTimeBase;
        std::unique_ptr<AudioTranscoder> transcoder;  // null: copied
    };
    std::vector<Carried> carried_;
    PacketPtr packet_;
    bool finished_ = false;
};
