// Encodes composited frames: with the encoder chosen for the output (see
// ChooseEncoder), in the picture format and size it can take (converted or
// cropped where it must, said once), with frame times that rise.
#pragma once

#include <cstdint>
#include <string>

#include "apps/quillmere/media/encoder_choice.h"
#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/frame_converter.h"
#include "apps/quillmere/media/video_format.h"
#include "apps/quillmere/base/notice.h"

// How the container keeps frame times, which the encoder's times follow.
enum class FrameTiming {
    Own,       // each frame keeps its own time, so a variable rate stays variable
    Numbered,  // frames at a constant rate (AVI): numbered 0, 1, 2, ...
};

class VideoEncoder {
public:
    // Opens `codec`, set up as `settings` ask, for frames of `video`;
    // `displayName` names the output in messages. `globalHeader`: the
    // container wants the codec's headers once, outside the packets.
    // Throws RunnerError when the encoder refuses the pictures, and
    // UsageError for settings it does not take.
    VideoEncoder(const AVCodec& codec, const EncoderRequest& settings, const VideoFormat& video,
                 const std::string& displayName, NoticeHandler notice, FrameTiming timing,
                 bool globalHeader);
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Encodes one frame of the format given at the start.
    void Send(const AVFrame& frame);
    // After the last frame: the encoder gives out what it still holds.
    void Flush();
    // The next packet the encoder has made, in its time base; false when it
    // needs more frames or has given out everything.
    bool Receive(AVPacket& packet);

    // Frames of a container that counts them are numbered from `first`
    // (a segment's first frame) instead of 0.
    void NumberFramesFrom(std::int64_t first) { frameCount_ = first; }

    const AVCodecContext& context() const { return *encoder_; }

private:
    void ChooseEncoderPicture(const AVCodec& codec, const VideoFormat& video);

    std::string displayName_;
    CodecContextPtr encoder_;
    FramePtr frame_;  // the frame handed to the encoder
    FrameConverter converter_;
    NoticeHandler notice_;
    VideoFormat video_;
    bool convert_ = false;  // the encoder takes another pixel format or size
    bool crop_ = false;     // the encoder takes the picture one row or column smaller
    bool renumber_ = false; // the container keeps a constant rate: count frames
    std::int64_t frameCount_ = 0;
    std::int64_t lastTimestamp_ = AV_NOPTS_VALUE;
};
