// Frame numbers and times for --at, --range and --offset. Expected frames
// are worked out by hand: the frame shown at a time is floor(time * rate).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/quillmere/cli/command_line.h"
#include "apps/quillmere/plan/planning.h"
#include "apps/quillmere/plan/frame_time.h"
#include "apps/quillmere/runner_error.h"

namespace {

constexpr AVRational kPal{25, 1};
constexpr AVRational kNtsc{30000, 1001};

struct TimeCase {
    const char* name;
    const char* text;
    bool allowNegative;
    AVRational rate;
    std::int64_t expectedFrame;
};

class FrameOrTimeValue : public testing::TestWithParam<TimeCase> {};

TEST_P(FrameOrTimeValue, ResolvesToTheFrameShownThen) {
    const TimeCase& test = GetParam();
    const FrameOrTime value =
        ParseFrameOrTime("--at", test.text, test.allowNegative, -1000000, 1000000);
    EXPECT_EQ(value.FrameAt(test.rate), test.expectedFrame);
}

const TimeCase kTimeCases[] = {
    {"FrameNumber", "312", false, kPal, 312},
    {"SecondsWithFraction", "12.5s", false, kPal, 312},  // 312.5
    {"WholeSeconds", "2s", false, kPal, 50},
    {"MinutesSeconds", "1:02.5", false, kPal, 1562},     // 62.5 * 25
    {"HoursMinutesSeconds", "0:01:02.500", false, kPal, 1562},
    {"HoursCount", "1:00:00", false, kPal, 90000},
    // 62.5 * 30000 / 1001 = 1873.13
    {"NtscClock", "0:01:02.500", false, kNtsc, 1873},
    // 1.001 * 30000 / 1001 = 30 exactly: no rounding down to 29.
    {"NtscExactFrameStart", "1.001s", false, kNtsc, 30},
    {"JustBeforeAFrame", "1.0009s", false, kNtsc, 29},
    {"Microseconds", "0.039999s", false, kPal, 0},
    {"NegativeOffset", "-1.5s", true, kPal, -38},  // floor(-37.5)
    {"NegativeFrames", "-7", true, kPal, -7},
};

INSTANTIATE_TEST_SUITE_P(Table, FrameOrTimeValue, testing::ValuesIn(kTimeCases),
                         [](const testing::TestParamInfo<TimeCase>& info) {
                             return info.param.name;
                         });

class MalformedTime : public testing::TestWithParam<const char*> {};

TEST_P(MalformedTime, IsAUsageErrorNamingTheOption) {
    try {
        ParseFrameOrTime("--offset", GetParam(), false, 0, 1000);
        FAIL() << "accepted '" << GetParam() << "'";
    } catch (const UsageError& error) {
        EXPECT_NE(std::string(error.what()).find("--offset"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedTime,
                         testing::Values("s", "1:", ":30", "1:60", "1:2:3:4", "1.2.3s", "1..5s",
                                         "12.1234567s", "-3s", "1:-5", "12,5s", "5 s", "2000"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return "Case" + std::to_string(info.index);
                         });

CommandLine Parse(std::vector<std::string> options) {
    std::vector<std::string> arguments = {"quillmere", "frame", "main.mkv", "-o", "out.png"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// Written back (the page's command line, the settings file), a value reads
// as the same value.
TEST(FrameOrTimeText, ReadsBackAsTheSameValue) {
    for (const FrameOrTime value :
         {FrameOrTime::Frames(0), FrameOrTime::Frames(312), FrameOrTime::Frames(-7),
          FrameOrTime::Microseconds(2000000), FrameOrTime::Microseconds(12500000),
          FrameOrTime::Microseconds(1), FrameOrTime::Microseconds(-1500000),
          FrameOrTime::Microseconds(3600123456)}) {
        EXPECT_EQ(ParseFrameOrTime("--offset", value.Text(), true, INT32_MIN, INT32_MAX), value)
            << value.Text();
    }
}

TEST(TimedOptions, ResolveAgainstTheMainsRate) {
    CommandLine line = Parse({"--at", "1:00", "--range", "1s-2.5s", "--offset", "0.5s"});
    ResolveTimedOptions(line, kNtsc);
    EXPECT_EQ(line.frameAt, 1798);  // 60 * 29.97 = 1798.2
    EXPECT_EQ(line.settings.useFrameRange, 1);
    EXPECT_EQ(line.settings.rangeStart, 29);  // 29.97
    EXPECT_EQ(line.settings.rangeEnd, 74);    // 74.93
    EXPECT_EQ(line.settings.frameOffset, 14);  // 14.99
}

TEST(TimedOptions, FramesAndTimesMixInARange) {
    CommandLine line = Parse({"--at", "3", "--range", "10-2s"});
    ResolveTimedOptions(line, kPal);
    EXPECT_EQ(line.frameAt, 3);
    EXPECT_EQ(line.settings.rangeStart, 10);
    EXPECT_EQ(line.settings.rangeEnd, 50);
}

TEST(TimedOptions, ARangeEndingBeforeItStartsIsRefusedOnceInFrames) {
    CommandLine line = Parse({"--at", "0", "--range", "2s-1s"});
    EXPECT_THROW(ResolveTimedOptions(line, kPal), UsageError);
    // 0.01s at 25 fps is frame 0, and a range cannot end at frame 0.
    CommandLine early = Parse({"--at", "0", "--range", "0-0.01s"});
    EXPECT_THROW(ResolveTimedOptions(early, kPal), UsageError);
}

TEST(TimedOptions, FrameNumbersAreSetWithoutAFrameRate) {
    const CommandLine line = Parse({"--at", "7", "--range", "5-20", "--offset", "-3"});
    EXPECT_EQ(line.frameAt, 7);
    EXPECT_EQ(line.settings.rangeStart, 5);
    EXPECT_EQ(line.settings.rangeEnd, 20);
    EXPECT_EQ(line.settings.frameOffset, -3);
}

}  // namespace
