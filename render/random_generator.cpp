#include "render/random_generator.h"

namespace {

thread_local std::uint32_t t_state = 1;

}  // namespace

std::uint32_t RandomStep::Jump(std::uint32_t state, std::uint64_t count) {
    // Compose the affine step x -> a*x + c with itself by repeated squaring.
    // The state has 32 bits, so its period divides 2^32 and only the low 32
    // bits of the count matter.
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
    return state * jumpMultiplier + jumpIncrement;
}

void SeedRandom(std::uint32_t seed) { t_state = seed; }

std::int32_t NextRandom() {
    t_state = RandomStep::Advance(t_state);
    return RandomStep::DrawOf(t_state);
}

void DiscardRandom(std::uint64_t count) { t_state = RandomStep::Jump(t_state, count); }

std::uint32_t RandomState() { return t_state; }

RandomStream::RandomStream() : state_(t_state) {}

RandomStream::~RandomStream() { t_state = state_; }
