// Reads the frames of a file's first video stream, decoded, in order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "apps/quillmere/ffmpeg_handles.h"
#include "source/picture_limits.h"

// The main video's name for standard input.
constexpr const char* kStandardInputName = "-";

class VideoReader {
public:
    // Throws RunnerError naming the file when it cannot be opened, holds no
    // video stream, has no decoder here, or declares a picture beyond
    // `limit` (checked again on every decoded picture). A path of "-" reads
    // standard input.
    explicit VideoReader(const std::string& path, PictureLimit limit = PictureLimit());
    VideoReader(const VideoReader&) = delete;
    VideoReader& operator=(const VideoReader&) = delete;

    int width() const { return decoder_->width; }
    int height() const { return decoder_->height; }
    // Frames per second (the stream's average rate, else its base rate).
    AVRational frameRate() const { return frameRate_; }
    // The number of frames as the container states it, or 0 when unknown.
    std::int64_t frameCountHint() const { return frameCountHint_; }

    // The file's audio streams, which a render carries over unchanged.
    const std::vector<const AVStream*>& audioStreams() const { return audioStreams_; }
    // The video stream's first timestamp in seconds (0 when unknown): the
    // moment the first output frame stands for.
    double videoStartSeconds() const;
    // Receives the packets of audioStreams()[n] as they are read, with n.
    using AudioHandler = std::function<void(PacketPtr packet, int audioIndex)>;
    void SetAudioHandler(AudioHandler handler) { audioHandler_ = std::move(handler); }

    // The next decoded frame, or null after the last one. The frame is valid
    // until the next call. Throws RunnerError when the data is unreadable.
    const AVFrame* NextFrame();

private:
    bool ReceiveFrame();

    std::string path_;
    PictureLimit limit_;
    InputContextPtr format_;
    CodecContextPtr decoder_;
    PacketPtr packet_;
    FramePtr frame_;
    int streamIndex_ = -1;
    std::vector<const AVStream*> audioStreams_;
    std::vector<int> audioIndexOfStream_;  // by stream index; -1 for other streams
    AudioHandler audioHandler_;
    AVRational frameRate_{25, 1};
    std::int64_t frameCountHint_ = 0;
    bool draining_ = false;
    bool finished_ = false;
};
