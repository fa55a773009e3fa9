// Reading back what the runner wrote, with libavformat alone: the streams,
// their parameters and tags, and the packets of one stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"

// The file opened and probed; fails the calling test (fatally) when it cannot be.
InputContextPtr OpenForReading(const std::string& path);

struct PacketRecord {
    std::vector<std::uint8_t> data;
    bool key = false;
    double seconds = 0;  // presentation time
};
// Every packet of stream `index`, in file order.
std::vector<PacketRecord> ReadPackets(const std::string& path, int index);

// The index of the first stream of `type`, or -1.
int FirstStreamOf(const AVFormatContext& file, AVMediaType type);

// A stream tag's value, or "" when it has none.
std::string TagOf(const AVStream& stream, const char* key);

// What a file's streams hold, read packet by packet: how many packets, and
// where each stream starts and ends, in seconds.
struct StreamSummary {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codec = AV_CODEC_ID_NONE;
    unsigned codecTag = 0;
    long packets = 0;
    double first = 0;  // the earliest presentation time
    double end = 0;    // the latest presentation time plus that packet's duration
};
std::vector<StreamSummary> SummarizeStreams(const std::string& path);

// The first stream of `type` in a summary, or null.
const StreamSummary* FirstOf(const std::vector<StreamSummary>& streams, AVMediaType type);

struct ChapterTimes {
    double start = 0;
    double end = 0;
    std::string title;
};
std::vector<ChapterTimes> ChaptersOf(const std::string& path);
