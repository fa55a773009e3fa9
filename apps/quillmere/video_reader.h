// Reads the frames of a file's first video stream, decoded, in order.
#pragma once

#include <cstdint>
#include <string>

#include "apps/quillmere/ffmpeg_handles.h"

class VideoReader {
public:
    // Throws RunnerError naming the file when it cannot be opened, holds no
    // video stream, or has no decoder here.
    explicit VideoReader(const std::string& path);
    ~VideoReader();
    VideoReader(const VideoReader&) = delete;
    VideoReader& operator=(const VideoReader&) = delete;

    int width() const { return decoder_->width; }
    int height() const { return decoder_->height; }
    // Frames per second (the stream's average rate, else its base rate).
    AVRational frameRate() const { return frameRate_; }
    // The number of frames as the container states it, or 0 when unknown.
    std::int64_t frameCountHint() const { return frameCountHint_; }

    // The next decoded frame, or null after the last one. The frame is valid
    // until the next call. Throws RunnerError when the data is unreadable.
    const AVFrame* NextFrame();

private:
    bool ReceiveFrame();

    std::string path_;
    AVFormatContext* format_ = nullptr;
    CodecContextPtr decoder_;
    PacketPtr packet_;
    FramePtr frame_;
    int streamIndex_ = -1;
    AVRational frameRate_{25, 1};
    std::int64_t frameCountHint_ = 0;
    bool draining_ = false;
    bool finished_ = false;
};
