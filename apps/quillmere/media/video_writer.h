// Encodes composited frames into a video file: the container follows the
// output's extension (or a name given with --format), the codec follows the
// container, the size and rate follow the main video.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/media/encoder_choice.h"
#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/frame_converter.h"
#include "apps/quillmere/pipeline/frame_stream.h"
#include "apps/quillmere/media/video_format.h"

// Audio and subtitle streams carried over unchanged from the main video.
struct StreamPassthrough {
    std::vector<const AVStream*> streams;  // some of the main video's streams
    double videoStartSeconds = 0;          // the main's first frame becomes time 0
};

// What the output carries over from the main video besides its pictures:
// the video stream's tags and rotation, the file's tags and chapters.
struct CarriedOver {
    const AVStream* stream = nullptr;
    const AVFormatContext* container = nullptr;
    bool chapters = true;  // the container's chapters too (its tags always)
    // Tags of our own for the file (a segment's job and frame range), kept
    // in .mp4 and .mov as well.
    std::vector<std::pair<std::string, std::string>> fileTags;
};

class VideoWriter {
public:
    // Writes frames of `video` to `path` (the file is created or
    // truncated); `displayName` is the name used in messages. What the
    // container or encoder cannot keep (a pixel format, an odd size) is
    // changed to the nearest it can, and said once through `notice`.
    // Throws RunnerError when the file cannot be written, the encoder
    // refuses the pictures or the container cannot hold one of the carried
    // streams, and UsageError for an encoder request that cannot be met.
    VideoWriter(const std::string& path, const std::string& displayName,
                const OutputFormat& format, const VideoFormat& video,
                const CarriedOver& carried = {}, const StreamPassthrough& passthrough = {},
                NoticeHandler notice = &PrintNotice, const EncoderRequest& encoding = {});
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
    void NumberFramesFrom(std::int64_t first) { frameCount_ = first; }
    // Writes a packet of carried stream `carriedIndex` (of StreamPassthrough).
    void WritePassthrough(AVPacket& packet, int carriedIndex);
    // Flushes the encoder and completes the file.
    void Finish();

    // The pixel format and size the encoder writes.
    AVPixelFormat encodedFormat() const { return encoder_->pix_fmt; }
    int encodedWidth() const { return encoder_->width; }
    int encodedHeight() const { return encoder_->height; }

private:
    void ChooseEncoderPicture(const AVCodec& codec, const VideoFormat& video);
    void CarryOver(const CarriedOver& carried, const VideoFormat& video);
    void OpenMuxer(const std::string& path, const OutputFormat& format);
    void CopyStreams(const StreamPassthrough& passthrough, const OutputFormat& format);
    void WriteHeader(const std::string& path, const CarriedOver& carried);
    void Drain();

    std::string displayName_;
    OutputContextPtr muxer_;
    AVStream* stream_ = nullptr;
    struct CopiedStream {
        AVStream* output;
        AVRational inputTimeBase;
        std::int64_t startOffset;  // in the output stream's time base, set once it is known
    };
    std::vector<CopiedStream> copied_;
    double videoStartSeconds_ = 0;
    CodecContextPtr encoder_;  // null when the video is copied
    FramePtr frame_;  // the frame handed to the encoder
    PacketPtr packet_;
    FrameConverter converter_;
    NoticeHandler notice_;
    VideoFormat video_;
    bool convert_ = false;  // the encoder takes another pixel format or size
    bool crop_ = false;     // the encoder takes the picture one row or column smaller
    bool renumber_ = false; // the container keeps a constant rate: count frames
    std::int64_t frameCount_ = 0;
    std::int64_t lastTimestamp_ = AV_NOPTS_VALUE;
    bool headerWritten_ = false;
    bool finished_ = false;
};

// Encodes one top-down picture in the filter's pixel layout as a PNG file.
void WritePng(const std::string& path, const std::string& displayName,
              const std::uint8_t* pixels, int stride, int width, int height);
