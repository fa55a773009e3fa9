// The module's own pseudo-random generator: integers uniformly distributed
// over 0..32767, one state per thread, so every build draws the same
// sequence from the same seed.
#pragma once

#include <cstdint>

constexpr std::int32_t kRandomMaximum = 32767;
constexpr float kRandomScale = 32768.0f;  // distinct values: the record's randScale

void SeedRandom(std::uint32_t seed);
std::int32_t NextRandom();
// Advances the generator as if `count` numbers had been drawn (count modulo
// 2^32 suffices: the state has 32 bits).
void DiscardRandom(std::uint64_t count);
