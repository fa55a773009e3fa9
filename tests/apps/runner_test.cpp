// Whole runs of the program on clips made at test time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/apps/runner_harness.h"


namespace {

class RunnerTest : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }
    static const ScratchFolder& clips() { return TestClips(); }

    ScratchFolder out_;
};

struct CompositeCase {
    const char* name;
    const char* main;
    std::vector<std::string> options;
    // A YUV main gets the filter's pixels back in YUV: within rounding, and
    // the overlay's sharp colour edges within what 4:2:0 chroma can hold.
    double minimumPsnr = 0;  // 0: every pixel exact
};

// The deterministic settings: the random shadow styles (1 and 3) are seeded
// from the clock and cannot be compared frame by frame.
const CompositeCase kCompositeCases[] = {
    {"CopyWithBorderAndGradientShadow", "main.mkv",
     {"--overlay", "OVERLAY", "--mask", "20,10,w64,h48", "--border", "2", "--shadow",
      "gradient"}},
    {"NearestStretchFlatShadowRepeat", "main.mkv",
     {"--overlay", "OVERLAY", "--mask", "10,10,w100,h70", "--fit", "--shadow", "0", "--repeat"}},
    {"BilinearReverseNegativeShift", "main.mkv",
     {"--overlay", "OVERLAY", "--mask", "10,10,w100,h70", "--fit", "--bilinear", "--border", "3",
      "--border-color", "3366cc", "--shadow", "gradient-fixed", "--shadow-shift", "-5",
      "--reverse", "--repeat"}},
    {"RangeOffsetMaintainBlackColouredShadow", "main.mkv",
     {"--overlay", "OVERLAY", "--mask", "30,30,w50,h40", "--range", "5-20", "--offset", "3",
      "--maintain-black", "--shadow", "flat-fixed", "--shadow-color", "ff0000"}},
    {"Overlay24BitStretchedWithBorder", "main.mkv",
     {"--overlay", "OVERLAY24", "--mask", "10,10,w100,h70", "--fit", "--bilinear", "--border",
      "2", "--shadow", "4"}},
    {"Overlay24BitCopied", "main.mkv",
     {"--overlay", "OVERLAY24", "--mask", "50,40,w80,h60", "--repeat"}},
    {"PlaceholderWithoutOverlay", "main.mkv", {"--mask", "5,5,60,40", "--border", "1"}},
    {"YuvMainBilinear", "main.mp4",
     {"--overlay", "OVERLAY", "--mask", "40,20,w80,h60", "--fit", "--bilinear", "--shadow", "2",
      "--shadow-percent", "70"},
     28.0},
    {"YuvMainWholeInFilterPixels", "main.mp4",
     {"--overlay", "OVERLAY", "--mask", "40,20,w80,h60", "--fit", "--bilinear", "--shadow", "2",
      "--rgb-output"}},
};

class RenderCompare : public RunnerTest, public testing::WithParamInterface<CompositeCase> {};

