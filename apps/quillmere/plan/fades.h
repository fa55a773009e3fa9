// The overlay's fades as a job settles them: --fade-in and --fade-out in
// frames, and the output frames between which the overlay shows. Where it
// stops showing can depend on the overlay's own length in main frames,
// which the filter learns when it opens the overlay; the plan keeps what
// is known before that, and SettleFade completes it.
#pragma once

#include <cstdint>

#include "apps/quillmere/pipeline/fade_ramp.h"
#include "filter/filter_data.h"

struct FadePlan {
    // `ramp.last` is where the range or the main ends, when known.
    FadeRamp ramp;
    // Without --repeat or --maintain-black the overlay stops showing when
    // it runs out, which may come sooner.
    bool endsWithOverlay = false;
};

// The fades of `inFrames` and `outFrames` frames for the settled
// `settings`, with or without an overlay, on a main of `mainFrames` frames
// (0: unknown). Throws UsageError for a fade-out with no known end to come
// before (no range end, a main of unknown length, and an overlay that does
// not run out).
FadePlan PlanFades(std::int64_t inFrames, std::int64_t outFrames, const FilterData& settings,
                   bool hasOverlay, std::int64_t mainFrames);

// The ramp once the filter has opened the overlay (`record.overlayLength`,
// in main frames). Throws RunnerError for a fade-out whose end is still
// unknown: a still overlay shown to the end of a main of unknown length.
FadeRamp SettleFade(const FadePlan& plan, const FilterData& record);
