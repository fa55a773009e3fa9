// Command lines that run but may well not do what was meant: the run goes
// on with a one-line note saying how the command line was read, or, where
// it would draw nothing at all, is refused.
#pragma once

#include <cstdint>
#include <string>

#include <vector>

#include "apps/quillmere/pipeline/fade_ramp.h"
#include "apps/quillmere/plan/input_facts.h"
#include "apps/quillmere/plan/job.h"
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

// Refuses (UsageError) frame --at `frame` past the main's last frame,
// naming that frame and its time; `mainFrames`, `exact` and `rate` as for
// RequireRangeWithinMain.
void RequireFrameWithinMain(std::int64_t frame, std::int64_t mainFrames, bool exact,
                            AVRational rate);

// A note for fades that leave no frame of the overlay at full opacity
// (together longer than its time on screen, as far as `ramp` knows it); ""
// when some frame shows it whole or nothing fades.
std::string LongFadeNote(const FadeRamp& ramp, AVRational rate);

// A note naming the titles of the `kept` streams of the main (described in
// `streams`) that `format` cannot record; "" when it keeps them or none has
// a title.
std::string DroppedTitlesNote(const std::vector<CarriableStream>& streams,
                              const std::vector<KeptStream>& kept, const OutputFormat& format);