TEST_P(RenderCompare, EveryFrameEqualsTheFilterRunDirectly) {
    const CompositeCase& test = GetParam();
    // Parity with the plug-in: its frame-for-frame counting.
    std::vector<std::string> options = WithClips(test.options);
    options.insert(options.end(), {"--overlay-timing", "frames"});
    std::vector<std::string> arguments = {"render", Clip(test.main), "-o", out_ / "out.mkv",
                                          "--quiet"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_EQ(run.errorText, "");

    const std::vector<Picture> rendered = DecodeAll(out_ / "out.mkv");
    const std::vector<Picture> expected = CompositeDirectly(Clip(test.main), options);
    ASSERT_EQ(rendered.size(), static_cast<std::size_t>(kMainFrames));
    ASSERT_EQ(rendered.size(), expected.size());
    for (std::size_t frame = 0; frame < rendered.size(); ++frame) {
        if (test.minimumPsnr > 0) {
            EXPECT_GE(Psnr(rendered[frame], expected[frame]), test.minimumPsnr)
                << "frame " << frame;
            continue;
        }
        std::string where;
        EXPECT_TRUE(SameColors(rendered[frame], expected[frame], where))
            << "frame " << frame << ": " << where;
    }
    EXPECT_EQ(out_.Files(), std::vector<std::string>{"out.mkv"});
}

INSTANTIATE_TEST_SUITE_P(Settings, RenderCompare, testing::ValuesIn(kCompositeCases),
                         [](const testing::TestParamInfo<CompositeCase>& info) {
                             return info.param.name;
                         });

TEST_F(RunnerTest, FrameWritesThatOneCompositeAsPng) {
    const std::vector<std::string> options =
        WithClips({"--overlay", "OVERLAY", "--mask", "10,10,w100,h70", "--fit", "--border", "2"});
    std::vector<std::string> arguments = {"frame", Clip("main.mkv"), "--at", "17",
                                          "-o", out_ / "still.png"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;

    const std::vector<Picture> still = DecodeAll(out_ / "still.png");
    const std::vector<Picture> expected = CompositeDirectly(Clip("main.mkv"), options);
    ASSERT_EQ(still.size(), 1u);
    std::string where;
    EXPECT_TRUE(SameColors(still[0], expected[17], where)) << where;
}

TEST_F(RunnerTest, ScriptLineSetsTheMaskLikeTheMaskOption) {
    std::ofstream(out_ / "job.script") << "# saved by the host\n  Config(12,8,90,70);\n";
    const RunResult fromScript =
        RunQuillmere({"render", Clip("main.mkv"), "-o", out_ / "script.mkv", "--script",
                      out_ / "job.script", "--overlay", Clip("overlay.avi"), "--fit"});
    const RunResult fromMask =
        RunQuillmere({"render", Clip("main.mkv"), "-o", out_ / "mask.mkv", "--mask",
                      "12,8,90,70", "--overlay", Clip("overlay.avi"), "--fit"});
    ASSERT_EQ(fromScript.exitCode, 0) << fromScript.errorText;
    ASSERT_EQ(fromMask.exitCode, 0) << fromMask.errorText;
    const std::vector<Picture> a = DecodeAll(out_ / "script.mkv");
    const std::vector<Picture> b = DecodeAll(out_ / "mask.mkv");
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t frame = 0; frame < a.size(); ++frame) {
        EXPECT_EQ(ColorChecksum(a[frame]), ColorChecksum(b[frame])) << "frame " << frame;
    }
}

TEST_F(RunnerTest, OutputFollowsExtensionSizeAndRate) {
    // An odd size too: H.264 in 4:2:0 needs even sizes and must not fail on it.
    WriteSyntheticClip(out_ / "odd.nut", 75, 41, 8, ClipPattern::Checker);
    struct Output {
        const char* main;
        const char* name;
        const char* codec;
        int width;
        int height;
    };
    for (const Output& output : {Output{"main.mkv", "out.mp4", "h264", kMainWidth, kMainHeight},
                                 Output{"main.mkv", "out.avi", "ffv1", kMainWidth, kMainHeight},
                                 Output{"main.mkv", "out.nut", "ffv1", kMainWidth, kMainHeight},
                                 // 4:2:0 needs whole chroma blocks: one column
                                 // and one row are left out.
                                 Output{"odd.nut", "odd.mp4", "h264", 74, 40},
                                 Output{"odd.nut", "odd.mkv", "ffv1", 75, 41}}) {
        const std::string main = std::string(output.main) == "odd.nut" ? out_ / "odd.nut"
                                                                       : Clip(output.main);
        const RunResult run = RunQuillmere({"render", main, "-o", out_ / output.name,
                                            "--mask", "2,2,w30,h20", "--border", "1"});
        ASSERT_EQ(run.exitCode, 0) << output.name << ": " << run.errorText;
        const VideoProperties written = ReadProperties(out_ / output.name);
        EXPECT_EQ(written.codec, output.codec) << output.name;
        EXPECT_EQ(written.width, output.width) << output.name;
        EXPECT_EQ(written.height, output.height) << output.name;
        EXPECT_EQ(written.frameRate, 25.0) << output.name;
        EXPECT_EQ(DecodeAll(out_ / output.name).size(), DecodeAll(main).size()) << output.name;
    }
}

TEST_F(RunnerTest, AudioIsCarriedOverUnchanged) {
    for (const char* name : {"out.mkv", "out.avi"}) {
        const RunResult run = RunQuillmere({"render", Clip("main-audio.mkv"), "-o", out_ / name,
                                            "--mask", "4,4,w40,h30", "--border", "2"});
        ASSERT_EQ(run.exitCode, 0) << name << ": " << run.errorText;
        const std::string audio = AudioChecksum(out_ / name);
        EXPECT_FALSE(audio.empty()) << name;
        EXPECT_EQ(audio, AudioChecksum(Clip("main-audio.mkv"))) << name;
        EXPECT_EQ(DecodeAll(out_ / name).size(), DecodeAll(Clip("main-audio.mkv")).size());
    }
}

TEST_F(RunnerTest, NoAudioLeavesTheAudioOut) {
    const RunResult run =
        RunQuillmere({"render", Clip("main-audio.mkv"), "-o", out_ / "out.mp4", "--no-audio"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_EQ(AudioChecksum(out_ / "out.mp4"), "");
}

TEST_F(RunnerTest, NullFormatCompositesAndWritesNothing) {
    const RunResult run = RunQuillmere({"render", Clip("main.mkv"), "--format", "null",
                                        "--overlay", Clip("overlay.avi"), "--mask", "1,1,50,50"});
    EXPECT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_TRUE(out_.Files().empty());
}

TEST_F(RunnerTest, DemoWritesVideoAndStill) {
    const RunResult run = RunQuillmere({"demo", "-o", out_ / "demo", "--quiet"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const std::vector<Picture> video = DecodeAll(out_ / "demo/demo.mkv");
    const std::vector<Picture> still = DecodeAll(out_ / "demo/demo.png");
    ASSERT_FALSE(video.empty());
    ASSERT_EQ(still.size(), 1u);
    EXPECT_EQ(still[0].width, video[0].width);
    std::remove((out_ / "demo/demo.mkv").c_str());
    std::remove((out_ / "demo/demo.png").c_str());
    EXPECT_EQ(rmdir((out_ / "demo").c_str()), 0) << "the demo left other files behind";
}

struct FailureCase {
    const char* name;
    std::vector<std::string> arguments;  // MAIN, OVERLAY, NOTES, OUT are put in
    int exitCode;
    const char* message;  // part of the one line on stderr
};

const FailureCase kFailureCases[] = {
    {"MissingMain", {"render", "OUT/absent.mkv", "-o", "OUT/x.mkv"}, 1,
     "cannot open 'OUT/absent.mkv': No such file or directory"},
    {"MainNotAVideo", {"render", "NOTES", "-o", "OUT/x.mkv"}, 1, "notes.txt'"},
    {"MainWithoutVideo", {"render", "SOUND", "-o", "OUT/x.mkv"}, 1,
     "'SOUND' is not a video: it has no video stream"},
    {"OverlayWithoutVideo", {"render", "MAIN", "-o", "OUT/x.mkv", "--overlay", "SOUND"}, 1,
     "'SOUND' is not a video: it has no video stream"},
    {"MissingOverlay", {"render", "MAIN", "-o", "OUT/x.mkv", "--overlay", "OUT/absent.avi"}, 1,
     "cannot open the overlay 'OUT/absent.avi': No such file or directory"},
    {"OverlayNotAVideo", {"render", "MAIN", "-o", "OUT/x.mkv", "--overlay", "NOTES"}, 1,
     "notes.txt'"},
    {"UnwritableOutput", {"render", "MAIN", "-o", "OUT/no/such/folder/x.mkv"}, 1,
     "cannot write 'OUT/no/such/folder/x.mkv': No such file or directory"},
    {"OutputIsAFolder", {"render", "MAIN", "-o", "OUT"}, 2, "cannot tell the output format"},
    {"UnknownExtension", {"render", "MAIN", "-o", "OUT/x.gif"}, 2,
     "cannot tell the output format from 'OUT/x.gif'"},
    {"UnknownFormatName", {"render", "MAIN", "-o", "OUT/x.mkv", "--format", "flv"}, 2,
     "unknown output format 'flv'"},
    {"UnknownOption", {"render", "MAIN", "-o", "OUT/x.mkv", "--glow"}, 2,
     "unknown option '--glow'"},
    {"BadMask", {"render", "MAIN", "-o", "OUT/x.mkv", "--mask", "1,2,3"}, 2,
     "invalid value '1,2,3' for --mask"},
    {"BadShadow", {"render", "MAIN", "-o", "OUT/x.mkv", "--shadow", "9"}, 2,
     "invalid value '9' for --shadow"},
    {"BadColour", {"render", "MAIN", "-o", "OUT/x.mkv", "--border-color", "reddish"}, 2,
     "invalid value 'reddish' for --border-color"},
    {"FrameBeyondTheEnd", {"frame", "MAIN", "--at", "999", "-o", "OUT/x.png"}, 2,
     "--at 999 (39.96s) lies after the main video's last frame, 29"},
    {"ScriptWithoutConfig", {"render", "MAIN", "-o", "OUT/x.mkv", "--script", "NOTES"}, 1,
     "notes.txt' line 1"},
    {"OutputOverInput", {"render", "MAIN", "-o", "MAIN"}, 1, "is also an input"},
    {"AudioCodecTheContainerCannotHold",
     {"render", "AUDIO", "-o", "OUT/x.mp4", "--audio-codec", "flac"}, 2,
     "the .mp4 container cannot hold 'flac' audio"},
};

class RunnerFailure : public RunnerTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(RunnerFailure, ReportsOneLineExitsNonZeroAndLeavesNothing) {
    const FailureCase& test = GetParam();
    std::vector<std::string> arguments;
    // One pass over the text, so a path put in is never searched again.
    const std::vector<std::pair<std::string, std::string>> values = {
        {"MAIN", Clip("main.mkv")},
        {"NOTES", Clip("notes.txt")},
        {"AUDIO", Clip("main-audio.mkv")},
        {"SOUND", Clip("sound.wav")},
        {"OUT", out_.path()}};
    auto put = [&](const std::string& text) {
        std::string result;
        for (std::size_t at = 0; at < text.size();) {
            bool replaced = false;
            for (const auto& [word, value] : values) {
                if (text.compare(at, word.size(), word) == 0) {
                    result += value;
                    at += word.size();
                    replaced = true;
                    break;
                }
            }
            if (!replaced) {
                result += text[at++];
            }
        }
        return result;
    };
    for (const std::string& argument : test.arguments) {
        arguments.push_back(put(argument));
    }
    const std::vector<std::string> clipsBefore = clips().Files();
    const RunResult run = RunQuillmere(arguments);
    EXPECT_EQ(run.exitCode, test.exitCode) << run.errorText;
    EXPECT_NE(run.errorText.find(put(test.message)), std::string::npos) << run.errorText;
    EXPECT_EQ(run.errorText.rfind("quillmere: ", 0), 0u) << run.errorText;
    EXPECT_EQ(std::count(run.errorText.begin(), run.errorText.end(), '\n'), 1)
        << run.errorText;
    EXPECT_TRUE(out_.Files().empty());
    EXPECT_EQ(clips().Files(), clipsBefore);
}

INSTANTIATE_TEST_SUITE_P(Errors, RunnerFailure, testing::ValuesIn(kFailureCases),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                             return info.param.name;
                         });

TEST_F(RunnerTest, AFailedRunLeavesAnEarlierOutputAsItWas) {
    std::ofstream(out_ / "keep.mkv") << "an earlier render";
    const RunResult run = RunQuillmere({"render", Clip("main.mkv"), "-o", out_ / "keep.mkv",
                                        "-y", "--overlay", Clip("notes.txt")});
    EXPECT_EQ(run.exitCode, 1);
    std::ifstream kept(out_ / "keep.mkv");
    std::string content;
    std::getline(kept, content);
    EXPECT_EQ(content, "an earlier render");
    EXPECT_EQ(out_.Files(), std::vector<std::string>{"keep.mkv"});
}

struct SignalCase {
    const char* name;
    int signal;
};

void PrintTo(const SignalCase& test, std::ostream* out) { *out << test.name; }

class RunnerInterrupt : public RunnerTest, public testing::WithParamInterface<SignalCase> {};

TEST_P(RunnerInterrupt, StopsAndRemovesThePartialOutput) {
    // A job long enough to be caught in the middle: many frames into H.264.
    const std::string longMain = out_ / "long.nut";
    WriteSyntheticClip(longMain, 320, 240, 300, ClipPattern::Landscape);
    const pid_t child =
        StartQuillmere({"render", longMain, "-o", out_ / "out.mp4", "--overlay",
                        Clip("overlay.avi"), "--mask", "1,1,99,99", "--fit"});
    ASSERT_GT(child, 0);
    // Wait until the output is being written: its part file exists.
    ASSERT_TRUE(WaitForFileStartingWith(out_, ".out.mp4.part-"));
    kill(child, GetParam().signal);
    EXPECT_EQ(WaitForExit(child), 128 + GetParam().signal);
    EXPECT_EQ(out_.Files(), std::vector<std::string>{"long.nut"});
}

// Ctrl-C, kill, a closed terminal, Ctrl-\.
INSTANTIATE_TEST_SUITE_P(Signals, RunnerInterrupt,
                         testing::Values(SignalCase{"Sigint", SIGINT},
                                         SignalCase{"Sigterm", SIGTERM},
                                         SignalCase{"Sighup", SIGHUP},
                                         SignalCase{"Sigquit", SIGQUIT}),
                         [](const testing::TestParamInfo<SignalCase>& info) {
                             return info.param.name;
                         });

}  // namespace
