// The filter stage on several threads: with the random shadow styles (whose
// generator runs on from frame to frame), overlays that blend, repeat, run
// out or are scaled, the pictures must be those of one thread, in order.
// And a filtered scaler scales each overlay frame once, however often the
// frame is shown and on however many threads.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/media/frame_picture.h"
#include "apps/quillmere/overlay/configured_filter.h"
#include "apps/quillmere/overlay/overlay_library.h"
#include "apps/quillmere/pipeline/composite_pipeline.h"
#include "apps/quillmere/run/synthetic_clip.h"
#include "render/random_generator.h"
#include "tests/apps/runner_harness.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr AVRational kRate{25, 1};
constexpr std::uint32_t kSeed = 19990807u;
constexpr int kManyThreads = 3;

class PictureCollector : public FrameSink {
public:
    void Consume(const AVFrame& frame, long number) override {
        pictures.push_back(PictureOfFrame(frame));
        numbers.push_back(number);
    }
    std::vector<Picture> pictures;
    std::vector<long> numbers;
};

// A still picture and an overlay slower than the main, made once.
struct ExtraOverlays {
    ScratchFolder folder;
    std::string still = folder / "still.png";
    std::string slow = folder / "slow.mkv";
    ExtraOverlays() {
        RunFfmpeg("-f lavfi -i testsrc2=s=64x48 -frames:v 1 '" + still + "'");
        RunFfmpeg("-f lavfi -i testsrc2=s=64x48:r=5 -frames:v 4 -c:v ffv1 '" + slow + "'");
    }
};

const ExtraOverlays& Extras() {
    static const ExtraOverlays extras;
    return extras;
}

struct Job {
    FilterData settings = DialogDefaultSettings();
    OverlayInput overlay;
    long frames = 12;
};

struct RunResult {
    std::vector<Picture> pictures;
    std::vector<long> numbers;
    long scaled = 0;  // overlay frames scaled during the run
};

RunResult Render(const Job& job, int threads) {
    RunResult result;
    const long scaledBefore = OverlayFramesScaled();
    ConfiguredFilter filter(job.settings, job.overlay);
    SyntheticClip main(kWidth, kHeight, job.frames, kRate, ClipPattern::Landscape);
    PictureCollector sink;
    CompositeJob composite;
    composite.source = &main;
    composite.instance = &filter.instance();
    composite.outputOperations = filter.outputOperations();
    composite.outputOperationsCopy = filter.outputOperationsCopy();
    composite.overlayOverVideo = filter.overlayOverVideo();
    composite.sinks.push_back(&sink);
    composite.filterThreads = threads;
    composite.afterStart = [](FilterInstance&) { SeedRandom(kSeed); };
    EXPECT_EQ(FilterThreadsFor(composite), threads);
    RunComposite(composite);
    result.pictures = std::move(sink.pictures);
    result.numbers = std::move(sink.numbers);
    result.scaled = OverlayFramesScaled() - scaledBefore;
    return result;
}

void Mask(Job& job, int left, int top, int right, int bottom) {
    job.settings.maskLeft = left;
    job.settings.maskTop = top;
    job.settings.maskRight = right;
    job.settings.maskBottom = bottom;
}

void RandomShadow(Job& job, int style) {
    job.settings.shadowOn = 1;
    job.settings.shadowType = style;
    job.settings.shadowSize = 10;
    job.settings.shadowShift = -4;
}

void Lanczos(Job& job) {
    job.settings.fitToFrame = 1;
    job.overlay.adaptation.scaler = OverlayScaler::Lanczos;
    job.overlay.adaptation.scaledWidth = job.settings.maskRight - job.settings.maskLeft;
    job.overlay.adaptation.scaledHeight = job.settings.maskBottom - job.settings.maskTop;
    job.overlay.adaptation.framesComeRound = job.settings.repeatVideo != 0;
}

struct ParallelCase {
    const char* name;
    std::function<void(Job&)> make;
};

void PrintTo(const ParallelCase& test, std::ostream* os) { *os << test.name; }

