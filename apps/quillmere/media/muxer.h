// Writes the output container: its streams (the encoded video, the main's
// audio and subtitles copied or re-encoded), what the main's file and video
// stream carry besides pictures (tags, rotation, chapters), the header, the
// packets interleaved by time, and the trailer.
//
// Every stream keeps its own times: a video that starts after its audio
// still does, and chapters keep theirs. Containers that start every stream
// with the first frame (AVI) get the other streams moved to the video's
// start instead, and what lies before it is left out, said once.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/media/muxer_settings.h"
#include "apps/quillmere/media/video_format.h"
#include "apps/quillmere/base/notice.h"

// What the output carries over from the main video besides its pictures:
// the video stream's tags and rotation, the file's tags and chapters.
struct CarriedOver {
    const AVStream* stream = nullptr;
    const AVFormatContext* container = nullptr;
    bool chapters = true;  // the container's chapters too (its tags always)
    // Tags of our own for the file (a segment's job and frame range), kept
    // in .mp4 and .mov as well.
    std::vector<std::pair<std::string, std::string>> fileTags;
};

class Muxer {
public:
    // Prepares `path` in `format` with the options of `request` (nothing is
    // written until Start); `displayName` names it in messages. Throws
    // RunnerError when FFmpeg has no such container, UsageError for an
    // option the muxer refuses.
    Muxer(const std::string& path, const std::string& displayName, const OutputFormat& format,
          NoticeHandler notice, const MuxerRequest& request = {});
    Muxer(const Muxer&) = delete;
    Muxer& operator=(const Muxer&) = delete;

    // The container keeps the codec's headers once, outside the packets.
    bool wantsGlobalHeader() const;

    // Each Add returns the stream's number for Write.
    // The video stream, for the packets of `encoder`, with what the main
    // carries over and the request's tag.
    int AddVideoStream(const AVCodecContext& encoder, const VideoFormat& video,
                       const CarriedOver& carried);
    // The video stream for packets copied unchanged (join), of `copied`'s
    // codec, timed in `timeBase`.
    int AddCopiedVideoStream(const AVCodecParameters& copied, AVRational timeBase,
                             const VideoFormat& video, const CarriedOver& carried);
    // A stream of the main copied packet for packet. Throws RunnerError
    // when the container cannot hold it, naming what can.
    int AddCopiedStream(const AVStream& input);
    // A stream of the main re-encoded by `encoder`, with the input's tags.
    int AddEncodedStream(const AVCodecContext& encoder, const AVStream& input);
    // Creates the file and writes the header.
    void Start();

    // Writes a packet of stream `stream`, timed in `timeBase`.
    void Write(AVPacket& packet, int stream, AVRational timeBase);
    // Writes the trailer and closes the file.
    void Finish();

private:
    void CarryOver(const CarriedOver& carried);
    void StartVideo(AVStream& stream, const VideoFormat& video, const CarriedOver& carried);
    void CarryChapters(const AVFormatContext& container);
    AVStream& NewStream();
    int AddCarried(AVStream& output, const AVStream& input);

    std::string path_;
    std::string displayName_;
    const OutputFormat& format_;
    NoticeHandler notice_;
    MuxerRequest request_;
    OutputContextPtr muxer_;
    // How each stream's timestamps become the output's.
    struct StreamTiming {
        bool carried = false;        // not the video: moved with it where streams start together
        std::int64_t shift = 0;      // added to every time, in the output's time base
        bool dropBeforeStart = false;  // packets that end before time 0 are left out
    };
    std::vector<StreamTiming> timing_;
    std::vector<std::pair<std::string, std::string>> fileTags_;
    std::int64_t videoStart_ = 0;  // the first frame's time
    AVRational videoTimeBase_{1, 1};
    bool startNoticed_ = false;
};
