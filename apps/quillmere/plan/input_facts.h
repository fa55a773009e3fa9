// What planning needs to know of the opened inputs: the main picture's
// shape, rate and length, its audio and subtitle streams, the chosen
// overlay stream's shape, the mask a script sets, and where standard output
// goes. Shapes are as stored, with the display matrices that would turn
// them. Gathered once, before planning;
// the main is only probed, never decoded, to gather them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apps/quillmere/plan/request.h"
#include "apps/quillmere/media/animation_loop.h"
#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/media/stream_identity.h"
#include "apps/quillmere/plan/picture_shape.h"
#include "apps/quillmere/plan/placement.h"

class VideoReader;

// One of the main's audio and subtitle streams, which the output may carry.
struct CarriableStream {
    int index = 0;  // in the main file
    AVMediaType type = AVMEDIA_TYPE_AUDIO;
    AVCodecID codec = AV_CODEC_ID_NONE;
    // The extensions of the containers that take it as it is (".mkv").
    std::vector<std::string> heldBy;
    std::string title;  // its title tag, or ""
};

struct InputFacts {
    PictureShape main;
    std::vector<CarriableStream> mainStreams;  // audio and subtitles, in file order
    AVRational mainRate{25, 1};
    // The main's frame count as the file states it (exact) or as its
    // duration implies (within a frame); 0 when unknown.
    std::int64_t mainFrames = 0;
    bool mainFramesExact = false;
    std::optional<PictureShape> overlay;     // the stream --overlay-stream chose
    AnimationPlays overlayPlays;             // as an animated overlay's file states them
    std::optional<MaskCorners> scriptMask;   // the last Config line of --script
    bool standardOutputIsTerminal = false;
    // With --segment (and for `segments`): the main scanned (frame times,
    // key frames, identity), the overlay's identity and the main's path
    // made absolute, for the segments to name.
    std::optional<ScannedVideo> mainScan;
    std::string overlayIdentity;
    std::string mainAbsolutePath;
};

// The main's facts from its opened reader (a pipe cannot be probed twice),
// the rest from the command line's files. Throws RunnerError for a file
// that cannot be read.
InputFacts GatherFacts(const CommandLine& line, const VideoReader& main);
// For commands that do not read the main's frames (place, segments): the
// main is opened here and probed, standard input included.
InputFacts GatherFacts(const CommandLine& line);
