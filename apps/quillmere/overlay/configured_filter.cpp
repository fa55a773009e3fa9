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
    const OverlayAdaptation& adaptation = overlay.adaptation;
    if (!overlay.path.empty() && adaptation.scaler != OverlayScaler::Filter &&
        adaptation.scaledWindow.width > 0) {
        windowed_.emplace(blending_ ? &blending_->table : nullptr, adaptation.scaledWidth,
                          adaptation.scaledHeight, adaptation.scaledWindow);
    }
}

namespace {

// The fields of the record that settings set (the dialog, the command line);
// the others belong to the open overlay and the processing pass.
std::int32_t FilterData::*const kSettingFields[] = {
    &FilterData::maskLeft,     &FilterData::maskTop,       &FilterData::maskRight,
    &FilterData::maskBottom,   &FilterData::fitToFrame,    &FilterData::maintainBlack,
    &FilterData::useFrameRange, &FilterData::rangeStart,   &FilterData::rangeEnd,
    &FilterData::repeatVideo,  &FilterData::borderOn,      &FilterData::borderSize,
    &FilterData::keepAspect,   &FilterData::frameOffset,   &FilterData::reverse,
    &FilterData::bilinear,     &FilterData::shadowOn,      &FilterData::shadowSize,
    &FilterData::shadowPercent, &FilterData::shadowType,   &FilterData::shadowShift,
};
COLORREF FilterData::*const kSettingColors[] = {&FilterData::shadowColor,
                                                &FilterData::borderColor};

}  // namespace

void ConfiguredFilter::UseSettings(const FilterData& settings) {
    FilterData& record = filter_.record();
    for (const auto field : kSettingFields) {
        record.*field = settings.*field;
    }
    for (const auto field : kSettingColors) {
        record.*field = settings.*field;
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
