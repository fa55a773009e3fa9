// Which overlay frame an output frame shows. The run procedure follows this
// rule, and the runner's segment planner replays it to start a segment
// where a whole run would be: both call these functions.
#pragma once

#include <cstdint>

struct FilterData;

// a - b as 32-bit arithmetic wraps, where a signed subtraction could overflow.
std::int32_t WrappingDifference(std::int32_t a, std::int32_t b);

// The overlay-relative counter of output frame `frame`: frames since the
// range's start, wrapped into the repeat cycle. The remainder is taken in
// 64 bits, where a divisor of -1 cannot trap; a cycle of no length leaves
// the counter as it is.
std::int32_t OverlayCounter(const FilterData& record, std::int32_t frame);

// The overlay stream's frame that `counter` asks for, counted from the
// stream's end when reversed. It may lie outside the stream.
std::int64_t OverlayFrameNumber(const FilterData& record, std::int32_t counter);
