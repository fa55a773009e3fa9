// quillmere demo: made-up clips composited into a folder, with nothing to
// bring: the main job on a fresh machine.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "apps/quillmere/media/video_writer.h"
#include "apps/quillmere/overlay/filter_host.h"
#include "apps/quillmere/pipeline/composite_pipeline.h"
#include "apps/quillmere/pipeline/output_sinks.h"
#include "apps/quillmere/run/commands.h"
#include "apps/quillmere/base/interruption.h"
#include "apps/quillmere/run/job_steps.h"
#include "apps/quillmere/run/overwrite_check.h"
#include "apps/quillmere/run/pending_output.h"
#include "apps/quillmere/run/synthetic_clip.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

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
                      ProgressSetupFrom(Reporting{line.quiet, line.progressPath, line.statsPeriod}, report));
    CompositeJob job;
    job.source = &main;
    job.instance = &filter.instance();
    job.sinks = {&videoSink, &stillSink};
    job.progress = progress.Reporter();
    const std::int64_t frames = RunComposite(job);
    pendingVideo.Commit(mayReplaceVideo);
    pendingStill.Commit(mayReplaceStill);
    if (!line.quiet) {
        std::printf("quillmere: wrote %s (%lld frames, %dx%d) and %s (frame %ld)\n",
                    EscapeControlCharacters(videoPath).c_str(), static_cast<long long>(frames),
                    kDemoWidth, kDemoHeight, EscapeControlCharacters(stillPath).c_str(),
                    kDemoStillFrame);
    }
    return kExitSuccess;
}
