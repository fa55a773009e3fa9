// Speed of laying a 640 x 360 overlay with alpha over a 1080p frame with
// the blending bitmap operations, beside the plain copy the opaque overlay
// takes: the copy 1:1 and the bilinear stretch to 960 x 540. The blends
// should cost little more than the copies: alpha within 1.10 times, 60%
// opacity within 1.15 times.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "hostkit/bitmap_operations.h"
#include "hostkit/blending_bitmap_operations.h"
#include "hostkit/row_kernels.h"
#include "hostkit/stretch.h"

namespace {

struct Frame {
    Frame(int w, int h) : pixels(static_cast<std::size_t>(w) * h) {
        std::mt19937 random(static_cast<unsigned>(w * 31 + h));
        for (Pixel32& pixel : pixels) pixel = random();
        bitmap = MakeBitmap32(pixels.data(), w, h, 4L * w);
    }
    std::vector<Pixel32> pixels;
    VBitmap bitmap{};
};

// An overlay like a logo or a lower third: a third transparent, a third
// opaque, a third in between.
Frame Overlay() {
    Frame overlay(640, 360);
    for (std::size_t i = 0; i < overlay.pixels.size(); ++i) {
        const std::uint32_t kind = static_cast<std::uint32_t>(i % 640) / 214;
        const std::uint32_t alpha = kind == 0 ? 0 : kind == 1 ? 255 : (i * 7) & 0xFF;
        overlay.pixels[i] = (overlay.pixels[i] & 0xFFFFFF) | (alpha << 24);
    }
    return overlay;
}

// Argument 0: the plain copy; 1: blended by alpha; 2: blended at 60% opacity.
const VBitmapOperations& OperationsFor(std::int64_t mode, BlendingBitmapOperations& blending) {
    if (mode == 0) {
        return HostBitmapOperations();
    }
    blending.settings.opacity = mode == 2 ? 153 : 255;
    return blending.table;
}

void Copy640x360Into1080p(benchmark::State& state) {
    Frame target(1920, 1080);
    Frame overlay = Overlay();
    BlendingBitmapOperations blending(BlendSettings{});
    target.bitmap.operations = &OperationsFor(state.range(0), blending);
    for (auto _ : state) {
        target.bitmap.operations->BitBlt(&target.bitmap, 1240, 680, &overlay.bitmap, 0, 0, -1, -1);
        benchmark::DoNotOptimize(target.pixels.data());
    }
}
BENCHMARK(Copy640x360Into1080p)->Arg(0)->Arg(1)->Arg(2)->ArgName("blend")
    ->Unit(benchmark::kMicrosecond);

void Bilinear640x360To960x540(benchmark::State& state) {
    Frame target(1920, 1080);
    Frame overlay = Overlay();
    BlendingBitmapOperations blending(BlendSettings{});
    target.bitmap.operations = &OperationsFor(state.range(0), blending);
    for (auto _ : state) {
        target.bitmap.operations->StretchBltBilinearFast(&target.bitmap, 480, 270, 960, 540,
                                                         &overlay.bitmap, 0.0, 0.0, 640.0, 360.0);
        benchmark::DoNotOptimize(target.pixels.data());
    }
}
BENCHMARK(Bilinear640x360To960x540)->Arg(0)->Arg(1)->Arg(2)->ArgName("blend")
    ->Unit(benchmark::kMicrosecond);

// A logo as scripts/bench-pip.sh draws it: opaque inside a disc, a band of
// half transparency, transparent elsewhere.
Frame Logo() {
    Frame logo(640, 360);
    for (int y = 0; y < 360; ++y) {
        for (int x = 0; x < 640; ++x) {
            const bool disc = std::hypot(x - 320, y - 180) < 170;
            const std::uint32_t alpha = disc ? 255 : std::abs(y - 300) < 30 ? 128 : 0;
            Pixel32& pixel = logo.pixels[static_cast<std::size_t>(y) * 640 + x];
            pixel = (pixel & 0xFFFFFF) | (alpha << 24);
        }
    }
    return logo;
}

// The bilinear stretch of the logo with each set of row kernels this
// processor runs (0: the plain loops): copied, blended by alpha, blended by
// alpha at 60% opacity, and opaque at 60% opacity (an overlay without alpha).
void BilinearByKernels(benchmark::State& state) {
    const RowKernelSets sets = AvailableRowKernels();
    if (state.range(0) >= sets.count) {
        state.SkipWithError("this processor lacks the set");
        return;
    }
    const RowKernels& kernels = *sets.sets[state.range(0)];
    Frame target(1920, 1080);
    Frame overlay = Logo();
    BlendSettings settings;
    settings.useSourceAlpha = state.range(1) != 3;
    settings.opacity = state.range(1) >= 2 ? 153 : 255;
    const StretchLaying laying = state.range(1) == 0 ? StretchLaying{} : LayingFor(settings);
    for (auto _ : state) {
        StretchBitmap(kernels, Sampling::Bilinear, laying, &target.bitmap, 480, 270, 960, 540,
                      &overlay.bitmap, 0.0, 0.0, 640.0, 360.0);
        benchmark::DoNotOptimize(target.pixels.data());
    }
    state.SetLabel(kernels.name);
}
BENCHMARK(BilinearByKernels)
    ->ArgsProduct({{0, 1, 2}, {0, 1, 2, 3}})
    ->ArgNames({"set", "blend"})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
