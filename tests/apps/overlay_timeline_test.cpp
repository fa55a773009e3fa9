// The mapping from main frames to overlay frames, on made-up frame times.
// Expected frames are the nearest overlay time to n / (main rate), worked
// out by hand in each row.
#include <gtest/gtest.h>

#include <vector>

#include "apps/quillmere/overlay/overlay_timeline.h"

namespace {

struct TimelineCase {
    const char* name;
    std::vector<std::int64_t> frameTimes;
    AVRational timeBase;
    std::int64_t lastDuration;
    AVRational mainRate;
    long expectedLength;
    std::vector<long> expectedFrames;  // for main frames 0, 1, 2, ...
};

class Timeline : public testing::TestWithParam<TimelineCase> {};

TEST_P(Timeline, MapsMainFramesToTheNearestOverlayTime) {
    const TimelineCase& test = GetParam();
    const OverlayTimeline timeline = OverlayTimeline::ByTime(
        test.frameTimes, test.timeBase, test.lastDuration, test.mainRate);
    EXPECT_EQ(timeline.length(), test.expectedLength);
    for (std::size_t n = 0; n < test.expectedFrames.size(); ++n) {
        EXPECT_EQ(timeline.OverlayFrameFor(static_cast<long>(n)), test.expectedFrames[n])
            << "main frame " << n;
    }
    EXPECT_EQ(timeline.OverlayFrameFor(-1), -1);
    EXPECT_EQ(timeline.OverlayFrameFor(timeline.length()), -1);
}

const TimelineCase kTimelineCases[] = {
    // 10 frames at 50 fps (1/50 units) on 25 fps: every other frame; 0.2 s
    // is 5 main frames.
    {"FiftyOnTwentyFive", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {1, 50}, 1, {25, 1}, 5,
     {0, 2, 4, 6, 8}},
    // 12 fps on 25: n * 12 / 25 = 0, 0.48, 0.96, 1.44, 1.92, 2.4 -> nearest.
    {"TwelveOnTwentyFive", {0, 1, 2, 3, 4, 5}, {1, 12}, 1, {25, 1}, 13, {0, 0, 1, 1, 2, 2}},
    // A first time that is not zero counts from there.
    {"StartsLate", {100, 101, 102, 103}, {1, 25}, 1, {25, 1}, 4, {0, 1, 2, 3}},
    // Milliseconds, 20 and 60 ms apart alternately, on 25 fps (40 ms): 0,
    // 40 (20 is nearer than 80), 80, 120 (100 nearer than 160), 160, 200
    // (180); 240 ms in all.
    {"VariableRate", {0, 20, 80, 100, 160, 180}, {1, 1000}, 60, {25, 1}, 6,
     {0, 1, 2, 3, 4, 5}},
    // 50 fps (20 ms) over frames at 0, 20, 60 ms: 40 ms lies midway between
    // 20 and 60, and the tie goes to the later frame.
    {"TieGoesToTheLater", {0, 20, 60}, {1, 1000}, 20, {50, 1}, 4, {0, 1, 2, 2}},
    // Unknown last duration: the mean spacing (20 ms) stands in.
    {"LastDurationUnknown", {0, 20, 40, 60}, {1, 1000}, 0, {25, 1}, 2, {0, 2}},
};

INSTANTIATE_TEST_SUITE_P(Table, Timeline, testing::ValuesIn(kTimelineCases),
                         [](const testing::TestParamInfo<TimelineCase>& info) {
                             return info.param.name;
                         });

TEST(TimelineStill, OnePictureIsShownAtEveryFrameWithoutEnd) {
    for (const OverlayTimeline& still :
         {OverlayTimeline::ByTime({0}, {1, 25}, 1, {25, 1}), OverlayTimeline::Still()}) {
        EXPECT_TRUE(still.isStill());
        EXPECT_EQ(still.length(), OverlayTimeline::kStillLength);
        EXPECT_EQ(still.OverlayFrameFor(0), 0);
        EXPECT_EQ(still.OverlayFrameFor(123456), 0);
        EXPECT_EQ(still.OverlayFrameFor(-1), -1);
    }
}

TEST(TimelineFrameForFrame, CountsTheOverlaysOwnFrames) {
    const OverlayTimeline timeline = OverlayTimeline::FrameForFrame(12);
    EXPECT_EQ(timeline.length(), 12);
    EXPECT_EQ(timeline.OverlayFrameFor(7), 7);
    EXPECT_EQ(timeline.OverlayFrameFor(12), -1);
    // A single picture too, as the plug-in counts: on the first frame only.
    const OverlayTimeline single = OverlayTimeline::FrameForFrame(1);
    EXPECT_FALSE(single.isStill());
    EXPECT_EQ(single.OverlayFrameFor(0), 0);
    EXPECT_EQ(single.OverlayFrameFor(1), -1);
}

}  // namespace
