// Frames per second of the FFmpeg overlay backend: a 640x360 H.264 clip
// played forward and backward, also scaled to half size with lanczos as it
// is decoded (a filtered scaler's downscale), and a raw 24-bit AVI, each pass
// through a fresh frame reader so that no pass profits from the last one's
// cache.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libswscale/swscale.h>
}

#include "source/avi_library.h"
#include "source/ffmpeg_stream_info.h"
#include "tests/source/test_clips.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kFrames = 300;

const ClipKind kH264 = {"bench-h264", ".mp4", "-c:v libx264 -preset veryfast -pix_fmt yuv420p",
                        false, false};
const ClipKind kRaw24 = {"bench-raw24", ".avi",
                         "-c:v rawvideo -pix_fmt bgr24 -vf vflip -flipped_raw_rgb 1", false, true};

struct OpenStream {
    AviFileHandle file = nullptr;
    AviStreamHandle stream = nullptr;
    long length = 0;
};

OpenStream Open(const ClipKind& kind) {
    const AviLibrary& library = CurrentAviLibrary();
    OpenStream opened;
    const std::string path = ClipPath(kind, kWidth, kHeight, kFrames);
    if (library.FileOpen(&opened.file, path.c_str(), kAviOpenReadOnly) != 0 ||
        library.FileGetStream(opened.file, &opened.stream, kStreamTypeVideo, 0) != 0) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::abort();
    }
    opened.length = library.StreamLength(opened.stream);
    return opened;
}

void PlayPasses(benchmark::State& state, const ClipKind& kind, bool reversed,
                bool halfSize = false) {
    const AviLibrary& library = CurrentAviLibrary();
    static OpenStream h264 = Open(kH264);
    static OpenStream raw24 = Open(kRaw24);
    const OpenStream& opened = &kind == &kH264 ? h264 : raw24;
    long frames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        FrameGetterHandle reader = library.StreamGetFrameOpen(opened.stream, nullptr);
        if (halfSize && !FfmpegScaleFrames(reader, kWidth / 2, kHeight / 2, SWS_LANCZOS)) {
            state.SkipWithError("the reader would not scale");
        }
        state.ResumeTiming();
        for (long i = 0; i < opened.length; ++i) {
            const long number = reversed ? opened.length - 1 - i : i;
            if (library.StreamGetFrame(reader, number) == nullptr) {
                state.SkipWithError("a frame did not come");
                break;
            }
        }
        frames += opened.length;
        state.PauseTiming();
        library.GetFrameClose(reader);
        state.ResumeTiming();
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

void H264Forward(benchmark::State& state) { PlayPasses(state, kH264, false); }
void H264Reversed(benchmark::State& state) { PlayPasses(state, kH264, true); }
void H264ForwardHalfSizeLanczos(benchmark::State& state) { PlayPasses(state, kH264, false, true); }
void Raw24Forward(benchmark::State& state) { PlayPasses(state, kRaw24, false); }
void Raw24Reversed(benchmark::State& state) { PlayPasses(state, kRaw24, true); }

BENCHMARK(H264Forward)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(H264Reversed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(H264ForwardHalfSizeLanczos)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Raw24Forward)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Raw24Reversed)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
