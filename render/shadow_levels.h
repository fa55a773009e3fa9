// The arithmetic of shadow levels: a level is a 32-bit float worked out in
// double precision and rounded, which decides the last digit of many shaded
// bytes, so every producer of a level goes through these functions.
#pragma once

#include <cstdint>

// u: the level at a band's inner edge, shadowPercent / 100.
float ShadowStartLevel(std::int32_t percent);
// v: the step from one level index to the next, (1 - u) / S. S must not be 0.
float ShadowLevelStep(float startLevel, std::int32_t size);
// The level of index i: i * v + u.
float ShadowLevel(std::int64_t index, float startLevel, float step);
// A level limited to 0..1 (a percent outside 0..100 reaches past both ends).
float ClampShadowLevel(float level);

// r = draw * n / scale, as a 32-bit float: exact for the generator's draws.
float ScaleDraw(std::int32_t draw, std::int32_t n, float scale);
// What random variation subtracts from a level for one draw of the
// generator: (50 - r) / 600 with r the draw scaled to 0..100.
double ShadowLevelVariation(std::int32_t draw);
// A level varied by one draw and limited to 0..1.
float VaryShadowLevel(float level, std::int32_t draw);
