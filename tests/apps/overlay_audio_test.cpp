// The overlay's sound: tones made with ffmpeg's lavfi sources, mixed by the
// runner, decoded back and measured. Levels are worked out here: a sine of
// amplitude A has an RMS of A / sqrt(2), and N dB is a factor of 10^(N/20).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "tests/apps/runner_harness.h"

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr double kAmplitude = 0.25;
// The layer shows on frames 25-74 of 25 frames a second: 1 s to 3 s.
constexpr double kLayerStart = 1.0;
constexpr double kLayerEnd = 3.0;
// Measuring windows keep clear of the ducking ramps and the edges.
constexpr double kClearance = 0.15;

double Decibels(double factor) { return 20 * std::log10(factor); }

// The start of a file's first stream of `type`, in seconds.
double StreamStart(const std::string& path, AVMediaType type) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) {
        return NAN;
    }
    avformat_find_stream_info(context, nullptr);
    double start = NAN;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (stream->codecpar->codec_type == type) {
            start = stream->start_time == AV_NOPTS_VALUE
                        ? 0
                        : stream->start_time * av_q2d(stream->time_base);
            break;
        }
    }
    avformat_close_input(&context);
    return start;
}

// A file's audio as interleaved stereo floats, decoded by ffmpeg.
std::vector<float> DecodeAudio(const ScratchFolder& folder, const std::string& path) {
    const std::string raw = folder / "decoded.f32";
    RunFfmpeg("-i '" + path + "' -map 0:a -ac 2 -ar 48000 -f f32le '" + raw + "'");
    std::ifstream file(raw, std::ios::binary);
    std::vector<float> samples;
    float sample = 0;
    while (file.read(reinterpret_cast<char*>(&sample), sizeof sample)) {
        samples.push_back(sample);
    }
    return samples;
}

// The RMS of both channels from `from` to `to` seconds on the file's clock
// (the audio's first sample at `audioStart`).
double Rms(const std::vector<float>& samples, double audioStart, double from, double to) {
    const auto first = static_cast<std::size_t>((from - audioStart) * kRate) * kChannels;
    const auto last = static_cast<std::size_t>((to - audioStart) * kRate) * kChannels;
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t i = first; i < last && i < samples.size(); ++i) {
        sum += double(samples[i]) * samples[i];
        ++count;
    }
    return count == 0 ? NAN : std::sqrt(sum / count);
}

std::string Tone(int frequency) {
    const std::string wave =
        std::to_string(kAmplitude) + "*sin(2*PI*" + std::to_string(frequency) + "*t)";
    return "aevalsrc='" + wave + "|" + wave + "':s=48000";
}

struct MixCase {
    const char* name;
    bool mainTone;     // else silence
    bool overlayTone;  // else silence
    double audioDelay;  // where the main's audio starts against its video
    std::vector<std::string> options;
    double insideFactor;  // the RMS within the layer's time, over the tone's
    double outsideFactor;
};

class OverlayAudio : public testing::TestWithParam<MixCase> {
protected:
    ScratchFolder folder_;
};

