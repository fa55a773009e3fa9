#include "apps/quillmere/run/job_steps.h"

#include <sys/stat.h>

#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/plan/input_facts.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

void IgnoreNotice(const std::string&) {}

// The main video's audio and subtitle streams the output keeps.
std::vector<const AVStream*> StreamsToCarry(const OutputPlan& output, const VideoReader& reader) {
    std::vector<const AVStream*> kept;
    if (output.kind != OutputKind::File && output.kind != OutputKind::StandardOutput) {
        return kept;
    }
    for (const KeptStream& stream : output.kept) {
        kept.push_back(reader.container().streams[stream.index]);
    }
    return kept;
}

}  // namespace

OpenedJob OpenAndPlan(const CommandLine& line) {
    auto reader = std::make_unique<VideoReader>(line.input, line.videoStream, line.pictureLimit);
    OpenedJob opened;
    opened.job = PlanJob(line, GatherFacts(line, *reader));
    SayNotes(opened.job);
    opened.carriedStreams = StreamsToCarry(opened.job.output, *reader);
    reader->RouteStreams(opened.carriedStreams);
    opened.source = std::make_unique<FileFrameSource>(
        std::move(reader), opened.job.main.asFilterPixels, NoticesFor(opened.job.reporting),
        opened.job.main.turn);
    if (opened.job.segment) {
        opened.source->StartAtFrame(opened.job.window.first, opened.job.segment->mainIndex);
    }
    return opened;
}

void SayNotes(const RenderJob& job) {
    const NoticeHandler say = NoticesFor(job.reporting);
    for (const std::string& note : job.notes) {
        say(note);
    }
}

NoticeHandler NoticesFor(const Reporting& reporting) {
    return reporting.quiet ? &IgnoreNotice : &PrintNotice;
}

ProgressOptions ProgressSetupFrom(const Reporting& reporting, const ProgressReportFile& report) {
    ProgressOptions options;
    options.display = ChooseDisplay(reporting.quiet);
    options.report = report.stream();
    options.periodSeconds = reporting.statsPeriod;
    return options;
}

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
