// Turning one plane of a picture by quarter turns and mirrors, moving its
// samples (or packed pixels) as they are: nothing is computed, so a turned
// picture holds exactly the samples of the stored one.
#pragma once

#include <cstddef>
#include <cstdint>

#include "apps/quillmere/media/orientation.h"

// Writes the plane of `width` x `height` elements of `elementBytes` bytes
// each (1 to 8), rows `inStride` bytes apart (negative: bottom-up), turned by
// `turn` into `out`, whose rows are `outStride` bytes apart and which is
// turn.SeenWidth(width, height) elements wide. The two must not overlap.
void TurnPlane(const std::uint8_t* in, std::ptrdiff_t inStride, int width, int height,
               int elementBytes, const Orientation& turn, std::uint8_t* out,
               std::ptrdiff_t outStride);
