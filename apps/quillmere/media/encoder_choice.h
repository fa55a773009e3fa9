// Which encoder writes the output's video and how it is set up: the
// container's own codec by default, or one the command line names, with its
// quality, speed, threads and any option of the encoder's own.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "apps/quillmere/media/ffmpeg_handles.h"

struct OutputFormat;

// What the command line asks of the encoder; empty fields keep the
// runner's settings for that encoder.
struct EncoderRequest {
    std::string codec;   // --codec: a codec name (h264) or an encoder name (libx264)
    std::string crf;     // --crf
    std::string preset;  // --preset
    int threads = 0;     // --threads; 0: every core
    std::vector<std::pair<std::string, std::string>> options;  // --encoder-option, in order
    bool quiet = false;  // -q: the encoder's library reports nothing of its own either
};

// The codecs this FFmpeg can encode into the container, as the names
// --codec takes: "ffv1, h264 (libx264), hevc (libx265), ...".
std::string CodecChoices(const OutputFormat& format);

// Every name --codec takes for some container, sorted: codec and encoder
// names. For shell completion.
std::vector<std::string> AllCodecNames();
// The presets of the x264 family (x264, x265), fastest first.
std::vector<std::string> X264FamilyPresetNames();

// The encoder for `request` in `format`, with every setting of the request
// tried on it. Throws UsageError naming the valid choices for an unknown
// codec or preset, and naming an option the encoder does not know.
const AVCodec& ChooseEncoder(const OutputFormat& format, const EncoderRequest& request);

// Applies the runner's settings for the encoder and then the request to a
// context of `codec` not yet opened. Throws UsageError as ChooseEncoder.
void ConfigureEncoder(AVCodecContext& context, const AVCodec& codec,
                      const EncoderRequest& request);
