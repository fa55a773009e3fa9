#include "apps/quillmere/overlay/filter_host.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "apps/quillmere/media/video_reader.h"
#include "apps/quillmere/overlay/overlay_library.h"
#include "apps/quillmere/runner_error.h"
#include "filter/module_entry.h"
#include "hostkit/host_services.h"
#include "hostkit/script_line.h"
#include "source/ffmpeg_video_stream.h"
#include "source/avi_library.h"
#include "source/ffmpeg_frame_reader.h"
#include "source/overlay_source.h"
#include "hostkit/quoted_text.h"

FilterModuleSession::FilterModuleSession() {
    // Overlay frames in the filter's own 32-bit pixels, converted once
    // with their stream's matrix.
    UseWideFrameRecords(true);
    int version = 0;
    int compatible = 0;
    if (VirtualdubFilterModuleInit2(&module_, &HostFilterFunctions(), version, compatible) != 0) {
        throw RunnerError("the filter module refused to register");
    }
    definition_ = FindRegisteredFilter(kFilterName);
    if (definition_ == nullptr) {
        VirtualdubFilterModuleDeinit(&module_, &HostFilterFunctions());
        throw RunnerError(std::string("the filter module did not register '") + kFilterName +
                          "'");
    }
}

FilterModuleSession::~FilterModuleSession() {
    VirtualdubFilterModuleDeinit(&module_, &HostFilterFunctions());
}

OverlayFilter::OverlayFilter(const FilterModuleSession& module, const OverlaySetup& setup)
    : instance_(module.definition()) {
    // The host copies instance records as blocks; the settings are such a
    // block, prepared with the dialog's defaults and the command line.
    std::memcpy(instance_.record(), &setup.settings, sizeof(FilterData));
    if (!setup.scriptPath.empty()) {
        ApplyScript(setup.scriptPath);
    }
    if (!setup.overlayPath.empty()) {
        OpenOverlay(setup.overlayPath, setup.overlayStream);
    }
}

void OverlayFilter::ApplyScript(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        throw RunnerError("cannot open " + Quoted(path) + ": " + std::strerror(errno));
    }
    // The host's script keeps only the mask; a script that names nothing is
    // no use here, so say so rather than render with an empty mask.
    int calls = 0;
    int lineNumber = 0;
    std::string line;
    while (std::getline(file, line)) {
        ++lineNumber;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        std::string problem;
        if (!RunScriptLine(instance_.activation(), line, problem)) {
            throw RunnerError("cannot use " + Quoted(path) + " line " + std::to_string(lineNumber) +
                              ": " + problem);
        }
        ++calls;
    }
    if (file.bad()) {
        throw RunnerError("cannot read " + Quoted(path) + ": " + std::strerror(errno));
    }
    if (calls == 0) {
        throw RunnerError(Quoted(path) + " holds no Config(l,t,r,b) line");
    }
}

void RequireOverlayFile(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        throw RunnerError("cannot open the overlay " + Quoted(path) + ": " + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw RunnerError("cannot open the overlay " + Quoted(path) + ": not a regular file");
    }
}

void OverlayFilter::OpenOverlay(const std::string& path, long stream) {
    FilterData& settings = record();
    if (path.size() >= sizeof settings.overlayPath) {
        throw RunnerError("overlay path too long: " + Quoted(path));
    }
    RequireOverlayFile(path);
    // The filter opens the overlay quietly and shows a failure only as a
    // missing frame reader; learn the reason first, in words.
    { VideoReader probe(path, stream); }
    std::memcpy(settings.overlayPath, path.c_str(), path.size() + 1);
    // The filter asks for the file's first video stream: it gets the chosen one.
    OfferVideoStream(stream);
    OpenOverlayFile(settings.overlayPath, settings);
    if (settings.frameGetter == nullptr) {
        throw RunnerError("cannot read the overlay " + Quoted(path) +
                          ": its frames cannot be decoded");
    }
    // An overlay whose first frame does not decode would leave every output
    // frame as if there were no overlay; frames that fail later are counted.
    if (CurrentAviLibrary().StreamGetFrame(settings.frameGetter, 0) == nullptr) {
        // A filtered scaler may have decoded it and failed to scale it.
        const std::string scaling = OverlayScalingProblem();
        if (!scaling.empty()) {
            throw RunnerError("cannot scale the overlay " + Quoted(path) + ": " + scaling);
        }
        throw RunnerError("cannot read the overlay " + Quoted(path) +
                          ": its first frame cannot be decoded");
    }
    undecodableBefore_ = FfmpegFrameReader::UndecodableFrameCount();
}

long OverlayFilter::UndecodableOverlayFrames() const {
    return FfmpegFrameReader::UndecodableFrameCount() - undecodableBefore_;
}
