// Which encoder re-encodes the main video's audio: the one --audio-codec
// names, or the container's usual one for audio it cannot hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "apps/quillmere/media/container_table.h"

struct AVCodec;

// How a carried audio stream is re-encoded.
struct AudioEncoding {
    std::string encoder;       // libavcodec's encoder name
    std::int64_t bitRate = 0;  // bits per second; 0: the encoder's own default
};

// The audio encoder `name` (a codec name such as opus, or an encoder name
// such as libopus) for `format`. Throws UsageError naming the choices for
// an unknown name or a codec the container cannot hold.
const AVCodec& ChooseAudioEncoder(const OutputFormat& format, const std::string& name);

// How audio of `codec` is re-encoded to mix something into it: with its own
// codec where this FFmpeg encodes it and `format` holds it, else with the
// container's usual encoder, and then `why` says why (for a note). Throws
// RunnerError when neither encoder is here.
AudioEncoding MixedAudioEncoding(const OutputFormat& format, int codec, std::int64_t bitRate,
                                 std::string& why);

// Every name --audio-codec takes for some container, sorted: codec and
// encoder names. For shell completion.
std::vector<std::string> AllAudioCodecNames();

// The audio codecs this FFmpeg can encode into the container, as the names
// --audio-codec takes: "aac, mp3 (libmp3lame, libshine), opus (libopus)".
std::string AudioCodecChoices(const OutputFormat& format);
