// Part files left behind by runs that could not clean up (SIGKILL, a crash):
// the next run to the same output removes them, and only them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "tests/apps/runner_harness.h"

namespace {

class PartFiles : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }

    // A short render to out.mkv.
    RunResult RenderToOut() {
        return RunQuillmere({"render", Clip("main.mkv"), "-o", out_ / "out.mkv", "--mask",
                             "2,2,w20,h20", "--quiet"});
    }

    ScratchFolder out_;
};

TEST_F(PartFiles, SigkillLeavesOneThatTheNextRunRemoves) {
    const std::string longMain = out_ / "long.nut";
    WriteSyntheticClip(longMain, 320, 240, 300, ClipPattern::Landscape);
    const pid_t child = StartQuillmere({"render", longMain, "-o", out_ / "out.mkv", "--overlay",
                                        Clip("overlay.avi"), "--mask", "1,1,99,99", "--fit"});
    ASSERT_GT(child, 0);
    ASSERT_TRUE(WaitForFileStartingWith(out_, ".out.mkv.part-"));
    kill(child, SIGKILL);
    ASSERT_EQ(WaitForExit(child), 128 + SIGKILL);
    ASSERT_EQ(out_.Files().size(), 2u) << "the killed run left no part file";

    const RunResult next = RenderToOut();
    ASSERT_EQ(next.exitCode, 0) << next.errorText;
    EXPECT_EQ(out_.Files(), (std::vector<std::string>{"long.nut", "out.mkv"}));
}

struct LeftoverCase {
    const char* name;
    const char* file;
    bool heldByALiveRun;
    bool removed;
};

void PrintTo(const LeftoverCase& test, std::ostream* out) { *out << test.name; }

class Leftover : public PartFiles, public testing::WithParamInterface<LeftoverCase> {};

TEST_P(Leftover, IsRemovedOnlyWhenItIsThisOutputsAndNobodyHoldsIt) {
    const LeftoverCase& test = GetParam();
    const std::string path = out_ / test.file;
    std::ofstream(path) << "left over";
    // A live run holds its part file locked; this process plays that run.
    const int holder = open(path.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    if (test.heldByALiveRun) {
        ASSERT_EQ(flock(holder, LOCK_EX), 0);
    }

    const RunResult run = RenderToOut();
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    std::vector<std::string> expected = {"out.mkv"};
    if (!test.removed) {
        expected.push_back(test.file);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(out_.Files(), expected);
    close(holder);
}

INSTANTIATE_TEST_SUITE_P(
    Names, Leftover,
    testing::Values(LeftoverCase{"Abandoned", ".out.mkv.part-Ab12Cd", false, true},
                    LeftoverCase{"HeldByALiveRun", ".out.mkv.part-Ab12Cd", true, false},
                    LeftoverCase{"OfAnotherOutput", ".other.mkv.part-Ab12Cd", false, false},
                    LeftoverCase{"OfALongerName", ".out.mkv.bak.part-Ab12Cd", false, false},
                    LeftoverCase{"SuffixTooShort", ".out.mkv.part-Ab12C", false, false},
                    LeftoverCase{"SuffixNotAlphanumeric", ".out.mkv.part-Ab_2Cd", false, false},
                    LeftoverCase{"NotHidden", "out.mkv.part-Ab12Cd", false, false}),
    [](const testing::TestParamInfo<LeftoverCase>& info) { return info.param.name; });

}  // namespace
