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
