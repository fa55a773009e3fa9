#include "apps/quillmere/commands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "apps/quillmere/composite_pipeline.h"
#include "apps/quillmere/filter_host.h"
#include "apps/quillmere/output_sinks.h"
#include "apps/quillmere/overwrite_check.h"
#include "apps/quillmere/pending_output.h"
#include "apps/quillmere/progress.h"
#include "apps/quillmere/progress_report.h"
#include "apps/quillmere/run_summary.h"
#include "apps/quillmere/run_settings.h"
#include "apps/quillmere/runner_error.h"
#include "apps/quillmere/synthetic_clip.h"
#include "apps/quillmere/video_writer.h"
#include "hostkit/quoted_text.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

OverlaySetup SetupFrom(const CommandLine& line) {
    return OverlaySetup{line.settings, line.overlayPath, line.scriptPath, line.overlayStream};
}

void ProbeOverlay(const CommandLine& line, RunInputs& inputs) {
    if (!line.overlayPath.empty()) {
        RequireOverlayFile(line.overlayPath);
        inputs.overlay = ProbePictureShape(line.overlayPath);
    }
}

RunInputs ProbeInputs(const CommandLine& line) {
    RunInputs inputs;
    inputs.main = ProbePictureShape(line.input);
    ProbeOverlay(line, inputs);
    return inputs;
}

// The main's shape as its opened source has it (the source may be a pipe,
// which cannot be probed twice); the overlay's from its file.
RunInputs InputsOf(const CommandLine& line, const FrameSource& source) {
    RunInputs inputs;
    const VideoFormat& format = source.format();
    inputs.main.width = format.width;
    inputs.main.height = format.height;
    if (format.sampleAspectRatio.num > 0 && format.sampleAspectRatio.den > 0) {
        inputs.main.sampleAspect = format.sampleAspectRatio;
    }
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format.pixelFormat);
    inputs.main.hasAlpha =
        descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
    inputs.mainRate = source.frameRate();
    ProbeOverlay(line, inputs);
    return inputs;
}

// What the runner adds to the filter for one run: the overlay's frames
// adapted (timing, stills, a filtered scaler) and, for an overlay with
// alpha or an opacity, the blending bitmap operations.
class AdaptedFilter {
public:
    AdaptedFilter(const CommandLine& line, const RunInputs& inputs)
        : library_(AdaptationFor(line, inputs)), filter_(module_, SetupFrom(line)) {
        // A script's mask is known only once the filter has read it.
        if (!line.scriptPath.empty()) {
            RequireVisibleMask(filter_.record(), inputs.main, "" + Quoted(line.scriptPath) + "");
        }
        if (line.scaler != OverlayScaler::Filter) {
            const FilterData& record = filter_.record();
            library_.ScaleTo(record.maskRight - record.maskLeft,
                             record.maskBottom - record.maskTop);
        }
        if (const std::optional<BlendSettings> blend = BlendFor(line, inputs)) {
            blending_.emplace(*blend);
        }
    }

    FilterInstance& instance() { return filter_.instance(); }
    const OverlayFilter& overlay() const { return filter_; }
    const VBitmapOperations* outputOperations() const {
        return blending_ ? &blending_->table : nullptr;
    }

private:
    // Declared first: the module releases the overlay's handles through it.
    AdaptedOverlayLibrary library_;
    FilterModuleSession module_;
    OverlayFilter filter_;
    std::optional<BlendingBitmapOperations> blending_;
};

// The main video's audio and subtitle streams the render keeps.
std::vector<const AVStream*> StreamsToCarry(const CommandLine& line, const VideoReader& reader) {
    std::vector<const AVStream*> kept;
    for (const AVStream* stream : reader.carriableStreams()) {
        const bool subtitles = stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
        if (subtitles ? !line.noSubtitles : !line.noAudio) {
            kept.push_back(stream);
        }
    }
    return kept;
}

// Standard output cannot go back to complete what a container writes last.
void CheckPipeable(const OutputFormat& format) {
    if (!format.needsSeekableOutput) {
        return;
    }
    std::string pipeable;
    for (const OutputFormat& candidate : OutputFormats()) {
        if (!candidate.needsSeekableOutput) {
            pipeable += std::string(pipeable.empty() ? "" : " or ") + candidate.muxer;
        }
    }
    throw UsageError(std::string("the ") + format.muxer +
                     " container must be completed by going back in the file, which standard "
                     "output (-o -) cannot do; use --format " + pipeable);
}

