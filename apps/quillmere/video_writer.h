// Encodes composited frames into a video file: the container follows the
// output's extension (or a name given with --format), the codec follows the
// container, the size and rate follow the main video.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/quillmere/ffmpeg_handles.h"
#include "apps/quillmere/frame_converter.h"

// One supported container and the codec the runner writes into it.
struct OutputFormat {
    const char* extension;  // with the dot
    const char* muxer;      // libavformat's name
    const char* encoder;    // libavcodec's name
    AVPixelFormat pixelFormat;
    const char* description;
};

// The row of a known extension or muxer name; throws UsageError otherwise.
const OutputFormat& OutputFormatForPath(const std::string& path);
const OutputFormat& OutputFormatByName(const std::string& muxer);

// Audio carried over unchanged from the main video.
struct AudioPassthrough {
    std::vector<const AVStream*> streams;  // the main video's audio streams
    double videoStartSeconds = 0;          // the main's first frame becomes time 0
};

class VideoWriter {
public:
    // Writes to `path` (the file is created or truncated); `displayName` is
    // the name used in messages. Throws RunnerError when the file cannot be
    // written, the encoder refuses the size or the container cannot hold
    // one of the audio streams.
    VideoWriter(const std::string& path, const std::string& displayName,
                const OutputFormat& format, int width, int height, AVRational frameRate,
                const AudioPassthrough& audio = {});
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Encodes one top-down picture in the filter's pixel layout.
    void Write(const std::uint8_t* pixels, int stride);
    // Writes a packet of audio stream `audioIndex` (of AudioPassthrough).
    void WriteAudio(AVPacket& packet, int audioIndex);
    // Flushes the encoder and completes the file.
    void Finish();

private:
    void Drain();

    std::string displayName_;
    OutputContextPtr muxer_;
    AVStream* stream_ = nullptr;
    struct AudioStream {
        AVStream* output;
        AVRational inputTimeBase;
        std::int64_t startOffset;  // in the output stream's time base, set once it is known
    };
    std::vector<AudioStream> audio_;
    double videoStartSeconds_ = 0;
    CodecContextPtr encoder_;
    FramePtr frame_;
    PacketPtr packet_;
    FrameConverter converter_;
    std::int64_t nextTimestamp_ = 0;
    bool headerWritten_ = false;
    bool finished_ = false;
};

// Encodes one top-down picture in the filter's pixel layout as a PNG file.
void WritePng(const std::string& path, const std::string& displayName,
              const std::uint8_t* pixels, int stride, int width, int height);
