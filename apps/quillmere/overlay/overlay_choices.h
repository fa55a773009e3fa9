// How the overlay is read and fitted: the choices the request makes and the
// overlay library carries out.
#pragma once

// How overlay frames are matched to main frames.
enum class OverlayTiming {
    ByTime,  // the overlay picture showing at the main frame's time
    Frames,  // frame for frame, as the plug-in counts
};

// What becomes of a standard-range overlay in a high-dynamic-range main:
// converted into the main's transfer and primaries with its white at the
// reference white, or laid in with its codes as they are.
enum class OverlayTransfer { Convert, Keep };

// How an overlay's alpha channel is read.
enum class AlphaMode { Straight, Premultiplied, Ignore };

// Who scales the overlay into the mask: the filter's own stretch (nearest
// or bilinear, by settings.bilinear), or a filtered scaler beforehand.
enum class OverlayScaler { Filter, Area, Bicubic, Lanczos };

// The name a filtered scaler goes by (--scaler, messages); null for the
// filter's own stretch, whose names are the command line's.
constexpr const char* FilteredScalerName(OverlayScaler scaler) {
    switch (scaler) {
    case OverlayScaler::Area:
        return "area";
    case OverlayScaler::Bicubic:
        return "bicubic";
    case OverlayScaler::Lanczos:
        return "lanczos";
    case OverlayScaler::Filter:
        break;
    }
    return nullptr;
}
