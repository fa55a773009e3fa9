// The settled job: what the command line asked for, with everything that
// depends on the inputs worked out (times as frames, a placement as mask
// corners, the encoder chosen). Planning builds it; every step after that
// takes this and never looks at the command line again.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/quillmere/plan/request.h"
#include "apps/quillmere/media/audio_encoder_choice.h"
#include "apps/quillmere/media/container_table.h"
#include "apps/quillmere/media/encoder_choice.h"
#include "apps/quillmere/media/muxer_settings.h"
#include "apps/quillmere/media/orientation.h"
#include "apps/quillmere/overlay/configured_filter.h"
#include "apps/quillmere/plan/fades.h"
#include "apps/quillmere/plan/placement.h"
#include "apps/quillmere/plan/segments.h"
#include "filter/filter_data.h"
#include "hostkit/blending_bitmap_operations.h"
#include "source/picture_limits.h"

struct MainInput {
    std::string path;  // "-": standard input
    long stream = kDefaultVideoStream;
    PictureLimit limit;
    bool asFilterPixels = false;  // --rgb-output
    // How its frames are turned before anything else: upright, as its
    // display matrix asks, unless the stored orientation is kept.
    Orientation turn;
};

// The main frames the run composites, counted from 0; `last` -1: to the end.
struct FrameWindow {
    long first = 0;
    long last = -1;
};

enum class OutputKind {
    File,            // a video file, written under a part name until complete
    StandardOutput,  // -o -
    Discard,         // --format null: composite, keep nothing
    Picture,         // frame: one PNG
    Report,          // place: the mask on standard output
    DemoFolder,      // demo: a folder of made-up clips
};

// A stream of the main that the output keeps: copied, or re-encoded.
struct KeptStream {
    int index = 0;  // in the main file
    std::optional<AudioEncoding> encoding;  // none: copied packet for packet
    bool mixed = false;  // re-encoded with the overlay's sound mixed in
};

// The overlay's sound mixed into the kept audio (--overlay-audio mix); the
// run times it as the overlay's pictures are timed.
struct AudioMixPlan {
    std::string overlayPath;
    double volume = 1;  // factors
    double duck = 1;
};

struct OutputPlan {
    OutputKind kind = OutputKind::File;
    std::string path;                     // the file or folder; empty otherwise
    const OutputFormat* format = nullptr;  // the container, for video outputs
    // The video's encoder, chosen here once for `encoding` and the
    // container; the writer opens it with `encoding`'s settings.
    const AVCodec* videoEncoder = nullptr;
    EncoderRequest encoding;
    MuxerRequest muxing;  // the muxer's options and the video's tag, default resolved
    std::vector<KeptStream> kept;  // the main's audio and subtitles, in file order
    std::optional<AudioMixPlan> mix;  // with kept audio streams marked `mixed`
    OverwritePolicy overwrite = OverwritePolicy::Ask;
};

struct Reporting {
    bool quiet = false;
    std::string progressPath;  // key=value blocks to this file, '-' standard output
    double statsPeriod = 0;    // seconds; 0: the defaults
};

// One segment of a render cut into several (--segment K/N).
struct SegmentJob {
    Segment segment;
    int count = 1;
    std::string fingerprint;   // of the job: main, overlay, every setting
    std::string mainIdentity;  // of the main alone, for join to check MAIN against
    std::string mainPath;      // absolute, for join to find MAIN by
    // The main's frame times and key frames: frames are numbered by them
    // and the segment starts from its key frame.
    std::shared_ptr<const VideoStreamInfo> mainIndex;
};

struct RenderJob {
    Command command = Command::Render;
    MainInput main;
    OverlayInput overlay;
    // The filter's settings as the instance record gets them: the mask
    // placed or taken from the script, frame numbers resolved.
    FilterData settings;
    // Where the mask came from, for messages ("--mask", "the placement", a script).
    std::string maskOrigin;
    // A mask that moves by keys, resolved into frames; `settings` then holds
    // the first key's mask.
    MaskMotion motion;
    std::string scriptPath;  // --script, kept only to refuse it as the output
    FrameWindow window;
    FadePlan fade;
    int cornerRadius = 0;  // the overlay's, its border's and its shadow's; 0: square
    OutputPlan output;
    Reporting reporting;
    // What the user should hear of how the command line was read (a size
    // taken as pixels, a mask cut by the frame's edge), one line each; the
    // run says them unless quiet.
    std::vector<std::string> notes;
    // The random shadow styles' seed: --seed, or with --segment the
    // fingerprint's; none: the clock's, as the filter seeds itself.
    std::optional<std::uint32_t> seed;
    std::optional<SegmentJob> segment;
    int filterThreads = 0;  // frames filtered at once; 0: one per core
};

// quillmere join, settled from its command line alone: everything it could
// refuse as a usage error is refused before any part is opened.
struct JoinJob {
    std::vector<std::string> partPaths;  // the segment files named, in order
    std::string partsFolder;             // --parts: its visible files are parts too
    std::string mainPath;                // --main; empty: the path the parts name
    std::string manifestPath;            // --manifest: the main's scan, read instead of made
    std::string outputPath;
    const OutputFormat* format = nullptr;
    OverwritePolicy overwrite = OverwritePolicy::Ask;
    bool carryAudio = true;  // the main's audio and subtitles, as a render carries them
    bool carrySubtitles = true;
    bool quiet = false;
};

// What quillmere segments prints.
enum class SegmentListForm { Table, Json, SlurmScript };

// The manifest's name in the parts folder when segments --slurm is given none.
constexpr const char* kSlurmManifestName = "manifest.json";

// segments --slurm: the job script's render and join.
// Every path in it is absolute, and the jobs start in the folder where the
// script was made, so render options' relative paths mean there what they
// meant to the user, wherever the script is submitted from.
struct SlurmScriptPlan {
    std::string workingFolder;  // where the script was made
    std::string mainPath;
    std::string outputPath;   // the finished video
    std::string partsFolder;  // the segments' folder, seen by every node
    std::string extension;    // the output's, as typed: the segments' container
    std::vector<std::string> renderArguments;  // what each segment's render takes
    std::string manifestPath;  // the script writes it, the renders and the join read it
};

// quillmere segments, settled from its command line before the main is read.
struct SegmentListJob {
    std::string mainPath;
    int count = 1;
    std::string manifestPath;  // --manifest, written unless the form is the script
    SegmentListForm form = SegmentListForm::Table;
    std::optional<SlurmScriptPlan> slurm;  // with SegmentListForm::SlurmScript
};
