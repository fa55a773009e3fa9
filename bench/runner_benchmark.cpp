// The runner's per-frame work on a 1080p 4:2:0 frame with a 960x540 mask at
// (480, 270), border 4 and a shadow around it: the area converted in, the
// filter run and the changed pixels written back, with the mask's inside
// converted and compared (as under a blended overlay) and skipped (as under
// an opaque one that replaces it); and a filtered scaler's 2x downscale of a
// 1280x720 32-bit overlay frame, the way an overlay blended by straight
// alpha is still scaled.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "apps/quillmere/cli/filter_settings.h"
#include "apps/quillmere/media/ffmpeg_handles.h"
#include "apps/quillmere/overlay/filter_host.h"
#include "apps/quillmere/overlay/overlay_prescaler.h"
#include "apps/quillmere/pipeline/area_compositor.h"
#include "hostkit/bitmap_operations.h"
#include "host/win_types.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

FramePtr MainFrame() {
    FramePtr frame = NewFrame();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = kWidth;
    frame->height = kHeight;
    frame->colorspace = AVCOL_SPC_BT709;
    frame->color_range = AVCOL_RANGE_MPEG;
    av_frame_get_buffer(frame.get(), 0);
    std::mt19937 random(11);
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane == 0 ? kHeight : kHeight / 2;
        for (int y = 0; y < rows; ++y) {
            for (int x = 0; x < frame->linesize[plane]; ++x) {
                frame->data[plane][y * frame->linesize[plane] + x] =
                    static_cast<std::uint8_t>(16 + random() % 220);
            }
        }
    }
    return frame;
}

// The filter with the black placeholder in the mask (no overlay file to
// decode), so that both paths do the same filtering.
void Composite(benchmark::State& state, bool insideSkipped) {
    FilterModuleSession module;
    FilterData settings = DialogDefaultSettings();
    settings.maskLeft = 480;
    settings.maskTop = 270;
    settings.maskRight = 1440;
    settings.maskBottom = 810;
    settings.borderOn = 1;
    settings.borderSize = 4;
    settings.shadowOn = 1;
    settings.shadowType = 2;
    settings.shadowSize = 20;
    OverlayFilter filter(module, OverlaySetup{settings, "", ""});
    VideoFormat format;
    format.width = kWidth;
    format.height = kHeight;
    format.pixelFormat = AV_PIX_FMT_YUV420P;
    format.colorspace = AVCOL_SPC_BT709;
    format.range = AVCOL_RANGE_MPEG;
    format.frameRate = AVRational{25, 1};
    AreaCompositor compositor(filter.instance(), format);
    // Operations the compositor cannot tell copy: as for a blended overlay.
    compositor.Start(insideSkipped ? nullptr : &HostBitmapOperations());
    FramePtr frame = MainFrame();
    AreaBuffers buffers;
    long number = 0;
    for (auto _ : state) {
        compositor.Load(*frame, number, buffers);
        compositor.Run(*frame, buffers, number);
        compositor.Store(*frame, buffers);
        ++number;
    }
    state.counters["skipped_pixels"] = static_cast<double>(compositor.skippedInside().width) *
                                       compositor.skippedInside().height;
}

void AreaWithInsideConverted(benchmark::State& state) { Composite(state, false); }
void AreaWithInsideSkipped(benchmark::State& state) { Composite(state, true); }

std::vector<std::uint8_t> OverlayRecord(int width, int height) {
    std::vector<std::uint8_t> record(sizeof(BITMAPINFOHEADER) +
                                     static_cast<std::size_t>(width) * height * 4);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    std::memcpy(record.data(), &header, sizeof header);
    std::mt19937 random(5);
    for (std::size_t i = sizeof header; i < record.size(); ++i) {
        record[i] = static_cast<std::uint8_t>(random());
    }
    return record;
}

void PrescaleBgraLanczosHalf(benchmark::State& state) {
    const std::vector<std::uint8_t> record = OverlayRecord(1280, 720);
    OverlayPrescaler prescaler(640, 360, SWS_LANCZOS, true);
    std::vector<std::uint8_t> scaled;
    for (auto _ : state) {
        prescaler.Scale(record.data(), scaled);
        benchmark::DoNotOptimize(scaled.data());
    }
}

BENCHMARK(AreaWithInsideConverted)->Unit(benchmark::kMillisecond);
BENCHMARK(AreaWithInsideSkipped)->Unit(benchmark::kMillisecond);
BENCHMARK(PrescaleBgraLanczosHalf)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