const ParallelCase kParallelCases[] = {
    {"RandomShadowStretched",
     [](Job& job) {
         job.overlay.path = Clip("overlay.avi");
         Mask(job, 30, 20, 110, 80);
         RandomShadow(job, 1);
         job.settings.fitToFrame = 1;
         job.settings.bilinear = 1;
     }},
    // Each lane lays the overlay over the video of its own frame.
    {"RandomFixedShiftBlendedAtOpacityInABorder",
     [](Job& job) {
         job.overlay.path = Clip("overlay.avi");
         job.overlay.blend = BlendSettings{};
         job.overlay.blend->useSourceAlpha = false;
         job.overlay.blend->opacity = OpacityFromPercent(60);
         Mask(job, 30, 20, 110, 80);
         RandomShadow(job, 3);
         job.settings.borderOn = 1;
         job.settings.borderSize = 3;
         job.settings.fitToFrame = 1;
     }},
    // Frames outside the range and frames past the overlay's end draw no
    // random numbers: the state each frame starts from is not a fixed step.
    {"RandomShadowWithGapsInTheOverlay",
     [](Job& job) {
         job.overlay.path = Clip("overlay.avi");
         Mask(job, 20, 30, 100, 90);
         RandomShadow(job, 1);
         job.settings.useFrameRange = 1;
         job.settings.rangeStart = 2;
         job.settings.rangeEnd = 14;
         job.settings.frameOffset = 4;
         job.settings.maintainBlack = 0;
         job.frames = 20;
     }},
    {"RandomShadowRepeatingLanczos",
     [](Job& job) {
         job.overlay.path = Clip("overlay.avi");
         Mask(job, 30, 20, 130, 95);
         RandomShadow(job, 3);
         job.settings.repeatVideo = 1;
         Lanczos(job);
         job.frames = 30;
     }},
    {"RandomShadowAroundThePlaceholder",
     [](Job& job) {
         Mask(job, 30, 20, 110, 80);
         RandomShadow(job, 1);
     }},
};

class ParallelFilter : public testing::TestWithParam<ParallelCase> {
protected:
    static void SetUpTestSuite() { TestClips(); }
};

TEST_P(ParallelFilter, GivesTheOneThreadPicturesInOrder) {
    Job job;
    GetParam().make(job);
    const RunResult one = Render(job, 1);
    const RunResult many = Render(job, kManyThreads);
    ASSERT_EQ(one.pictures.size(), static_cast<std::size_t>(job.frames));
    ASSERT_EQ(many.numbers, one.numbers);
    for (std::size_t frame = 0; frame < one.pictures.size(); ++frame) {
        std::string where;
        EXPECT_TRUE(SameColors(many.pictures[frame], one.pictures[frame], where))
            << "frame " << frame << ": " << where;
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, ParallelFilter, testing::ValuesIn(kParallelCases),
                         [](const testing::TestParamInfo<ParallelCase>& info) {
                             return info.param.name;
                         });

// The overlays here are 12 frames at the main's rate, a still, and 4 frames
// at a fifth of the main's rate.
struct ScaleCase {
    const char* name;
    std::function<void(Job&)> make;
    long expectedScales;
};

void PrintTo(const ScaleCase& test, std::ostream* os) { *os << test.name; }

const ScaleCase kScaleCases[] = {
    {"RepeatingClip",
     [](Job& job) {
         job.overlay.path = Clip("overlay.avi");
         job.settings.repeatVideo = 1;
         job.frames = 30;  // two and a half rounds
     },
     12},
    {"StillPicture",
     [](Job& job) {
         job.overlay.path = Extras().still;
         job.frames = 20;
     },
     1},
    {"SlowerClip",
     [](Job& job) {
         job.overlay.path = Extras().slow;
         job.frames = 20;  // 5 main frames to each overlay frame
     },
     4},
};

class ScaledOnce : public testing::TestWithParam<ScaleCase> {
protected:
    static void SetUpTestSuite() { TestClips(); }
};

TEST_P(ScaledOnce, ScalesEachOverlayFrameOnce) {
    for (const int threads : {1, kManyThreads}) {
        Job job;
        Mask(job, 30, 20, 130, 95);
        GetParam().make(job);
        Lanczos(job);
        const RunResult run = Render(job, threads);
        EXPECT_EQ(run.scaled, GetParam().expectedScales) << threads << " threads";
        EXPECT_EQ(run.pictures.size(), static_cast<std::size_t>(job.frames));
    }
}

INSTANTIATE_TEST_SUITE_P(Overlays, ScaledOnce, testing::ValuesIn(kScaleCases),
                         [](const testing::TestParamInfo<ScaleCase>& info) {
                             return info.param.name;
                         });

}  // namespace
