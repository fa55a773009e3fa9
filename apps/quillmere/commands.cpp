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
#include "apps/quillmere/pending_output.h"
#include "apps/quillmere/progress.h"
#include "apps/quillmere/runner_error.h"
#include "apps/quillmere/synthetic_clip.h"
#include "apps/quillmere/video_writer.h"
#include "hostkit/quoted_text.h"

namespace {

OverlaySetup SetupFrom(const CommandLine& line) {
    return OverlaySetup{line.settings, line.overlayPath, line.scriptPath};
}

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
    VideoWriter writer(path, name, OutputFormatByName("avi"), clip.width(), clip.height(),
                       clip.frameRate());
    Picture picture(clip.width(), clip.height());
    while (clip.Next(&picture)) {
        ThrowIfInterrupted();
        writer.Write(picture.top(), picture.topDownStride());
    }
    writer.Finish();
}

}  // namespace

int RunRender(const CommandLine& line) {
    const bool discard = line.format == kNullFormat;
    const OutputFormat* format = nullptr;
    if (!discard) {
        format = line.format.empty() ? &OutputFormatForPath(line.output)
                                     : &OutputFormatByName(line.format);
    }
    FileFrameSource source(line.input, line.pictureLimit);
    FilterModuleSession module;
    OverlayFilter filter(module, SetupFrom(line));

    std::optional<PendingOutput> pending;
    std::optional<VideoWriter> writer;
    std::optional<VideoSink> sink;
    CompositeJob job;
    if (!discard) {
        CheckNotAnInput(line.output, {line.input, line.overlayPath, line.scriptPath});
        AudioPassthrough audio;
        if (!line.noAudio) {
            audio.streams = source.reader().audioStreams();
            audio.videoStartSeconds = source.reader().videoStartSeconds();
        }
        pending.emplace(line.output);
        writer.emplace(pending->writePath(), line.output, *format, source.width(),
                       source.height(), source.frameRate(), audio);
        sink.emplace(*writer);
        job.sinks.push_back(&*sink);
        job.carryAudio = !audio.streams.empty();
    }
    Progress progress("quillmere", source.frameCountHint(), !line.quiet && StderrIsTerminal());
    job.source = &source;
    job.instance = &filter.instance();
    job.progress = &progress;
    if (RunComposite(job) == 0) {
        throw RunnerError(Quoted(line.input) + " holds no frames");
    }
    ReportUndecodableOverlayFrames(filter, line);
    if (pending) {
        pending->Commit();
    }
    return kExitSuccess;
}

int RunFrame(const CommandLine& line) {
    FileFrameSource source(line.input, line.pictureLimit);
    FilterModuleSession module;
    OverlayFilter filter(module, SetupFrom(line));
    CheckNotAnInput(line.output, {line.input, line.overlayPath, line.scriptPath});
    PendingOutput pending(line.output);
    PngSink sink(pending.writePath(), line.output, static_cast<long>(line.frameAt));
    CompositeJob job;
    job.source = &source;
    job.instance = &filter.instance();
    job.sinks.push_back(&sink);
    job.firstFrame = static_cast<long>(line.frameAt);
    job.lastFrame = static_cast<long>(line.frameAt);
    RunComposite(job);
    if (!sink.written()) {
        throw RunnerError(Quoted(line.input) + " has no frame " + std::to_string(line.frameAt) +
                          " (frames count from 0)");
    }
    ReportUndecodableOverlayFrames(filter, line);
    pending.Commit();
    return kExitSuccess;
}

int RunDemo(const CommandLine& line) {
    const std::string folder = line.output.empty() ? kDemoFolder : line.output;
    MakeFolder(folder);
    const std::string videoPath = folder + "/demo.mkv";
    const std::string stillPath = folder + "/demo.png";

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
                       main.width(), main.height(), main.frameRate());
    VideoSink videoSink(writer);
    PngSink stillSink(pendingStill.writePath(), stillPath, kDemoStillFrame);
    Progress progress("quillmere demo", kDemoFrames, !line.quiet && StderrIsTerminal());
    CompositeJob job;
    job.source = &main;
    job.instance = &filter.instance();
    job.sinks = {&videoSink, &stillSink};
    job.progress = &progress;
    const std::int64_t frames = RunComposite(job);
    pendingVideo.Commit();
    pendingStill.Commit();
    if (!line.quiet) {
        std::printf("quillmere: wrote %s (%lld frames, %dx%d) and %s (frame %ld)\n",
                    videoPath.c_str(), static_cast<long long>(frames), kDemoWidth, kDemoHeight,
                    stillPath.c_str(), kDemoStillFrame);
    }
    return kExitSuccess;
}