TEST_P(OverlayAudio, LevelsFollowTheLayersTime) {
    const MixCase& mix = GetParam();
    const std::string main = folder_ / "main.mkv";
    const std::string overlay = folder_ / "overlay.mkv";
    const std::string silence = "anullsrc=r=48000:cl=stereo";
    RunFfmpeg("-f lavfi -i testsrc2=s=160x120:r=25:d=4 -itsoffset " +
              std::to_string(mix.audioDelay) + " -f lavfi -i \"" +
              (mix.mainTone ? Tone(440) : silence) +
              "\" -t 4 -c:v ffv1 -c:a pcm_s16le -shortest '" + main + "'");
    RunFfmpeg("-f lavfi -i color=c=red:s=64x48:r=25:d=1 -f lavfi -i \"" +
              (mix.overlayTone ? Tone(1000) : silence) + "\" -t 1 -c:v ffv1 -c:a pcm_s16le '" +
              overlay + "'");
    const std::string output = folder_ / "out.mkv";
    std::vector<std::string> arguments = {"render", main,    "-o",     output,   "--quiet",
                                          "--overlay", overlay, "--range", "25-74", "--repeat",
                                          "--overlay-audio", "mix"};
    arguments.insert(arguments.end(), mix.options.begin(), mix.options.end());
    const RunResult run = RunQuillmere(arguments);
    ASSERT_EQ(run.exitCode, 0) << run.errorText;

    // The audio keeps its place beside the video.
    EXPECT_NEAR(StreamStart(output, AVMEDIA_TYPE_AUDIO) - StreamStart(output, AVMEDIA_TYPE_VIDEO),
                StreamStart(main, AVMEDIA_TYPE_AUDIO) - StreamStart(main, AVMEDIA_TYPE_VIDEO),
                1e-3);
    const double audioStart =
        StreamStart(output, AVMEDIA_TYPE_AUDIO) - StreamStart(output, AVMEDIA_TYPE_VIDEO);
    const std::vector<float> samples = DecodeAudio(folder_, output);
    const double tone = kAmplitude / std::sqrt(2.0);
    const double inside =
        Rms(samples, audioStart, kLayerStart + kClearance, kLayerEnd - kClearance);
    EXPECT_NEAR(Decibels(inside), Decibels(tone * mix.insideFactor), 0.1);
    for (const auto& [from, to] : {std::pair<double, double>{audioStart, kLayerStart - kClearance},
                                   {kLayerEnd + kClearance, 4.0 - kClearance}}) {
        const double outside = Rms(samples, audioStart, from, to);
        if (mix.outsideFactor == 0) {
            EXPECT_LT(outside, 1e-4) << from << " to " << to;
        } else {
            EXPECT_NEAR(Decibels(outside), Decibels(tone * mix.outsideFactor), 0.1)
                << from << " to " << to;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mixes, OverlayAudio,
    testing::Values(
        MixCase{"ToneAtItsLevel", false, true, 0, {}, 1, 0},
        MixCase{"ToneLoweredInDecibels", false, true, 0, {"--overlay-volume", "-6dB"},
                std::pow(10, -6 / 20.0), 0},
        MixCase{"ToneByFactor", false, true, 0, {"--overlay-volume", "0.5"}, 0.5, 0},
        MixCase{"MainDucked", true, false, 0, {"--duck", "-12dB"}, std::pow(10, -12 / 20.0), 1},
        MixCase{"LateAudioKeepsItsOffset", false, true, 0.2, {"--overlay-volume", "-6dB"},
                std::pow(10, -6 / 20.0), 0}),
    [](const testing::TestParamInfo<MixCase>& info) { return std::string(info.param.name); });

class OverlayAudioKept : public testing::Test {
protected:
    static void SetUpTestSuite() { TestClips(); }
    ScratchFolder folder_;
};

// The packets of a file's audio, as copied out by ffmpeg.
std::string PacketChecksum(const ScratchFolder& folder, const std::string& path) {
    const std::string sums = folder / "packets.md5";
    RunFfmpeg("-i '" + path + "' -map 0:a -c copy -f framemd5 '" + sums + "'");
    std::ifstream file(sums);
    std::string text, line;
    while (std::getline(file, line)) {
        if (!line.empty() && line[0] != '#') {
            text += line + "\n";
        }
    }
    return text;
}

TEST_F(OverlayAudioKept, WithoutMixingOrReversedThePacketsAreCopied) {
    const std::string main = Clip("main-audio.mkv");
    const std::string expected = PacketChecksum(folder_, main);
    ASSERT_FALSE(expected.empty());
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--overlay-audio", "mix", "--reverse"},
    };
    for (const std::vector<std::string>& options : cases) {
        const std::string output = folder_ / "out.mkv";
        std::vector<std::string> arguments = {"render", main, "-o", output, "-y",
                                              "--overlay", Clip("overlay.avi")};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const RunResult run = RunQuillmere(arguments);
        ASSERT_EQ(run.exitCode, 0) << run.errorText;
        EXPECT_EQ(PacketChecksum(folder_, output), expected);
        const bool reversed = !options.empty();
        const std::string note = "no sound to mix";
        EXPECT_EQ(run.errorText.find(note) != std::string::npos, reversed) << run.errorText;
        EXPECT_EQ(run.errorText.find(note), run.errorText.rfind(note));
    }
}

// The segments carry the video only; the join mixes the sound once over the
// whole timeline, so that it is what a whole render mixes, sample for sample.
TEST_F(OverlayAudioKept, SegmentsJoinedMixAsAWholeRender) {
    const std::string main = folder_ / "main.mkv";
    const std::string overlay = folder_ / "overlay.mkv";
    RunFfmpeg("-f lavfi -i testsrc2=s=160x120:r=25:d=4 -f lavfi -i \"" + Tone(440) +
              "\" -t 4 -c:v ffv1 -g 10 -c:a pcm_s16le -shortest '" + main + "'");
    RunFfmpeg("-f lavfi -i color=c=red:s=64x48:r=25:d=1 -f lavfi -i \"" + Tone(1000) +
              "\" -t 1 -c:v ffv1 -c:a pcm_s16le '" + overlay + "'");
    const std::vector<std::string> look = {"--overlay", overlay, "--range", "20-80", "--repeat",
                                           "--overlay-audio", "mix", "--overlay-volume", "-6dB",
                                           "--duck", "-6dB", "--fade-in", "10", "-q"};
    std::vector<std::string> whole = {"render", main, "-o", folder_ / "whole.mkv"};
    whole.insert(whole.end(), look.begin(), look.end());
    ASSERT_EQ(RunQuillmere(whole).exitCode, 0);
    std::vector<std::string> join = {"join", "-o", folder_ / "joined.mkv", "-q"};
    constexpr int kSegments = 3;
    for (int k = 0; k < kSegments; ++k) {
        const std::string part = folder_ / ("part" + std::to_string(k) + ".mkv");
        std::vector<std::string> render = {"render", main, "-o", part, "--segment",
                                           std::to_string(k) + "/" + std::to_string(kSegments)};
        render.insert(render.end(), look.begin(), look.end());
        const RunResult run = RunQuillmere(render);
        ASSERT_EQ(run.exitCode, 0) << run.errorText;
        EXPECT_EQ(AudioChecksum(part), "") << "a part carries sound";
        join.push_back(part);
    }
    const RunResult joined = RunQuillmere(join);
    ASSERT_EQ(joined.exitCode, 0) << joined.errorText;
    const std::string mixed = AudioChecksum(folder_ / "whole.mkv");
    EXPECT_NE(mixed, AudioChecksum(main));
    EXPECT_EQ(AudioChecksum(folder_ / "joined.mkv"), mixed);
}

struct RefusalCase {
    const char* name;
    std::vector<std::string> options;
    const char* reason;
};

class OverlayAudioRefused : public testing::TestWithParam<RefusalCase> {
protected:
    static void SetUpTestSuite() { TestClips(); }
    ScratchFolder folder_;
};

TEST_P(OverlayAudioRefused, BeforeAnyOutput) {
    std::vector<std::string> arguments = {"render", Clip("main-audio.mkv"), "-o",
                                          folder_ / "out.mkv"};
    arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
    const RunResult run = RunQuillmere(WithClips(arguments));
    EXPECT_EQ(run.exitCode, 2) << run.errorText;
    EXPECT_NE(run.errorText.find(GetParam().reason), std::string::npos) << run.errorText;
    EXPECT_TRUE(folder_.Files().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, OverlayAudioRefused,
    testing::Values(
        RefusalCase{"VolumeWithoutMix", {"--overlay", "OVERLAY", "--overlay-volume", "-3dB"},
                    "need --overlay-audio mix"},
        RefusalCase{"MixWithoutOverlay", {"--overlay-audio", "mix"}, "--overlay FILE"},
        RefusalCase{"DuckThatRaises", {"--overlay", "OVERLAY", "--overlay-audio", "mix",
                                       "--duck", "+3dB"}, "from -60 to 0"},
        RefusalCase{"LevelWithoutUnit", {"--overlay", "OVERLAY", "--overlay-audio", "mix",
                                         "--overlay-volume", "-6 dB"}, "invalid value"},
        RefusalCase{"MixWithNoAudio", {"--overlay", "OVERLAY", "--overlay-audio", "mix",
                                       "--no-audio"}, "contradict"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

}  // namespace
