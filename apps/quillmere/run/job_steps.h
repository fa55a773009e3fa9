// The steps the compositing commands share: opening the main and planning
// the job from it, the notices and progress the job's reporting asks for,
// and refusing an output that is one of the inputs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "apps/quillmere/plan/request.h"
#include "apps/quillmere/pipeline/frame_stream.h"
#include "apps/quillmere/plan/job.h"
#include "hostkit/processing_driver.h"
#include "apps/quillmere/run/progress.h"
#include "apps/quillmere/run/progress_report.h"

// A planned job and its main video, opened and ready to deliver frames.
struct OpenedJob {
    RenderJob job;
    std::unique_ptr<FileFrameSource> source;
    // The main's audio and subtitle streams the output keeps (the plan's
    // `kept`, in its order), routed from the first packet read.
    std::vector<const AVStream*> carriedStreams;
};

// Opens the main (probing it only), gathers the facts of the inputs, plans
// the job (every usage error is raised here), routes the streams the
// output keeps, and only then decodes the main's first frame.
OpenedJob OpenAndPlan(const CommandLine& line);

// What the runner changes without being asked is said on stderr, unless the
// user asked for quiet.
NoticeHandler NoticesFor(const Reporting& reporting);
// Says the job's notes on how its command line was read.
void SayNotes(const RenderJob& job);

ProgressOptions ProgressSetupFrom(const Reporting& reporting, const ProgressReportFile& report);

// Refuses an output that is one of the inputs: renaming over it would lose
// the input.
void CheckNotAnInput(const std::string& output, const std::vector<std::string>& inputs);
