// Speed of the picture converter on 1080p frames (whole frame and a
// 1000x600 rect), beside libswscale's accurate path doing the same
// whole-frame conversion; the ratios are printed at the end. The 10-bit
// planar R'G'B' and gray frames time the table paths, which clamp each
// sample to the depth before its look-up.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "convert/picture_converter.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr PictureRect kFrame = {0, 0, kWidth, kHeight};
constexpr PictureRect kRect = {460, 240, 1000, 600};
constexpr int kScalerFlags =
    SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;

// A decoded-looking picture: random samples in the format's range.
AVFrame* MakePicture(AVPixelFormat format) {
    AVFrame* frame = av_frame_alloc();
    frame->format = format;
    frame->width = kWidth;
    frame->height = kHeight;
    av_frame_get_buffer(frame, 0);
    std::mt19937 random(1);
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    const int depth = descriptor->comp[0].depth;
    const bool deep = depth > 8;
    const unsigned highBits = deep ? (1u << (depth - 8)) - 1 : 0;
    for (int plane = 0; plane < 4 && frame->data[plane] != nullptr; ++plane) {
        const bool chroma =
            (plane == 1 || plane == 2) && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) == 0;
        const int rows = chroma ? kHeight >> descriptor->log2_chroma_h : kHeight;
        for (int y = 0; y < rows; ++y) {
            std::uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
            for (int x = 0; x < frame->linesize[plane]; x += deep ? 2 : 1) {
                const unsigned value = random();
                row[x] = static_cast<std::uint8_t>(value);
                if (deep) {
                    row[x + 1] = static_cast<std::uint8_t>(value >> 8 & highBits);
                }
            }
        }
    }
    return frame;
}

struct Fixture {
    explicit Fixture(AVPixelFormat format)
        : picture(MakePicture(format)),
          bgra(MakePicture(AV_PIX_FMT_BGRA)),
          converter(format, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG, AVCHROMA_LOC_LEFT, kWidth, kHeight) {}
    ~Fixture() {
        av_frame_free(&picture);
        av_frame_free(&bgra);
    }
    AVFrame* picture;
    AVFrame* bgra;
    PictureConverter converter;
};

Fixture& Yuv420p() {
    static Fixture fixture(AV_PIX_FMT_YUV420P);
    return fixture;
}

Fixture& Yuv422p10() {
    static Fixture fixture(AV_PIX_FMT_YUV422P10LE);
    return fixture;
}

Fixture& Gbrp10() {
    static Fixture fixture(AV_PIX_FMT_GBRP10LE);
    return fixture;
}

Fixture& Gray10() {
    static Fixture fixture(AV_PIX_FMT_GRAY10LE);
    return fixture;
}

void ToBgra(benchmark::State& state, Fixture& fixture, PictureRect rect) {
    for (auto _ : state) {
        fixture.converter.ToBgra(fixture.picture->data, fixture.picture->linesize, rect,
                                 fixture.bgra->data[0], fixture.bgra->linesize[0]);
        benchmark::ClobberMemory();
    }
}

// `original`: none (write every sample), the same pixels (nothing changed),
// or a buffer that differs in every pixel (every sample written after the test).
enum class Original { None, Unchanged, AllChanged };

void FromBgra(benchmark::State& state, Fixture& fixture, PictureRect rect, Original original) {
    std::vector<std::uint8_t> copy(static_cast<std::size_t>(fixture.bgra->linesize[0]) * kHeight);
    const std::uint8_t* pixels = fixture.bgra->data[0];
    std::copy(pixels, pixels + copy.size(), copy.begin());
    if (original == Original::AllChanged) {
        for (std::size_t i = 0; i < copy.size(); i += 4) {
            copy[i] = static_cast<std::uint8_t>(copy[i] ^ 1);
        }
    }
    const std::uint8_t* before = original == Original::None ? nullptr : copy.data();
    for (auto _ : state) {
        fixture.converter.FromBgra(pixels, fixture.bgra->linesize[0], before,
                                   fixture.bgra->linesize[0], rect, fixture.picture->data,
                                   fixture.picture->linesize);
        benchmark::ClobberMemory();
    }
}

