// What the FFmpeg backend knows about an opened file and its video stream.
//
// Opening a file probes it with libavformat. Asking for its video stream
// reads the stream's packets once, without decoding them, to learn what the
// AVI file library's callers rely on and containers do not always say: the
// exact number of frames, the presentation time of every frame (which gives
// each frame its number, whatever the first timestamp) and the key frames to
// seek to.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "host/win_types.h"

#include "source/picture_limits.h"

struct KeyFrame {
    long frame;               // number of the frame it begins with
    std::int64_t seekTime;    // timestamp to hand to the demuxer's seek
    // Recognises the key frame's packet after a seek: some demuxers (AVI
    // files without an index) land on a neighbouring packet and label it
    // with the wanted time.
    std::uint64_t fingerprint;
};

// A cheap fingerprint of a packet: its size and leading bytes.
std::uint64_t PacketFingerprint(const AVPacket& packet);

// Immutable once built; shared by the stream handles and frame readers of a file.
struct VideoStreamInfo {
    std::string path;
    int streamIndex = -1;
    AVRational timeBase{0, 1};
    // Decoder parameters as probed; owned.
    std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> codec{nullptr, nullptr};
    // Presentation times of all frames, ascending; index = frame number.
    std::vector<std::int64_t> frameTimes;
    // How long the last frame is shown, in timeBase units (0: not stated).
    std::int64_t lastFrameDuration = 0;
    std::vector<KeyFrame> keyFrames;  // ascending by frame
    // Format of the frame records: size of the decoded picture, 24 or 32 bits.
    BITMAPINFOHEADER format{};
    // Within the picture limits (source/picture_limits.h); larger streams
    // are refused before anything is allocated for their frames.
    bool sizeAcceptable = false;
    // Some packets carried no presentation time: frames are numbered in
    // decoding order and decoded frames are counted instead of timed.
    bool numberedByDecodeOrder = false;

    long length() const { return static_cast<long>(frameTimes.size()); }
    // Number of the frame shown at `time`: the nearest frame time.
    long FrameAt(std::int64_t time) const;
    // The last key frame at or before `frame` (index into keyFrames), or -1.
    long KeyFrameBefore(long frame) const;
};

struct FormatContextCloser {
    void operator()(AVFormatContext* context) const;
};
using FormatContext = std::unique_ptr<AVFormatContext, FormatContextCloser>;

// Opens `path` for demuxing; null when it is no regular readable media file.
// With `probeStreams` the streams' parameters are learned as well.
FormatContext OpenMediaFile(const std::string& path, bool probeStreams);

// A caller that names no video stream gets the one the file marks as its
// default, else the first.
constexpr long kDefaultVideoStream = -1;
// The number of video streams of an opened file (attached cover pictures
// are no video).
long CountVideoStreams(const AVFormatContext* context);
// The index in the file of its `number`-th video stream, counted from 0 (or
// of kDefaultVideoStream); -1 when there is none.
int FindVideoStream(const AVFormatContext* context, long number);

// The video stream offered as a file's first (the first, unless a host of
// our own chooses another or kDefaultVideoStream). Affects files opened
// afterwards.
void OfferVideoStream(long number);
long OfferedVideoStream();

// Learns the `number`-th video stream of an opened file (attached cover
// pictures are no video), reading its packets. Null when there is none.
std::shared_ptr<const VideoStreamInfo> ScanVideoStream(AVFormatContext* context,
                                                       const std::string& path, long number);

// Records are 24-bit for sources without alpha, as the Windows AVI library
// hands such frames on. A host of our own may ask for 32-bit records for
// every source: the filter then copies or stretches them without a
// conversion of its own. Affects streams scanned afterwards.
void UseWideFrameRecords(bool wide);

// The frame record layout: rows padded to 4 bytes.
std::int64_t FrameRowBytes(std::int64_t width, int bitCount);
