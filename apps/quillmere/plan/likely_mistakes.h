// Command lines that run but may well not do what was meant: the run goes
// on with a one-line note saying how the command line was read, or, where
// it would draw nothing at all, is refused.
#pragma once

#include <cstdint>
#include <string>

#include "apps/quillmere/plan/request.h"
#include "apps/quillmere/plan/placement.h"

extern "C" {
#include <libavutil/rational.h>
}

// A note for a --size given in pixels that are few for a large picture
// (--size 25 on a 1920-wide main is 25 pixels, not a quarter), saying how
// it was read and how to write a percentage; "" when there is nothing to say.
std::string SmallSizeNote(const PlacementRequest& request, int mainWidth);

// A note for a mask that reaches past the `width` x `height` frame, saying
// what of it is drawn; "" for a mask inside the frame. `origin` names where
// the mask came from.
std::string CroppedMaskNote(const MaskCorners& mask, int width, int height,
                            const std::string& origin);

// Refuses (UsageError) a frame range that starts after the main's last
// frame: nothing would be drawn. `mainFrames` is the main's frame count (0:
// unknown, nothing is refused), `exact` whether the file states it (else
// it is reckoned from the duration and a frame of doubt is allowed).
void RequireRangeWithinMain(const CommandLine& line, std::int64_t mainFrames, bool exact,
                            AVRational rate);