// libavformat's name for standard output.
constexpr const char* kStandardOutputUrl = "pipe:1";
constexpr const char* kStandardOutputDisplayName = "standard output";

// Refuses an output that is one of the inputs: renaming over it would lose
// the input.
void CheckNotAnInput(const std::string& output, const std::vector<std::string>& inputs) {
    struct stat outputStatus {};
    if (stat(output.c_str(), &outputStatus) != 0 || !S_ISREG(outputStatus.st_mode)) {
        return;
    }
    for (const std::string& input : inputs) {
        struct stat inputStatus {};
        if (!input.empty() && stat(input.c_str(), &inputStatus) == 0 &&
            inputStatus.st_dev == outputStatus.st_dev &&
            inputStatus.st_ino == outputStatus.st_ino) {
            throw RunnerError("output " + Quoted(output) +
                              " is also an input; choose another name");
        }
    }
}

void IgnoreNotice(const std::string&) {}

// What the runner changes without being asked is said on stderr, unless the
// user asked for quiet.
NoticeHandler NoticesFor(const CommandLine& line) {
    return line.quiet ? &IgnoreNotice : &PrintNotice;
}

ProgressOptions ProgressSetupFrom(const CommandLine& line, const ProgressReportFile& report) {
    ProgressOptions options;
    options.display = ChooseDisplay(line.quiet);
    options.report = report.stream();
    options.periodSeconds = line.statsPeriod;
    return options;
}

// The demo's clips and settings.
constexpr int kDemoWidth = 960;
constexpr int kDemoHeight = 540;
constexpr std::int64_t kDemoFrames = 150;
constexpr AVRational kDemoFrameRate{25, 1};
constexpr int kDemoOverlayWidth = 320;
constexpr int kDemoOverlayHeight = 240;
constexpr std::int64_t kDemoOverlayFrames = 48;
constexpr long kDemoStillFrame = 60;
constexpr const char* kDemoFolder = "demo-output";

FilterData DemoSettings(FilterData settings) {
    settings.maskLeft = 560;
    settings.maskTop = 60;
    settings.maskRight = 560 + 320 - 1;
    settings.maskBottom = 60 + 240 - 1;
    settings.fitToFrame = 1;
    settings.bilinear = 1;
    settings.repeatVideo = 1;
    settings.borderOn = 1;
    settings.borderSize = 4;
    settings.borderColor = 0xF0F0F0;
    settings.shadowOn = 1;
    settings.shadowType = 4;  // graded, fixed shift
    settings.shadowSize = 18;
    settings.shadowPercent = 35;
    settings.shadowShift = 10;
    return settings;
}

// A file in the system's temporary folder, removed with the object.
class TemporaryFile {
public:
    explicit TemporaryFile(const char* suffix) {
        const char* folder = std::getenv("TMPDIR");
        path_ = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
                "/quillmere-XXXXXX" + suffix;
        const int descriptor = mkstemps(path_.data(), static_cast<int>(std::strlen(suffix)));
        if (descriptor < 0) {
            throw RunnerError("cannot create a temporary file in " + Quoted(path_) +
                              ": " + std::strerror(errno));
        }
        close(descriptor);
    }
    ~TemporaryFile() { std::remove(path_.c_str()); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void MakeFolder(const std::string& path) {
    std::string partial;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        partial = path.substr(0, slash);
        start = slash == std::string::npos ? path.size() + 1 : slash + 1;
        if (partial.empty()) {
            continue;
        }
        if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) {
            throw RunnerError("cannot create folder " + Quoted(partial) + ": " +
                              std::strerror(errno));
        }
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        throw RunnerError("cannot create folder " + Quoted(path) + ": Not a directory");
    }
}

// Overlay frames that could not be decoded: reported in a closing line, and
// a failure of the job with --strict (before the output is committed).
void ReportUndecodableOverlayFrames(const OverlayFilter& filter, const CommandLine& line) {
    const long failed = filter.UndecodableOverlayFrames();
    if (failed == 0) {
        return;
    }
    const std::string what = std::to_string(failed) + " overlay frame" +
                             (failed == 1 ? "" : "s") + " of " + Quoted(line.overlayPath) +
                             " could not be decoded; those output frames show no overlay";
    if (line.strict) {
        throw RunnerError(what + " (--strict)");
    }
    std::fprintf(stderr, "quillmere: %s\n", what.c_str());
}

