// Planning join and segments. Neither needs anything of its inputs to be
// planned, so each is settled from the command line alone: an output a
// join could not write is refused before the parts are counted, and a job
// script that could not run before the main is scanned.
#include <filesystem>
#include <string>

#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

namespace {

// The extension of the finished video, as typed: the segments are written
// in its container and the join writes it by its name.
std::string SlurmExtension(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        throw UsageError("segments --slurm: " + path +
                         " has no extension to choose the container by");
    }
    try {
        OutputFormatForPath(path);
    } catch (const UsageError&) {
        // The join the script runs takes the container from this name alone.
        std::string known;
        for (const OutputFormat& format : OutputFormats()) {
            known += std::string(known.empty() ? "" : ", ") + format.extension;
        }
        throw UsageError("segments --slurm: cannot tell the container from " + Quoted(path) +
                         ": use " + known);
    }
    return path.substr(dot);
}

}  // namespace

JoinJob PlanJoin(const CommandLine& line) {
    if (line.format == kNullFormat) {
        throw UsageError("join writes a file; --format null, which keeps nothing, is for render");
    }
    JoinJob job;
    job.partPaths = line.inputs;
    job.partsFolder = line.partsFolder;
    job.mainPath = line.mainOverride;
    job.manifestPath = line.manifestPath;
    job.outputPath = line.output;
    job.format = line.format.empty() ? &OutputFormatForPath(line.output)
                                     : &OutputFormatByName(line.format);
    job.overwrite = line.overwrite;
    job.carryAudio = !line.noAudio;
    job.carrySubtitles = !line.noSubtitles;
    job.quiet = line.quiet;
    return job;
}

SegmentListJob PlanSegmentList(const CommandLine& line) {
    // The main is opened twice, probed and then scanned for its key
    // frames, which a pipe cannot be.
    if (line.input == kStandardInputName) {
        throw UsageError("segments reads the main video as a file, not standard input");
    }
    SegmentListJob job;
    job.mainPath = line.input;
    job.count = line.segment->count;
    job.form = line.slurm ? SegmentListForm::SlurmScript
               : line.json ? SegmentListForm::Json
                           : SegmentListForm::Table;
    job.manifestPath = line.manifestPath;
    if (line.slurm) {
        const auto absolute = [](const std::string& path) {
            return std::filesystem::absolute(path).lexically_normal().string();
        };
        const std::string parts =
            absolute(line.partsFolder.empty() ? line.output + ".parts" : line.partsFolder);
        job.slurm = SlurmScriptPlan{
            std::filesystem::current_path().string(),
            absolute(line.input),
            absolute(line.output),
            parts,
            SlurmExtension(line.output),
            line.renderArguments,
            // Join takes the manifest it is given for no segment.
            line.manifestPath.empty() ? parts + "/" + kSlurmManifestName
                                      : absolute(line.manifestPath),
        };
    }
    return job;
}
