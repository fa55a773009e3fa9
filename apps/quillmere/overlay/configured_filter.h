// The filter as one run uses it: the module registered, one instance with
// the job's settings and overlay, the overlay's frames adapted (timing,
// stills, a filtered scaler) and, for an overlay with alpha or an opacity,
// the blending bitmap operations.
#pragma once

#include <optional>
#include <string>

#include "apps/quillmere/overlay/filter_host.h"
#include "apps/quillmere/overlay/overlay_library.h"
#include "apps/quillmere/overlay/windowed_operations.h"
#include "hostkit/blending_bitmap_operations.h"

struct OverlayInput {
    std::string path;  // empty: no overlay, the mask is filled black
    long stream = kDefaultVideoStream;
    OverlayAdaptation adaptation;  // timing, scaler and the size it scales to
    // How the overlay is laid over the frame; none when it is simply copied.
    std::optional<BlendSettings> blend;
    bool strict = false;  // overlay frames that fail to decode fail the job
};

class ConfiguredFilter {
public:
    // Throws RunnerError when the overlay cannot be opened.
    ConfiguredFilter(const FilterData& settings, const OverlayInput& overlay);
    ConfiguredFilter(const ConfiguredFilter&) = delete;
    ConfiguredFilter& operator=(const ConfiguredFilter&) = delete;

    FilterInstance& instance() { return filter_.instance(); }
    // Takes new settings into the instance record and keeps the overlay
    // open: for a change of settings that leaves the overlay, its stream
    // and its adaptation as they were.
    void UseSettings(const FilterData& settings);
    // The bitmap operations the filter's output goes through; null for the
    // host's own.
    const VBitmapOperations* outputOperations() const {
        if (windowed_) {
            return &windowed_->table;
        }
        return blending_ ? &blending_->table : nullptr;
    }
    // Whether those operations copy the overlay opaque, as the host's do
    // (laying a window frame where it belongs, if need be).
    bool outputOperationsCopy() const { return !blending_; }
    // Whether they lay the overlay below full opacity, so that it is laid
    // over the video under it rather than over the border's fill.
    bool overlayOverVideo() const {
        return blending_ && LayingFor(blending_->settings).laying == Laying::Faded;
    }
    // Overlay frames that could not be decoded: reported in one closing
    // line, and a failure of the job with --strict (call it before the
    // output is committed).
    void ReportUndecodableOverlayFrames() const;

private:
    // Declared first: the module releases the overlay's handles through it.
    AdaptedOverlayLibrary library_;
    FilterModuleSession module_;
    OverlayFilter filter_;
    std::optional<BlendingBitmapOperations> blending_;
    // Over blending_ (or the host's), for frames that come as a window.
    std::optional<WindowedOverlayOperations> windowed_;
    std::string overlayPath_;
    bool strict_ = false;
};
