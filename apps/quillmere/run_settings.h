// From the command line to the settings of one run: times become frames of
// the main video, a placement becomes the mask, and a mask that would draw
// nothing is refused before any work is done.
#pragma once

#include <optional>
#include <string>

#include "apps/quillmere/command_line.h"
#include "apps/quillmere/overlay_library.h"
#include "apps/quillmere/picture_shape.h"
#include "hostkit/blending_bitmap_operations.h"

// The pictures of a run, each probed once: the main video (its pixel size,
// sample aspect and frame rate) and the overlay, if there is one.
struct RunInputs {
    PictureShape main;
    AVRational mainRate{25, 1};
    std::optional<PictureShape> overlay;
};

// Whether the run places the overlay (by the options or by default) rather
// than taking the mask from --mask or --script.
bool PlacesOverlay(const CommandLine& line);

// The mask a placement gives on the main picture, for the overlay (its
// display aspect) or, without one, for a placeholder of the main's shape.
MaskCorners PlacedMask(const CommandLine& line, const RunInputs& inputs);

// Writes the corners into the settings' mask.
void SetMask(const MaskCorners& mask, FilterData& settings);

// The line with times resolved and, when it places the overlay, the mask
// and the stretch set. Throws UsageError when the mask draws nothing.
CommandLine PrepareRun(const CommandLine& line, const RunInputs& inputs);

// Throws UsageError saying why `settings`' mask draws nothing on `main`;
// `origin` names where the mask came from ("--mask", "the script", ...).
void RequireVisibleMask(const FilterData& settings, const PictureShape& main,
                        const std::string& origin);

// How the overlay's frames are adapted for this run (the scaled size is
// set once the mask is known).
OverlayAdaptation AdaptationFor(const CommandLine& line, const RunInputs& inputs);

// How the overlay is laid over the frame: none when it is simply copied (no
// alpha to use, full opacity), as the plug-in copies it.
std::optional<BlendSettings> BlendFor(const CommandLine& line, const RunInputs& inputs);
