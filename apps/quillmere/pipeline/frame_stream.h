// The two ends of a compositing job: where the main video's frames come
// from, and where the composited frames go. Frames travel as FFmpeg frames
// in the main video's own pixel format, so what the filter does not touch
// reaches the output exactly as it was decoded.
#pragma once

#include <cstdint>
#include <string>

#include "apps/quillmere/base/notice.h"
#include "apps/quillmere/media/frame_converter.h"
#include "apps/quillmere/media/video_format.h"
#include "apps/quillmere/media/orientation.h"
#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/pipeline/frame_turner.h"
#include "convert/picture_converter.h"

#include <memory>

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // Every frame Next delivers has this size and pixel format.
    virtual const VideoFormat& format() const = 0;
    int width() const { return format().width; }
    int height() const { return format().height; }
    AVRational frameRate() const { return format().frameRate; }
    // The number of frames, or 0 when unknown.
    virtual std::int64_t frameCountHint() const = 0;
    // Puts the next frame into `frame` (the caller owns the reference) and
    // its number, counted from 0, into `number`. False after the last.
    virtual bool Next(AVFrame& frame, long& number) = 0;
    // Lets the next Next start at frame `number` or a little before it;
    // sources that cannot jump leave the position as it is.
    virtual void SkipTowards(long /*number*/) {}
    // Streams to carry over (audio, subtitles): the handler receives their
    // packets as Next reads them. Sources without such streams never call it.
    virtual void CarryStreams(const std::vector<const AVStream*>&, VideoReader::PacketHandler) {}
    // The stream and file the frames come from, for what the output
    // carries over (tags, rotation, chapters); null for made-up clips.
    virtual const AVStream* stream() const { return nullptr; }
    virtual const AVFormatContext* container() const { return nullptr; }
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // A composited frame and its number; the sink may take references to it.
    virtual void Consume(const AVFrame& frame, long number) = 0;
    // A packet of the main video's carried stream `carriedIndex`, in read order.
    virtual void ConsumePassthrough(AVPacket&, int /*carriedIndex*/) {}
    // After the last frame: complete the output.
    virtual void Finish() {}
};

// The frames of a video file as decoded. Frames in a pixel format the
// pipeline does not carry, or that change size midway, are converted to
// the first frame's size and a carried format, once said. Frames may be
// turned (upright, as the file's display matrix asks) after that.
class FileFrameSource : public FrameSource {
public:
    // `asFilterPixels`: deliver every frame converted whole to the filter's
    // 32-bit pixels, so the output holds exactly what the filter made.
    // `videoStream` as for VideoReader.
    explicit FileFrameSource(const std::string& path, bool asFilterPixels = false,
                             NoticeHandler notice = &PrintNotice,
                             long videoStream = kDefaultVideoStream,
                             PictureLimit limit = PictureLimit());
    // Takes over a reader opened and probed already; decodes its first
    // frame. Frames are delivered turned by `turn`; a turn that is not the
    // identity also drops the reader's display matrix (see FrameTurner).
    FileFrameSource(std::unique_ptr<VideoReader> reader, bool asFilterPixels,
                    NoticeHandler notice, const Orientation& turn = Orientation());
    const VideoFormat& format() const override { return turner_ ? turner_->format() : format_; }
    std::int64_t frameCountHint() const override { return reader_->frameCountHint(); }
    bool Next(AVFrame& frame, long& number) override;
    void SkipTowards(long number) override;
    // Numbers frames by `index` (the stream's scanned frame times) and
    // starts from the key frame at or before frame `first`, so that frame
    // numbers are those of a read from the start, whatever the frame rate.
    void StartAtFrame(long first, std::shared_ptr<const VideoStreamInfo> index);
    void CarryStreams(const std::vector<const AVStream*>& streams,
                      VideoReader::PacketHandler handler) override {
        reader_->CarryStreams(streams, std::move(handler));
    }
    const AVStream* stream() const override { return &reader_->videoStream(); }
    const AVFormatContext* container() const override { return &reader_->container(); }
    const VideoReader& reader() const { return *reader_; }

private:
    bool Decode(AVFrame& frame);
    void Deliver(AVFrame& decoded, AVFrame& frame);
    void DeliverStored(AVFrame& decoded, AVFrame& frame);
    long NumberOf(const AVFrame& frame) const;

    std::unique_ptr<VideoReader> reader_;
    VideoFormat format_;  // as stored, before any turn
    NoticeHandler notice_;
    FramePtr first_;           // decoded at open to learn the format; delivered first
    FrameConverter converter_;  // for frames that need converting
    std::unique_ptr<PictureConverter> filterPixels_;  // whole frames to the filter's pixels
    std::unique_ptr<FrameTurner> turner_;             // null: delivered as stored
    bool convertAll_ = false;
    bool noticedChange_ = false;
    bool numberByTime_ = false;  // after a jump, numbers come from timestamps
    std::shared_ptr<const VideoStreamInfo> index_;  // numbers by frame time (StartAtFrame)
    long nextNumber_ = 0;
};
