#include "apps/quillmere/run_settings.h"

#include "apps/quillmere/runner_error.h"

namespace {

std::string CornersText(const MaskCorners& mask) {
    return std::to_string(mask.left) + "," + std::to_string(mask.top) + "," +
           std::to_string(mask.right) + "," + std::to_string(mask.bottom);
}

}  // namespace

bool PlacesOverlay(const CommandLine& line) {
    return line.placement.given() || (!line.maskGiven && line.scriptPath.empty());
}

MaskCorners PlacedMask(const CommandLine& line, const RunInputs& inputs) {
    const PictureShape& main = inputs.main;
    const double aspect = inputs.overlay ? AspectInMainPixels(*inputs.overlay, main)
                                         : static_cast<double>(main.width) / main.height;
    return ResolvePlacement(line.placement, main.width, main.height, aspect);
}

void RequireVisibleMask(const FilterData& settings, const PictureShape& main,
                        const std::string& origin) {
    const MaskCorners mask{settings.maskLeft, settings.maskTop, settings.maskRight,
                           settings.maskBottom};
    const std::string reason = WhyMaskDrawsNothing(mask, main.width, main.height);
    if (!reason.empty()) {
        throw UsageError("the mask " + CornersText(mask) + " from " + origin +
                         " draws nothing: " + reason);
    }
}

void SetMask(const MaskCorners& mask, FilterData& settings) {
    settings.maskLeft = static_cast<std::int32_t>(mask.left);
    settings.maskTop = static_cast<std::int32_t>(mask.top);
    settings.maskRight = static_cast<std::int32_t>(mask.right);
    settings.maskBottom = static_cast<std::int32_t>(mask.bottom);
}

CommandLine PrepareRun(const CommandLine& line, const RunInputs& inputs) {
    CommandLine run = line;
    ResolveTimedOptions(run, inputs.mainRate);
    if (PlacesOverlay(run)) {
        SetMask(PlacedMask(run, inputs), run.settings);
        run.settings.fitToFrame = 1;
        RequireVisibleMask(run.settings, inputs.main,
                           line.placement.given() ? "the placement" : "the default placement");
    } else if (run.maskGiven) {
        RequireVisibleMask(run.settings, inputs.main, "--mask");
    }
    if (run.scaler != OverlayScaler::Filter && run.settings.fitToFrame == 0) {
        throw UsageError("--scaler scales the overlay to the mask: give a placement or --fit");
    }
    return run;
}

OverlayAdaptation AdaptationFor(const CommandLine& line, const RunInputs& inputs) {
    OverlayAdaptation adaptation;
    adaptation.timing = line.timing;
    adaptation.mainRate = inputs.mainRate;
    adaptation.scaler = line.scaler;
    const std::optional<BlendSettings> blend = BlendFor(line, inputs);
    adaptation.premultiplyBeforeScaling = line.scaler != OverlayScaler::Filter && blend &&
                                          blend->useSourceAlpha &&
                                          line.alpha == AlphaMode::Straight;
    return adaptation;
}

std::optional<BlendSettings> BlendFor(const CommandLine& line, const RunInputs& inputs) {
    if (!inputs.overlay) {
        return std::nullopt;
    }
    BlendSettings blend;
    blend.useSourceAlpha = line.alpha != AlphaMode::Ignore && inputs.overlay->hasAlpha;
    // Frames that a filtered scaler has scaled come premultiplied (see
    // AdaptationFor).
    blend.premultiplied =
        line.alpha == AlphaMode::Premultiplied || line.scaler != OverlayScaler::Filter;
    blend.opacity = OpacityFromPercent(line.opacityPercent);
    if (!blend.useSourceAlpha && line.opacityPercent == 100) {
        return std::nullopt;
    }
    return blend;
}
