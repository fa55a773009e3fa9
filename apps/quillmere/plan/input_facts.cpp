#include "apps/quillmere/plan/input_facts.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/overlay/filter_host.h"
#include "apps/quillmere/plan/segment_manifest.h"
#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"
#include "hostkit/script_line.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

// The mask a script sets, read the way the filter reads it: its lines run
// through the real script function on an instance of its own, so a script
// the filter would refuse is refused here, before any output exists.
MaskCorners ScriptMask(const std::string& path) {
    FilterModuleSession module;
    OverlayFilter scratch(module, OverlaySetup{FilterData{}, "", path});
    const FilterData& record = scratch.record();
    return MaskCorners{record.maskLeft, record.maskTop, record.maskRight, record.maskBottom};
}

void GatherOverlayAndScript(const CommandLine& line, InputFacts& facts) {
    if (!line.overlayPath.empty()) {
        RequireOverlayFile(line.overlayPath);
        facts.overlay = ProbePictureShape(line.overlayPath, line.overlayStream);
        facts.overlayPlays = ReadAnimationPlays(line.overlayPath);
    }
    if (!line.scriptPath.empty()) {
        facts.scriptMask = ScriptMask(line.scriptPath);
    }
    facts.standardOutputIsTerminal = isatty(STDOUT_FILENO) != 0;
}

}  // namespace

InputFacts GatherFacts(const CommandLine& line, const VideoReader& main) {
    InputFacts facts;
    facts.main = ShapeOfStream(main.container(), main.videoStream(), line.input);
    // Whole frames in the filter's pixels carry no alpha.
    if (line.filterPixels) {
        facts.main.hasAlpha = false;
    }
    facts.mainRate = main.frameRate();
    facts.mainFrames = main.frameCountHint();
    facts.mainFramesExact = main.videoStream().nb_frames > 0;
    // Which containers take each stream as it is, whatever the command: a
    // job planned from these facts must keep the same streams the same way
    // whether `render` plans it or the page that starts that render.
    for (const AVStream* stream : main.carriableStreams()) {
        const AVDictionaryEntry* title = av_dict_get(stream->metadata, "title", nullptr, 0);
        CarriableStream carriable{stream->index, stream->codecpar->codec_type,
                                  stream->codecpar->codec_id, {},
                                  title != nullptr ? title->value : ""};
        for (const OutputFormat& format : OutputFormats()) {
            if (HoldsStream(format, *stream->codecpar)) {
                carriable.heldBy.emplace_back(format.extension);
            }
        }
        facts.mainStreams.push_back(std::move(carriable));
    }
    GatherOverlayAndScript(line, facts);
    if (line.segment && line.input != kStandardInputName) {
        // A render reads the scans from its manifest; `segments` writes them.
        std::optional<SegmentManifest> manifest;
        if (line.command == Command::Render && !line.manifestPath.empty()) {
            manifest = ReadSegmentManifest(line.manifestPath, line.input, main.videoStream(),
                                           line.segment->count);
            facts.mainScan = manifest->mainScan;
        } else {
            facts.mainScan = ScanVideo(line.input, line.videoStream);
        }
        if (!line.overlayPath.empty()) {
            if (manifest) {
                facts.overlayIdentity =
                    KnownOverlayIdentity(*manifest, line.overlayPath, line.overlayStream);
            }
            if (facts.overlayIdentity.empty()) {
                facts.overlayIdentity = ScanVideo(line.overlayPath, line.overlayStream).identity;
            }
        }
        char* absolute = realpath(line.input.c_str(), nullptr);
        facts.mainAbsolutePath = absolute != nullptr ? absolute : line.input;
        std::free(absolute);
    }
    return facts;
}

InputFacts GatherFacts(const CommandLine& line) {
    const VideoReader main(line.input, line.videoStream, line.pictureLimit);
    return GatherFacts(line, main);
}
