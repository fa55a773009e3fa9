// The filter's state at a segment's first frame, as a run over the whole
// main video would have it there.
//
// The run procedure works out everything of a frame from its number (the
// frame counter, the overlay frame under --range, --offset, --repeat and
// --reverse, and, through the overlay timeline, the time-based mapping),
// except the random generator of the random shadow styles: one thread-local
// state that every drawn shadow of those styles advances by one draw per
// band position. A segment therefore starts its generator where the whole
// run's stands after the frames before it: the seed's state jumped ahead
// (RandomStep::Jump) by the draws of every frame before the segment that
// draws its decoration.
//
// These functions restate the run procedure's decisions for the runner,
// which only calls the filter; the tests hold them against the real filter.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "apps/quillmere/pipeline/mask_motion.h"
#include "filter/filter_data.h"
#include "hostkit/processing_driver.h"

// The random numbers one decoration (shadow and border) of `record`'s
// settings draws: one per position of every band of a random style's
// shadow, visible or not; 0 for the other styles.
std::uint64_t DecorationDraws(const FilterData& record);

// Whether the run procedure draws the decoration on output frame `frame`,
// for `record` as the processing pass holds it (its overlay reader, if any,
// and the overlay's length in main frames as the start procedure read it).
// Every overlay frame the reader is asked for within that length is taken
// to decode; the runner makes one that does not a failure of a segment.
bool DrawsDecoration(const FilterData& record, std::int64_t frame);

// The generator's state when frame `frame` starts, in a run whose start
// procedure seeded it with `seed` (and drew its one number); with a moving
// mask, each frame draws for its own mask.
std::uint32_t RandomStateAt(std::uint32_t seed, const FilterData& record, std::int64_t frame,
                            const MaskMotion& motion = MaskMotion());

// With a seed, what the pipeline runs once the pass has started: the
// filter's random generator set where a run seeded so stands at output
// frame `first`. Without one, nothing (the filter's clock seed stays).
std::function<void(FilterInstance&)> SeedingAt(std::optional<std::uint32_t> seed,
                                               std::int64_t first,
                                               const MaskMotion& motion = MaskMotion());
