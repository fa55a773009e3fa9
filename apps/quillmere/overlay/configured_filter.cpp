#include "apps/quillmere/overlay/configured_filter.h"

#include <cstdio>

#include "apps/quillmere/runner_error.h"
#include "hostkit/quoted_text.h"

ConfiguredFilter::ConfiguredFilter(const FilterData& settings, const OverlayInput& overlay)
    : library_(overlay.adaptation),
      filter_(module_, OverlaySetup{settings, overlay.path, "", overlay.stream}),
      overlayPath_(overlay.path),
      strict_(overlay.strict) {
    if (overlay.blend) {
        blending_.emplace(*overlay.blend);
    }
}

void ConfiguredFilter::ReportUndecodableOverlayFrames() const {
    const long failed = filter_.UndecodableOverlayFrames();
    if (failed == 0) {
        return;
    }
    const std::string what = std::to_string(failed) + " overlay frame" +
                             (failed == 1 ? "" : "s") + " of " + Quoted(overlayPath_) +
                             " could not be decoded; those output frames show no overlay";
    if (strict_) {
        throw RunnerError(what + " (--strict)");
    }
    std::fprintf(stderr, "quillmere: %s\n", what.c_str());
}
