// Writes the output container: its streams (the encoded video, the main's
// audio and subtitles carried over), what the main's file and video stream
// carry besides pictures (tags, rotation, chapters), the header, the
// packets interleaved by time, and the trailer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/video_format.h"
#include "apps/quillmere/pipeline/frame_stream.h"

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
};

class Muxer {
public:
    // Prepares `path` in `format` (nothing is written until Start);
    // `displayName` names it in messages. Throws RunnerError when FFmpeg
    // has no such container.
    Muxer(const std::string& path, const std::string& displayName, const OutputFormat& format,
          NoticeHandler notice);
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    // The container keeps the codec's headers once, outside the packets.
    bool wantsGlobalHeader() const;

    // Adds the video stream for the packets of `encoder`, with what the
    // main carries over.
    void AddVideoStream(const AVCodecContext& encoder, const VideoFormat& video,
                        const CarriedOver& carried);
    // Adds the streams copied packet for packet. Throws RunnerError when
    // the container cannot hold one of them.
    void AddCopiedStreams(const StreamPassthrough& passthrough);
    // Creates the file and writes the header.
    void Start();

    // Writes a packet of the video stream, timed in `timeBase`.
    void WriteVideo(AVPacket& packet, AVRational timeBase);
    // Writes a packet of copied stream `carriedIndex` (of StreamPassthrough).
    void WriteCopied(AVPacket& packet, int carriedIndex);
    // Writes the trailer and closes the file.
    void Finish();

private:
    void CarryOver(const CarriedOver& carried, const VideoFormat& video);
    void Write(AVPacket& packet);

    std::string path_;
    std::string displayName_;
    const OutputFormat& format_;
    NoticeHandler notice_;
    OutputContextPtr muxer_;
    AVStream* stream_ = nullptr;
    struct CopiedStream {
        AVStream* output;
        AVRational inputTimeBase;
        std::int64_t startOffset;  // in the output stream's time base, set once it is known
    };
    std::vector<CopiedStream> copied_;
    double videoStartSeconds_ = 0;
};
