// Speed of the host bitmap operations the compositor leans on, beside one
// plain copy of a 1080p frame for scale.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "hostkit/bitmap_operations.h"
#include "hostkit/row_kernels.h"
#include "hostkit/stretch.h"

namespace {

const VBitmapOperations& ops = HostBitmapOperations();

struct Frame {
    Frame(int w, int h, int depth = 32) : pitch(((w * depth / 8) + 3) & ~3), bytes(pitch * h) {
        std::mt19937 random(static_cast<unsigned>(w * 31 + h));
        for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
        ops.initFromSize(&bitmap, bytes.data(), w, h, depth);
        if (depth <= 8) {
            for (auto& entry : palette) entry = static_cast<Pixel32>(random());
            bitmap.palette = palette.data();
        }
    }
    long pitch;
    std::vector<std::uint8_t> bytes;
    std::vector<Pixel32> palette = std::vector<Pixel32>(256);
    VBitmap bitmap{};
};

void CopyOf1080pFrame(benchmark::State& state) {
    Frame a(1920, 1080), b(1920, 1080);
    for (auto _ : state) {
        std::memcpy(b.bytes.data(), a.bytes.data(), a.bytes.size());
        benchmark::DoNotOptimize(b.bytes.data());
    }
}
BENCHMARK(CopyOf1080pFrame)->Unit(benchmark::kMillisecond);

void StretchInto960x540(benchmark::State& state) {
    Frame target(1920, 1080), source(640, 360);
    const auto stretch = state.range(0) ? ops.StretchBltBilinearFast : ops.StretchBltNearestFast;
    for (auto _ : state) {
        stretch(&target.bitmap, 480, 270, 960, 540, &source.bitmap, 0.0, 0.0, 640.0, 360.0);
        benchmark::DoNotOptimize(target.bytes.data());
    }
    state.SetLabel(ChosenRowKernels().name);
}
BENCHMARK(StretchInto960x540)->Arg(0)->Arg(1)->ArgName("bilinear")->Unit(benchmark::kMillisecond);

// The same stretches with each set of row kernels this processor runs
// (0: the plain loops), and a 1080p reduction to a third.
void StretchByKernels(benchmark::State& state) {
    const RowKernelSets sets = AvailableRowKernels();
    if (state.range(0) >= sets.count) {
        state.SkipWithError("this processor lacks the set");
        return;
    }
    const RowKernels& kernels = *sets.sets[state.range(0)];
    const bool reduce = state.range(2) != 0;
    Frame target(1920, 1080), source(reduce ? 1920 : 640, reduce ? 1080 : 360);
    const Sampling sampling = state.range(1) ? Sampling::Bilinear : Sampling::Nearest;
    for (auto _ : state) {
        StretchBitmap(kernels, sampling, StretchLaying{}, &target.bitmap, 480, 270,
                      reduce ? 640 : 960, reduce ? 360 : 540, &source.bitmap, 0.0, 0.0,
                      source.bitmap.w, source.bitmap.h);
        benchmark::DoNotOptimize(target.bytes.data());
    }
    state.SetLabel(kernels.name);
}
BENCHMARK(StretchByKernels)
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {0, 1}})
    ->ArgNames({"set", "bilinear", "reduce"})
    ->Unit(benchmark::kMicrosecond);

void BitBlt640x360ToThirtyTwoBits(benchmark::State& state) {
    Frame target(640, 360), source(640, 360, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ops.BitBlt(&target.bitmap, 0, 0, &source.bitmap, 0, 0, -1, -1);
        benchmark::DoNotOptimize(target.bytes.data());
    }
}
BENCHMARK(BitBlt640x360ToThirtyTwoBits)->Arg(4)->Arg(8)->Arg(16)->Arg(24)->Arg(32)->ArgName("depth")
    ->Unit(benchmark::kMicrosecond);

void FillOf1080pFrame(benchmark::State& state) {
    Frame target(1920, 1080);
    for (auto _ : state) {
        ops.RectFill(&target.bitmap, 0, 0, -1, -1, 0x123456);
        benchmark::DoNotOptimize(target.bytes.data());
    }
}
BENCHMARK(FillOf1080pFrame)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
