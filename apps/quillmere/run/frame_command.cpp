// quillmere frame: one output frame, composited, as a PNG.
#include "apps/quillmere/overlay/configured_filter.h"
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

int RunFrame(const CommandLine& line) {
    OpenedJob opened = OpenAndPlan(line);
    const RenderJob& job = opened.job;
    FileFrameSource& source = *opened.source;
    const std::string& output = job.output.path;
    CheckNotAnInput(output, {job.main.path, job.overlay.path, job.scriptPath});
    const bool mayReplace = ConfirmOverwrite(output, job.output.overwrite);
    ConfiguredFilter filter(job.settings, job.overlay);
    PendingOutput pending(output);
    PngSink sink(pending.writePath(), output, job.window.first);
    // Timing only: one frame needs no progress display.
    Progress progress("quillmere", 0, av_q2d(source.frameRate()), ProgressOptions{});
    CompositeJob composite;
    composite.source = &source;
    composite.instance = &filter.instance();
    composite.outputOperations = filter.outputOperations();
    composite.outputOperationsCopy = filter.outputOperationsCopy();
    composite.overlayOverVideo = filter.overlayOverVideo();
    composite.fade = SettleFade(job.fade, filter.instance().recordAs<FilterData>());
    composite.motion = job.motion;
    composite.cornerRadius = job.cornerRadius;
    composite.sinks.push_back(&sink);
    composite.progress = progress.Reporter();
    composite.filterThreads = 1;  // one frame
    composite.firstFrame = job.window.first;
    composite.lastFrame = job.window.last;
    composite.afterStart = SeedingAt(job.seed, job.window.first, job.motion);
    RunComposite(composite);
    if (!sink.written()) {
        throw RunnerError(Quoted(job.main.path) + " has no frame " +
                          std::to_string(job.window.first) + " (frames count from 0)");
    }
    filter.ReportUndecodableOverlayFrames();
    pending.Commit(mayReplace);
    if (!job.reporting.quiet) {
        std::fprintf(stderr, "%s\n",
                     FrameSummary(job.window.first, progress.elapsedSeconds(), output,
                                  FileSize(output))
                         .c_str());
    }
    return kExitSuccess;
}
