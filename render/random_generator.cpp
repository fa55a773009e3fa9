#include "render/random_generator.h"

namespace {

// A 32-bit linear congruential generator; a draw is bits 16-30 of the state.
constexpr std::uint32_t kMultiplier = 214013u;
constexpr std::uint32_t kIncrement = 2531011u;

thread_local std::uint32_t t_state = 1;

}  // namespace

void SeedRandom(std::uint32_t seed) { t_state = seed; }

std::int32_t NextRandom() {
    t_state = t_state * kMultiplier + kIncrement;
    return static_cast<std::int32_t>((t_state >> 16) & static_cast<std::uint32_t>(kRandomMaximum));
}

void DiscardRandom(std::uint64_t count) {
    // Jump ahead in O(log count): compose the affine step x -> a*x + c with
    // itself by repeated squaring.
    std::uint32_t stepMultiplier = kMultiplier;
    std::uint32_t stepIncrement = kIncrement;
    std::uint32_t jumpMultiplier = 1;
    std::uint32_t jumpIncrement = 0;
    for (std::uint32_t remaining = static_cast<std::uint32_t>(count); remaining != 0;
         remaining >>= 1) {
        if (remaining & 1u) {
            jumpMultiplier *= stepMultiplier;
            jumpIncrement = jumpIncrement * stepMultiplier + stepIncrement;
        }
        stepIncrement = (stepMultiplier + 1) * stepIncrement;
        stepMultiplier *= stepMultiplier;
    }
    t_state = t_state * jumpMultiplier + jumpIncrement;
}
