#include "render/random_generator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

std::vector<std::int32_t> Draws(int count) {
    std::vector<std::int32_t> draws;
    for (int i = 0; i < count; ++i) {
        draws.push_back(NextRandom());
    }
    return draws;
}

TEST(RandomGenerator, SameSeedSameSequenceWithinRange) {
    SeedRandom(12345);
    const std::vector<std::int32_t> first = Draws(5000);
    SeedRandom(12345);
    EXPECT_EQ(Draws(5000), first);
    bool sawLow = false;
    bool sawHigh = false;
    for (std::int32_t draw : first) {
        ASSERT_GE(draw, 0);
        ASSERT_LE(draw, kRandomMaximum);
        sawLow |= draw < 1024;
        sawHigh |= draw > kRandomMaximum - 1024;
    }
    EXPECT_TRUE(sawLow && sawHigh) << "draws should spread over the whole range";
}

class RandomDiscard : public ::testing::TestWithParam<std::uint64_t> {};

// Jumping ahead must land exactly where drawing one by one lands, including
// counts past 2^32 (the state's period) and past the 32-bit range of a count.
TEST_P(RandomDiscard, MatchesDrawingOneByOne) {
    const std::uint64_t count = GetParam();
    const std::uint64_t walked = count % (std::uint64_t{1} << 32);
    ASSERT_LT(walked, 300000u) << "keep the walked part of the table small";
    SeedRandom(987654321u);
    for (std::uint64_t i = 0; i < walked; ++i) {
        NextRandom();
    }
    const std::vector<std::int32_t> expected = Draws(8);

    SeedRandom(987654321u);
    DiscardRandom(count);
    EXPECT_EQ(Draws(8), expected);

    SeedRandom(987654321u);
    {
        RandomStream stream;
        stream.Discard(count);
        for (std::int32_t draw : expected) {
            EXPECT_EQ(stream.Next(), draw);
        }
    }
    SeedRandom(987654321u);
    DiscardRandom(count + expected.size());
    const std::int32_t afterStream = NextRandom();
    SeedRandom(987654321u);
    {
        RandomStream stream;
        stream.Discard(count);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            stream.Next();
        }
    }
    EXPECT_EQ(NextRandom(), afterStream) << "a stream hands its state back to the thread";
}

INSTANTIATE_TEST_SUITE_P(Counts, RandomDiscard,
                         ::testing::Values(0u, 1u, 2u, 3u, 255u, 4096u, 123457u,
                                           (std::uint64_t{1} << 32),
                                           (std::uint64_t{1} << 32) + 77u,
                                           (std::uint64_t{5} << 40) + 1000u,
                                           ~std::uint64_t{0} - ((std::uint64_t{1} << 32) - 1) +
                                               5u));

}  // namespace
