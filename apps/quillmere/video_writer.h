// Encodes composited frames into a video file: the container follows the
// output's extension (or a name given with --format), the codec follows the
// container, the size and rate follow the main video.
#pragma once

#include <cstdint>
#include <string>

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

class VideoWriter {
public:
    // Writes to `path` (the file is created or truncated); `displayName` is
    // the name used in messages. Throws RunnerError when the file cannot be
    // written or the encoder refuses the size.
    VideoWriter(const std::string& path, const std::string& displayName,
                const OutputFormat& format, int width, int height, AVRational frameRate);
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Encodes one top-down picture in the filter's pixel layout.
    void Write(const std::uint8_t* pixels, int stride);
    // Flushes the encoder and completes the file.
    void Finish();

private:
    void Drain();

    std::string displayName_;
    AVFormatContext* muxer_ = nullptr;
    AVStream* stream_ = nullptr;
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
