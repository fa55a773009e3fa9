// The module's own pseudo-random generator: integers uniformly distributed
// over 0..32767, one state per thread, so every build draws the same
// sequence from the same seed.
#pragma once

#include <cstdint>

constexpr std::int32_t kRandomMaximum = 32767;
constexpr std::int32_t kRandomValueCount = kRandomMaximum + 1;
constexpr float kRandomScale = 32768.0f;  // distinct values: the record's randScale

void SeedRandom(std::uint32_t seed);
std::int32_t NextRandom();
// Advances the generator as if `count` numbers had been drawn (count modulo
// 2^32 suffices: the state has 32 bits).
void DiscardRandom(std::uint64_t count);
// This thread's generator state: what SeedRandom takes to go on from here.
// A host that runs frames on several threads hands each the state its frame
// starts from.
std::uint32_t RandomState();

// A 32-bit linear congruential generator; a draw is bits 16-30 of the state.
struct RandomStep {
    static constexpr std::uint32_t kMultiplier = 214013u;
    static constexpr std::uint32_t kIncrement = 2531011u;

    static std::uint32_t Advance(std::uint32_t state) { return state * kMultiplier + kIncrement; }
    static std::int32_t DrawOf(std::uint32_t state) {
        return static_cast<std::int32_t>((state >> 16) &
                                         static_cast<std::uint32_t>(kRandomMaximum));
    }
    // The state after `count` steps, in O(log count).
    static std::uint32_t Jump(std::uint32_t state, std::uint64_t count);
};

// This thread's generator held in a local for tight loops: reaching a
// thread-local on every draw costs a call on some targets. The state goes
// back to the thread when the stream ends; draw from nothing else meanwhile.
class RandomStream {
public:
    RandomStream();
    ~RandomStream();
    RandomStream(const RandomStream&) = delete;
    RandomStream& operator=(const RandomStream&) = delete;

    std::int32_t Next() {
        state_ = RandomStep::Advance(state_);
        return RandomStep::DrawOf(state_);
    }
    void Discard(std::uint64_t count) {
        if (count != 0) {
            state_ = RandomStep::Jump(state_, count);
        }
    }

private:
    std::uint32_t state_;
};
