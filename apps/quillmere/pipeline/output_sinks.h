// Where composited frames go: a video file, or one frame as a PNG.
#pragma once

#include <string>

#include "apps/quillmere/media/frame_picture.h"
#include "apps/quillmere/pipeline/frame_stream.h"
#include "apps/quillmere/media/png_writer.h"
#include "apps/quillmere/media/video_writer.h"

class VideoSink : public FrameSink {
public:
    explicit VideoSink(VideoWriter& writer) : writer_(writer) {}
    void Consume(const AVFrame& frame, long) override { writer_.Write(frame); }
    void ConsumePassthrough(AVPacket& packet, int carriedIndex) override {
        writer_.WritePassthrough(packet, carriedIndex);
    }
    void Finish() override { writer_.Finish(); }

private:
    VideoWriter& writer_;
};

// Writes frame `frameNumber` as a PNG file and ignores the others.
class PngSink : public FrameSink {
public:
    PngSink(std::string path, std::string displayName, long frameNumber)
        : path_(std::move(path)), displayName_(std::move(displayName)),
          frameNumber_(frameNumber) {}
    void Consume(const AVFrame& frame, long number) override {
        if (number == frameNumber_) {
            const Picture picture = PictureOfFrame(frame);
            WritePng(path_, displayName_, picture.top(), picture.topDownStride(), picture.width,
                     picture.height);
            written_ = true;
        }
    }
    bool written() const { return written_; }

private:
    std::string path_;
    std::string displayName_;
    long frameNumber_;
    bool written_ = false;
};
