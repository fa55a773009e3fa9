// Speed of turning the main video's 1080p frames upright (a quarter turn,
// a half turn), beside one plain copy of the same frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "apps/quillmere/pipeline/frame_turner.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

FramePtr MakePicture(AVPixelFormat format) {
    FramePtr frame = NewFrame();
    frame->format = format;
    frame->width = kWidth;
    frame->height = kHeight;
    av_frame_get_buffer(frame.get(), 0);
    std::mt19937 random(1);
    for (int plane = 0; plane < 4 && frame->buf[plane] != nullptr; ++plane) {
        for (std::size_t i = 0; i < frame->buf[plane]->size; ++i) {
            frame->buf[plane]->data[i] = static_cast<std::uint8_t>(random());
        }
    }
    return frame;
}

void Turn(benchmark::State& state, AVPixelFormat format, Orientation turn) {
    const FramePtr stored = MakePicture(format);
    VideoFormat video;
    video.width = kWidth;
    video.height = kHeight;
    video.pixelFormat = format;
    FrameTurner turner(video, turn);
    FramePtr frame = NewFrame();
    for (auto _ : state) {
        av_frame_ref(frame.get(), stored.get());
        turner.Turn(*frame);
        av_frame_unref(frame.get());
    }
}

void Copy(benchmark::State& state, AVPixelFormat format) {
    const FramePtr stored = MakePicture(format);
    const FramePtr copy = MakePicture(format);
    for (auto _ : state) {
        av_frame_copy(copy.get(), stored.get());
        benchmark::ClobberMemory();
    }
}

constexpr Orientation kQuarter{true, true, false};
constexpr Orientation kHalf{false, true, true};

BENCHMARK_CAPTURE(Turn, yuv420p_quarter, AV_PIX_FMT_YUV420P, kQuarter)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Turn, yuv420p_half, AV_PIX_FMT_YUV420P, kHalf)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Turn, yuv422p10_quarter, AV_PIX_FMT_YUV422P10LE, kQuarter)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Copy, yuv420p, AV_PIX_FMT_YUV420P)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
