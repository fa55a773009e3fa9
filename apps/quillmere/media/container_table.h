// The containers the runner writes, each with the codec it writes into it
// unless asked for another.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

struct AVCodecParameters;

// One supported container and the codec the runner writes into it unless
// asked for another. The pixel format follows the main video wherever the
// encoder can take it.
struct OutputFormat {
    const char* extension;  // with the dot
    const char* muxer;      // libavformat's name
    const char* encoder;    // libavcodec's name
    const char* description;
    bool needsSeekableOutput;  // goes back to complete its header or index: no pipes
    // The encoder for audio of the main video that the container cannot hold.
    const char* audioEncoder;
    // Every stream starts with the first frame: the container records no
    // start times, only the order of its chunks.
    bool startsStreamsTogether;
    // The encoder used instead when this FFmpeg lacks `encoder` (null: none).
    const char* fallbackEncoder = nullptr;
};

// Every supported container, in the order the help lists them.
const std::vector<OutputFormat>& OutputFormats();

// The row of a known extension or muxer name; throws UsageError otherwise.
const OutputFormat& OutputFormatForPath(const std::string& path);
const OutputFormat& OutputFormatByName(const std::string& muxer);

// Whether the container's tag list names `codec` (one that cannot tell is
// taken at its word). Quick, for listing choices; the muxer may still
// refuse a codec its list names (FLAC in MP4 is experimental).
bool HoldsCodec(const OutputFormat& format, AVCodecID codec);

// Whether the container's muxer takes a stream of `parameters` as it is:
// asked by writing a header for it into memory.
bool HoldsStream(const OutputFormat& format, const AVCodecParameters& parameters);

// Whether the container records a stream's title tag (MP4 and QuickTime
// keep only the handler's name).
bool KeepsStreamTitles(const OutputFormat& format);

// The tag the video stream gets in `format` when the command line names
// none, or "" to let the container choose.
std::string DefaultVideoTag(const OutputFormat& format, AVCodecID codec);
