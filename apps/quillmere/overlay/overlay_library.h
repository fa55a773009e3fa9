// The AVI file library as the runner hands it to the filter: the platform's
// FFmpeg backend, with the overlay's frames seen through the runner's
// adaptations. The filter asks for overlay frames by number in main-frame
// units; here those numbers become the overlay's own frames (by time, or a
// still held for the whole clip); each frame is turned as the overlay is
// meant to be seen, and with a filtered scaler scaled to the mask, once,
// before the filter copies it.
#pragma once

#include <memory>
#include <optional>
#include <string>

extern "C" {
#include <libavutil/rational.h>
}

#include "apps/quillmere/overlay/overlay_choices.h"
#include "apps/quillmere/media/orientation.h"
#include "apps/quillmere/overlay/partial_scale.h"
#include "apps/quillmere/overlay/sdr_to_hdr.h"

struct OverlayAdaptation {
    OverlayTiming timing = OverlayTiming::ByTime;
    AVRational mainRate{25, 1};
    OverlayScaler scaler = OverlayScaler::Filter;
    int scaledWidth = 0;   // with a filtered scaler: the mask's size (0: not yet known)
    int scaledHeight = 0;
    // With a filtered scaler: the part of the scaled picture that is drawn
    // (the mask's part on the main picture), the only part scaled; empty:
    // all of it. Frames then come as that window alone, which the
    // operations of WindowedOverlayOperations lay where it belongs.
    OutputWindow scaledWindow;
    // With a filtered scaler: scale 32-bit frames premultiplied by their
    // alpha (for an overlay blended by straight alpha).
    bool premultiplyBeforeScaling = false;
    // With a filtered scaler: the overlay's frames come round again (it
    // repeats), so scaled frames are worth keeping beyond the last one.
    bool framesComeRound = false;
    // How the overlay's frames are turned before anything else (its display
    // matrix, unless the stored orientation is kept).
    Orientation turn;
    // A standard-range overlay in a high-dynamic-range main: its frames are
    // converted after turning, before scaling.
    std::optional<SdrToHdr> sdrToHdr;
};

// Puts the adapted library in place for the object's lifetime (the one in
// place before comes back afterwards). One at a time.
class AdaptedOverlayLibrary {
public:
    explicit AdaptedOverlayLibrary(const OverlayAdaptation& adaptation);
    ~AdaptedOverlayLibrary();
    // With a filtered scaler: the size to scale frames to from now on, all of it.
    void ScaleTo(int width, int height);
    AdaptedOverlayLibrary(const AdaptedOverlayLibrary&) = delete;
    AdaptedOverlayLibrary& operator=(const AdaptedOverlayLibrary&) = delete;

private:
    const struct AviLibrary* previous_ = nullptr;
};

// True while an adapted library is in place: the filter's overlay fetches
// can then be recorded and replayed on other threads (overlay_fetch_log.h).
bool OverlayFetchesShareable();

// Overlay frames scaled by filtered scalers so far: what a run's scaling
// costs, counted rather than timed.
long OverlayFramesScaled();

// Why the adapted library's last frame that could not be scaled was not
// (the sizes and what failed); empty when every frame asked was scaled.
std::string OverlayScalingProblem();
