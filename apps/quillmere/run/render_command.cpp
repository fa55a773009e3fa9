// quillmere render: the main video composited into a video file, standard
// output, or nowhere (--format null).
#include <algorithm>
#include <filesystem>
#include <optional>

#include "apps/quillmere/media/audio_mixer.h"
#include "apps/quillmere/media/segment_tags.h"
#include "apps/quillmere/media/video_writer.h"
#include "apps/quillmere/overlay/configured_filter.h"
#include "apps/quillmere/overlay/overlay_timeline.h"
#include "apps/quillmere/pipeline/composite_pipeline.h"
#include "apps/quillmere/pipeline/output_sinks.h"
#include "apps/quillmere/plan/segment_start.h"
#include "apps/quillmere/run/commands.h"
#include "apps/quillmere/run/job_steps.h"
#include "apps/quillmere/run/overwrite_check.h"
#include "apps/quillmere/run/pending_output.h"
#include "apps/quillmere/run/run_summary.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"
#include "render/overlay_frame_rule.h"

namespace {

// libavformat's name for standard output.
constexpr const char* kStandardOutputUrl = "pipe:1";
constexpr const char* kStandardOutputDisplayName = "standard output";

// The overlay's sound placed where its pictures show: from the first frame
// it shows on (`ramp`) to past its last, from the overlay frame shown
// there, coming round with --repeat, faded as the pictures fade. Overlay
// frames count in the main's frame times.
AudioMixing MixingFor(const AudioMixPlan& plan, const FadeRamp& ramp, const FilterData& record,
                      const FrameSource& source) {
    const AVRational rate = source.frameRate();
    const double frame = rate.num > 0 ? av_q2d(av_inv_q(rate)) : 0;
    double videoStart = 0;
    if (const AVStream* video = source.stream();
        video != nullptr && video->start_time != AV_NOPTS_VALUE) {
        videoStart = video->start_time * av_q2d(video->time_base);
    }
    AudioMixing mixing;
    // Absolute, for a join that runs in another folder.
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(plan.overlayPath, ignored);
    mixing.overlayPath = absolute.empty() ? plan.overlayPath : absolute.string();
    mixing.volume = plan.volume;
    mixing.duck = plan.duck;
    mixing.start = videoStart + static_cast<double>(ramp.first) * frame;
    if (ramp.last) {
        mixing.end = videoStart + static_cast<double>(*ramp.last + 1) * frame;
    }
    const std::int64_t shown =
        OverlayFrameNumber(record, OverlayCounter(record, static_cast<std::int32_t>(ramp.first)));
    mixing.overlayFrom = static_cast<double>(std::max<std::int64_t>(shown, 0)) * frame;
    if (record.repeatVideo != 0 && record.overlayLength > record.frameOffset &&
        record.overlayLength < OverlayTimeline::kStillLength) {
        mixing.cycle = static_cast<double>(record.overlayLength - record.frameOffset) * frame;
    }
    mixing.fadeIn = static_cast<double>(ramp.inFrames) * frame;
    mixing.fadeOut = static_cast<double>(ramp.outFrames) * frame;
    return mixing;
}

}  // namespace