void WriteClip(SyntheticClip& clip, const std::string& path, const std::string& name) {
    VideoWriter writer(path, name, OutputFormatByName("avi"), clip.format());
    FramePtr frame = NewFrame();
    long number = 0;
    while (clip.Next(*frame, number)) {
        ThrowIfInterrupted();
        writer.Write(*frame);
        av_frame_unref(frame.get());
    }
    writer.Finish();
}

}  // namespace

int RunRender(const CommandLine& commandLine) {
    FileFrameSource source(commandLine.input, commandLine.filterPixels, NoticesFor(commandLine),
                           commandLine.videoStream, commandLine.pictureLimit);
    const RunInputs inputs = InputsOf(commandLine, source);
    const CommandLine line = PrepareRun(commandLine, inputs);
    const bool discard = line.format == kNullFormat;
    const bool toStandardOutput = !discard && line.output == kStandardOutputName;
    const OutputFormat* format = nullptr;
    if (!discard) {
        format = line.format.empty() ? &OutputFormatForPath(line.output)
                                     : &OutputFormatByName(line.format);
        if (toStandardOutput) {
            CheckPipeable(*format);
            if (isatty(STDOUT_FILENO) != 0) {
                throw UsageError("standard output is a terminal: send the video (-o -) into a "
                                 "pipe or a file");
            }
        }
        ChooseEncoder(*format, line.encoding);  // a mistake there is the command line's
    }
    AdaptedFilter filter(line, inputs);

    bool mayReplace = false;
    std::optional<PendingOutput> pending;
    std::optional<VideoWriter> writer;
    std::optional<VideoSink> sink;
    CompositeJob job;
    if (!discard) {
        StreamPassthrough passthrough;
        passthrough.streams = StreamsToCarry(line, source.reader());
        passthrough.videoStartSeconds = source.reader().videoStartSeconds();
        std::string writePath = kStandardOutputUrl;
        std::string displayName = kStandardOutputDisplayName;
        if (!toStandardOutput) {
            CheckNotAnInput(line.output, {line.input, line.overlayPath, line.scriptPath});
            mayReplace = ConfirmOverwrite(line.output, line.overwrite);
            pending.emplace(line.output);
            writePath = pending->writePath();
            displayName = line.output;
        }
        writer.emplace(writePath, displayName, *format, source.format(),
                       CarriedOver{source.stream(), source.container()}, passthrough,
                       NoticesFor(line), line.encoding);
        sink.emplace(*writer);
        job.sinks.push_back(&*sink);
        job.carriedStreams = passthrough.streams;
    }
    ProgressReportFile report(line.progressPath);
    const double frameRate = av_q2d(source.frameRate());
    Progress progress("quillmere", source.frameCountHint(), frameRate,
                      ProgressSetupFrom(line, report));
    job.source = &source;
    job.instance = &filter.instance();
    job.outputOperations = filter.outputOperations();
    job.progress = &progress;
    const std::int64_t frames = RunComposite(job);
    if (frames == 0) {
        throw RunnerError(Quoted(line.input) + " holds no frames");
    }
    ReportUndecodableOverlayFrames(filter.overlay(), line);
    if (pending) {
        pending->Commit(mayReplace);
    }
    if (!line.quiet) {
        const bool sized = !discard && !toStandardOutput;
        const std::string written = discard ? "" : toStandardOutput ? kStandardOutputDisplayName
                                                                    : line.output;
        std::fprintf(stderr, "%s\n",
                     RenderSummary(frames, frameRate, progress.elapsedSeconds(), written,
                                   sized ? FileSize(line.output) : -1)
                         .c_str());
    }
    return kExitSuccess;
}

