// What the user asked the runner to do: the command and every setting, as
// the command line, a settings file or the edit page gives them. The parser
// and the settings file turn text into it; planning settles it, with the
// facts of the opened inputs, into a job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "apps/quillmere/media/encoder_choice.h"
#include "apps/quillmere/media/muxer_settings.h"
#include "apps/quillmere/overlay/overlay_choices.h"
#include "apps/quillmere/pipeline/mask_motion.h"
#include "apps/quillmere/plan/frame_time.h"
#include "apps/quillmere/plan/placement.h"
#include "apps/quillmere/plan/segments.h"
#include "filter/filter_data.h"
#include "source/ffmpeg_video_stream.h"
#include "source/picture_limits.h"

// Whether an output may replace a file that already exists under its name:
// -y always, -n never; otherwise the user is asked when standard input is a
// terminal, and elsewhere (a script, a pipe, a service) nothing is replaced
// unless -y says so.
enum class OverwritePolicy { Ask, Always, Never };

enum class Command { Help, Version, Render, Frame, Demo, Place, Segments, Join, Edit };

// Options that may be given as a time; resolved once the main's frame rate
// is known (see ResolveTimedOptions).
struct TimedOptions {
    std::optional<FrameOrTime> at;
    std::optional<FrameOrTime> rangeStart;
    std::optional<FrameOrTime> rangeEnd;
    std::optional<FrameOrTime> offset;
    std::optional<FrameOrTime> fadeIn;   // durations
    std::optional<FrameOrTime> fadeOut;
};

// --key AT=MASK[:EASE]: the mask at a frame or a time, as typed.
struct MaskKeyRequest {
    FrameOrTime at;
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    Ease ease = Ease::Linear;
};

// A sound level as typed: a gain in decibels ("-6dB") or a factor ("0.5").
struct AudioLevel {
    std::string text;
    double factor = 1;
};

// What becomes of the overlay's own sound.
enum class OverlayAudio { Off, Mix };

struct CommandLine {
    Command command = Command::Help;
    std::string input;        // the main video (render, frame)
    std::string output;       // -o: output file, or the demo's folder
    OverwritePolicy overwrite = OverwritePolicy::Ask;  // -y, -n
    std::string overlayPath;  // --overlay
    std::string scriptPath;   // --script
    std::string format;       // --format: container by name instead of by extension
    std::int64_t frameAt = -1;  // --at (frame), once resolved
    bool quiet = false;
    std::string progressPath;  // --progress: key=value blocks to this file, '-' stdout
    double statsPeriod = 0;    // --stats-period in seconds; 0: the defaults
    bool noAudio = false;     // --no-audio: leave the main video's audio out
    bool noSubtitles = false;  // --no-subtitles: leave the main video's subtitles out
    long videoStream = kDefaultVideoStream;    // --video-stream: the main's, from 0
    long overlayStream = kDefaultVideoStream;  // --overlay-stream
    EncoderRequest encoding;  // --codec, --crf, --preset, --threads, --encoder-option
    int filterThreads = 0;    // --filter-threads: frames filtered at once; 0: one per core
    std::string audioCodec;   // --audio-codec: re-encode the main's audio with it
    std::int64_t audioBitRate = 0;  // --audio-bitrate, bits per second; 0: the encoder's own
    OverlayAudio overlayAudio = OverlayAudio::Off;  // --overlay-audio
    std::optional<AudioLevel> overlayVolume;        // --overlay-volume: the overlay's level
    std::optional<AudioLevel> duck;  // --duck: the main's level while the overlay plays
    MuxerRequest muxing;      // --muxer-option, --tag
    bool filterPixels = false;  // --rgb-output: the whole picture in the filter's pixels
    bool strict = false;      // --strict: overlay frames that fail to decode fail the job
    PictureLimit pictureLimit;  // --max-pixels
    // Every filter setting, starting from the dialog's first-open defaults.
    FilterData settings;
    bool maskGiven = false;
    // --key, in the order given: a mask that moves (none: it holds still).
    std::vector<MaskKeyRequest> keys;
    PlacementRequest placement;  // --position, --margin, --size
    TimedOptions times;          // as given; frame numbers are also in settings
    OverlayTiming timing = OverlayTiming::ByTime;
    AlphaMode alpha = AlphaMode::Straight;
    OverlayTransfer overlayTransfer = OverlayTransfer::Convert;
    int opacityPercent = 100;
    int cornerRadius = 0;  // --corner-radius, in pixels; 0: square corners
    OverlayScaler scaler = OverlayScaler::Filter;
    // --keep-rotation: work on the pictures as stored and keep their display
    // matrices, instead of turning them upright as players show them.
    bool keepRotation = false;
    // --segment K/N: only segment K of N (render); segments: N from its second argument.
    std::optional<SegmentChoice> segment;
    std::optional<std::uint32_t> seed;  // --seed: the random shadow styles' seed
    bool json = false;                  // segments --json
    bool slurm = false;                 // segments --slurm
    std::vector<std::string> inputs;    // every file named on the line (join: the segments)
    std::string partsFolder;            // join --parts, segments --parts: the segments' folder
    std::string mainOverride;           // join --main
    // --manifest: segments writes it; render --segment and join read the
    // main's scan from it instead of scanning the main.
    std::string manifestPath;
    // segments --slurm and --manifest: what follows '--', the options each
    // segment's render takes.
    std::vector<std::string> renderArguments;
    std::string settingsPath;  // --settings: a settings file the options are laid over
    int port = 0;              // edit --port; 0: any free port
    bool openBrowser = false;  // edit --open

    CommandLine();
};

// A zero record with the defaults that the configuration dialog writes the
// first time it opens: the settings a request starts from.
FilterData DialogDefaultSettings();

// The container name that means "composite, then discard the frames".
constexpr const char* kNullFormat = "null";
// The output name that means standard output.
constexpr const char* kStandardOutputName = "-";