int RunRender(const CommandLine& line) {
    OpenedJob opened = OpenAndPlan(line);
    const RenderJob& job = opened.job;
    FileFrameSource& source = *opened.source;
    const OutputPlan& output = job.output;
    const bool toFile = output.kind == OutputKind::File;
    const bool toStandardOutput = output.kind == OutputKind::StandardOutput;

    // Asked before the overlay is opened and scanned: a "no" costs nothing.
    bool mayReplace = false;
    if (toFile) {
        CheckNotAnInput(output.path, {job.main.path, job.overlay.path, job.scriptPath});
        mayReplace = ConfirmOverwrite(output.path, output.overwrite);
    }
    ConfiguredFilter filter(job.settings, job.overlay);
    const FadeRamp ramp = SettleFade(job.fade, filter.instance().recordAs<FilterData>());
    std::optional<AudioMixing> mixing;
    if (output.mix) {
        mixing = MixingFor(*output.mix, ramp, filter.instance().recordAs<FilterData>(), source);
    }

    std::optional<PendingOutput> pending;
    std::optional<VideoWriter> writer;
    std::optional<VideoSink> sink;
    CompositeJob composite;
    if (toFile || toStandardOutput) {
        // Kept streams come in the plan's order, the same as carriedStreams.
        StreamPassthrough passthrough;
        for (std::size_t index = 0; index < opened.carriedStreams.size(); ++index) {
            passthrough.streams.push_back(
                CarriedStream{opened.carriedStreams[index], output.kept[index].encoding,
                              output.kept[index].mixed ? mixing : std::nullopt});
        }
        std::string writePath = kStandardOutputUrl;
        std::string displayName = kStandardOutputDisplayName;
        if (toFile) {
            pending.emplace(output.path);
            writePath = pending->writePath();
            displayName = output.path;
        }
        CarriedOver carried{source.stream(), source.container(), true, {}};
        if (job.segment) {
            const SegmentJob& segment = *job.segment;
            carried.chapters = false;  // the join takes them from the main
            // The join mixes the overlay's sound in once, over the whole timeline.
            carried.fileTags = TagsOf(SegmentMarks{
                segment.fingerprint, segment.segment.index, segment.count,
                segment.segment.first, segment.segment.last, segment.mainIdentity,
                segment.mainPath, job.main.turn, mixing});
        }
        writer.emplace(writePath, displayName, *output.format, source.format(), carried,
                       passthrough, NoticesFor(job.reporting), *output.videoEncoder,
                       output.encoding, output.muxing);
        writer->NumberFramesFrom(job.window.first);
        sink.emplace(*writer);
        composite.sinks.push_back(&*sink);
        composite.carriedStreams = opened.carriedStreams;
    }
    ProgressReportFile report(job.reporting.progressPath);
    const double frameRate = av_q2d(source.frameRate());
    const std::int64_t expected =
        job.segment ? job.segment->segment.frameCount() : source.frameCountHint();
    Progress progress("quillmere", expected, frameRate, ProgressSetupFrom(job.reporting, report));
    composite.source = &source;
    composite.firstFrame = job.window.first;
    composite.lastFrame = job.window.last;
    composite.afterStart = SeedingAt(job.seed, job.window.first, job.motion);
    composite.instance = &filter.instance();
    composite.outputOperations = filter.outputOperations();
    composite.outputOperationsCopy = filter.outputOperationsCopy();
    composite.overlayOverVideo = filter.overlayOverVideo();
    composite.filterThreads = job.filterThreads;
    composite.fade = ramp;
    composite.motion = job.motion;
    composite.cornerRadius = job.cornerRadius;
    composite.progress = progress.Reporter();
    const std::int64_t frames = RunComposite(composite);
    if (frames == 0) {
        throw RunnerError(Quoted(job.main.path) + " holds no frames");
    }
    // A segment short of its frames would leave a hole in the join.
    if (job.segment && frames != job.segment->segment.frameCount()) {
        throw RunnerError("segment " + std::to_string(job.segment->segment.index) + " of " +
                          Quoted(job.main.path) + " decoded " + std::to_string(frames) +
                          " of its " + std::to_string(job.segment->segment.frameCount()) +
                          " frames");
    }
    filter.ReportUndecodableOverlayFrames();
    report.Close();
    if (pending) {
        pending->Commit(mayReplace);
    }
    if (!job.reporting.quiet) {
        const std::string written = toFile ? output.path
                                    : toStandardOutput ? kStandardOutputDisplayName
                                                       : "";
        std::fprintf(stderr, "%s\n",
                     RenderSummary(frames, frameRate, progress.elapsedSeconds(), written,
                                   toFile ? FileSize(output.path) : -1)
                         .c_str());
    }
    return kExitSuccess;
}
