#include <gtest/gtest.h>

#include <ostream>

#include "apps/quillmere/run/progress.h"
#include "apps/quillmere/run/progress_report.h"
#include "apps/quillmere/run/run_summary.h"

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

namespace {

struct PlainCase {
    const char* name;
    std::int64_t done;
    std::int64_t total;
    double seconds;
    double frameRate;
    const char* expected;
};

void PrintTo(const PlainCase& test, std::ostream* out) { *out << test.name; }

class PlainProgressLine : public testing::TestWithParam<PlainCase> {};

TEST_P(PlainProgressLine, ShowsFramesRateTimeAndSpeed) {
    const PlainCase& test = GetParam();
    EXPECT_EQ(Progress::PlainLine("quillmere", test.done, test.total, test.seconds,
                                  test.frameRate),
              test.expected);
}

// Time = frames / frame rate; speed = that time / the seconds spent.
INSTANTIATE_TEST_SUITE_P(
    Lines, PlainProgressLine,
    testing::Values(
        PlainCase{"HalfwayAtDoubleSpeed", 150, 300, 3.0, 25.0,
                  "quillmere: frame 150/300 (50%)  50.0 fps  time 00:00:06.00  speed 2.00x"},
        PlainCase{"NtscRate", 1001, 0, 10.0, 30000.0 / 1001,
                  "quillmere: frame 1001  100.1 fps  time 00:00:33.40  speed 3.34x"},
        PlainCase{"PastAnHour", 90000, 100000, 7200.0, 25.0,
                  "quillmere: frame 90000/100000 (90%)  12.5 fps  time 01:00:00.00  speed 0.50x"},
        PlainCase{"NothingTimedYet", 0, 10, 0.0, 25.0,
                  "quillmere: frame 0/10 (0%)  0.0 fps  time 00:00:00.00  speed N/A"}),
    [](const testing::TestParamInfo<PlainCase>& info) { return info.param.name; });

struct BlockCase {
    const char* name;
    std::int64_t frames;
    double seconds;
    double frameRate;
    bool end;
    const char* expected;
};

void PrintTo(const BlockCase& test, std::ostream* out) { *out << test.name; }

class ProgressBlockText : public testing::TestWithParam<BlockCase> {};

TEST_P(ProgressBlockText, HoldsTheKeysInOrder) {
    const BlockCase& test = GetParam();
    EXPECT_EQ(ProgressBlock(test.frames, test.seconds, test.frameRate, test.end),
              test.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ProgressBlockText,
    testing::Values(
        BlockCase{"Continuing", 120, 2.0, 25.0, false,
                  "frame=120\nfps=60.00\nout_time_us=4800000\nout_time=00:00:04.800000\n"
                  "speed=2.4x\nprogress=continue\n"},
        // 3601 s of video: the hours field is not folded into the minutes.
        BlockCase{"LastAfterAnHour", 90025, 1000.0, 25.0, true,
                  "frame=90025\nfps=90.03\nout_time_us=3601000000\n"
                  "out_time=01:00:01.000000\nspeed=3.6x\nprogress=end\n"},
        // 1001/30000 s per frame: 1001 frames are 1002001/30000 s of video.
        BlockCase{"NtscRate", 1001, 0.0, 30000.0 / 1001, false,
                  "frame=1001\nfps=0.00\nout_time_us=33400033\nout_time=00:00:33.400033\n"
                  "speed=N/A\nprogress=continue\n"}),
    [](const testing::TestParamInfo<BlockCase>& info) { return info.param.name; });

struct SizeCase {
    std::int64_t bytes;
    const char* expected;
};

void PrintTo(const SizeCase& test, std::ostream* out) { *out << test.bytes << " bytes"; }

class ReadableSizeText : public testing::TestWithParam<SizeCase> {};

TEST_P(ReadableSizeText, UsesBinaryUnits) {
    EXPECT_EQ(ReadableSize(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ReadableSizeText,
                         testing::Values(SizeCase{0, "0 B"}, SizeCase{1023, "1023 B"},
                                         SizeCase{1024, "1.0 KiB"},
                                         SizeCase{1536 * 1024, "1.5 MiB"},
                                         SizeCase{5LL << 30, "5.0 GiB"},
                                         SizeCase{3LL << 50, "3072.0 TiB"}));

TEST(RunSummary, RenderLineCountsTimeSpeedAndSize) {
    EXPECT_EQ(RenderSummary(300, 25.0, 4.0, "out.mkv", 3 << 20),
              "quillmere: done: 300 frames (00:00:12.00 of video) in 4.0 s, 75.0 fps, 3.00x; "
              "out.mkv, 3.0 MiB");
    EXPECT_EQ(RenderSummary(50, 25.0, 0.5, "", -1),
              "quillmere: done: 50 frames (00:00:02.00 of video) in 0.5 s, 100.0 fps, 4.00x; "
              "nothing written");
    EXPECT_EQ(FrameSummary(17, 0.25, "still.png", 2048),
              "quillmere: done: frame 17 in 0.2 s; still.png, 2.0 KiB");
}

}  // namespace
