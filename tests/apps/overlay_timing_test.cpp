// Overlay timing through whole runs: every overlay frame carries its own
// presentation time as a colour code (milliseconds: red * 256 + green, blue
// 200 as a marker), and the test reads back which overlay time each main
// frame shows. Stills and animations are held or played for the clip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/apps/runner_harness.h"

namespace {

constexpr int kMarkerBlue = 200;
constexpr int kSide = 32;

// The colour bytes of a picture's pixel: blue, green, red.
struct Colour {
    int blue;
    int green;
    int red;
};
Colour PixelAt(const Picture& picture, int x, int y) {
    const std::uint8_t* pixel = picture.row(y) + 4 * x;
    return {pixel[0], pixel[1], pixel[2]};
}

// A grey main of 64 x 48 pixels at `rate` (an ffmpeg rate expression),
// lossless, `seconds` long, in RGB so that the colour codes come back exact.
void MakeMain(const std::string& path, const std::string& rate, double seconds) {
    RunFfmpeg("-f lavfi -i color=c=gray:s=64x48:r=" + rate + ":d=" + std::to_string(seconds) +
              " -pix_fmt bgr0 -c:v ffv1 '" + path + "'");
}

// The colour code of each frame's own time, after any retiming of `timing`.
std::string TimeCodeFilter() {
    return "format=gbrp,geq=r='floor(floor(T*1000+0.5)/256)':g='mod(floor(T*1000+0.5),256)':b=" +
           std::to_string(kMarkerBlue);
}

struct RateCase {
    const char* name;
    const char* mainRate;
    double mainFramesPerSecond;
    const char* overlayRate;      // the source's rate
    const char* retime;           // a setpts expression making the rate variable, or ""
    double longestFrameSeconds;   // the longest an overlay frame is shown
};

class TimingByTime : public testing::TestWithParam<RateCase> {
protected:
    ScratchFolder folder_;
};

TEST_P(TimingByTime, EachMainFrameShowsTheOverlayOfItsTime) {
    const RateCase& test = GetParam();
    const std::string main = folder_ / "main.nut";
    const std::string overlay = folder_ / "overlay.mkv";
    MakeMain(main, test.mainRate, 2.0);
    std::string filters = std::string("color=c=black:s=32x32:r=") + test.overlayRate + ":d=3";
    std::string timing;
    if (*test.retime != '\0') {
        filters += std::string(",setpts='") + test.retime + "'";
        timing = " -fps_mode passthrough";
    }
    RunFfmpeg("-f lavfi -i \"" + filters + "," + TimeCodeFilter() + "\" -c:v ffv1" + timing +
              " '" + overlay + "'");

    const std::string output = folder_ / "out.mkv";
    const RunResult run = RunQuillmere({"render", main, "-o", output, "--quiet", "--overlay",
                                        overlay, "--mask", "0,0,64,48", "--fit"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const std::vector<Picture> frames = DecodeAll(output);
    ASSERT_GE(frames.size(), 40u);
    // Half the longest overlay frame, and the millisecond rounding of the
    // colour code and of the container's timestamps.
    const double tolerance = test.longestFrameSeconds / 2 + 0.0015;
    for (std::size_t n = 0; n < frames.size(); ++n) {
        const Colour code = PixelAt(frames[n], 32, 24);
        ASSERT_EQ(code.blue, kMarkerBlue) << "main frame " << n << " shows no overlay";
        const double shown = (code.red * 256 + code.green) / 1000.0;
        const double time = static_cast<double>(n) / test.mainFramesPerSecond;
        EXPECT_NEAR(shown, time, tolerance) << "main frame " << n;
    }
}

const RateCase kRateCases[] = {
    {"Overlay50OnMain25", "25", 25.0, "50", "", 1.0 / 50},
    {"OverlayNtscOnMain25", "25", 25.0, "30000/1001", "", 1001.0 / 30000},
    {"Overlay12OnMain25", "25", 25.0, "12", "", 1.0 / 12},
    // Frames alternately 20 and 60 ms apart.
    {"OverlayVariableOnMain25", "25", 25.0, "100", "(floor(N/2)*0.08+mod(N,2)*0.02)/TB", 0.06},
    {"Overlay50OnMainNtsc", "30000/1001", 30000.0 / 1001, "50", "", 1.0 / 50},
    {"Overlay12OnMainNtsc", "30000/1001", 30000.0 / 1001, "12", "", 1.0 / 12},
    {"Overlay25OnMainNtsc", "30000/1001", 30000.0 / 1001, "25", "", 1.0 / 25},
    {"OverlayVariableOnMainNtsc", "30000/1001", 30000.0 / 1001, "100",
     "(floor(N/2)*0.08+mod(N,2)*0.02)/TB", 0.06},
};

INSTANTIATE_TEST_SUITE_P(Rates, TimingByTime, testing::ValuesIn(kRateCases),
                         [](const testing::TestParamInfo<RateCase>& info) {
                             return info.param.name;
                         });

class OverlayTimingRuns : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }
    ScratchFolder folder_;
};

// Frame for frame is the plug-in's counting: the runner's output equals the
// filter run directly (with the plain library), bit for bit, even where the
// two rates differ.
TEST_F(OverlayTimingRuns, FramesTimingEqualsThePluginsCounting) {
    const std::string overlay = folder_ / "overlay50.mkv";
    RunFfmpeg("-f lavfi -i \"color=c=black:s=32x32:r=50:d=2," + TimeCodeFilter() +
              "\" -c:v ffv1 '" + overlay + "'");
    const std::vector<std::string> options = {"--overlay", overlay, "--mask", "20,10,w60,h50",
                                              "--fit", "--offset", "3", "--repeat",
                                              "--overlay-timing", "frames"};
    std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o",
                                          folder_ / "out.mkv", "--quiet"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const std::vector<Picture> rendered = DecodeAll(folder_ / "out.mkv");
    const std::vector<Picture> direct = CompositeDirectly(Clip("main.mkv"), options);
    ASSERT_EQ(rendered.size(), direct.size());
    for (std::size_t n = 0; n < rendered.size(); ++n) {
        std::string where;
        EXPECT_TRUE(SameColors(rendered[n], direct[n], where)) << "frame " << n << ": " << where;
        // Overlay frame n + 3 of a 50 fps clip: (n + 3) * 20 ms.
        const Colour code = PixelAt(rendered[n], 40, 30);
        EXPECT_EQ(code.red * 256 + code.green, static_cast<int>((n + 3) * 20)) << "frame " << n;
    }
}

TEST_F(OverlayTimingRuns, AtTakesATime) {
    const std::vector<std::string> common = {"--quiet", "--overlay", Clip("overlay.avi"),
                                             "--mask", "10,10,w40,h30", "--border", "2"};
    std::vector<std::string> byTime = {"frame", Clip("main.mkv"), "--at", "0.48s", "-o",
                                       folder_ / "time.png"};
    std::vector<std::string> byFrame = {"frame", Clip("main.mkv"), "--at", "12", "-o",
                                        folder_ / "frame.png"};
    byTime.insert(byTime.end(), common.begin(), common.end());
    byFrame.insert(byFrame.end(), common.begin(), common.end());
    ASSERT_EQ(RunQuillmere(byTime).exitCode, 0);
    ASSERT_EQ(RunQuillmere(byFrame).exitCode, 0);
    std::string where;
    EXPECT_TRUE(SameColors(DecodeAll(folder_ / "time.png").at(0),
                           DecodeAll(folder_ / "frame.png").at(0), where))
        << where;
}

// A still picture, shown on every frame of the clip without --repeat.
struct StillCase {
    const char* name;
    const char* extension;
    int tolerance;  // code values: 0 for lossless pictures
};

class StillOverlay : public OverlayTimingRuns, public testing::WithParamInterface<StillCase> {};

TEST_P(StillOverlay, IsShownForTheWholeClip) {
    const std::string still = folder_ / (std::string("still.") + GetParam().extension);
    RunFfmpeg("-f lavfi -i \"color=c=black:s=32x32:d=0.04,format=gbrp,geq=r=30:g=200:b=10\" "
              "-frames:v 1 '" + still + "'");
    const RunResult run =
        RunQuillmere({"render", Clip("main.mkv"), "-o", folder_ / "out.mkv", "--quiet",
                      "--overlay", still, "--mask", "8,8,w32,h32", "--reverse", "--offset", "2"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const std::vector<Picture> frames = DecodeAll(folder_ / "out.mkv");
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(kMainFrames));
    for (std::size_t n = 0; n < frames.size(); ++n) {
        const Colour colour = PixelAt(frames[n], 20, 20);
        EXPECT_NEAR(colour.red, 0x1E, GetParam().tolerance) << "frame " << n;
        EXPECT_NEAR(colour.green, 0xC8, GetParam().tolerance) << "frame " << n;
        EXPECT_NEAR(colour.blue, 0x0A, GetParam().tolerance) << "frame " << n;
    }
}

const StillCase kStillCases[] = {
    {"Png", "png", 0}, {"Bmp", "bmp", 0}, {"Tiff", "tiff", 0}, {"Jpeg", "jpg", 6},
    {"WebP", "webp", 6},
};

INSTANTIATE_TEST_SUITE_P(Formats, StillOverlay, testing::ValuesIn(kStillCases),
                         [](const testing::TestParamInfo<StillCase>& info) {
                             return info.param.name;
                         });

// Three pictures of 0.2 s each (red, green, blue), as a GIF or an APNG
// whose file asks to be played once or to loop without end.
struct AnimationCase {
    const char* name;
    const char* extension;
    const char* plays;  // ffmpeg's muxer option saying how often it plays
    const char* once;   // the same option for one pass only
};
void PrintTo(const AnimationCase& test, std::ostream* out) { *out << test.name; }

const AnimationCase kOncePlayed[] = {
    {"GifOnce", "gif", "-loop -1", "-loop -1"},
    {"ApngOnce", "apng", "-plays 1", "-plays 1"},
};
const AnimationCase kEndless[] = {
    {"GifForever", "gif", "-loop 0", "-loop -1"},
    {"ApngForever", "apng", "-plays 0", "-plays 1"},
};

std::string MakeAnimation(const ScratchFolder& folder, const std::string& name,
                          const std::string& extension, const std::string& plays) {
    const std::string animation = folder / (name + "." + extension);
    RunFfmpeg("-f lavfi -i \"color=c=black:s=32x32:r=5:d=0.6,format=gbrp,"
              "geq=r='255*eq(N,0)':g='255*eq(N,1)':b='255*eq(N,2)'\" " + plays + " '" +
              animation + "'");
    return animation;
}

class AnimatedOverlay : public OverlayTimingRuns,
                        public testing::WithParamInterface<AnimationCase> {};

// On a 25 fps main, main frame n, at n * 0.04 s, shows picture round(n / 5)
// (the nearest in time), the last one until 0.6 s, then the main again.
TEST_P(AnimatedOverlay, PlaysAtItsOwnTiming) {
    const std::string animation =
        MakeAnimation(folder_, "animation", GetParam().extension, GetParam().plays);
    const RunResult run = RunQuillmere({"render", Clip("main.mkv"), "-o", folder_ / "out.mkv",
                                        "--overlay", animation, "--mask", "8,8,w32,h32"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    EXPECT_EQ(run.errorText.find("loop"), std::string::npos) << run.errorText;
    const std::vector<Picture> frames = DecodeAll(folder_ / "out.mkv");
    const std::vector<Picture> main = DecodeAll(Clip("main.mkv"));
    ASSERT_EQ(frames.size(), main.size());
    for (std::size_t n = 0; n < frames.size(); ++n) {
        const Colour colour = PixelAt(frames[n], 20, 20);
        if (n >= 15) {
            const Colour under = PixelAt(main[n], 20, 20);
            EXPECT_EQ(colour.red, under.red) << "frame " << n << " after the animation's end";
            EXPECT_EQ(colour.green, under.green) << "frame " << n;
            continue;
        }
        // The formats' palettes and conversions leave the primaries a few
        // values off full; which one shows is what counts.
        const long picture = std::min(std::lround(static_cast<double>(n) / 5), 2L);
        EXPECT_EQ(colour.red > 128, picture == 0) << "frame " << n;
        EXPECT_EQ(colour.green > 128, picture == 1) << "frame " << n;
        EXPECT_EQ(colour.blue > 128, picture == 2) << "frame " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AnimatedOverlay, testing::ValuesIn(kOncePlayed),
                         [](const testing::TestParamInfo<AnimationCase>& info) {
                             return info.param.name;
                         });

class EndlessAnimation : public OverlayTimingRuns,
                         public testing::WithParamInterface<AnimationCase> {
protected:
    // Renders `overlay` with `options` and gives the frames and what was said.
    std::vector<Picture> Render(const std::string& overlay, const std::string& name,
                                std::vector<std::string> options, std::string* said = nullptr) {
        std::vector<std::string> arguments = {"render", Clip("main.mkv"), "-o",
                                              folder_ / (name + ".mkv"), "--overlay", overlay,
                                              "--mask", "8,8,w32,h32"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const RunResult run = RunQuillmere(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.errorText;
        if (said != nullptr) {
            *said = run.errorText;
        }
        return DecodeAll(folder_ / (name + ".mkv"));
    }
};

// An animation that asks to loop without end plays as the same pictures
// played once with --repeat, and says so; timing the overlay on the command
// line (here a range) takes it as played once.
TEST_P(EndlessAnimation, RepeatsUnlessTimed) {
    const AnimationCase& test = GetParam();
    const std::string endless = MakeAnimation(folder_, "endless", test.extension, test.plays);
    const std::string once = MakeAnimation(folder_, "once", test.extension, test.once);
    std::string said;
    const std::vector<Picture> looped = Render(endless, "looped", {}, &said);
    EXPECT_NE(said.find("asks to loop without end: it repeats, as --repeat would"),
              std::string::npos)
        << said;
    const std::vector<Picture> repeated = Render(once, "repeated", {"--repeat", "-q"});
    ASSERT_EQ(looped.size(), static_cast<std::size_t>(kMainFrames));
    ASSERT_EQ(looped.size(), repeated.size());
    for (std::size_t n = 0; n < looped.size(); ++n) {
        std::string where;
        EXPECT_TRUE(SameColors(looped[n], repeated[n], where)) << "frame " << n << ": " << where;
    }
    const std::vector<Picture> timed = Render(endless, "timed", {"--range", "0-29"}, &said);
    EXPECT_EQ(said.find("loop"), std::string::npos) << said;
    const std::vector<Picture> timedOnce = Render(once, "timed-once", {"--range", "0-29", "-q"});
    ASSERT_EQ(timed.size(), timedOnce.size());
    for (std::size_t n = 0; n < timed.size(); ++n) {
        std::string where;
        EXPECT_TRUE(SameColors(timed[n], timedOnce[n], where)) << "frame " << n << ": " << where;
    }
    // Past the first pass (0.6 s) the main shows again.
    std::string where;
    EXPECT_FALSE(SameColors(timed[20], looped[20], where));
}

INSTANTIATE_TEST_SUITE_P(Formats, EndlessAnimation, testing::ValuesIn(kEndless),
                         [](const testing::TestParamInfo<AnimationCase>& info) {
                             return info.param.name;
                         });

}  // namespace

namespace {

// Frame for frame is the plug-in's counting for a still too: its one
// picture on the first frame, the main after it.
TEST(StillFrameForFrame, ShowsOnTheFirstFrameOnly) {
    ScratchFolder folder;
    const std::string still = folder / "still.png";
    RunFfmpeg("-f lavfi -i \"color=c=black:s=32x32:d=0.04,format=gbrp,geq=r=30:g=200:b=10\" "
              "-frames:v 1 '" + still + "'");
    const RunResult run =
        RunQuillmere({"render", Clip("main.mkv"), "-o", folder / "out.mkv", "--quiet",
                      "--overlay", still, "--mask", "8,8,w32,h32", "--overlay-timing", "frames"});
    ASSERT_EQ(run.exitCode, 0) << run.errorText;
    const std::vector<Picture> frames = DecodeAll(folder / "out.mkv");
    const std::vector<Picture> main = DecodeAll(Clip("main.mkv"));
    ASSERT_EQ(frames.size(), main.size());
    EXPECT_EQ(PixelAt(frames[0], 20, 20).green, 200);
    for (std::size_t n = 1; n < frames.size(); ++n) {
        EXPECT_EQ(PixelAt(frames[n], 20, 20).green, PixelAt(main[n], 20, 20).green) << n;
    }
}

}  // namespace
