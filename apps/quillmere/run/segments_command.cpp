// quillmere segments: where a render of MAIN cut into N segments is cut, as
// a table, as JSON for a scheduler, or as a Slurm job script for the whole
// job (an array of N renders and a join that waits for them).
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "apps/quillmere/cli/read_command_line.h"
#include "apps/quillmere/cli/shell_words.h"
#include "apps/quillmere/plan/frame_time.h"
#include "apps/quillmere/plan/input_facts.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/plan/segment_job.h"
#include "apps/quillmere/plan/segment_manifest.h"
#include "apps/quillmere/run/commands.h"
#include "apps/quillmere/runner_error.h"

namespace {

// Seconds from the main's first frame to the start and the end of a segment.
struct SegmentSpan {
    double start = 0;
    double end = 0;
};

SegmentSpan SpanOf(const VideoStreamInfo& index, const Segment& segment) {
    const double unit = av_q2d(index.timeBase);
    const std::int64_t origin = index.frameTimes.front();
    const std::size_t after = static_cast<std::size_t>(segment.last) + 1;
    std::int64_t end = 0;
    if (after < index.frameTimes.size()) {
        end = index.frameTimes[after];
    } else {
        const std::int64_t lastDuration =
            index.lastFrameDuration > 0 ? index.lastFrameDuration
            : index.frameTimes.size() > 1
                ? (index.frameTimes.back() - origin) /
                      static_cast<std::int64_t>(index.frameTimes.size() - 1)
                : 0;
        end = index.frameTimes.back() + lastDuration;
    }
    return SegmentSpan{
        static_cast<double>(index.frameTimes[static_cast<std::size_t>(segment.first)] - origin) *
            unit,
        static_cast<double>(end - origin) * unit};
}

// 0:01:02.500
std::string ClockText(double seconds) {
    const auto millis = static_cast<std::int64_t>(seconds * 1000 + 0.5);
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64,
                  millis / 3600000, millis / 60000 % 60, millis / 1000 % 60, millis % 1000);
    return text;
}

void PrintSlurmScript(const SlurmScriptPlan& script, int count) {
    const std::string& parts = script.partsFolder;
    const std::string& extension = script.extension;
    const std::string manifestPath = SingleQuotedWord(script.manifestPath);
    // The commands the jobs run, as sh reads them there: the runner and the
    // task's index are expanded on the node, everything else is quoted.
    std::string segment = "\"${QUILLMERE:-quillmere}\" render " + SingleQuotedWord(script.mainPath);
    for (const std::string& argument : script.renderArguments) {
        segment += " " + SingleQuotedWord(argument);
    }
    segment += " --segment \"$SLURM_ARRAY_TASK_ID\"/" + std::to_string(count) + " --manifest " +
               manifestPath + " -o " + SingleQuotedWord(parts + "/segment-") +
               "\"$SLURM_ARRAY_TASK_ID\"" + SingleQuotedWord(extension) + " -y";
    // The main is read whole once, here, for its frames and key frames; in
    // the folder the script was made in, where the options' paths hold.
    std::string manifest = "\"${QUILLMERE:-quillmere}\" segments " +
                           SingleQuotedWord(script.mainPath) + " " + std::to_string(count) +
                           " --manifest " + manifestPath + " --";
    for (const std::string& argument : script.renderArguments) {
        manifest += " " + SingleQuotedWord(argument);
    }
    const std::string join = "\"${QUILLMERE:-quillmere}\" join --parts " +
                             SingleQuotedWord(parts) + " --manifest " + manifestPath + " -o " +
                             SingleQuotedWord(script.outputPath) + " -y";
    const std::string folder = SingleQuotedWord(script.workingFolder);
    const std::string logs = SingleQuotedWord(parts + "/logs");
    // Run with no argument it submits every segment; with array indices
    // ("3" or "3,5") it submits those again, and a join that waits for them.
    std::printf(
        "#!/usr/bin/env bash\n"
        "# Renders %s as %d segments on Slurm: a job array of %d renders, one\n"
        "# segment each (the index from SLURM_ARRAY_TASK_ID), and a join that runs\n"
        "# once all of them have succeeded (--dependency=afterok). The parts folder\n"
        "# must be one every node sees; the jobs start in %s.\n"
        "# Run it with no argument to submit the whole job. When segments fail, run\n"
        "# it again with their indices (\"3\" or \"3,5\"): it submits only those, and a\n"
        "# join that waits for them.\n"
        "# QUILLMERE names the runner as the nodes find it (default: quillmere).\n"
        "set -euo pipefail\n"
        "tasks=${1:-0-%d}\n"
        "mkdir -p %s\n"
        "if [[ -z \"${1:-}\" || ! -e %s ]]; then\n"
        "  (cd %s && %s)\n"
        "fi\n"
        "array=$(sbatch --parsable --job-name=quillmere-segment --array=\"$tasks\" --requeue \\\n"
        "  --chdir=%s --output=%s --wrap=%s)\n"
        "array=${array%%%%;*}\n"
        "join=$(sbatch --parsable --job-name=quillmere-join --dependency=afterok:\"$array\" \\\n"
        "  --kill-on-invalid-dep=yes --chdir=%s --output=%s --wrap=%s)\n"
        "echo \"segments: job $array (array $tasks); join: job ${join%%%%;*}\"\n"
        "echo \"if segments fail: $0 K[,K...] runs them again, then the join\"\n",
        SingleQuotedWord(script.outputPath).c_str(), count, count, folder.c_str(), count - 1,
        logs.c_str(), manifestPath.c_str(), folder.c_str(), manifest.c_str(), folder.c_str(),
        SingleQuotedWord(parts + "/logs/segment-%a.log").c_str(), SingleQuotedWord(segment).c_str(),
        folder.c_str(), SingleQuotedWord(parts + "/logs/join.log").c_str(),
        SingleQuotedWord(join).c_str());
}

