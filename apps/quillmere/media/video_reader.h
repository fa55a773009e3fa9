// Reads the frames of one video stream of a file, decoded, in order, and
// hands on the packets of the audio and subtitle streams a render carries.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"
#include "source/ffmpeg_video_stream.h"
#include "source/picture_limits.h"

// The main video's name for standard input.
constexpr const char* kStandardInputName = "-";

// The index of video stream `number` of an opened file (counted from 0
// among its video streams; kDefaultVideoStream: the one marked default,
// else the first). Throws RunnerError naming the streams there are.
int ChooseVideoStream(const AVFormatContext& container, long number, const std::string& path);

class VideoReader {
public:
    // Reads video stream `videoStream` (counted from 0 among the video
    // streams; kDefaultVideoStream: the one marked default, else the first).
    // Throws RunnerError naming the file when it cannot be opened, holds no
    // such video stream, has no decoder here, or declares a picture beyond
    // `limit` (checked again on every decoded picture). A path of "-" reads
    // standard input.
    explicit VideoReader(const std::string& path, long videoStream = kDefaultVideoStream,
                         PictureLimit limit = PictureLimit());
    VideoReader(const VideoReader&) = delete;
    VideoReader& operator=(const VideoReader&) = delete;

    int width() const { return decoder_->width; }
    int height() const { return decoder_->height; }
    // Frames per second (the stream's average rate, else its base rate).
    AVRational frameRate() const { return frameRate_; }
    // The number of frames as the container states it, or 0 when unknown.
    std::int64_t frameCountHint() const { return frameCountHint_; }

    // The file's audio and subtitle streams, which a render can carry over
    // unchanged.
    const std::vector<const AVStream*>& carriableStreams() const { return carriable_; }
    // Receives the packets of carried stream n as they are read, with n.
    using PacketHandler = std::function<void(PacketPtr packet, int carriedIndex)>;
    // Routes the packets of `streams` (some of carriableStreams()) to be
    // carried, from the next packet read on: until a handler comes, they
    // are held. Other streams' packets are dropped. Call it before the
    // first frame is read, so that nothing read ahead of it is lost.
    void RouteStreams(const std::vector<const AVStream*>& streams);
    // Routes `streams` and hands their packets to `handler`, with their
    // place in `streams`, those held first. An empty handler ends this.
    void CarryStreams(const std::vector<const AVStream*>& streams, PacketHandler handler);

    // The next decoded frame, or null after the last one. The frame is valid
    // until the next call; the caller may take its buffers (move the
    // reference out). Throws RunnerError when the data is unreadable.
    AVFrame* NextFrame();

    // Moves to the last key frame at or before `time` (in the video
    // stream's time base), so that the next frames decoded lead up to it.
    // False when the file cannot seek; the position is then unchanged.
    bool SeekBefore(std::int64_t time);
    // Moves onto the key frame whose packet has decoding time `time` and
    // fingerprint `fingerprint` (as the stream's scan recorded them), so
    // that the next frame decoded is that key frame's; no frame before it
    // is read or decoded. False when the demuxer did not land on it, or
    // streams are carried (their packets before it would be lost): the
    // caller then goes back with SeekBefore.
    bool SeekToKeyFrame(std::int64_t time, std::uint64_t fingerprint);

    // For frames turned upright before they go on: the video stream stops
    // stating a display matrix, so that nothing carries the turn over to
    // pictures that no longer need it.
    void DropDisplayMatrix();

    const AVStream& videoStream() const { return *format_->streams[streamIndex_]; }
    const AVFormatContext& container() const { return *format_; }

private:
    bool ReceiveFrame();

    std::string path_;
    PictureLimit limit_;
    InputContextPtr format_;
    CodecContextPtr decoder_;
    PacketPtr packet_;
    FramePtr frame_;
    int streamIndex_ = -1;
    std::vector<const AVStream*> carriable_;
    std::vector<int> carriedIndexOfStream_;  // by stream index; -1 for streams not carried
    PacketHandler packetHandler_;
    struct HeldPacket {
        PacketPtr packet;
        int carriedIndex = 0;
    };
    std::deque<HeldPacket> held_;
    AVRational frameRate_{25, 1};
    std::int64_t frameCountHint_ = 0;
    bool draining_ = false;
    bool finished_ = false;
};
