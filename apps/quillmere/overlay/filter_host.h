// The runner's part as the filter's host: it loads the module (through its
// entry point, with our host services), adds one instance of the filter,
// writes the settings into its record and opens the overlay, as the host
// and the configuration dialog would.
#pragma once

#include <string>

#include "filter/filter_data.h"
#include "hostkit/processing_driver.h"
#include "source/ffmpeg_video_stream.h"

// The module, registered for the lifetime of the object.
class FilterModuleSession {
public:
    FilterModuleSession();  // throws RunnerError when the filter cannot be registered
    ~FilterModuleSession();
    FilterModuleSession(const FilterModuleSession&) = delete;
    FilterModuleSession& operator=(const FilterModuleSession&) = delete;

    const FilterDefinition& definition() const { return *definition_; }

private:
    FilterModule module_{};
    FilterDefinition* definition_ = nullptr;
};

struct OverlaySetup {
    FilterData settings;        // the block copied into the instance record
    std::string overlayPath;    // empty: no overlay (the mask is filled black)
    std::string scriptPath;     // empty: no script; else its Config line sets the mask
    long overlayStream = kDefaultVideoStream;  // the overlay's video stream, from 0
};

// One configured instance of the filter. Throws RunnerError when the overlay
// or the script cannot be read.
// The overlay source takes regular files only: a FIFO or a device would
// block any probe of it. Throws RunnerError naming the overlay otherwise;
// call it before anything opens the overlay.
void RequireOverlayFile(const std::string& path);

class OverlayFilter {
public:
    OverlayFilter(const FilterModuleSession& module, const OverlaySetup& setup);
    OverlayFilter(const OverlayFilter&) = delete;
    OverlayFilter& operator=(const OverlayFilter&) = delete;

    FilterInstance& instance() { return instance_; }
    FilterData& record() { return instance_.recordAs<FilterData>(); }
    // Overlay frames the filter asked for since the overlay was opened that
    // could not be decoded (those output frames show no overlay).
    long UndecodableOverlayFrames() const;

private:
    void ApplyScript(const std::string& path);
    void OpenOverlay(const std::string& path, long stream);

    FilterInstance instance_;
    long undecodableBefore_ = 0;
};