// The line the main is scanned with: for a manifest, the overlay (and the
// main's stream, unless given here) of the render options after '--', so
// that the manifest holds the overlay's identity the segments need.
CommandLine ScanLine(const CommandLine& line) {
    CommandLine scan = line;
    if (line.manifestPath.empty() || line.slurm) {
        return scan;
    }
    std::vector<const char*> arguments{"quillmere", "render", line.input.c_str()};
    for (const std::string& argument : line.renderArguments) {
        arguments.push_back(argument.c_str());
    }
    // Read as a render to nowhere, whatever output they name.
    arguments.push_back("--format");
    arguments.push_back(kNullFormat);
    const CommandLine render =
        ReadCommandLine(static_cast<int>(arguments.size()), arguments.data());
    scan.overlayPath = render.overlayPath;
    scan.overlayStream = render.overlayStream;
    if (scan.videoStream == kDefaultVideoStream) {
        scan.videoStream = render.videoStream;
    }
    return scan;
}

SegmentManifest ManifestOf(const CommandLine& line, const FileStamp& main,
                           const InputFacts& facts, const std::vector<Segment>& segments) {
    SegmentManifest manifest;
    manifest.main = main;
    manifest.videoStream = line.videoStream;
    manifest.mainScan = *facts.mainScan;
    if (!line.overlayPath.empty()) {
        manifest.overlay = ManifestOverlay{StampOf(line.overlayPath), line.overlayStream,
                                           facts.overlayIdentity};
    }
    manifest.count = static_cast<int>(segments.size());
    manifest.segments = segments;
    return manifest;
}

}  // namespace

int RunSegments(const CommandLine& given) {
    const SegmentListJob job = PlanSegmentList(given);
    const CommandLine line = ScanLine(given);
    const bool writesManifest =
        !job.manifestPath.empty() && job.form != SegmentListForm::SlurmScript;
    // Stamped before the scan: a main that changes while it is read
    // does not match its manifest afterwards.
    const std::optional<FileStamp> mainStamp =
        writesManifest ? std::optional<FileStamp>(StampOf(line.input)) : std::nullopt;
    // Only now is the main read: probed, then scanned for its key frames.
    const InputFacts facts = GatherFacts(line);
    const int count = job.count;
    const std::vector<Segment> segments = SegmentsOf(facts, count);
    if (writesManifest) {
        WriteSegmentManifest(job.manifestPath, ManifestOf(line, *mainStamp, facts, segments));
    }
    if (job.form == SegmentListForm::SlurmScript) {
        PrintSlurmScript(*job.slurm, count);
        return kExitSuccess;
    }
    const VideoStreamInfo& index = *facts.mainScan->info;
    if (job.form == SegmentListForm::Json) {
        nlohmann::json list = nlohmann::json::array();
        for (const Segment& segment : segments) {
            const SegmentSpan span = SpanOf(index, segment);
            list.push_back({{"index", segment.index},
                            {"first_frame", segment.first},
                            {"last_frame", segment.last},
                            {"frames", segment.frameCount()},
                            {"start_seconds", span.start},
                            {"end_seconds", span.end}});
        }
        const nlohmann::json document = {{"main", job.mainPath},
                                         {"frames", index.length()},
                                         {"key_frames", index.keyFrames.size()},
                                         {"segments", list}};
        std::printf("%s\n", document.dump(2).c_str());
        return kExitSuccess;
    }
    std::printf("%7s %10s %10s %8s %14s %14s\n", "segment", "first", "last", "frames", "start",
                "end");
    for (const Segment& segment : segments) {
        const SegmentSpan span = SpanOf(index, segment);
        std::printf("%7d %10" PRId64 " %10" PRId64 " %8" PRId64 " %14s %14s\n", segment.index,
                    segment.first, segment.last, segment.frameCount(),
                    ClockText(span.start).c_str(), ClockText(span.end).c_str());
    }
    return kExitSuccess;
}
