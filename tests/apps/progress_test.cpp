#include <gtest/gtest.h>

#include "apps/quillmere/progress.h"

namespace {

struct LineCase {
    std::int64_t done;
    std::int64_t total;
    double seconds;
    const char* expected;
};

class ProgressLine : public testing::TestWithParam<LineCase> {};

TEST_P(ProgressLine, ShowsCountRateAndTimeLeft) {
    const LineCase& test = GetParam();
    EXPECT_EQ(Progress::Line("quillmere", test.done, test.total, test.seconds), test.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressLine,
    testing::Values(
        LineCase{0, 300, 0.0, "quillmere: frame 0/300 (0%)  0.0 fps  ETA --:--"},
        LineCase{100, 300, 4.0, "quillmere: frame 100/300 (33%)  25.0 fps  ETA 0:08"},
        LineCase{300, 300, 10.0, "quillmere: frame 300/300 (100%)  30.0 fps  ETA 0:00"},
        LineCase{10, 100000, 1.0, "quillmere: frame 10/100000 (0%)  10.0 fps  ETA 2:46:39"},
        // The container's count was low: the count goes on, capped at 100%.
        LineCase{120, 100, 4.0, "quillmere: frame 120/100 (100%)  30.0 fps  ETA --:--"},
        // No count known.
        LineCase{50, 0, 2.0, "quillmere: frame 50  25.0 fps"}));

}  // namespace