void Swscale(benchmark::State& state, Fixture& fixture, bool toBgra) {
    const AVFrame& source = toBgra ? *fixture.picture : *fixture.bgra;
    AVFrame& target = toBgra ? *fixture.bgra : *fixture.picture;
    SwsContext* scaler = sws_getContext(kWidth, kHeight, static_cast<AVPixelFormat>(source.format),
                                        kWidth, kHeight, static_cast<AVPixelFormat>(target.format),
                                        kScalerFlags, nullptr, nullptr, nullptr);
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scaler, bt709, toBgra ? 0 : 1, bt709, toBgra ? 1 : 0, 0, 1 << 16,
                             1 << 16);
    for (auto _ : state) {
        sws_scale(scaler, source.data, source.linesize, 0, kHeight, target.data, target.linesize);
        benchmark::ClobberMemory();
    }
    sws_freeContext(scaler);
}

void Yuv420pToBgraFrame(benchmark::State& s) { ToBgra(s, Yuv420p(), kFrame); }
void Yuv420pToBgraRect(benchmark::State& s) { ToBgra(s, Yuv420p(), kRect); }
void Yuv420pFromBgraFrame(benchmark::State& s) { FromBgra(s, Yuv420p(), kFrame, Original::None); }
void Yuv420pFromBgraRect(benchmark::State& s) { FromBgra(s, Yuv420p(), kRect, Original::None); }
void Yuv420pFromBgraFrameUnchanged(benchmark::State& s) {
    FromBgra(s, Yuv420p(), kFrame, Original::Unchanged);
}
void Yuv420pFromBgraFrameAllChanged(benchmark::State& s) {
    FromBgra(s, Yuv420p(), kFrame, Original::AllChanged);
}
void Yuv422p10ToBgraFrame(benchmark::State& s) { ToBgra(s, Yuv422p10(), kFrame); }
void Yuv422p10FromBgraFrame(benchmark::State& s) { FromBgra(s, Yuv422p10(), kFrame, Original::None); }
void Gbrp10ToBgraFrame(benchmark::State& s) { ToBgra(s, Gbrp10(), kFrame); }
void Gray10ToBgraFrame(benchmark::State& s) { ToBgra(s, Gray10(), kFrame); }
void SwscaleYuv420pToBgra(benchmark::State& s) { Swscale(s, Yuv420p(), true); }
void SwscaleBgraToYuv420p(benchmark::State& s) { Swscale(s, Yuv420p(), false); }
void SwscaleYuv422p10ToBgra(benchmark::State& s) { Swscale(s, Yuv422p10(), true); }
void SwscaleBgraToYuv422p10(benchmark::State& s) { Swscale(s, Yuv422p10(), false); }

BENCHMARK(Yuv420pToBgraFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv420pToBgraRect)->Unit(benchmark::kMillisecond);
BENCHMARK(SwscaleYuv420pToBgra)->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv420pFromBgraFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv420pFromBgraRect)->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv420pFromBgraFrameUnchanged)->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv420pFromBgraFrameAllChanged)->Unit(benchmark::kMillisecond);
BENCHMARK(SwscaleBgraToYuv420p)->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv422p10ToBgraFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(SwscaleYuv422p10ToBgra)->Unit(benchmark::kMillisecond);
BENCHMARK(Yuv422p10FromBgraFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(SwscaleBgraToYuv422p10)->Unit(benchmark::kMillisecond);
BENCHMARK(Gbrp10ToBgraFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(Gray10ToBgraFrame)->Unit(benchmark::kMillisecond);

// Whole-frame conversions set against swscale doing the same.
struct Pairing {
    const char* ours;
    const char* swscale;
};
const Pairing kPairings[] = {
    {"Yuv420pToBgraFrame", "SwscaleYuv420pToBgra"},
    {"Yuv420pFromBgraFrame", "SwscaleBgraToYuv420p"},
    {"Yuv422p10ToBgraFrame", "SwscaleYuv422p10ToBgra"},
    {"Yuv422p10FromBgraFrame", "SwscaleBgraToYuv422p10"},
};

// Reports as the console does, keeping each benchmark's time per frame (the
// median when repetitions are asked for) for the ratios.
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
                milliseconds_[name] = run.GetAdjustedRealTime() *
                                      benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                                      benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
            if (median) {
                medians_.insert(name);
            }
        }
    }
    void PrintRatios() const {
        std::printf("\nWhole 1080p frame, converter against swscale's accurate path:\n");
        for (const Pairing& pairing : kPairings) {
            const auto ours = milliseconds_.find(pairing.ours);
            const auto theirs = milliseconds_.find(pairing.swscale);
            if (ours == milliseconds_.end() || theirs == milliseconds_.end()) {
                continue;
            }
            std::printf("  %-24s %7.3f ms   swscale %7.3f ms   ratio %.2f\n", pairing.ours,
                        ours->second, theirs->second, ours->second / theirs->second);
        }
    }

private:
    std::map<std::string, double> milliseconds_;
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
