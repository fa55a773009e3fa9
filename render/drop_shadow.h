// The soft drop shadow drawn around the overlay area, in six styles.
#pragma once

#include <cstdint>

#include "host/filter_interface.h"

struct FilterData;

// One row of the style list: how a style draws its bands.
struct ShadowStyle {
    const char* listText;  // the entry of the dialog's style list
    bool gradient;
    bool randomVariation;
    bool fixedShift;  // shift from `shadowShift` instead of the band size
};

constexpr int kShadowStyleCount = 6;
extern const ShadowStyle kShadowStyles[kShadowStyleCount];

// How a style number draws; numbers outside the list (only a damaged record
// holds one) follow the list's own pattern: graded, without variation, shifted
// by the band size below 3 and by `shadowShift` above.
const ShadowStyle& ShadowStyleOf(std::int32_t style);

// Draws the bands of the shadow of the W x H area at (x, y) into the output
// bitmap, shading the source picture. Returns 0 when W < 2 or H < 2 (nothing
// drawn), else 1.
std::int32_t DrawShadow(std::int32_t x, std::int32_t y, std::int32_t W, std::int32_t H,
                        std::int32_t S, std::int32_t style, std::int32_t P, std::int32_t shift,
                        std::int32_t E, const FilterActivation& activation);

// The same with the area's position, size and extent in 64 bits, so that the
// compositor can pass W + 1 and the extent of any 32-bit mask and border
// without wrapping.
std::int32_t DrawShadowWide(std::int64_t x, std::int64_t y, std::int64_t W, std::int64_t H,
                            std::int32_t S, std::int32_t style, std::int32_t P,
                            std::int32_t shift, std::int64_t E,
                            const FilterActivation& activation);

// The next draw of the generator times n, divided by the record's randScale.
float ScaledRand(std::int32_t n, const FilterData& record);
