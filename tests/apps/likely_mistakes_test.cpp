// Command lines that run but likely do not do what was meant: each gets
// its one-line note, or, where nothing would be drawn, its refusal; a
// command line that means what it says gets neither.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/quillmere/runner_error.h"
#include "tests/apps/runner_harness.h"

namespace {

class LikelyMistakes : public testing::Test {
protected:
    static void SetUpTestSuite() {
        TestClips();
        folder_ = new ScratchFolder();
        // Wider than 400, 10 frames: 0.4 s at 25 fps.
        RunFfmpeg("-f lavfi -i testsrc2=size=480x270:rate=25 -frames:v 10 -pix_fmt yuv420p "
                  "-c:v libx264 -preset ultrafast '" + *folder_ / "wide.mp4" + "'");
        // Its audio titled, in AAC, which .mp4 takes as it is.
        RunFfmpeg("-f lavfi -i testsrc2=size=96x64:rate=25 -f lavfi -i sine=sample_rate=48000 "
                  "-t 0.4 -c:v ffv1 -c:a aac -metadata:s:a:0 title=Commentary '" +
                  *folder_ / "titled.mkv" + "'");
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    static ScratchFolder* folder_;
    ScratchFolder out_;
};
ScratchFolder* LikelyMistakes::folder_ = nullptr;

struct MistakeCase {
    const char* name;
    // WIDE, SMALL and TITLED: the clips; OUT, OUT.mp4, OUT.mkv: outputs
    std::vector<std::string> arguments;
    int exitCode;
    const char* said;  // in what it says on stderr, on one line; "" for nothing at all
};

const MistakeCase kMistakes[] = {
    // --size 25 on a 480-wide picture: 25 pixels, though likely a quarter.
    {"SizeInFewPixels", {"place", "WIDE", "--overlay", "OVERLAY", "--size", "25"}, 0,
     "--size 25 is read as 25 pixels wide; for a share of the main picture write --size 25%"},
    {"BothInFewPixels", {"place", "WIDE", "--size", "40x20%"}, 0,
     "--size 40x20% is read as 40 pixels wide; for a share of the main picture write --size "
     "40%x20%"},
    {"SizeAsPercent", {"place", "WIDE", "--overlay", "OVERLAY", "--size", "25%"}, 0, ""},
    {"SizeOnASmallPicture", {"place", "SMALL", "--overlay", "OVERLAY", "--size", "25"}, 0, ""},
    {"QuietSaysNothing", {"place", "WIDE", "--size", "25", "-q"}, 0, ""},
    // A mask partly off the 480x270 frame is drawn cut.
    {"MaskPastTheEdge",
     {"frame", "WIDE", "--at", "0", "-o", "OUT", "--mask", "-10,200,w200,h100"}, 0,
     "the mask -10,200,190,300 from --mask reaches past the 480x270 frame; only 0,200,190,270 "
     "of it is drawn"},
    {"PlacementPastTheEdge", {"place", "WIDE", "--size", "600", "--position", "left"}, 0,
     "from the placement reaches past the 480x270 frame"},
    {"MaskInside", {"frame", "WIDE", "--at", "0", "-o", "OUT", "--mask", "10,10,w100,h50"}, 0,
     ""},
    // The main ends at frame 9 (0.4 s).
    {"RangeByTimePastTheEnd",
     {"render", "WIDE", "--format", "null", "--range", "8s-9s"}, kExitUsage,
     "--range starts at frame 200 (8s), after the main video's last frame, 9 (0.4s of video)"},
    {"RangeToTheLastFrame", {"render", "WIDE", "--format", "null", "-q", "--range", "9-20"}, 0,
     ""},
    // The same mistake with frame --at: a command-line error that names the last frame.
    {"AtByTimePastTheEnd", {"frame", "WIDE", "--at", "99s", "-o", "OUT"}, kExitUsage,
     "--at 2475 (99s) lies after the main video's last frame, 9 (0.4s of video)"},
    {"AtPastTheEnd", {"frame", "WIDE", "--at", "10", "-o", "OUT"}, kExitUsage,
     "--at 10 (0.4s) lies after the main video's last frame, 9 (0.4s of video)"},
    {"AtTheLastFrame", {"frame", "WIDE", "--at", "9", "-o", "OUT"}, 0, ""},
    // Fades on the 10 frames of the main: full opacity needs a frame at
    // least fade-in frames after the first and fade-out frames before the last.
    {"FadeInLongerThanTheMain",
     {"render", "WIDE", "--format", "null", "--overlay", "OVERLAY", "--fade-in", "1s"}, 0,
     "--fade-in (25 frames) takes longer than the overlay's 10 frames (0.4s) on screen: it "
     "never reaches full opacity"},
    {"FadesMeetingInTheMiddle",
     {"render", "WIDE", "--format", "null", "--overlay", "OVERLAY", "--fade-in", "5",
      "--fade-out", "5"},
     0,
     "--fade-in (5 frames) and --fade-out (5 frames) take longer than the overlay's 10 frames"},
    {"FadesLeavingOneFrameWhole",
     {"render", "WIDE", "--format", "null", "--overlay", "OVERLAY", "--fade-in", "4",
      "--fade-out", "5"},
     0, ""},
    {"FadeInWithinARange",
     {"render", "WIDE", "--format", "null", "--overlay", "OVERLAY", "--range", "6-9",
      "--fade-in", "4"},
     0, "--fade-in (4 frames) takes longer than the overlay's 4 frames (0.16s) on screen"},
    // .mp4 keeps no stream titles; .mkv does.
    {"TitleLeftOutOfMp4", {"render", "TITLED", "-o", "OUT.mp4"}, 0,
     "the .mp4 container records no stream titles: the main video's 'Commentary' (audio) is "
     "left out (.mkv keeps it)"},
    {"TitleKeptByMkv", {"render", "TITLED", "-o", "OUT.mkv", "--audio-codec", "flac"}, 0, ""},
    {"MisspeltOption", {"render", "WIDE", "--format", "null", "--boder", "4"}, kExitUsage,
     "unknown option '--boder' (did you mean --border?)"},
    {"SwappedLetters", {"render", "WIDE", "--format", "null", "--ovelray", "OVERLAY"},
     kExitUsage, "unknown option '--ovelray' (did you mean --overlay?)"},
    {"NothingNearTheOption", {"render", "WIDE", "--format", "null", "--glitter"}, kExitUsage,
     "unknown option '--glitter'\n"},
};

class LikelyMistakeTable : public LikelyMistakes,
                           public testing::WithParamInterface<MistakeCase> {};

TEST_P(LikelyMistakeTable, SaysHowItWasReadOrRefuses) {
    const MistakeCase& test = GetParam();
    std::vector<std::string> arguments;
    for (const std::string& argument : WithClips(test.arguments)) {
        arguments.push_back(argument == "WIDE"    ? *folder_ / "wide.mp4"
                            : argument == "SMALL" ? Clip("main.mkv")
                            : argument == "TITLED" ? *folder_ / "titled.mkv"
                            : argument == "OUT"   ? out_ / "frame.png"
                            : argument.rfind("OUT.", 0) == 0 ? out_ / argument
                                                  : argument);
    }
    const RunResult run = RunQuillmere(arguments);
    EXPECT_EQ(run.exitCode, test.exitCode) << run.errorText;
    // Everything but the closing summary line of frame.
    std::string said = run.errorText;
    const std::size_t summary = said.find("quillmere: done");
    if (summary != std::string::npos) {
        said.erase(summary);
    }
    const std::string expected = test.said;
    if (expected.empty()) {
        EXPECT_EQ(said, "");
        return;
    }
    EXPECT_NE(said.find(expected), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
}

INSTANTIATE_TEST_SUITE_P(Table, LikelyMistakeTable, testing::ValuesIn(kMistakes),
                         [](const testing::TestParamInfo<MistakeCase>& info) {
                             return info.param.name;
                         });

}  // namespace