int RunFrame(const CommandLine& commandLine) {
    FileFrameSource source(commandLine.input, commandLine.filterPixels, NoticesFor(commandLine),
                           commandLine.videoStream, commandLine.pictureLimit);
    const RunInputs inputs = InputsOf(commandLine, source);
    const CommandLine line = PrepareRun(commandLine, inputs);
    AdaptedFilter filter(line, inputs);
    CheckNotAnInput(line.output, {line.input, line.overlayPath, line.scriptPath});
    const bool mayReplace = ConfirmOverwrite(line.output, line.overwrite);
    PendingOutput pending(line.output);
    PngSink sink(pending.writePath(), line.output, static_cast<long>(line.frameAt));
    // Timing only: one frame needs no progress display.
    Progress progress("quillmere", 0, av_q2d(source.frameRate()), ProgressOptions{});
    CompositeJob job;
    job.source = &source;
    job.instance = &filter.instance();
    job.outputOperations = filter.outputOperations();
    job.sinks.push_back(&sink);
    job.progress = &progress;
    job.firstFrame = static_cast<long>(line.frameAt);
    job.lastFrame = static_cast<long>(line.frameAt);
    RunComposite(job);
    if (!sink.written()) {
        throw RunnerError(Quoted(line.input) + " has no frame " + std::to_string(line.frameAt) +
                          " (frames count from 0)");
    }
    ReportUndecodableOverlayFrames(filter.overlay(), line);
    pending.Commit(mayReplace);
    if (!line.quiet) {
        std::fprintf(stderr, "%s\n",
                     FrameSummary(line.frameAt, progress.elapsedSeconds(), line.output,
                                  FileSize(line.output))
                         .c_str());
    }
    return kExitSuccess;
}

int RunDemo(const CommandLine& line) {
    const std::string folder = line.output.empty() ? kDemoFolder : line.output;
    MakeFolder(folder);
    const std::string videoPath = folder + "/demo.mkv";
    const std::string stillPath = folder + "/demo.png";
    const bool mayReplaceVideo = ConfirmOverwrite(videoPath, line.overwrite);
    const bool mayReplaceStill = ConfirmOverwrite(stillPath, line.overwrite);

    TemporaryFile overlayFile(".avi");
    SyntheticClip overlayClip(kDemoOverlayWidth, kDemoOverlayHeight, kDemoOverlayFrames,
                              kDemoFrameRate, ClipPattern::Checker);
    WriteClip(overlayClip, overlayFile.path(), "the demo's overlay clip");

    SyntheticClip main(kDemoWidth, kDemoHeight, kDemoFrames, kDemoFrameRate,
                       ClipPattern::Landscape);
    FilterModuleSession module;
    OverlayFilter filter(module,
                         OverlaySetup{DemoSettings(line.settings), overlayFile.path(), ""});

    PendingOutput pendingVideo(videoPath);
    PendingOutput pendingStill(stillPath);
    VideoWriter writer(pendingVideo.writePath(), videoPath, OutputFormatForPath(videoPath),
                       main.format());
    VideoSink videoSink(writer);
    PngSink stillSink(pendingStill.writePath(), stillPath, kDemoStillFrame);
    ProgressReportFile report(line.progressPath);
    Progress progress("quillmere demo", kDemoFrames, av_q2d(kDemoFrameRate),
                      ProgressSetupFrom(line, report));
    CompositeJob job;
    job.source = &main;
    job.instance = &filter.instance();
    job.sinks = {&videoSink, &stillSink};
    job.progress = &progress;
    const std::int64_t frames = RunComposite(job);
    pendingVideo.Commit(mayReplaceVideo);
    pendingStill.Commit(mayReplaceStill);
    if (!line.quiet) {
        std::printf("quillmere: wrote %s (%lld frames, %dx%d) and %s (frame %ld)\n",
                    videoPath.c_str(), static_cast<long long>(frames), kDemoWidth, kDemoHeight,
                    stillPath.c_str(), kDemoStillFrame);
    }
    return kExitSuccess;
}

int RunPlace(const CommandLine& line) {
    const RunInputs inputs = ProbeInputs(line);
    const PictureShape& main = inputs.main;
    const MaskCorners mask = PlacedMask(line, inputs);
    FilterData settings = line.settings;
    SetMask(mask, settings);
    RequireVisibleMask(settings, main, "the placement");
    std::printf("mask %lld,%lld,%lld,%lld: the overlay %lldx%lld at %lld,%lld on %dx%d "
                "(stretched to fit)\n",
                static_cast<long long>(mask.left), static_cast<long long>(mask.top),
                static_cast<long long>(mask.right), static_cast<long long>(mask.bottom),
                static_cast<long long>(mask.width()), static_cast<long long>(mask.height()),
                static_cast<long long>(mask.left), static_cast<long long>(mask.top), main.width,
                main.height);
    std::printf("Config(%lld,%lld,%lld,%lld)\n", static_cast<long long>(mask.left),
                static_cast<long long>(mask.top), static_cast<long long>(mask.right),
                static_cast<long long>(mask.bottom));
    return kExitSuccess;
}
