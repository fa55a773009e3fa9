// Speed of the run procedure on 1080p frames, beside one plain copy of such
// a frame measured in the same run; the ratios to that copy are printed at
// the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "filter/filter_data.h"
#include "hostkit/bitmap_operations.h"
#include "render/bitmap_objects.h"
#include "render/frame_compositor.h"
#include "render/random_generator.h"
#include "source/avi_library.h"

namespace {

constexpr int kFrameWidth = 1920;
constexpr int kFrameHeight = 1080;
constexpr int kOverlayWidth = 640;
constexpr int kOverlayHeight = 360;
const char* const kCopyName = "CopyOf1080pFrame";

// One frame record served for every frame number: a packed DIB in memory.
std::vector<std::uint8_t> g_overlayFrame;

void* ServeOverlayFrame(FrameGetterHandle, long) { return g_overlayFrame.data(); }

std::vector<std::uint8_t> MakeOverlayFrame(int depth) {
    const std::size_t rowBytes = ((static_cast<std::size_t>(kOverlayWidth) * depth + 31) / 32) * 4;
    std::vector<std::uint8_t> frame(sizeof(BITMAPINFOHEADER) + rowBytes * kOverlayHeight);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = kOverlayWidth;
    header.biHeight = kOverlayHeight;
    header.biPlanes = 1;
    header.biBitCount = static_cast<WORD>(depth);
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(rowBytes * kOverlayHeight);
    std::memcpy(frame.data(), &header, sizeof header);
    std::mt19937 random(7);
    for (std::size_t i = sizeof header; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>(random());
    }
    return frame;
}

// The host's side of one filter instance: source and output frames laid out
// as the parameter procedure asks (rows padded to 8 bytes), and the record
// after the start procedure.
class Scene {
public:
    explicit Scene(int overlayDepth) {
        const long pitch = (kFrameWidth * 4 + 7) & ~7L;
        for (std::vector<Pixel32>* pixels : {&sourcePixels_, &outputPixels_}) {
            pixels->resize(static_cast<std::size_t>(pitch / 4) * kFrameHeight);
        }
        std::mt19937 random(11);
        for (Pixel32& pixel : sourcePixels_) {
            pixel = static_cast<Pixel32>(random());
        }
        source_.bitmap = MakeBitmap32(sourcePixels_.data(), kFrameWidth, kFrameHeight, pitch);
        output_.bitmap = MakeBitmap32(outputPixels_.data(), kFrameWidth, kFrameHeight, pitch);
        g_filterVTables.pvtblVBitmap = &HostBitmapOperations();

        activation_.filter_data = &record_;
        activation_.src = &source_;
        activation_.dst = &output_;
        activation_.pfsi = &state_;

        // A 960 x 540 mask in the middle, border 4, shadow style 2 of size 20.
        record_.maskLeft = 480;
        record_.maskTop = 270;
        record_.maskRight = 1440;
        record_.maskBottom = 810;
        record_.borderOn = 1;
        record_.borderSize = 4;
        record_.borderColor = 0xFFFFFF;
        record_.shadowOn = 1;
        record_.shadowType = 2;
        record_.shadowSize = 20;
        record_.shadowPercent = 45;
        record_.shadowShift = 7;
        record_.randScale = kRandomScale;
        record_.overlayBitmap = NewBitmapObject();

        if (overlayDepth != 0) {
            g_overlayFrame = MakeOverlayFrame(overlayDepth);
            library_.StreamGetFrame = &ServeOverlayFrame;
            previousLibrary_ = UseAviLibrary(&library_);
            record_.frameGetter = reinterpret_cast<FrameGetterHandle>(&library_);
            record_.overlayLength = 1000;
            record_.repeatVideo = 1;
            record_.fitToFrame = 1;
            record_.bilinear = 1;
        }
    }
    ~Scene() {
        ReleaseBitmapObject(record_.overlayBitmap);
        if (record_.frameGetter != nullptr) {
            UseAviLibrary(previousLibrary_);
        }
    }

    void RunFrame(long frameNumber) {
        state_.lCurrentFrame = frameNumber;
        RunProc(&activation_, nullptr);
    }
    const Pixel32* output() const { return outputPixels_.data(); }

private:
    std::vector<Pixel32> sourcePixels_;
    std::vector<Pixel32> outputPixels_;
    VFBitmap source_{};
    VFBitmap output_{};
    FilterStateInfo state_{};
    FilterData record_{};
    FilterActivation activation_{};
    AviLibrary library_{};
    const AviLibrary* previousLibrary_ = nullptr;
};

void CopyOf1080pFrame(benchmark::State& state) {
    std::vector<Pixel32> from(static_cast<std::size_t>(kFrameWidth) * kFrameHeight, 0x123456);
    std::vector<Pixel32> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * sizeof(Pixel32));
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
}

void RunProcFrames(benchmark::State& state, int overlayDepth) {
    Scene scene(overlayDepth);
    long frame = 0;
    for (auto _ : state) {
        scene.RunFrame(frame++);
        benchmark::DoNotOptimize(scene.output());
        benchmark::ClobberMemory();
    }
}

void RunProcNoOverlayBorderShadow(benchmark::State& state) { RunProcFrames(state, 0); }
void RunProcBilinear32BitOverlay(benchmark::State& state) { RunProcFrames(state, 32); }
void RunProcBilinear24BitOverlay(benchmark::State& state) { RunProcFrames(state, 24); }

BENCHMARK(CopyOf1080pFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(RunProcNoOverlayBorderShadow)->Unit(benchmark::kMillisecond);
BENCHMARK(RunProcBilinear32BitOverlay)->Unit(benchmark::kMillisecond);
BENCHMARK(RunProcBilinear24BitOverlay)->Unit(benchmark::kMillisecond);

// Reports as the console does, and keeps each benchmark's time per frame
// for the ratios: the median when repetitions are asked for, else the one run.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.iterations > 0 &&
                                medians_.count(name) == 0;
            if (median || single) {
                millisecondsPerFrame_[name] =
                    run.GetAdjustedRealTime() *
                    benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                    benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
            if (median) {
                medians_.insert(name);
            }
        }
    }
    void PrintRatios() const {
        const auto copy = millisecondsPerFrame_.find(kCopyName);
        if (copy == millisecondsPerFrame_.end() || copy->second <= 0) {
            return;
        }
        std::printf("\nTime per frame against one copy of a 1080p frame (%.3f ms):\n",
                    copy->second);
        for (const auto& [name, milliseconds] : millisecondsPerFrame_) {
            if (name != kCopyName) {
                std::printf("  %-32s %8.3f ms  %5.2fx\n", name.c_str(), milliseconds,
                            milliseconds / copy->second);
            }
        }
    }

private:
    std::map<std::string, double> millisecondsPerFrame_;
    std::set<std::string> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
