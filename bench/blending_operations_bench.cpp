// Speed of laying a 640 x 360 overlay with alpha over a 1080p frame with
// the blending bitmap operations, beside the plain copy the opaque overlay
// takes: the copy 1:1 and the bilinear stretch to 960 x 540.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "hostkit/bitmap_operations.h"
#include "hostkit/blending_bitmap_operations.h"

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

}  // namespace

BENCHMARK_MAIN();
