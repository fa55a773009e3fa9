// What the command line may ask of the container's muxer: options of its
// own (movflags=+faststart) and the video stream's four-character tag.
// Both are checked against the muxer before anything is written.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "apps/quillmere/media/container_table.h"

struct AVFormatContext;

struct MuxerRequest {
    std::vector<std::pair<std::string, std::string>> options;  // --muxer-option, in order
    std::string videoTag;  // --tag, or the container's default for the codec; "": its own
};

// Throws UsageError naming an option the muxer of `format` does not know,
// a value it refuses, or a tag it has not for video of `codec`.
void CheckMuxerRequest(const OutputFormat& format, AVCodecID codec, const MuxerRequest& request);

// Sets the options on an output context that is not yet started. Throws
// UsageError as CheckMuxerRequest.
void ApplyMuxerOptions(AVFormatContext& muxer, const MuxerRequest& request);

// The tag as libavformat stores it (its four letters, the first lowest).
unsigned FourCharacterCode(const std::string& tag);
