// Everything the page sets, and what a settings file holds: the filter's
// own settings (mask, stretch, frames, border, shadow) and the runner's
// (placement, scaler, blending, overlay timing), with the overlay's path.
#pragma once

#include <optional>
#include <string>

#include "apps/quillmere/command_line.h"
#include "apps/quillmere/filter_settings.h"
#include "apps/quillmere/placement.h"
#include "filter/filter_data.h"

struct EditSettings {
    // The mask and every setting of the configuration dialog, from the
    // dialog's first-open defaults.
    FilterData filter = DialogDefaultSettings();
    // Set: the mask is placed by anchor, margin and size (the fields not
    // given take their defaults), and `filter`'s mask is what that gives.
    // Unset: the mask is `filter`'s, as given.
    std::optional<PlacementRequest> placement = PlacementRequest{};
    OverlayScaler scaler = OverlayScaler::Filter;
    AlphaMode alpha = AlphaMode::Straight;
    int opacityPercent = 100;
    OverlayTiming timing = OverlayTiming::ByTime;
    std::string overlayPath;  // empty: none, the mask is filled black
};
