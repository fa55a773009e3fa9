#include "apps/quillmere/plan/fades.h"

#include <algorithm>
#include <optional>

#include "apps/quillmere/overlay/overlay_timeline.h"
#include "apps/quillmere/runner_error.h"

namespace {

// The output frame from which the overlay's frames are counted.
std::int64_t CountingStart(const FilterData& settings) {
    return settings.useFrameRange != 0 ? settings.rangeStart : 0;
}

// A nearer end, where there was none or a later one.
void EndBy(std::optional<std::int64_t>& last, std::int64_t candidate) {
    last = last ? std::min(*last, candidate) : candidate;
}

}  // namespace

FadePlan PlanFades(std::int64_t inFrames, std::int64_t outFrames, const FilterData& settings,
                   bool hasOverlay, std::int64_t mainFrames) {
    FadePlan plan;
    plan.ramp.inFrames = inFrames;
    plan.ramp.outFrames = outFrames;
    plan.ramp.first = CountingStart(settings);
    // A negative offset asks for overlay frames before its first: nothing
    // shows until the count reaches it, unless black stands in.
    if (hasOverlay && settings.frameOffset < 0 && settings.maintainBlack == 0) {
        plan.ramp.first -= settings.frameOffset;
    }
    if (settings.useFrameRange != 0 && settings.rangeEnd != 0) {
        EndBy(plan.ramp.last, settings.rangeEnd);
    }
    if (mainFrames > 0) {
        EndBy(plan.ramp.last, mainFrames - 1);
    }
    plan.endsWithOverlay = hasOverlay && settings.repeatVideo == 0 && settings.maintainBlack == 0;
    if (outFrames > 0 && !plan.ramp.last && !plan.endsWithOverlay) {
        throw UsageError("--fade-out needs to know the last frame the overlay shows on, and "
                         "the main video's length is unknown: give the range's end "
                         "(--range START-END)");
    }
    return plan;
}

FadeRamp SettleFade(const FadePlan& plan, const FilterData& record) {
    FadeRamp ramp = plan.ramp;
    const std::int64_t length = record.overlayLength;
    if (plan.endsWithOverlay && length < OverlayTimeline::kStillLength) {
        // Overlay frame offset + n shows on the n-th frame from the count's start.
        EndBy(ramp.last, CountingStart(record) + length - record.frameOffset - 1);
    }
    if (ramp.outFrames > 0 && !ramp.last) {
        throw RunnerError("--fade-out needs to know the last frame the overlay shows on: the "
                          "still overlay shows to the end of a main video of unknown length; "
                          "give the range's end (--range START-END)");
    }
    return ramp;
}
