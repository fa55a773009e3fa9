// The two ends of a compositing job: where the main video's frames come
// from, and where the composited frames go.
#pragma once

#include <cstdint>
#include <string>

#include "apps/quillmere/frame_converter.h"
#include "apps/quillmere/picture.h"
#include "apps/quillmere/video_reader.h"

class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual AVRational frameRate() const = 0;
    // The number of frames, or 0 when unknown.
    virtual std::int64_t frameCountHint() const = 0;
    // Puts the next frame into `picture`; with no picture the frame is
    // passed over without conversion. False after the last frame.
    virtual bool Next(Picture* picture) = 0;
    // Audio to carry over: the handler receives its packets as Next reads
    // them. Sources without audio never call it.
    virtual void SetAudioHandler(VideoReader::AudioHandler) {}
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void Consume(const Picture& picture) = 0;
    // A packet of the main video's audio stream `audioIndex`, in read order.
    virtual void ConsumeAudio(AVPacket&, int /*audioIndex*/) {}
    // After the last frame: complete the output.
    virtual void Finish() {}
};

// The frames of a video file, converted to the filter's layout.
class FileFrameSource : public FrameSource {
public:
    explicit FileFrameSource(const std::string& path, PictureLimit limit = PictureLimit());
    int width() const override { return reader_.width(); }
    int height() const override { return reader_.height(); }
    AVRational frameRate() const override { return reader_.frameRate(); }
    std::int64_t frameCountHint() const override { return reader_.frameCountHint(); }
    bool Next(Picture* picture) override;
    void SetAudioHandler(VideoReader::AudioHandler handler) override {
        reader_.SetAudioHandler(std::move(handler));
    }
    const VideoReader& reader() const { return reader_; }

private:
    VideoReader reader_;
    FrameConverter converter_;
};
